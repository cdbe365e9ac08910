// lookuprow: index table. A vector table (one row or one column) maps every
// input element to the table element it indexes; a matrix table takes a
// scalar input as a row number and outputs that row. Indices count from 0, are
// truncated and clamped into the table; an index that is NaN or does not fit
// in an int counts as negative.
//
#include "kivrel.h"

namespace {

// IWork: whether the table was a vector (1) or a matrix (0) at the start.
const int32_t kVectorMode = 0;

const char kEmptyTableMsg[] = "Input size must be a nonempty vector or matrix";

struct Table {
  const double* p;
  int32_t rows;
  int32_t cols;
};

// The table must have at least one element; that is checked at sizing and
// again when it is read during the run, since an edited table could be empty.
Table readTable(BlockContext* S) {
  const axArray* a = blockParam(S, 0);
  Table tb;
  tb.p = axGetPr(a);
  tb.rows = axGetM(a);
  tb.cols = axGetN(a);
  if (tb.rows < 1 || tb.cols < 1) blockError("%s", kEmptyTableMsg);
  return tb;
}

bool vectorShape(const Table& tb) { return tb.rows == 1 || tb.cols == 1; }

// truncInt gives INT32_MIN for NaN and values outside the int range, so they
// clamp to 0 with the negative indices.
int32_t clampIndex(double v, int32_t last) {
  const int32_t k = truncInt(v);
  if (k < 0) return 0;
  return k > last ? last : k;
}

int32_t smaller(int32_t a, int32_t b) { return a < b ? a : b; }

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 1);
  const Table tb = readTable(S);
  const bool vec = vectorShape(tb);
  setSizes(S, {.outputs = vec ? -1 : tb.cols, .inputs = vec ? -1 : 1, .directFeedthrough = 1, .sampleTimes = 1,
               .params = 1, .iwork = 1});
}

void mdlInitializeConditions(double*, BlockContext* S) {
  const axArray* a = blockParam(S, 0);
  S->IWork[kVectorMode] = smaller(axGetM(a), axGetN(a)) == 1 ? 1 : 0;
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const Table tb = readTable(S);
  const int32_t w = S->SizesVector[NumInputs];
  const int32_t outputs = S->SizesVector[NumOutputs];
  if (S->IWork[kVectorMode] == 1) {
    // Both widths are settled by the host, which normally makes them equal.
    // Only the elements present in both vectors are looked up: an output
    // narrower than the input is not written past its end, and outputs beyond
    // the input width are left as they are.
    const int32_t count = smaller(w, outputs);
    const int32_t last = axGetNumberOfElements(blockParam(S, 0)) - 1;
    for (int32_t i = 0; i < count; ++i) y[i] = tb.p[clampIndex(u[i], last)];
    return;
  }
  // Matrix mode. The table may have been edited into another shape since
  // sizing: its row is written only as far as the output reaches, and an
  // input without an element gives no row number.
  if (w < 1) return;
  const int32_t r = clampIndex(u[0], tb.rows - 1);
  const int32_t count = smaller(tb.cols, outputs);
  for (int32_t j = 0; j < count; ++j)
    y[j] = tb.p[static_cast<ptrdiff_t>(r) + static_cast<ptrdiff_t>(tb.rows) * j];
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs};
