// polymix: triggered scrambler over the symbols 0 … N−1. At each rising edge
// of the trigger input (u[1] through 1e-7) the register of past symbols
// shifts by one, and the output symbol is the input symbol plus the register
// cells weighted by the generator polynomial, modulo N. The register takes
// either the block's own output symbols (feedback: a self-synchronising
// scrambler) or its input symbols (feed-forward: the matching descrambler).
// Between triggers the outputs hold; a further call at the time of the last
// trigger recomputes them from the present input without a second shift.
#include "kivrel.h"

namespace {

const double kTriggerThreshold = 1e-7;
const double kSameTimeTolerance = 1e-8;

enum ParamIndex { ModulusParam = 0, PolynomialParam = 1, FlagParam = 2, InitialStatesParam = 3 };

// IWork layout: the trigger latch, the g register cells, the staged symbol.
// RWork: the time of the last trigger.
const int32_t kLatch = 0;
int32_t cellIndex(int32_t j) { return 1 + j; }
int32_t stagedIndex(int32_t g) { return g + 1; }
const int32_t kTriggerTime = 0;

// What every call reads from the parameters.
struct Setup {
  int32_t modulus;    // N, never 0
  const double* p;    // generator polynomial
  int32_t g;          // its number of coefficients, at least 1
  bool registerTakesInput;
};

// Reads the modulus, the polynomial and the flag. A modulus that is missing or
// truncates to 0 would divide by zero, and a missing flag would be read from
// nothing, so both are refused with a message of the block's own.
Setup readSetup(BlockContext* S) {
  Setup s{};
  const axArray* poly = blockParam(S, PolynomialParam);
  s.g = axGetNumberOfElements(poly);
  if (s.g < 1) blockError("Generator polynomial is empty.");
  // The integer work vector holds g + 2 entries.
  if (s.g > INT32_MAX - 2) blockError("Generator polynomial is too long.");
  s.p = axGetPr(poly);

  const axArray* mod = blockParam(S, ModulusParam);
  if (axGetNumberOfElements(mod) < 1) blockError("The modulus must be a nonzero integer.");
  s.modulus = truncInt(axGetPr(mod)[0]);
  if (s.modulus == 0) blockError("The modulus must be a nonzero integer.");

  const axArray* flag = blockParam(S, FlagParam);
  if (axGetNumberOfElements(flag) < 1) blockError("The register input flag is empty.");
  s.registerTakesInput = truncInt(axGetPr(flag)[0]) != 0;
  return s;
}

// The initial states are read only when the block starts; an empty parameter
// gives no first symbol to start from.
const double* readInitialStates(BlockContext* S, int32_t* count) {
  const axArray* q = blockParam(S, InitialStatesParam);
  *count = axGetNumberOfElements(q);
  if (*count < 1) blockError("Initial states are empty.");
  return axGetPr(q);
}

// The setup at run time, refused when the polynomial no longer has the
// length the output and work vectors were sized for.
Setup runningSetup(BlockContext* S) {
  Setup s = readSetup(S);
  const int32_t* sv = S->SizesVector;
  if (sv[NumOutputs] != s.g || sv[NumIWork] != s.g + 2)
    blockError("The generator polynomial changed its length during the simulation.");
  return s;
}

// The weighted sum of the input symbol and the register, its remainder as the
// output symbol, the next staged symbol, and the register shown in y[1 …].
void symbolSum(double* y, const double* u, BlockContext* S, const Setup& s) {
  int32_t* iw = S->IWork;
  const int32_t v = truncInt(u[0]);
  // The sum wraps as 32-bit two's complement arithmetic: weights and symbols
  // are arbitrary ints, and a sum beyond the int range has no other meaning
  // that would be more useful than the wrapped one.
  int32_t sum = 0;
  for (int32_t i = 0; i < s.g; ++i) {
    if (s.p[i] == 0.0) continue;
    if (i == 0)
      sum = v;  // the input enters with weight 1 whatever p[0] is
    else
      sum = wrapAdd(sum, wrapMul(truncInt(s.p[i]), iw[cellIndex(i - 1)]));
  }
  // In 64 bits, so that INT32_MIN modulo −1 does not overflow; the remainder
  // keeps the sign of the sum and fits an int.
  const int32_t rem = static_cast<int32_t>(static_cast<int64_t>(sum) % static_cast<int64_t>(s.modulus));
  y[0] = rem;
  iw[stagedIndex(s.g)] = s.registerTakesInput ? v : rem;
  for (int32_t i = 1; i < s.g; ++i) y[i] = iw[cellIndex(i - 1)];
}

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 4);
  const Setup s = readSetup(S);
  int32_t n;
  readInitialStates(S, &n);
  setSizes(S, {.outputs = s.g, .inputs = 2, .directFeedthrough = 1, .sampleTimes = 1, .params = 4,
               .iwork = s.g + 2, .rwork = 1});
}

// The initial states list the register symbols of 1, 2, … g−1 triggers before
// the start. The first trigger shifts before it reads, so the first of them is
// staged and the rest go one cell further back; the two last cells leave the
// register unread at that shift and start at 0.
void mdlInitializeConditions(double*, BlockContext* S) {
  const Setup s = runningSetup(S);
  int32_t nq;
  const double* q = readInitialStates(S, &nq);
  int32_t* iw = S->IWork;
  iw[kLatch] = 0;
  S->RWork[kTriggerTime] = -1.0;
  if (nq < s.g - 1) {
    const int32_t q0 = truncInt(q[0]);
    for (int32_t j = 0; j < s.g; ++j) iw[cellIndex(j)] = q0;
    iw[stagedIndex(s.g)] = q0;
    return;
  }
  iw[stagedIndex(s.g)] = truncInt(q[0]);
  for (int32_t j = 0; j < s.g; ++j) iw[cellIndex(j)] = j <= s.g - 3 ? truncInt(q[j + 1]) : 0;
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const Setup s = runningSetup(S);
  int32_t* iw = S->IWork;
  const double t = blockTime(S);
  const double trigger = u[1];

  if (iw[kLatch] == 0 && trigger >= kTriggerThreshold) {
    for (int32_t j = s.g - 1; j >= 1; --j) iw[cellIndex(j)] = iw[cellIndex(j - 1)];
    iw[cellIndex(0)] = iw[stagedIndex(s.g)];
    symbolSum(y, u, S, s);
    iw[kLatch] = 1;
    S->RWork[kTriggerTime] = t;
    return;
  }

  if (t <= 0.0)
    y[0] = 0.0;
  else if ((t - S->RWork[kTriggerTime]) / t < kSameTimeTolerance)
    symbolSum(y, u, S, s);  // still at the time of the last trigger
  if (iw[kLatch] == 1 && trigger < kTriggerThreshold) iw[kLatch] = 0;
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs};
