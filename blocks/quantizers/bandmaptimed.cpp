// bandmaptimed: the scalar quantizer of bandmap with a sample time of its own
// (fourth parameter: [period] or [period offset]) and without the enable
// input: every call quantizes every element and counts in the running mean.
#include "quantize.h"

namespace {

enum { SampleTimeParam = 3 };

// The sample time is otherwise not tested; an empty one has no period to read.
const axArray* sampleTimeParam(BlockContext* S) {
  const axArray* a = blockParam(S, SampleTimeParam);
  if (axGetNumberOfElements(a) < 1) blockError("Sample time must not be empty.");
  return a;
}

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 4);
  const int32_t n = checkQuantizerParams(S);
  sampleTimeParam(S);
  int32_t* sv = S->SizesVector;
  sv[NumContStates] = 0;
  sv[NumDiscStates] = 0;
  sv[NumInputs] = n;
  sv[NumOutputs] = 3 * n;
  sv[DirFeedthrough] = 1;
  sv[NumSampleTimes] = 1;
  sv[NumSFcnParams] = 4;
  sv[NumIWork] = 1;
  sv[NumRWork] = n + 1;
  sv[NumPWork] = 0;
}

// Element 0 is the period; element 1 the offset when there are exactly two.
void mdlInitializeSampleTimes(BlockContext* S) {
  const axArray* a = sampleTimeParam(S);
  const double* st = axGetPr(a);
  S->SampleTimes[0] = st[0];
  S->OffsetTimes[0] = axGetNumberOfElements(a) == 2 ? st[1] : 0.0;
}

void mdlInitializeConditions(double*, BlockContext* S) { initializeQuantizer(S); }

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) { quantizeStep(S, y, u); }

void mdlUpdate(double*, double*, BlockContext*, int32_t) {}
void mdlDerivatives(double*, double*, double*, BlockContext*, int32_t) {}
void mdlTerminate(BlockContext*) {}

}  // namespace

const Level1Block kivrelBlock = {mdlInitializeSizes, mdlInitializeSampleTimes, mdlInitializeConditions,
                                 mdlOutputs,         mdlUpdate,                mdlDerivatives,
                                 mdlTerminate,       nullptr};
