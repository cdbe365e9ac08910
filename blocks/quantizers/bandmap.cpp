// bandmap: scalar quantizer for an n-element signal with an enable input. At
// every call whose enable input (the last input element) is not exactly 0.0,
// maps each element to its PARTITION interval index and CODEBOOK value and
// updates the running mean of its squared error; at disabled calls the
// outputs hold and the call is not counted. Runs at the driving rate.
#include "quantize.h"

namespace {

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 3);
  const int32_t n = checkQuantizerParams(S);
  int32_t* sv = S->SizesVector;
  sv[NumContStates] = 0;
  sv[NumDiscStates] = 0;
  sv[NumInputs] = n + 1;
  sv[NumOutputs] = 3 * n;
  sv[DirFeedthrough] = 1;
  sv[NumSampleTimes] = 1;
  sv[NumSFcnParams] = 3;
  sv[NumIWork] = 1;
  sv[NumRWork] = n + 1;
  sv[NumPWork] = 0;
}

void mdlInitializeSampleTimes(BlockContext* S) {
  inheritSampleTime(S);
}

void mdlInitializeConditions(double*, BlockContext* S) { initializeQuantizer(S); }

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  // Any enable value but exactly zero computes, negative values and NaN too.
  if (u[sizedSignalCount(S)] == 0.0) return;
  quantizeStep(S, y, u);
}

void mdlUpdate(double*, double*, BlockContext*, int32_t) {}
void mdlDerivatives(double*, double*, double*, BlockContext*, int32_t) {}
void mdlTerminate(BlockContext*) {}

}  // namespace

const Level1Block kivrelBlock = {mdlInitializeSizes, mdlInitializeSampleTimes, mdlInitializeConditions,
                                 mdlOutputs,         mdlUpdate,                mdlDerivatives,
                                 mdlTerminate,       nullptr};
