// diceroll: random integer source. At every hit of its sample time, output
// element i is a whole number uniformly distributed over 0 … M_i − 1, from the
// element's own seed.
//
// Parameters: seeds (one per output element), multiple numbers M (one shared
// or one per element), sample time.
//
// IWork (ns): the seed of each element. RWork (ns): the uniform sample drawn
// ahead for each element's next draw.
#include <float.h>
#include <math.h>

#include "kivrel.h"
#include "randomsource.h"

namespace {

const int kParamCount = 3;

void mdlInitializeSizes(BlockContext* S) {
  const int32_t ns = checkSeedsAndCount(S, kParamCount);
  finishSourceSizes(S, ns, kParamCount, "Dimension for boundaries must match the dimension for seeds.");
}

void mdlInitializeConditions(double*, BlockContext* S) {
  if (seedElements(S, kParamCount) == 0) return;
  const axArray* multiple = blockParam(S, 1);
  const int32_t count = axGetNumberOfElements(multiple);
  for (int32_t j = 0; j < count; ++j)
    if (axGetPr(multiple)[j] <= 1.0) blockError("Multiple number must be greater than 1.");
}

// The largest whole g with g < M and g ≤ M·u, the product held with a 64-bit
// significand: ⌊M·u⌋, which lies below M since u < 1. Returns false when no g
// qualifies (M not greater than 0, or NaN) and also for M = +∞, which has no
// largest g: the output then keeps its last value.
bool drawBelow(double m, double u, double* g) {
  if (!(m > 0.0 && m <= DBL_MAX)) return false;
  *g = static_cast<double>(floorl(static_cast<long double>(m) * static_cast<long double>(u)));
  return true;
}

void mdlOutputs(double* y, double*, double*, BlockContext* S, int32_t) {
  const int32_t ns = sourceWidth(S, kParamCount);
  if (ns == 0 || !majorHit(S)) return;
  S->SimInfo->ResetRequest = 1;
  const ParamValues multiple = paramValues(blockParam(S, 1));
  for (int32_t i = 0; i < ns; ++i) {
    const double m = paramValue(multiple, sharedOrOwnIndex(multiple, i));
    double g;
    if (drawBelow(m, S->RWork[i], &g)) y[i] = g;
    S->RWork[i] = nextUniform(&S->IWork[i]);
  }
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = sourceSampleTime<kParamCount>,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs};
