// packframe: turns the scalar integer input into its N digits in base B, the
// least significant digit in output element 0 (order flag 0) or N - 1 (any
// other order flag). Digits above the N-th are dropped; a non-positive input
// gives all zeros.
#include "digits.h"

namespace {

enum { DigitsParam = 0, BaseParam = 1, OrderParam = 2 };

int32_t digitCount(BlockContext* S) { return intParam(S, DigitsParam, "Number of digits"); }

// The three parameters are read by position, so their count is checked first
// (also for a sizes call from the command line). N becomes the output width:
// a negative N (also NaN) is no width and is refused.
void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 3);
  const int32_t n = digitCount(S);
  digitBase(S, BaseParam);
  lsbLast(S, OrderParam);
  if (n < 0) blockError("Number of digits must not be negative.");
  setSizes(S, {.outputs = n, .inputs = 1, .directFeedthrough = 1, .sampleTimes = 1, .params = 3});
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  int32_t n = digitCount(S);
  const int32_t b = digitBase(S, BaseParam);
  const bool reversed = lsbLast(S, OrderParam);
  // An N raised after sizing cannot widen the output: the block then works
  // with the settled width as N, so it never writes past y.
  if (n > S->SizesVector[NumOutputs]) n = S->SizesVector[NumOutputs];
  if (n <= 0) return;
  int32_t p = reversed ? n - 1 : 0;
  const int32_t step = reversed ? -1 : 1;
  // NaN and values outside the int range truncate to INT32_MIN: all zeros.
  int32_t v = truncInt(u[0]);
  if (v <= 0) {
    for (int32_t i = 0; i < n; ++i) y[i] = 0.0;
    return;
  }
  for (int32_t k = 0; k < n; ++k) {
    y[p] = v % b;
    v /= b;
    p += step;
  }
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlOutputs = mdlOutputs};
