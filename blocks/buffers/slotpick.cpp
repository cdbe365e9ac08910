// slotpick: register downsample. A rising load trigger takes a snapshot of
// the data inputs into a buffer; every rising pick trigger emits, for each
// output, the buffer element at that output's current position and then moves
// the position by its increment, wrapping around the buffer in cyclic mode.
// The last output shows whether the load trigger is high.
//
// Input u: n data elements, then the load trigger u[n] and the pick trigger
// u[n+1].
#include "kivrel.h"

namespace {

enum { OutputIndexParam = 0, IncrementParam = 1, ThresholdParam = 2, CyclicParam = 3 };

// IWork: the two trigger flags, then the K positions and the K increments.
const int32_t kLoadFlag = 0;
const int32_t kPickFlag = 1;
const int32_t kPositions = 2;
int32_t incrementsSlot(int32_t K) { return kPositions + K; }
// RWork: the buffer of n inputs, then the times of the last load and pick
// edges.
int32_t loadTimeSlot(int32_t n) { return n; }
int32_t pickTimeSlot(int32_t n) { return n + 1; }

// A repeated call at the time of an earlier edge lies within this relative
// distance of it.
const double kSameTimeTolerance = 1e-8;

const char kOutputIndexChangedMsg[] = "OutputIndex changed its size during the simulation.";
const char kIncrementSizeMsg[] = "The vector size for OutputIndex and Increment must be the same.";
const char kThresholdScalarMsg[] = "The threshold must be a scalar.";

bool sameTime(double t, double edge) { return t > 0.0 && (t - edge) / t < kSameTimeTolerance; }

// The buffer element at position p. Cyclic: p reduced modulo n into 0 .. n-1
// for every sign of p. An empty buffer has no element to reduce into, so
// cyclic mode gives 0.0 there, as a position outside the buffer does
// otherwise. A position inside the buffer needs no reduction, one past it a
// 32-bit remainder; only a negative one takes the remainder in 64 bits (so
// that the most negative position has a magnitude too).
double pick(const double* buffer, int32_t n, int32_t p, bool cyclic) {
  if (p >= 0 && p < n) return buffer[p];
  if (!cyclic || n <= 0) return 0.0;
  if (p >= 0) return buffer[static_cast<uint32_t>(p) % static_cast<uint32_t>(n)];
  const int64_t q = static_cast<int64_t>(p) % n;
  return buffer[q < 0 ? q + n : q];
}

// OutputIndex is read again at every load; it must still have one element per
// output, since the output width was fixed when the block was sized.
const double* outputIndex(BlockContext* S, int32_t K) {
  const axArray* a = blockParam(S, OutputIndexParam);
  if (axGetNumberOfElements(a) != K) blockError("%s", kOutputIndexChangedMsg);
  return axGetPr(a);
}

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 4);
  const int32_t K = axGetNumberOfElements(blockParam(S, OutputIndexParam));
  if (K <= 0) blockError("OutputIndex cannot be a empty vector.");
  const int32_t inc = axGetNumberOfElements(blockParam(S, IncrementParam));
  if (inc != K && inc != 1) blockError("%s", kIncrementSizeMsg);
  if (axGetNumberOfElements(blockParam(S, ThresholdParam)) != 1) blockError("%s", kThresholdScalarMsg);
  setSizes(S, {.outputs = K + 1, .inputs = -1, .directFeedthrough = 1, .sampleTimes = 1, .params = 4,
               .iwork = 2 * K + 2, .rwork = -1});
}

void mdlInitializeConditions(double*, BlockContext* S) {
  const int32_t K = S->SizesVector[NumOutputs] - 1;
  const int32_t n = S->SizesVector[NumInputs] - 2;
  // The two triggers are the last two inputs: an input narrower than that has
  // no trigger to read, so the block refuses it here rather than read before u.
  if (n < 0) blockError("The input vector must hold the load and pick triggers after the data.");
  // Parameters edited between sizing and start are held to the sized widths.
  const double* index = outputIndex(S, K);
  const axArray* incArray = blockParam(S, IncrementParam);
  const int32_t incCount = axGetNumberOfElements(incArray);
  if (incCount != K && incCount != 1) blockError("%s", kIncrementSizeMsg);
  const double* inc = axGetPr(incArray);

  double* rw = S->RWork;
  int32_t* iw = S->IWork;
  for (int32_t j = 0; j < n; ++j) rw[j] = 0.0;
  for (int32_t i = 0; i < K; ++i) {
    if (index[i] < 0.0) blockError("Output Index must be positive integers.");
    iw[kPositions + i] = truncInt(index[i]);
    iw[incrementsSlot(K) + i] = truncInt(incCount == 1 ? inc[0] : inc[i]);
  }
  iw[kLoadFlag] = 0;
  iw[kPickFlag] = 0;
  rw[loadTimeSlot(n)] = -1.0;
  rw[pickTimeSlot(n)] = -1.0;
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const int32_t K = S->SizesVector[NumOutputs] - 1;
  const int32_t n = S->SizesVector[NumInputs] - 2;
  const axArray* thrArray = blockParam(S, ThresholdParam);
  // A threshold emptied during the run has no value to compare with.
  if (axGetNumberOfElements(thrArray) < 1) blockError("%s", kThresholdScalarMsg);
  const double thr = axGetPr(thrArray)[0];
  // Only the first element of the cyclic flag is read; an empty flag reads as
  // 0, that is non-cyclic.
  const axArray* cycArray = blockParam(S, CyclicParam);
  const bool cyclic = axGetNumberOfElements(cycArray) > 0 && truncInt(axGetPr(cycArray)[0]) > 0;
  const double t = blockTime(S);
  int32_t* iw = S->IWork;
  double* rw = S->RWork;
  int32_t* pos = iw + kPositions;
  const int32_t* inc = iw + incrementsSlot(K);
  double& loadTime = rw[loadTimeSlot(n)];
  double& pickTime = rw[pickTimeSlot(n)];

  // Load trigger first, so that a pick at the same call reads the new snapshot.
  const bool loadHigh = u[n] >= thr;
  if (iw[kLoadFlag] == 0 && loadHigh) {
    const double* index = outputIndex(S, K);
    for (int32_t j = 0; j < n; ++j) rw[j] = u[j];
    for (int32_t i = 0; i < K; ++i) pos[i] = truncInt(index[i]);
    iw[kLoadFlag] = 1;
    y[K] = 1.0;
    loadTime = t;
  } else if (iw[kLoadFlag] == 1 && loadHigh) {
    // A repeated call at the time of the load retakes the snapshot; if the
    // pick rose at that time too, the outputs are picked again from the
    // positions that pick used, without moving them a second time.
    if (sameTime(t, loadTime)) {
      for (int32_t j = 0; j < n; ++j) rw[j] = u[j];
      if (u[n + 1] >= thr && sameTime(t, pickTime))
        for (int32_t i = 0; i < K; ++i) y[i] = pick(rw, n, wrapSub(pos[i], inc[i]), cyclic);
    }
  } else if (iw[kLoadFlag] == 1 && thr > u[n]) {
    iw[kLoadFlag] = 0;
    y[K] = 0.0;
  }

  if (iw[kPickFlag] == 0 && u[n + 1] >= thr) {
    for (int32_t i = 0; i < K; ++i) {
      y[i] = pick(rw, n, pos[i], cyclic);
      pos[i] = wrapAdd(pos[i], inc[i]);
    }
    iw[kPickFlag] = 1;
    pickTime = t;
    return;
  }
  if (iw[kPickFlag] == 1 && thr > u[n + 1]) iw[kPickFlag] = 0;
  if (t <= 0.0)
    for (int32_t i = 0; i < K; ++i) y[i] = 0.0;
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs};
