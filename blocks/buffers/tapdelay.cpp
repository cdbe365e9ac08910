// tapdelay: shift register clocked by a trigger. At every rising edge of the
// trigger u[1] the data value u[0] goes into a circular register of m slots,
// and output i shows the value stored delay[i] edges before (0: the current
// value). The last output marks the edges that write slot 0, where the
// register begins a new cycle.
#include "kivrel.h"

namespace {

enum { DelayParam = 0, ThresholdParam = 1 };

// IWork: the write position pos (the slot of the next edge, which holds the
// oldest value) and the trigger flag. RWork: the m slots of the register,
// then the time of the last rising edge.
const int32_t kWritePosition = 0;
const int32_t kTriggerFlag = 1;
int32_t edgeTimeSlot(int32_t m) { return m; }

const double kSameTimeTolerance = 1e-8;

// The threshold is not otherwise validated and only its first element is
// read; an empty one has no element, so it is refused at sizing and when it is
// read during the run.
const char kThresholdEmptyMsg[] = "The threshold must not be empty.";

double threshold(BlockContext* S) {
  const axArray* a = blockParam(S, ThresholdParam);
  if (axGetNumberOfElements(a) < 1) blockError("%s", kThresholdEmptyMsg);
  return axGetPr(a)[0];
}

// The delay vector is read again at every call; it must still have one element
// per delayed output, since the output width was fixed at sizing.
const double* delays(BlockContext* S, int32_t L) {
  const axArray* a = blockParam(S, DelayParam);
  if (axGetNumberOfElements(a) != L) blockError("The delay vector changed its size during the simulation.");
  return axGetPr(a);
}

// Register slot read by a delay d >= 1 (or negative), with 0 <= pos < m. A
// delay larger than m, possible only when the delay vector was edited after
// sizing, is clamped to m: the oldest value in the register. For 1 <= d <= m,
// (m + pos - d) mod m is pos - d, brought up by m when negative; a negative
// delay takes the remainder in 64 bits, so that the most negative delay
// cannot overflow.
int32_t delayedSlot(int32_t m, int32_t pos, int32_t d) {
  if (d > m) d = m;
  if (d >= 1) return pos >= d ? pos - d : pos - d + m;
  int64_t k = (static_cast<int64_t>(m) + pos - d) % m;
  if (k < 0) k += m;
  return static_cast<int32_t>(k);
}

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 2);
  const axArray* delayArray = blockParam(S, DelayParam);
  const int32_t L = axGetNumberOfElements(delayArray);
  if (L <= 0) blockError("Output buffer is empty");
  const double* delay = axGetPr(delayArray);
  int32_t m = 1;
  for (int32_t i = 0; i < L; ++i) {
    const int32_t d = truncInt(delay[i]);
    if (d >= m) m = d;
  }
  // The register needs m + 1 real work entries, which must fit in an int.
  if (m == INT32_MAX) blockError("The delay vector holds a delay too large for the register.");
  threshold(S);
  setSizes(S, {.outputs = L + 1, .inputs = 2, .directFeedthrough = 1, .sampleTimes = 1, .params = 2, .iwork = 2,
               .rwork = m + 1});
}

void mdlInitializeConditions(double*, BlockContext* S) {
  const int32_t m = S->SizesVector[NumRWork] - 1;
  double* rw = S->RWork;
  for (int32_t j = 0; j < m; ++j) rw[j] = 0.0;
  S->IWork[kWritePosition] = 0;
  S->IWork[kTriggerFlag] = 0;
  rw[edgeTimeSlot(m)] = -1.0;
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const int32_t L = S->SizesVector[NumOutputs] - 1;
  const int32_t m = S->SizesVector[NumRWork] - 1;
  const double thr = threshold(S);
  const double* delay = delays(S, L);
  const double t = blockTime(S);
  int32_t* iw = S->IWork;
  double* rw = S->RWork;
  double& edgeTime = rw[edgeTimeSlot(m)];
  const int32_t pos = iw[kWritePosition];

  if (iw[kTriggerFlag] == 0 && u[1] >= thr) {
    for (int32_t i = 0; i < L; ++i) {
      const int32_t d = truncInt(delay[i]);
      y[i] = d == 0 ? u[0] : rw[delayedSlot(m, pos, d)];
    }
    y[L] = pos == 0 ? 1.0 : 0.0;
    rw[pos] = u[0];
    iw[kWritePosition] = (pos + 1) % m;
    iw[kTriggerFlag] = 1;
    edgeTime = t;
    return;
  }

  if (t <= 0.0) {
    for (int32_t i = 0; i < L; ++i) y[i] = 0.0;
  } else if ((t - edgeTime) / t < kSameTimeTolerance && u[1] >= thr) {
    // A repeated call at the time of the last edge: the value stored at that
    // edge is replaced by the current input, and only the undelayed outputs
    // follow it.
    const int32_t p = pos == 0 ? m - 1 : pos - 1;
    for (int32_t i = 0; i < L; ++i)
      if (truncInt(delay[i]) == 0) y[i] = u[0];
    y[L] = p == 0 ? 1.0 : 0.0;
    rw[p] = u[0];
  }
  if (iw[kTriggerFlag] == 1 && thr > u[1]) {
    iw[kTriggerFlag] = 0;
    y[L] = 0.0;
  }
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs};
