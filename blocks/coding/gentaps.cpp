// gentaps: convolutional encoder. At every step whose enable input (the last
// input element) is at least 0.2, maps k input bits and the current state to
// n output bits and the next state. The code description matrix P gives the
// code either as a table (next state and output word per state and input
// word) or, when its last element is negative, as binary state-space
// matrices [A B | sizes; C D | marker].
//
// The block does not check how many parameters it was given: it reads the
// first and ignores any others. Only a call without a parameter, which would
// have no matrix to read, is refused.
#include "kivrel.h"

namespace {

const double kEnableThreshold = 0.2;

enum Form { TableForm, StateSpaceForm };

// The code as read from the parameter.
struct Code {
  Form form;
  const double* p;
  int32_t rows;  // M
  int32_t cols;  // N
  // Table form.
  int32_t m, n, k, tableRows;
  // State-space form.
  int32_t ns, no;
};

double element(const Code& c, int32_t i, int32_t j) { return c.p[i + c.rows * j]; }

// Bit j of v, taken by repeated halving toward zero (the remainder keeps the
// sign of v).
int32_t bitOf(int32_t v, int32_t j) {
  for (int32_t b = 0; b < j; ++b) v /= 2;
  return v % 2;
}

// Reads the code description and rejects one the encoder cannot run: the
// block would otherwise address elements that do not exist.
Code readCode(BlockContext* S) {
  if (S->SFcnParamsCount < 1) blockError("The code description matrix is missing.");
  const axArray* a = blockParam(S, 0);
  Code c{};
  c.rows = axGetM(a);
  c.cols = axGetN(a);
  c.p = axGetPr(a);
  if (c.rows < 1 || c.cols < 1) blockError("The code description matrix is empty.");
  c.form = element(c, c.rows - 1, c.cols - 1) < 0.0 ? StateSpaceForm : TableForm;

  if (c.form == TableForm) {
    if (c.rows < 2 || c.cols < 2)
      blockError("The code description table needs at least 2 rows and 2 columns.");
    c.m = truncInt(element(c, 1, 0));
    c.n = truncInt(element(c, 0, 1));
    c.k = truncInt(element(c, 1, 1));
    if (c.m < 1 || c.m > 24)
      blockError("The code description table needs from 1 to 24 memory bits (m = %d).", c.m);
    if (c.k < 0 || c.k > 24)
      blockError("The code description table needs from 0 to 24 input bits (k = %d).", c.k);
    if (c.n < 1 || c.n > 32)
      blockError("The code description table needs from 1 to 32 output bits (n = %d).", c.n);
    c.tableRows = c.rows - 2;
    if (c.m + c.k > 24 || c.tableRows != (1 << (c.m + c.k)))
      blockError("The code description table must have 2^(m+k) rows after its first two; "
                 "it has %d (m = %d, k = %d).", c.tableRows, c.m, c.k);
    const int32_t states = 1 << c.m;
    for (int32_t r = 0; r < c.tableRows; ++r) {
      double next = element(c, 2 + r, 0);
      int32_t s = truncInt(next);
      if (s < 0 || s >= states)
        blockError("The next state in table row %d is outside the states 0 to %d.", r, states - 1);
    }
    return c;
  }

  if (c.rows < 4) blockError("The state-space code description needs at least 4 rows.");
  c.no = truncInt(element(c, 0, c.cols - 1));
  c.k = truncInt(element(c, 1, c.cols - 1));
  c.ns = truncInt(element(c, 2, c.cols - 1));
  if (c.ns < 1 || c.no < 1 || c.k < 0)
    blockError("The state-space code description needs at least one state and one output "
               "(states %d, outputs %d, input bits %d).", c.ns, c.no, c.k);
  const int64_t rows = static_cast<int64_t>(c.ns) + c.no;
  const int64_t cols = static_cast<int64_t>(c.ns) + c.k + 1;
  if (rows != c.rows || cols != c.cols)
    blockError("The state-space code description must be (states + outputs) x (states + input bits + 1) "
               "= %lld x %lld; it is %d x %d.",
               static_cast<long long>(rows), static_cast<long long>(cols), c.rows, c.cols);
  return c;
}

int32_t iworkCount(const Code& c) {
  if (c.form == TableForm) return c.tableRows * (c.m + c.n + 2);
  return c.ns + (c.ns + c.no) * (c.ns + c.k);
}

// Reads the code at run time and checks it still fits the sizes the block was
// given: a parameter changed during the run must not lead outside the vectors.
Code runningCode(BlockContext* S) {
  Code c = readCode(S);
  const int32_t* sv = S->SizesVector;
  const int32_t states = c.form == TableForm ? c.m : c.ns;
  const int32_t outputs = c.form == TableForm ? c.n : c.no;
  if (sv[NumDiscStates] != states || sv[NumOutputs] != outputs || sv[NumInputs] != c.k + 1 ||
      sv[NumIWork] != iworkCount(c))
    blockError("The code description matrix changed its sizes during the simulation.");
  return c;
}

// The table form in IWork, R = 2^(m+k) entries per column: the next states,
// the output words, then the m bits of the next states and the n bits of the
// output words, bit j of every row in column j of each.
int32_t nextStateSlot(const Code&, int32_t r) { return r; }
int32_t outputWordSlot(const Code& c, int32_t r) { return c.tableRows + r; }
int32_t stateBitSlot(const Code& c, int32_t j, int32_t r) { return c.tableRows * (2 + j) + r; }
int32_t outputBitSlot(const Code& c, int32_t j, int32_t r) { return c.tableRows * (2 + c.m + j) + r; }

// Table expansion: the next-state and output-word columns, and their bits.
// The code is taken by value: the stores into IWork cannot change a copy of
// its own, so its sizes stay in registers instead of being read again after
// every store.
void expandTable(BlockContext* S, const Code c) {
  int32_t* iw = S->IWork;
  for (int32_t r = 0; r < c.tableRows; ++r) {
    iw[nextStateSlot(c, r)] = truncInt(element(c, 2 + r, 0));
    iw[outputWordSlot(c, r)] = truncInt(element(c, 2 + r, 1));
  }
  for (int32_t j = 0; j < c.m; ++j)
    for (int32_t r = 0; r < c.tableRows; ++r) iw[stateBitSlot(c, j, r)] = bitOf(iw[nextStateSlot(c, r)], j);
  for (int32_t j = 0; j < c.n; ++j)
    for (int32_t r = 0; r < c.tableRows; ++r) iw[outputBitSlot(c, j, r)] = bitOf(iw[outputWordSlot(c, r)], j);
}

// Offsets of the state-space matrices and the state copy in IWork.
struct Layout {
  int32_t a, b, c, d, copy;
};

Layout layoutOf(const Code& c) {
  Layout l;
  l.a = 0;
  l.b = c.ns * c.ns;
  l.c = l.b + c.ns * c.k;
  l.d = l.c + c.no * c.ns;
  l.copy = l.d + c.no * c.k;
  return l;
}

// Matrix load: the integer state copy and A, B, C, D from the parameter.
void loadMatrices(BlockContext* S, const double* x, const Code& c) {
  int32_t* iw = S->IWork;
  const Layout l = layoutOf(c);
  const int32_t stride = c.ns + c.no;
  for (int32_t j = 0; j < c.ns; ++j) iw[l.copy + j] = truncInt(x[j]);
  for (int32_t j = 0; j < c.ns + c.k; ++j) {
    for (int32_t i = 0; i < stride; ++i) {
      int32_t v = truncInt(c.p[i + stride * j]);
      if (i < c.ns && j < c.ns) iw[l.a + i + c.ns * j] = v;
      else if (i < c.ns) iw[l.b + i + c.ns * (j - c.ns)] = v;
      else if (j < c.ns) iw[l.c + (i - c.ns) + c.no * j] = v;
      else iw[l.d + (i - c.ns) + c.no * (j - c.ns)] = v;
    }
  }
}

// sum = M·copy (int), then for each input bit sum = trunc(N·u[j] + sum) in
// extended precision; the result modulo 2 with the sign of the sum.
double stateSpaceRow(const int32_t* m, int32_t mRows, const int32_t* nMat, int32_t row, const int32_t* copy,
                     int32_t ns, const double* u, int32_t k) {
  int32_t sum = 0;
  for (int32_t j = 0; j < ns; ++j) sum = wrapAdd(sum, wrapMul(m[row + mRows * j], copy[j]));
  for (int32_t j = 0; j < k; ++j) {
    const long double v = static_cast<long double>(nMat[row + mRows * j]) * static_cast<long double>(u[j]) +
                          static_cast<long double>(sum);
    sum = (v > -2147483649.0L && v < 2147483648.0L) ? static_cast<int32_t>(v) : INT32_MIN;
  }
  return static_cast<double>(sum % 2);
}

bool enabled(const double* u, const Code& c) { return u[c.k] >= kEnableThreshold; }

// Table row of the current state and input word, or -1 when the pair lies
// outside the table (the step is then held like a disabled one).
int32_t tableRow(const double* x, const double* u, const Code& c) {
  const int64_t limit = int64_t{1} << 40;
  int64_t d = 0;
  for (int32_t i = 0; i < c.k; ++i) {
    d += static_cast<int64_t>(truncInt(u[i])) * (int64_t{1} << i);
    if (d > limit || d < -limit) return -1;
  }
  const int64_t r = static_cast<int64_t>(truncInt(x[0])) + (int64_t{1} << c.m) * d;
  return (r >= 0 && r < c.tableRows) ? static_cast<int32_t>(r) : -1;
}

void mdlInitializeSizes(BlockContext* S) {
  const Code c = readCode(S);
  setSizes(S, {.discStates = c.form == TableForm ? c.m : c.ns, .outputs = c.form == TableForm ? c.n : c.no,
               .inputs = c.k + 1, .directFeedthrough = 1, .sampleTimes = 1, .params = 1, .iwork = iworkCount(c)});
}

void mdlInitializeConditions(double* x, BlockContext* S) {
  const Code c = runningCode(S);
  if (c.form == TableForm) {
    expandTable(S, c);
    for (int32_t i = 0; i < c.m; ++i) x[i] = 0.0;
  } else {
    for (int32_t i = 0; i < c.ns; ++i) x[i] = 0.0;
    const Layout l = layoutOf(c);
    for (int32_t i = 0; i < c.ns; ++i) S->IWork[l.copy + i] = 0;
  }
}

void mdlOutputs(double* y, double* x, double* u, BlockContext* S, int32_t) {
  const Code c = runningCode(S);
  if (c.form == TableForm) {
    expandTable(S, c);
    if (!enabled(u, c)) return;
    const int32_t r = tableRow(x, u, c);
    if (r < 0) return;
    for (int32_t j = 0; j < c.n; ++j) y[j] = S->IWork[outputBitSlot(c, j, r)];
    return;
  }
  loadMatrices(S, x, c);
  if (!enabled(u, c)) return;
  const Layout l = layoutOf(c);
  const int32_t* iw = S->IWork;
  for (int32_t i = 0; i < c.no; ++i)
    y[i] = stateSpaceRow(iw + l.c, c.no, iw + l.d, i, iw + l.copy, c.ns, u, c.k);
}

void mdlUpdate(double* x, double* u, BlockContext* S, int32_t) {
  const Code c = runningCode(S);
  if (c.form == TableForm) {
    if (!enabled(u, c)) return;
    const int32_t r = tableRow(x, u, c);
    if (r < 0) return;
    x[0] = element(c, 2 + r, 0);
    return;
  }
  loadMatrices(S, x, c);
  if (!enabled(u, c)) return;
  const Layout l = layoutOf(c);
  const int32_t* iw = S->IWork;
  // Every new state bit comes from the copy taken before any was written.
  for (int32_t i = 0; i < c.ns; ++i)
    x[i] = stateSpaceRow(iw + l.a, c.ns, iw + l.b, i, iw + l.copy, c.ns, u, c.k);
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs, .mdlUpdate = mdlUpdate};
