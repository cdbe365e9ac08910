// wrapsum: modulo integrator. A continuous state whose derivative is the
// input; at each major step the state is folded back into [lo, hi] by whole
// multiples of the width hi − lo. The output is the state.
#include <math.h>

#include "kivrel.h"

namespace {

enum ParamIndex { InitialParam = 0, LowerParam = 1, UpperParam = 2 };

// The first element of parameter k. An empty parameter stands for 0.0. The
// block checks nothing, not even the parameter count, so a parameter that
// was not supplied stands for 0.0 as well rather than being read from beyond
// the parameter list.
double firstElement(const BlockContext* S, int k) {
  if (k >= S->SFcnParamsCount) return 0.0;
  const axArray* a = blockParam(S, k);
  if (axGetM(a) == 0 || axGetN(a) == 0) return 0.0;
  return axGetPr(a)[0];
}

// The fold by one width at a time is exact to the last bit for a state a few
// widths outside the range. A state very far outside (or so large that one
// width does not change it) would take too long or forever, so beyond this
// many widths the remaining fold is done at once, with the exact remainder:
// the result is the one the single steps give in exact arithmetic.
const int kMaxSingleSteps = 1 << 16;

// v + k·r for the least k that reaches lo: in [lo, hi).
long double foldUp(long double v, long double lo, long double hi, long double r) {
  const long double e = fmodl(lo - v, r);
  return e == 0.0L ? lo : hi - e;
}

// v − k·r for the least k that comes down to hi: in (lo, hi].
long double foldDown(long double v, long double lo, long double hi, long double r) {
  const long double e = fmodl(v - hi, r);
  return e == 0.0L ? hi : lo + e;
}

void mdlInitializeSizes(BlockContext* S) {
  setSizes(S, {.contStates = 1, .outputs = 1, .inputs = 1, .sampleTimes = 1, .params = 3});
}

void mdlInitializeSampleTimes(BlockContext* S) {
  S->SampleTimes[0] = 0.0;
  S->OffsetTimes[0] = 0.0;
}

void mdlInitializeConditions(double* x, BlockContext* S) { x[0] = firstElement(S, InitialParam); }

void mdlOutputs(double* y, double* x, double*, BlockContext*, int32_t) { y[0] = x[0]; }

void mdlDerivatives(double* dx, double*, double* u, BlockContext*, int32_t) { dx[0] = u[0]; }

// The wrap. The width and every step are carried out in extended precision,
// and the state is rounded to a double only when it is stored: a width that
// is exact there brings a state just below lo to at most hi and one just
// above hi to at least lo. An infinite state has no place in the range and is
// left as it is, as is one that is not a number.
void mdlUpdate(double* x, double*, BlockContext* S, int32_t) {
  const long double lo = firstElement(S, LowerParam);
  const long double hi = firstElement(S, UpperParam);
  const long double r = hi - lo;
  if (!(r > 0.0L)) return;
  long double v = x[0];
  if (isinf(v)) return;
  int steps = 0;
  while (v < lo && steps < kMaxSingleSteps) {
    v = v + r;
    ++steps;
  }
  if (v < lo) v = foldUp(v, lo, hi, r);
  steps = 0;
  while (v > hi && steps < kMaxSingleSteps) {
    v = v - r;
    ++steps;
  }
  if (v > hi) v = foldDown(v, lo, hi, r);
  x[0] = static_cast<double>(v);
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = mdlInitializeSampleTimes,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs, .mdlUpdate = mdlUpdate,
    .mdlDerivatives = mdlDerivatives};
