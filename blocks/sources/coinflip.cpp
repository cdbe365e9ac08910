// coinflip: random binary source. At every hit of its sample time it emits n
// values of 0.0 or 1.0. How many are 1 follows the probability vector p
// (element j: exactly j + 1 ones; what p leaves short of 1: no ones); the
// positions of the ones are then picked one by one, uniformly among those
// still 0. One seed serves the whole block.
//
// Parameters: output vector length n, probability vector p, seed, sample time.
#include <stdio.h>

#include "kivrel.h"
#include "randomsource.h"

namespace {

const int32_t kParamCount = 4;
// Largest n whose work-vector lengths 3n + 1 and 2n + 2 fit in an int.
const int32_t kMaxLength = 715827881;

// IWork (3n + 1): [0, n) unused, [n, 2n) the free-position list of a
// placement pass, 3n the seed. RWork (2n + 2): [0, np] the tail sums
// T[s] = p[s] + … + p[np−1] and their end 0.0, [n + 1, 2n] the thresholds
// i / k of a placement pass, 2n + 1 the latest uniform sample.
int32_t freeListSlot(int32_t n) { return n; }
int32_t seedSlot(int32_t n) { return 3 * n; }
int32_t thresholdsSlot(int32_t n) { return n + 1; }
int32_t latestSlot(int32_t n) { return 2 * n + 1; }

// The static message buffer that ErrorStatus points at after a failed check.
char checkMessage[128];

void reportCheckFailure(BlockContext* S, const char* msg) {
  snprintf(checkMessage, sizeof checkMessage, "%s", msg);
  setErrorStatus(S, checkMessage);
}

bool isScalar(const axArray* a) { return axGetM(a) <= 1 && axGetN(a) <= 1; }

// Checks the four parameters in order and reports the first failure through
// ErrorStatus. Runs from mdlInitializeSizes and, after a host sizes call,
// through the framework's parameter-check flag.
//
// Two checks follow the others, so that they never hide one of them: n must
// leave the work-vector lengths representable, and p may not be longer than
// n. The tail sums end at RWork[np], which must lie below the thresholds at
// n + 1; besides, an element j ≥ n would give the probability of more ones
// than there are outputs.
//
// With a parameter count other than four there is nothing to check: the
// count is the host's to report, as the sizes call leaves it.
void mdlCheckParameters(BlockContext* S) {
  if (S->SFcnParamsCount != kParamCount) return;
  const axArray* length = blockParam(S, 0);
  const axArray* prob = blockParam(S, 1);
  const axArray* seed = blockParam(S, 2);
  const axArray* ts = blockParam(S, 3);

  if (axGetNumberOfElements(length) == 0) return reportCheckFailure(S, "Output vector length not defined");
  if (!isScalar(length)) return reportCheckFailure(S, "Output vector length must be specified as a scalar");
  const int32_t n = truncInt(axGetPr(length)[0]);
  if (n <= 0) return reportCheckFailure(S, "Output vector length must be greater than zero");

  const int32_t np = axGetNumberOfElements(prob);
  if (np == 0) return reportCheckFailure(S, "Probability vector length not defined");
  if (axGetM(prob) > 1 && axGetN(prob) > 1)
    return reportCheckFailure(S, "Probability parameter may be a scalar or vector NOT a matrix");
  const double* p = axGetPr(prob);
  double sum = 0.0;
  for (int32_t j = 0; j < np; ++j) {
    if (p[j] < 0.0) return reportCheckFailure(S, "Elements of the probability vector must be >= 0");
    sum += p[j];
  }
  if (sum > 1.0 || sum < 0.0)
    return reportCheckFailure(S, "Sum of probability vector must not be less than zero or greater than one");

  if (axGetNumberOfElements(seed) == 0) return reportCheckFailure(S, "Seed not defined");
  if (!isScalar(seed)) return reportCheckFailure(S, "Seed must be specified as a scalar");
  if (truncInt(axGetPr(seed)[0]) <= 0) return reportCheckFailure(S, "Seed must be > 0");

  if (axGetNumberOfElements(ts) == 0) return reportCheckFailure(S, "Sample time not defined");
  if (!isScalar(ts)) return reportCheckFailure(S, "Sample time must be specified as a scalar");
  if (axGetPr(ts)[0] <= 0.0) return reportCheckFailure(S, "Sample time must be > 0");

  if (n > kMaxLength) return reportCheckFailure(S, "Output vector length must not exceed 715827881");
  if (np > n)
    return reportCheckFailure(S, "Probability vector length must not exceed the output vector length");
}

void mdlInitializeSizes(BlockContext* S) {
  // Declared first: where the sizes call stops short below, the host still
  // learns the count to compare.
  S->SizesVector[NumSFcnParams] = kParamCount;
  // Mark the sample-time parameter for the host. The host gives one attribute
  // word per supplied parameter; a context made for a command-line call has
  // no array, and with fewer than four parameters there is no fourth word.
  if (S->SFcnParamAttributes != nullptr && S->SFcnParamsCount >= kParamCount)
    S->SFcnParamAttributes[3] |= 1u;
  if (S->SFcnParamsCount != kParamCount) return;
  mdlCheckParameters(S);
  if (S->RootContext->ErrorStatus != nullptr) return;

  const int32_t n = truncInt(axGetPr(blockParam(S, 0))[0]);
  setSizes(S, {.outputs = n, .sampleTimes = 1, .params = kParamCount, .iwork = 3 * n + 1, .rwork = 2 * n + 2});
}

// The output length the vectors were allocated for, or 0 when the sizes call
// did not complete (the callbacks then have nothing to work on). The
// parameter is not read again: an edited length cannot resize the vectors.
int32_t allocatedLength(const BlockContext* S) {
  if (S->SFcnParamsCount != kParamCount || S->SizesVector[NumSampleTimes] != 1) return 0;
  const int32_t n = S->SizesVector[NumOutputs];
  return n >= 1 && n <= kMaxLength ? n : 0;
}

// Elements of p that fit the layout: a vector edited during the run past n
// elements (which the parameter check rejects) has its excess left out.
int32_t usableProbabilities(const axArray* prob, int32_t n) {
  const int32_t np = axGetNumberOfElements(prob);
  return np < n ? np : n;
}

void mdlInitializeSampleTimes(BlockContext* S) {
  if (allocatedLength(S) == 0) return;
  S->SampleTimes[0] = paramElement(blockParam(S, 3), 0);
  S->OffsetTimes[0] = 0.0;
}

void mdlInitializeConditions(double*, BlockContext* S) {
  const int32_t n = allocatedLength(S);
  if (n == 0) return;
  const int32_t np = usableProbabilities(blockParam(S, 1), n);
  int32_t* iw = S->IWork;
  double* rw = S->RWork;
  rw[np] = 0.0;
  for (int32_t s = 0; s < np; ++s) {
    rw[s] = 0.0;
    rw[thresholdsSlot(n) + s] = 0.0;
    iw[s] = 0;
  }
  for (int32_t s = n; s < 3 * n; ++s) iw[s] = 0;

  // A seed outside 1 … 2147483646 (NaN too, which the check lets through
  // only when the parameter is edited afterwards) takes the fallback seed.
  const double d = paramElement(blockParam(S, 2), 0);
  int32_t* seed = &iw[seedSlot(n)];
  *seed = (d >= 1.0 && d <= static_cast<double>(kLargestSeed)) ? truncInt(d) : kFallbackSeed;
  // Advances the seed once; the first draw overwrites the value unread.
  rw[latestSlot(n)] = nextUniform(seed);
}

// The number of thresholds i / k (i = 0 … k − 1) at or above u. The
// quotients grow with i, so they are at or above u from some i0 on, and the
// count is k − i0. i0 is found from the estimate u·k by stepping over the
// few places where it can be off, comparing each quotient computed as the
// thresholds are. (A u that is no number is below no quotient: the steps
// then run to i0 = k and the count is 0, as counting would give.)
int32_t thresholdsAtOrAbove(double u, int32_t k) {
  const double dk = static_cast<double>(k);
  const double estimate = u * dk;
  int32_t i0 = estimate > 0.0 && estimate < dk ? static_cast<int32_t>(estimate) : estimate >= dk ? k : 0;
  while (i0 > 0 && static_cast<double>(i0 - 1) / dk >= u) --i0;
  while (i0 < k && !(static_cast<double>(i0) / dk >= u)) ++i0;
  return k - i0;
}

void mdlOutputs(double* y, double*, double*, BlockContext* S, int32_t) {
  const int32_t n = allocatedLength(S);
  if (n == 0 || !majorHit(S)) return;
  S->SimInfo->ResetRequest = 1;

  const axArray* prob = blockParam(S, 1);
  const int32_t np = usableProbabilities(prob, n);
  const double* p = axGetPr(prob);
  int32_t* iw = S->IWork;
  double* rw = S->RWork;
  int32_t* seed = &iw[seedSlot(n)];
  int32_t* freeList = &iw[freeListSlot(n)];
  double* thresholds = &rw[thresholdsSlot(n)];

  // The end of the tail sums is written at every draw: a probability vector
  // shortened during the run would otherwise start its sums from a stale
  // tail sum of the longer one.
  rw[np] = 0.0;
  for (int32_t s = np - 1; s >= 0; --s) rw[s] = rw[s + 1] + p[s];
  for (int32_t l = 0; l < n; ++l) y[l] = 0.0;

  double u = nextUniform(seed);
  rw[latestSlot(n)] = u;
  // T is non-increasing, so this counts j with T[j−1] ≥ u > T[j].
  int32_t ones = 0;
  for (int32_t s = 0; s < np; ++s)
    if (rw[s] >= u) ++ones;

  if (ones == 0) return;

  // The placement passes. Each pass lists the k positions still 0.0 in
  // increasing order, sets the thresholds i / k, draws u and sets the
  // position at index idx (the number of thresholds at or above u) to 1.0.
  // y is all 0.0 when the first pass starts, and each pass sets one free
  // position (ones ≤ np ≤ n, so a position is always left), so pass p has
  // k = n − p and its list is the previous one without the position just
  // set: the list is kept by closing that gap rather than rebuilt from y.
  // Like a rebuilt list, it leaves the slot after its end as it was.
  int32_t k = n;
  for (int32_t l = 0; l < n; ++l) freeList[l] = l;
  int32_t idx = 0;
  for (int32_t pass = 0; pass < ones; ++pass) {
    if (pass > 0) {
      for (int32_t i = idx; i < k - 1; ++i) freeList[i] = freeList[i + 1];
      --k;
    }
    u = nextUniform(seed);
    rw[latestSlot(n)] = u;
    // 0 < u < 1, so idx lies in 0 … k − 1: a small u picks the last free
    // position, one above (k − 1) / k the first.
    idx = thresholdsAtOrAbove(u, k);
    y[freeList[idx]] = 1.0;
  }
  // The thresholds as the passes leave them: the last pass wrote i / k below
  // k, and each earlier one, with one position more, one slot further, so
  // slot i from k on holds the i / (i + 1) of the pass that had i + 1.
  for (int32_t i = 0; i < k; ++i) thresholds[i] = static_cast<double>(i) / static_cast<double>(k);
  for (int32_t i = k; i < n; ++i) thresholds[i] = static_cast<double>(i) / static_cast<double>(i + 1);
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = mdlInitializeSampleTimes,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs,
    .mdlCheckParameters = mdlCheckParameters};
