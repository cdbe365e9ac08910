// unpackframe: turns a vector of base-B digits into the number they spell,
// input element 0 (order flag 0) or n - 1 (any other order flag) being the
// least significant digit. Each element contributes the remainder of its
// truncated magnitude modulo B.
#include "kivrel.h"

namespace {

enum { BaseParam = 0, OrderParam = 1 };

// The first element of a parameter, truncated toward zero. An empty parameter
// has no first element and is refused.
int32_t intParam(BlockContext* S, int k, const char* what) {
  const axArray* a = blockParam(S, k);
  if (axGetNumberOfElements(a) < 1) blockError("%s must not be empty.", what);
  return truncInt(axGetPr(a)[0]);
}

// A base of 1 or less counts as 2.
int32_t base(BlockContext* S) {
  const int32_t b = intParam(S, BaseParam, "Base");
  return b <= 1 ? 2 : b;
}

bool lsbLast(BlockContext* S) { return intParam(S, OrderParam, "Order flag") != 0; }

// The parameters are read by position, so their count is checked first (also
// for a sizes call from the command line), and neither may be empty.
void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 2);
  base(S);
  lsbLast(S);
  int32_t* sv = S->SizesVector;
  sv[NumContStates] = 0;
  sv[NumDiscStates] = 0;
  sv[NumOutputs] = 1;
  sv[NumInputs] = -1;
  sv[DirFeedthrough] = 1;
  sv[NumSampleTimes] = 1;
  sv[NumSFcnParams] = 2;
  sv[NumIWork] = 0;
  sv[NumRWork] = 0;
  sv[NumPWork] = 0;
}

void mdlInitializeSampleTimes(BlockContext* S) {
  inheritSampleTime(S);
}

void mdlInitializeConditions(double*, BlockContext*) {}

// The weight B^k is kept as a double rather than a 32-bit int: the result is
// the same exact integer wherever the 32-bit product does not overflow, and
// beyond that it is the spelled number rounded to double (infinite once the
// weight leaves the double range) instead of a wrapped product.
void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const int32_t n = S->SizesVector[NumInputs];
  const int32_t b = base(S);
  const bool reversed = lsbLast(S);
  y[0] = 0.0;
  double weight = 1.0;
  int32_t p = reversed ? n - 1 : 0;
  const int32_t step = reversed ? -1 : 1;
  for (int32_t k = 0; k < n; ++k) {
    // The magnitude of the truncated value, taken in 64 bits so that the
    // INT32_MIN of a NaN or out-of-range element has one (2^31).
    const int64_t t = truncInt(u[p]);
    const int64_t digit = (t < 0 ? -t : t) % b;
    // A zero digit adds nothing, also where the weight has become infinite.
    if (digit != 0) y[0] += static_cast<double>(digit) * weight;
    weight *= b;
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
