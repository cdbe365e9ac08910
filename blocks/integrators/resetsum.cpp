// resetsum: integrate-and-dump. Integrates each input element with a forward
// rectangle rule at the block's sample time Ts and restarts the integrals at
// the reset offset and then every reset time Tr, optionally reducing them
// modulo a positive number. The output shows the integrals in major steps.
// The width of input, output and state is whatever the host settles.
#include <math.h>

#include "kivrel.h"

namespace {

enum ParamIndex { ResetTimeParam = 0, SampleTimeParam = 1, ModuloParam = 2 };

// RWork: the time integrated since the last reset, and the time of the latest
// update call seen. IWork: the number of resets performed so far.
const int32_t kIntegrated = 0;
const int32_t kLastUpdate = 1;
const int32_t kResets = 0;

struct Params {
  double Tr, Toff;  // reset period and offset
  double Ts, Tso;   // sample time and its offset
  double Mo;        // modulo number; infinite for none
};

// Reads and checks the parameters. Every callback reads them afresh, so the
// element counts are checked at every call as well: a parameter edited during
// the run is never read beyond its elements.
Params readParams(BlockContext* S) {
  const axArray* reset = blockParam(S, ResetTimeParam);
  const axArray* sample = blockParam(S, SampleTimeParam);
  const axArray* modulo = blockParam(S, ModuloParam);
  const int32_t nr = axGetNumberOfElements(reset);
  const int32_t ns = axGetNumberOfElements(sample);
  if (nr != 1 && nr != 2) blockError("The reset time must be a scalar or a vector of length 2");
  if (ns != 1 && ns != 2) blockError("The sample time must be a scalar or a vector of length 2");
  if (axGetNumberOfElements(modulo) != 1) blockError("The modulo number must be a scalar value.");
  const double* pr = axGetPr(reset);
  const double* ps = axGetPr(sample);
  Params p;
  p.Tr = pr[0];
  p.Toff = nr == 2 ? pr[1] : 0.0;
  p.Ts = ps[0];
  p.Tso = ns == 2 ? ps[1] : 0.0;
  p.Mo = axGetPr(modulo)[0];
  if (!(p.Mo > 0.0)) blockError("The modulo number can be positive number only.");
  return p;
}

// Whether Ts / Tr < 1e-9, with a NaN ratio counting as not. A reset time of
// zero is decided by the sign of the infinite quotient instead of dividing.
bool resetsShareSampleTime(double Ts, double Tr) {
  if (Tr != 0.0) return Ts / Tr < 1e-9;
  if (isnan(Ts) || Ts == 0.0) return false;           // 0/0 is NaN
  return (signbit(Ts) != 0) != (signbit(Tr) != 0);     // −∞ < 1e-9
}

// The settled width n. Input, output and state were all declared dynamic and
// must have been settled alike, or y = x and x += h·u would step outside one
// of them.
int32_t width(BlockContext* S) {
  const int32_t* sv = S->SizesVector;
  if (sv[NumOutputs] != sv[NumInputs] || sv[NumDiscStates] != sv[NumInputs])
    blockError("The input, output and state widths must be equal (input %d, output %d, states %d).",
               sv[NumInputs], sv[NumOutputs], sv[NumDiscStates]);
  return sv[NumInputs];
}

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 3);
  const Params p = readParams(S);
  if (p.Ts > p.Tr) blockError("The reset interval cannot be smaller than the sample time.");
  const int32_t sampleTimes = resetsShareSampleTime(p.Ts, p.Tr) ? 1 : 2;
  setSizes(S, {.discStates = -1, .outputs = -1, .inputs = -1, .sampleTimes = sampleTimes, .params = 3, .iwork = 1,
               .rwork = 2});
}

// With two sample times the block also runs at the reset instants.
void mdlInitializeSampleTimes(BlockContext* S) {
  const Params p = readParams(S);
  S->SampleTimes[0] = p.Ts;
  S->OffsetTimes[0] = p.Tso;
  if (S->SizesVector[NumSampleTimes] == 2) {
    S->SampleTimes[1] = p.Tr;
    S->OffsetTimes[1] = p.Toff;
  }
}

// Starts the integrals, only at the start of a simulation (t ≤ 0).
void mdlInitializeConditions(double* x, BlockContext* S) {
  const Params p = readParams(S);
  const int32_t n = width(S);
  const double t = blockTime(S);
  if (!(t <= 0.0)) return;
  S->RWork[kIntegrated] = 0.0;
  S->RWork[kLastUpdate] = t - p.Ts;
  S->IWork[kResets] = 0;
  for (int32_t i = 0; i < n; ++i) x[i] = 0.0;
}

void mdlOutputs(double* y, double* x, double*, BlockContext* S, int32_t) {
  const int32_t n = width(S);
  if (S->SimInfo->StepKind != MajorTimeStep) return;
  for (int32_t i = 0; i < n; ++i) y[i] = x[i];
}

void mdlUpdate(double* x, double* u, BlockContext* S, int32_t) {
  const Params p = readParams(S);
  const int32_t n = width(S);
  double* rw = S->RWork;
  const double t = blockTime(S);
  const bool modulo = !isinf(p.Mo);  // axIsInf's test, without the call

  if (!(t < p.Toff) && !isnan(t)) {
    // The time since the previous update, but never more than Ts.
    const double dt = t - rw[kLastUpdate];
    const double h = p.Ts > dt ? dt : p.Ts;
    rw[kIntegrated] = rw[kIntegrated] + h;
    const int32_t k = S->IWork[kResets];
    if (rw[kIntegrated] >= p.Tr || t >= p.Tr * k + p.Toff) {
      for (int32_t i = 0; i < n; ++i) {
        x[i] = h * u[i];
        if (modulo) x[i] = fmod(x[i], p.Mo);
      }
      // The count stops at the largest int rather than overflow; from then on
      // every update is past the reset instant it names.
      if (k < INT32_MAX) S->IWork[kResets] = k + 1;
      rw[kIntegrated] = p.Tr / 1e9;
    } else {
      for (int32_t i = 0; i < n; ++i) {
        x[i] = x[i] + h * u[i];
        if (modulo) x[i] = fmod(x[i], p.Mo);
      }
    }
  }
  if (t > rw[kLastUpdate]) rw[kLastUpdate] = t;
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = mdlInitializeSampleTimes,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs, .mdlUpdate = mdlUpdate};
