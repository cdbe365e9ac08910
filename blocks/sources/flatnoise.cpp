// flatnoise: uniform noise source. At every hit of its sample time, output
// element i is a double uniformly distributed between the lower bound L_i and
// the upper bound U_i, from the element's own seed.
//
// Parameters: seeds (one per output element), upper bounds U and lower bounds
// L (one shared pair or one pair per element), sample time.
//
// IWork (ns): the seed of each element. RWork (ns): the uniform sample drawn
// ahead for each element's next draw.
#include "kivrel.h"
#include "randomsource.h"

namespace {

const int kParamCount = 4;

void mdlInitializeSizes(BlockContext* S) {
  const int32_t ns = checkSeedsAndCount(S, kParamCount);
  if (axGetNumberOfElements(blockParam(S, 1)) != axGetNumberOfElements(blockParam(S, 2)))
    blockError("The dimension for the upbound and the low bound must be the same.");
  finishSourceSizes(S, ns, kParamCount, "Dimension for boundaries must match the dimension for seeds.");
}

void mdlInitializeConditions(double*, BlockContext* S) {
  if (seedElements(S, kParamCount) == 0) return;
  // L > U is refused; a NaN bound passes.
  const axArray* upper = blockParam(S, 1);
  const axArray* lower = blockParam(S, 2);
  const int32_t count = axGetNumberOfElements(upper);
  for (int32_t j = 0; j < count; ++j)
    if (paramElement(upper, j) - paramElement(lower, j) < 0.0)
      blockError("Uniform random distribution lower bound cannot be larger than upper bound.");
}

void mdlOutputs(double* y, double*, double*, BlockContext* S, int32_t) {
  const int32_t ns = sourceWidth(S, kParamCount);
  if (ns == 0 || !majorHit(S)) return;
  // U decides whether one pair of bounds serves every element; L follows it.
  const ParamValues upper = paramValues(blockParam(S, 1));
  const ParamValues lower = paramValues(blockParam(S, 2));
  // (U − L)·u + L with a 64-bit significand, rounded to double once.
  if (sharedValue(upper)) {
    const long double hi = paramValue(upper, 0);
    const long double lo = paramValue(lower, 0);
    const long double range = hi - lo;
    for (int32_t i = 0; i < ns; ++i) {
      y[i] = static_cast<double>(range * static_cast<long double>(S->RWork[i]) + lo);
      S->RWork[i] = nextUniform(&S->IWork[i]);
    }
    return;
  }
  for (int32_t i = 0; i < ns; ++i) {
    const long double hi = paramValue(upper, i);
    const long double lo = paramValue(lower, i);
    y[i] = static_cast<double>((hi - lo) * static_cast<long double>(S->RWork[i]) + lo);
    S->RWork[i] = nextUniform(&S->IWork[i]);
  }
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = sourceSampleTime<kParamCount>,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs};
