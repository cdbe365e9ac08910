// The seeded uniform generator of the random sources, and the pattern that
// the integer, uniform-noise and Poisson sources share: one seed per output
// element with a fallback for invalid seeds, a value drawn ahead at
// initialisation, the parameter checks common to all three and the
// sample-time rule. All four draw only when majorHit() holds.
//
// Each source plug-in includes this header once, so every plug-in carries its
// own copy of the generator; the plug-ins share no code at run time.
#ifndef KIVREL_SOURCES_RANDOMSOURCE_H
#define KIVREL_SOURCES_RANDOMSOURCE_H

#include <math.h>
#include <stdint.h>

#include "kivrel.h"

namespace {

// ---------------------------------------------------------------------------
// nextUniform: the Park-Miller minimal standard generator, seed = 16807 · seed
// mod (2^31 − 1), computed with Schrage's decomposition in 32-bit arithmetic.

const uint32_t kUniformQuotient = 127773;  // (2^31 − 1) div 16807
const int32_t kUniformRemainder = 2836;    // (2^31 − 1) mod 16807
const int32_t kUniformMultiplier = 16807;
const int32_t kUniformModulus = 2147483647;
// The double nearest to 1 / (2^31 − 1): exactly 2^−31 + 2^−62.
const double kUniformScale = 0x1.00000002p-31;

// Advances the seed in place and returns the new seed times the scale, a
// double strictly between 0 and 1 for every seed in 1 … 2147483646. The slot
// is read as an unsigned 32-bit value; for any such value neither product
// below overflows (16807 · lo ≤ 2147463604, 2836 · hi ≤ 95329304), and the new
// seed lies in 0 … 2147483646. A seed of 0 stays 0 (and gives 0.0).
inline double nextUniform(int32_t* seed) {
  const uint32_t s = static_cast<uint32_t>(*seed);
  const int32_t hi = static_cast<int32_t>(s / kUniformQuotient);
  const int32_t lo = static_cast<int32_t>(s % kUniformQuotient);
  int32_t t = kUniformMultiplier * lo - kUniformRemainder * hi;
  if (t < 0) t += kUniformModulus;
  *seed = t;
  // t has at most 31 significant bits and the scale 32, so the double
  // product is the exact product rounded once.
  return static_cast<double>(t) * kUniformScale;
}

// ---------------------------------------------------------------------------
// Parameter access.

// A parameter's values as one call reads them: looked up in libax once,
// not once per output element.
struct ParamValues {
  const double* p;
  int32_t count;
};

inline ParamValues paramValues(const axArray* a) { return ParamValues{axGetPr(a), axGetNumberOfElements(a)}; }

// Element j, or NaN when the parameter has no such element (a parameter
// edited during a run may have fewer elements than the sizes were made for;
// a missing value then acts as an unusable one).
inline double paramValue(const ParamValues& v, int32_t j) { return j >= 0 && j < v.count ? v.p[j] : NAN; }
inline double paramElement(const axArray* a, int32_t j) { return paramValue(paramValues(a), j); }

// Whether one value serves every output element (the parameter has at most
// one element); else output element i takes the parameter's element i.
inline bool sharedValue(const ParamValues& v) { return v.count <= 1; }

// Index of the value that applies to output element i.
inline int32_t sharedOrOwnIndex(const ParamValues& v, int32_t i) { return sharedValue(v) ? 0 : i; }


// ---------------------------------------------------------------------------
// The shared pattern of the per-element sources.

const int32_t kFallbackSeed = 1144108930;
const int32_t kLargestSeed = 2147483646;

// Parameter-count and seed checks that open mdlInitializeSizes; returns ns,
// the number of seeds (and outputs).
inline int32_t checkSeedsAndCount(BlockContext* S, int expectedCount) {
  checkParamCount(S, expectedCount);
  const int32_t ns = axGetNumberOfElements(blockParam(S, 0));
  if (ns <= 0) blockError("Input variable is empty.");
  return ns;
}

// The checks and sizes that end mdlInitializeSizes: parameter 1 must give
// one value for all ns outputs or one per output (else the block's
// perOutputMessage), and the sample time (the last parameter) must be a
// single element. A source has ns outputs, one seed and one drawn-ahead value
// each: IWork holds the seed of each element, RWork the value drawn ahead for
// its next draw.
inline void finishSourceSizes(BlockContext* S, int32_t ns, int paramCount, const char* perOutputMessage) {
  const int32_t count = axGetNumberOfElements(blockParam(S, 1));
  if (count != 1 && count != ns) blockError("%s", perOutputMessage);
  if (axGetNumberOfElements(blockParam(S, paramCount - 1)) != 1)
    blockError("The sample time must be a scalar value.");
  setSizes(S, {.outputs = ns, .sampleTimes = 1, .params = paramCount, .iwork = ns, .rwork = ns});
}

// The number of outputs the host allocated for (and the length of IWork and
// RWork), or 0 when the sizes call did not complete, so that the callbacks of
// a block without sizes find nothing to work on. The runtime callbacks use it
// rather than the seed parameter, which may have been edited since.
inline int32_t sourceWidth(const BlockContext* S, int paramCount) {
  if (S->SFcnParamsCount != paramCount || S->SizesVector[NumSampleTimes] != 1) return 0;
  const int32_t ns = S->SizesVector[NumOutputs];
  return ns > 0 ? ns : 0;
}

// mdlInitializeSampleTimes of a source with paramCount parameters: the
// sample time from the last parameter. −1 means inherited, fixed in minor
// steps (offset 1.0); any other value is the period, with offset 0.0.
template <int paramCount>
void sourceSampleTime(BlockContext* S) {
  if (sourceWidth(S, paramCount) == 0) return;
  const double ts = paramElement(blockParam(S, paramCount - 1), 0);
  S->SampleTimes[0] = ts;
  S->OffsetTimes[0] = ts == -1.0 ? 1.0 : 0.0;
}

// The initial seed of element i: the truncated seed parameter when it lies in
// 1 … 2147483646, else the fallback seed plus i, so that elements with invalid
// seeds still get different sequences. A missing seed element counts as
// invalid. For an index so large that the fallback would leave the valid
// range (beyond any vector the host allocates) it wraps back into the range
// instead of reaching the seed 2^31 − 1, which the generator maps to 0.
inline int32_t initialSeed(const axArray* seeds, int32_t i) {
  const int32_t t = truncInt(paramElement(seeds, i));
  if (t >= 1 && t <= kLargestSeed) return t;
  const int64_t span = kLargestSeed;  // seeds 1 … 2147483646
  return static_cast<int32_t>((static_cast<int64_t>(kFallbackSeed) - 1 + i) % span + 1);
}

// The start of mdlInitializeConditions of a source with paramCount
// parameters: seeds its elements from the seed parameter (parameter 0) and
// draws the first value of each ahead, draw(&seed, i) for element i. Returns
// the width, or 0 without doing anything when the sizes call did not
// complete.
template <typename Draw>
int32_t seedElements(BlockContext* S, int paramCount, Draw draw) {
  const int32_t ns = sourceWidth(S, paramCount);
  if (ns == 0) return 0;
  const axArray* seeds = blockParam(S, 0);
  for (int32_t i = 0; i < ns; ++i) {
    S->IWork[i] = initialSeed(seeds, i);
    S->RWork[i] = draw(&S->IWork[i], i);
  }
  return ns;
}

// The same with a uniform sample drawn ahead.
inline int32_t seedElements(BlockContext* S, int paramCount) {
  return seedElements(S, paramCount, [](int32_t* seed, int32_t) { return nextUniform(seed); });
}

}  // namespace

#endif
