// mathmap: applies one scalar function, chosen by the first two characters of
// its name parameter, to every input element. Runs at the driving rate with
// direct feedthrough; a name that matches no function leaves y unchanged.
#include <math.h>

#include "kivrel.h"

namespace {

typedef double (*ScalarFn)(double);

// Signed square root: the root of the magnitude with the sign of x; zero of
// either sign and NaN give +0.0.
double signedSqrt(double x) {
  if (x > 0.0) return sqrt(x);
  if (x < 0.0) return -sqrt(-x);
  return 0.0;
}

// -1 for negative values, +1 otherwise (zeros and NaN included).
double signOf(double x) { return x < 0.0 ? -1.0 : 1.0; }

// Rounds halves upward: 2.5 gives 3, -2.5 gives -2, -0.5 gives -0. NaN and
// the infinities come out unchanged (their difference test is false).
double roundHalfUp(double x) {
  const double f = floor(x);
  return x - f >= 0.5 ? ceil(x) : f;
}

double sine(double x) { return sin(x); }
double cosine(double x) { return cos(x); }
double tangent(double x) { return tan(x); }
double exponential(double x) { return exp(x); }
double arcsine(double x) { return asin(x); }
double arccosine(double x) { return acos(x); }
double arctangent(double x) { return atan(x); }
double naturalLog(double x) { return log(x); }
double decimalLog(double x) { return log10(x); }
double floorOf(double x) { return floor(x); }
double ceilingOf(double x) { return ceil(x); }
double absoluteValue(double x) { return fabs(x); }

// y[i] = F(u[i]) for the n elements: one loop per function, so that the
// function is called (or inlined) directly rather than through a pointer at
// every element.
template <ScalarFn F>
void applyToAll(double* y, const double* u, int32_t n) {
  for (int32_t i = 0; i < n; ++i) y[i] = F(u[i]);
}

typedef void (*ApplyFn)(double* y, const double* u, int32_t n);

struct Row {
  char name[3];
  ApplyFn apply;
};

const Row kRows[] = {
    {"si", applyToAll<sine>},       {"co", applyToAll<cosine>},        {"ta", applyToAll<tangent>},
    {"ex", applyToAll<exponential>}, {"as", applyToAll<arcsine>},      {"ac", applyToAll<arccosine>},
    {"at", applyToAll<arctangent>}, {"ln", applyToAll<naturalLog>},    {"lo", applyToAll<decimalLog>},
    {"sq", applyToAll<signedSqrt>}, {"sg", applyToAll<signOf>},        {"ro", applyToAll<roundHalfUp>},
    {"fl", applyToAll<floorOf>},    {"ce", applyToAll<ceilingOf>},     {"ab", applyToAll<absoluteValue>},
};

// The loop of the function named by the parameter, or null. Only the first
// two characters count, case-sensitively; every row name has two, so a name
// matches a row when both its characters do (a shorter name has a zero byte
// where the row has a letter). A parameter that is not a character array
// names no function.
ApplyFn chosenFunction(BlockContext* S) {
  char name[3] = {0, 0, 0};
  if (axGetString(blockParam(S, 0), name, sizeof name) != 0) return nullptr;
  for (const Row& r : kRows)
    if (name[0] == r.name[0] && name[1] == r.name[1]) return r.apply;
  return nullptr;
}

void mdlInitializeSizes(BlockContext* S) {
  setSizes(S, {.outputs = -1, .inputs = -1, .directFeedthrough = 1, .sampleTimes = 1, .params = 1});
}

// The host settles both widths from the driving signal; should it settle the
// output narrower than the input, only the elements that fit in y are
// computed.
void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  // Without a parameter there is no name to read.
  if (S->SFcnParamsCount < 1) return;
  const ApplyFn apply = chosenFunction(S);
  if (apply == nullptr) return;
  const int32_t inputs = S->SizesVector[NumInputs];
  const int32_t outputs = S->SizesVector[NumOutputs];
  apply(y, u, inputs < outputs ? inputs : outputs);
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlOutputs = mdlOutputs};
