// lookuprow: index table. A vector table (one row or one column) maps every
// input element to the table element it indexes; a matrix table takes a
// scalar input as a row number and outputs that row. Indices count from 0, are
// truncated and clamped into the table; an index that is NaN or does not fit
// in an int counts as negative.
//
// IWork: [0] 1 in vector mode, 0 in matrix mode.
#include "kivrel.h"

namespace {

#define EMPTY_TABLE_MSG "Input size must be a nonempty vector or matrix"

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
  if (tb.rows < 1 || tb.cols < 1) blockError("%s", EMPTY_TABLE_MSG);
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
  int32_t* sv = S->SizesVector;
  sv[NumContStates] = 0;
  sv[NumDiscStates] = 0;
  sv[NumOutputs] = vec ? -1 : tb.cols;
  sv[NumInputs] = vec ? -1 : 1;
  sv[DirFeedthrough] = 1;
  sv[NumSampleTimes] = 1;
  sv[NumSFcnParams] = 1;
  sv[NumIWork] = 1;
  sv[NumRWork] = 0;
  sv[NumPWork] = 0;
}

void mdlInitializeSampleTimes(BlockContext* S) {
  inheritSampleTime(S);
}

void mdlInitializeConditions(double*, BlockContext* S) {
  const axArray* a = blockParam(S, 0);
  S->IWork[0] = smaller(axGetM(a), axGetN(a)) == 1 ? 1 : 0;
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const Table tb = readTable(S);
  const int32_t w = S->SizesVector[NumInputs];
  const int32_t outputs = S->SizesVector[NumOutputs];
  if (S->IWork[0] == 1) {
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
  for (int32_t j = 0; j < count; ++j) y[j] = tb.p[(ptrdiff_t)r + (ptrdiff_t)tb.rows * j];
}

void mdlUpdate(double*, double*, BlockContext*, int32_t) {}
void mdlDerivatives(double*, double*, double*, BlockContext*, int32_t) {}
void mdlTerminate(BlockContext*) {}

}  // namespace

const Level1Block kivrelBlock = {mdlInitializeSizes, mdlInitializeSampleTimes, mdlInitializeConditions,
                                 mdlOutputs,         mdlUpdate,                mdlDerivatives,
                                 mdlTerminate,       nullptr};
