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
  setSizes(S, {.outputs = 3 * n, .inputs = n, .directFeedthrough = 1, .sampleTimes = 1, .params = 4, .iwork = 1,
               .rwork = n + 1});
}

// Element 0 is the period; element 1 the offset when there are exactly two.
void mdlInitializeSampleTimes(BlockContext* S) {
  const axArray* a = sampleTimeParam(S);
  const double* st = axGetPr(a);
  S->SampleTimes[0] = st[0];
  S->OffsetTimes[0] = axGetNumberOfElements(a) == 2 ? st[1] : 0.0;
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) { quantizeStep(S, y, u); }

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = mdlInitializeSampleTimes,
    .mdlInitializeConditions = initializeQuantizer, .mdlOutputs = mdlOutputs};
