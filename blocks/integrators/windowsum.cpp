// windowsum: moving-window integrator. For each input element, the integral
// over a window of m − 1 sample intervals ending at the present sample, by the
// forward rectangle, backward rectangle or trapezoidal rule. Each integral is
// a running sum: a window step adds the newest sample's contribution and
// takes away that of the sample leaving the window, which a ring buffer of
// the last m samples per element provides.
#include <stddef.h>

#include "kivrel.h"

namespace {

enum ParamIndex { SizeParam = 0, WindowParam = 1, SampleTimeParam = 2, MethodParam = 3 };

enum Rule { Forward, Backward, Trapezoidal };

// IWork: the ring length m and the slot the next window step writes.
const int32_t kRingLength = 0;
const int32_t kWriteSlot = 1;
// RWork: the time of the last window step, the n rings of m samples, then the
// n running sums.
const int32_t kLastStep = 0;
double* ringOf(double* rw, int32_t m, int32_t i) {
  return rw + 1 + static_cast<size_t>(i) * static_cast<size_t>(m);
}
double* sumsOf(double* rw, int32_t n, int32_t m) { return ringOf(rw, m, n); }

double sampleTime(const axArray* a, double* offset) {
  const int32_t count = axGetNumberOfElements(a);
  if (count != 1 && count != 2) blockError("The sample time must be a scalar or a vector of length 2");
  if (offset != nullptr) *offset = count == 2 ? axGetPr(a)[1] : 0.0;
  return axGetPr(a)[0];
}

int32_t inputSize(const axArray* a) {
  if (axGetM(a) != 1 || axGetN(a) != 1) blockError("The input vector size must be a scalar value.");
  return truncInt(axGetPr(a)[0]);
}

// n, m and the RWork count, with the checks of the sizes call in their order.
struct Geometry {
  int32_t n, m, rworkCount;
};

Geometry readGeometry(BlockContext* S) {
  const double Ts = sampleTime(blockParam(S, SampleTimeParam), nullptr);
  const axArray* window = blockParam(S, WindowParam);
  if (axGetNumberOfElements(window) != 1) blockError("The integration window length must be a scalar value.");
  Geometry g;
  g.n = inputSize(blockParam(S, SizeParam));
  if (axGetM(blockParam(S, MethodParam)) != 1) blockError("Integration method must be a string");
  const double W = axGetPr(window)[0];
  if (axIsInf(W)) blockError("The integration window length cannot be infinite.");
  // W / Ts rounded to the nearest number of intervals, a half rounding down,
  // plus one. A sample time of 0 counts as an out-of-range quotient rather
  // than being divided by.
  g.m = Ts == 0.0 ? INT32_MIN : truncInt(W / Ts + 1.49);
  if (g.m <= 2) blockError("The integration window length must be greater than sample time.");
  if (g.n < 1) blockError("The input vector length must be a positive number.");
  // One ring of m samples and one sum per element, and the step time: a count
  // beyond the int range cannot be declared.
  const int64_t count = static_cast<int64_t>(g.n) * g.m + g.n + 1;
  if (count > INT32_MAX)
    blockError("The integration window needs %lld work elements, more than a block can have "
               "(input vector size %d, %d samples per element).",
               static_cast<long long>(count), g.n, g.m);
  g.rworkCount = static_cast<int32_t>(count);
  return g;
}

// The work vectors were sized from the parameters at the sizes call; a size
// or window edited since then must not lead outside them.
void checkGeometry(BlockContext* S, int32_t n, int32_t m) {
  const int32_t* sv = S->SizesVector;
  if (sv[NumInputs] != n || sv[NumOutputs] != n)
    blockError("The input vector size changed during the simulation.");
  if (m < 3 || static_cast<int64_t>(n) * m + n + 1 != sv[NumRWork] || sv[NumIWork] != 2)
    blockError("The integration window length changed during the simulation.");
}

// Only the first two characters of the method are read. A one-row parameter
// that is not a character array names neither rule and selects the
// trapezoidal one, like any other text.
Rule readRule(BlockContext* S) {
  char method[3];
  axGetString(blockParam(S, MethodParam), method, sizeof method);
  if (method[0] == 'f' && method[1] == 'o') return Forward;
  if (method[0] == 'b' && method[1] == 'a') return Backward;
  return Trapezoidal;
}

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 4);
  const Geometry g = readGeometry(S);
  setSizes(S, {.outputs = g.n, .inputs = g.n, .directFeedthrough = 1, .sampleTimes = 1, .params = 4, .iwork = 2,
               .rwork = g.rworkCount});
}

void mdlInitializeSampleTimes(BlockContext* S) {
  double offset;
  S->SampleTimes[0] = sampleTime(blockParam(S, SampleTimeParam), &offset);
  S->OffsetTimes[0] = offset;
}

void mdlInitializeConditions(double*, BlockContext* S) {
  const Geometry g = readGeometry(S);
  checkGeometry(S, g.n, g.m);
  double* rw = S->RWork;
  for (int32_t i = 1; i < g.rworkCount; ++i) rw[i] = 0.0;
  rw[kLastStep] = -1.0;
  S->IWork[kRingLength] = g.m;
  S->IWork[kWriteSlot] = 0;
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const Rule rule = readRule(S);
  const double Ts = sampleTime(blockParam(S, SampleTimeParam), nullptr);
  const int32_t n = inputSize(blockParam(S, SizeParam));
  // The ring length is the one fixed at the start, whatever the window
  // parameter says now.
  const int32_t m = S->IWork[kRingLength];
  checkGeometry(S, n, m);
  const int32_t w = S->IWork[kWriteSlot];
  if (w < 0 || w >= m) blockError("The integration window length changed during the simulation.");

  double* rw = S->RWork;
  double* sums = sumsOf(rw, n, m);
  const double t = blockTime(S);

  if (t - rw[kLastStep] > Ts / 1e6) {
    const int32_t prev = w == 0 ? m - 1 : w - 1;  // the previous sample
    const int32_t next = w == m - 1 ? 0 : w + 1;  // the oldest sample that stays
    for (int32_t i = 0; i < n; ++i) {
      double* B = ringOf(rw, m, i);  // B[w] leaves the window
      switch (rule) {
        case Forward: sums[i] = sums[i] + Ts * (B[prev] - B[w]); break;
        case Backward: sums[i] = sums[i] + Ts * (u[i] - B[next]); break;
        case Trapezoidal: sums[i] = sums[i] + 0.5 * Ts * (u[i] + B[prev] - B[w] - B[next]); break;
      }
      B[w] = u[i];
    }
    S->IWork[kWriteSlot] = next;
    rw[kLastStep] = t;
  } else {
    // A repeated call at the time of the last window step: the sample stored
    // then is replaced by the present input, with the weight by which the
    // newest sample enters each rule.
    const int32_t p = w == 0 ? m - 1 : w - 1;
    for (int32_t i = 0; i < n; ++i) {
      double* B = ringOf(rw, m, i);
      switch (rule) {
        case Forward: break;
        case Backward: sums[i] = sums[i] + Ts * (u[i] - B[p]); break;
        case Trapezoidal: sums[i] = sums[i] + 0.5 * Ts * (u[i] - B[p]); break;
      }
      B[p] = u[i];
    }
  }
  for (int32_t i = 0; i < n; ++i) y[i] = sums[i];
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = mdlInitializeSampleTimes,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs};
