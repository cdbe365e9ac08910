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
  setSizes(S, {.outputs = 3 * n, .inputs = n + 1, .directFeedthrough = 1, .sampleTimes = 1, .params = 3, .iwork = 1,
               .rwork = n + 1});
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  // Any enable value but exactly zero computes, negative values and NaN too.
  if (u[sizedSignalCount(S)] == 0.0) return;
  quantizeStep(S, y, u);
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlInitializeConditions = initializeQuantizer, .mdlOutputs = mdlOutputs};
