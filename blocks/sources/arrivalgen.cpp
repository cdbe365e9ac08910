// arrivalgen: Poisson integer source. At every hit of its sample time, output
// element i is a Poisson-distributed count with mean LAMBDA_i, from the
// element's own seed: the number of partial sums of exponential inter-arrival
// times (−ln u) that stay at or below the mean.
//
// Parameters: seeds (one per output element), LAMBDA (one shared mean or one
// per element), sample time.
//
// IWork (ns): the seed of each element. RWork (ns): the count drawn ahead for
// each element's next draw.
#include <float.h>
#include <math.h>

#include "kivrel.h"
#include "randomsource.h"

namespace {

const int kParamCount = 3;

// Means above this are drawn by the normal approximation instead of counting
// arrivals one by one. Counting costs a logarithm and a generator call per
// arrival, about 12 ms per draw at this mean on a current x86-64 (and per
// element and step, so a few hundred elements at such a mean already hold the
// host for seconds at every step); at such means the count's distribution is
// normal to within a skewness of 1e-3.
const double kCountingLimit = 1e6;

const double kTwoPi = 6.283185307179586;

// Counting draw, exactly as the source is defined: add −ln u to S until the
// sum, unrounded, exceeds lambda. The sum is stored as a double between steps.
// Up to kCountingLimit the stored sum's ulp stays below 1.5e-8, so all but the
// tiniest increments (mean 1) move it on, and the loop ends.
double countArrivals(int32_t* seed, double lambda) {
  double count = 0.0;
  double sum = 0.0;
  for (;;) {
    const double u = nextUniform(seed);
    const long double next = static_cast<long double>(sum) - static_cast<long double>(log(u));
    sum = static_cast<double>(next);
    if (next > lambda) return count;
    count += 1.0;
  }
}

// Draw for a mean above kCountingLimit, in constant time: round(λ + √λ·z) with
// a standard normal z made from two generator numbers (Box–Muller). A mean of
// +∞ gives +∞ and uses one number.
double normalApproximation(int32_t* seed, double lambda) {
  if (lambda > DBL_MAX) {
    nextUniform(seed);
    return INFINITY;
  }
  const double u1 = nextUniform(seed);
  const double u2 = nextUniform(seed);
  const double z = sqrt(-2.0 * log(u1)) * cos(kTwoPi * u2);
  const double v = floor(lambda + sqrt(lambda) * z + 0.5);
  return v > 0.0 ? v : 0.0;
}

// One Poisson draw. A NaN mean, for which counting never ends, gives NaN and
// uses one number, as a mean of 0 or below gives 0 and uses one.
double poissonDraw(int32_t* seed, double lambda) {
  if (isnan(lambda)) {
    nextUniform(seed);
    return NAN;
  }
  if (lambda > kCountingLimit) return normalApproximation(seed, lambda);
  return countArrivals(seed, lambda);
}

void mdlInitializeSizes(BlockContext* S) {
  const int32_t ns = checkSeedsAndCount(S, kParamCount);
  finishSourceSizes(S, ns, kParamCount, "Dimension for LAMBDA must match the dimension for seeds.");
}

double meanOf(const ParamValues& lambda, int32_t i) { return paramValue(lambda, sharedOrOwnIndex(lambda, i)); }

void mdlInitializeConditions(double*, BlockContext* S) {
  seedElements(S, kParamCount, [S](int32_t* seed, int32_t i) {
    return poissonDraw(seed, meanOf(paramValues(blockParam(S, 1)), i));
  });
}

void mdlOutputs(double* y, double*, double*, BlockContext* S, int32_t) {
  const int32_t ns = sourceWidth(S, kParamCount);
  if (ns == 0) return;
  // Raised at every call, drawing or not.
  S->SimInfo->ResetRequest = 1;
  if (!majorHit(S)) return;
  const ParamValues lambda = paramValues(blockParam(S, 1));
  for (int32_t i = 0; i < ns; ++i) {
    y[i] = S->RWork[i];
    S->RWork[i] = poissonDraw(&S->IWork[i], meanOf(lambda, i));
  }
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = sourceSampleTime<kParamCount>,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs};
