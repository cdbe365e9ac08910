// packframe: turns the scalar integer input into its N digits in base B, the
// least significant digit in output element 0 (order flag 0) or N - 1 (any
// other order flag). Digits above the N-th are dropped; a non-positive input
// gives all zeros.
#include "kivrel.h"

namespace {

enum { DigitsParam = 0, BaseParam = 1, OrderParam = 2 };

// The first element of a parameter, truncated toward zero. An empty parameter
// has no first element and is refused.
int32_t intParam(BlockContext* S, int k, const char* what) {
  const axArray* a = blockParam(S, k);
  if (axGetNumberOfElements(a) < 1) blockError("%s must not be empty.", what);
  return truncInt(axGetPr(a)[0]);
}

int32_t digitCount(BlockContext* S) { return intParam(S, DigitsParam, "Number of digits"); }

// A base of 1 or less counts as 2.
int32_t base(BlockContext* S) {
  const int32_t b = intParam(S, BaseParam, "Base");
  return b <= 1 ? 2 : b;
}

bool lsbLast(BlockContext* S) { return intParam(S, OrderParam, "Order flag") != 0; }

// The three parameters are read by position, so their count is checked first
// (also for a sizes call from the command line). N becomes the output width:
// a negative N (also NaN) is no width and is refused.
void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 3);
  const int32_t n = digitCount(S);
  base(S);
  lsbLast(S);
  if (n < 0) blockError("Number of digits must not be negative.");
  int32_t* sv = S->SizesVector;
  sv[NumContStates] = 0;
  sv[NumDiscStates] = 0;
  sv[NumOutputs] = n;
  sv[NumInputs] = 1;
  sv[DirFeedthrough] = 1;
  sv[NumSampleTimes] = 1;
  sv[NumSFcnParams] = 3;
  sv[NumIWork] = 0;
  sv[NumRWork] = 0;
  sv[NumPWork] = 0;
}

void mdlInitializeSampleTimes(BlockContext* S) {
  inheritSampleTime(S);
}

void mdlInitializeConditions(double*, BlockContext*) {}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  int32_t n = digitCount(S);
  const int32_t b = base(S);
  const bool reversed = lsbLast(S);
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

void mdlUpdate(double*, double*, BlockContext*, int32_t) {}
void mdlDerivatives(double*, double*, double*, BlockContext*, int32_t) {}
void mdlTerminate(BlockContext*) {}

}  // namespace

const Level1Block kivrelBlock = {mdlInitializeSizes, mdlInitializeSampleTimes, mdlInitializeConditions,
                                 mdlOutputs,         mdlUpdate,                mdlDerivatives,
                                 mdlTerminate,       nullptr};
