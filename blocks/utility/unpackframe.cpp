// unpackframe: turns a vector of base-B digits into the number they spell,
// input element 0 (order flag 0) or n - 1 (any other order flag) being the
// least significant digit. Each element contributes the remainder of its
// truncated magnitude modulo B.
#include "digits.h"

namespace {

enum { BaseParam = 0, OrderParam = 1 };

// The parameters are read by position, so their count is checked first (also
// for a sizes call from the command line), and neither may be empty.
void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 2);
  digitBase(S, BaseParam);
  lsbLast(S, OrderParam);
  setSizes(S, {.outputs = 1, .inputs = -1, .directFeedthrough = 1, .sampleTimes = 1, .params = 2});
}

// The weight B^k is kept as a double rather than a 32-bit int: the result is
// the same exact integer wherever the 32-bit product does not overflow, and
// beyond that it is the spelled number rounded to double (infinite once the
// weight leaves the double range) instead of a wrapped product.
void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const int32_t n = S->SizesVector[NumInputs];
  const int32_t b = digitBase(S, BaseParam);
  const bool reversed = lsbLast(S, OrderParam);
  y[0] = 0.0;
  double weight = 1.0;
  int32_t p = reversed ? n - 1 : 0;
  const int32_t step = reversed ? -1 : 1;
  for (int32_t k = 0; k < n; ++k) {
    // The magnitude of the truncated value, taken unsigned so that the
    // INT32_MIN of a NaN or out-of-range element has one (2^31); a 32-bit
    // remainder then suffices (b is at least 2).
    const int32_t t = truncInt(u[p]);
    const uint32_t magnitude = t < 0 ? 0u - static_cast<uint32_t>(t) : static_cast<uint32_t>(t);
    const uint32_t digit = magnitude % static_cast<uint32_t>(b);
    // A zero digit adds nothing, also where the weight has become infinite.
    if (digit != 0) y[0] += static_cast<double>(digit) * weight;
    weight *= b;
    p += step;
  }
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlOutputs = mdlOutputs};
