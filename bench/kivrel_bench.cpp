// The benchmarks of the gateway, the blocks and the generator (the host's
// are in host_bench.cpp).
//
//   gateway/...   a direct call (flag 104) through plgFunction of the loaded
//                 extremum plug-in, against the same block's mdlOutputs
//                 compiled into this program and called through a plain
//                 function pointer, the host's Instance::outputs path, and
//                 one call into libax
//   block/NAME/out|upd/W   mdlOutputs (mdlUpdate) of every plug-in, called
//                 bare through plgFunction on a started instance, at input
//                 width W; items are elements (W per call)
//   floor/NAME/out|upd/W   the block's arithmetic in its plainest loop (see
//                 section 2), fed and timed like the block
//   uniform/...   nextUniform against std::minstd_rand0
#include <benchmark/benchmark.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "instance.h"
#include "randomsource.h"

namespace {

using blocksim::Instance;
using blocksim::Plugin;
using blocksim::PlgFunctionPtr;

[[noreturn]] void die(const std::string& what) {
  fprintf(stderr, "kivrel_bench: %s\n", what.c_str());
  exit(2);
}

std::shared_ptr<Plugin> plugin(const char* name) {
  std::string err;
  std::shared_ptr<Plugin> p = Plugin::load(KIVREL_PLUGIN_DIR, name, err);
  if (!p) die(err);
  return p;
}

axArray* num(double v) {
  axArray* a = axCreateDoubleMatrix(1, 1, 0);
  axGetPr(a)[0] = v;
  return a;
}
axArray* row(const std::vector<double>& v) {
  axArray* a = axCreateDoubleMatrix(1, static_cast<int>(v.size()), 0);
  for (size_t i = 0; i < v.size(); ++i) axGetPr(a)[i] = v[i];
  return a;
}
// rows x cols, given column by column.
axArray* mat(int rows, int cols, const std::vector<double>& byColumn) {
  axArray* a = axCreateDoubleMatrix(rows, cols, 0);
  for (size_t i = 0; i < byColumn.size(); ++i) axGetPr(a)[i] = byColumn[i];
  return a;
}
axArray* str(const char* s) { return axCreateCharArray(s); }
std::vector<double> iota(int n, double from) {
  std::vector<double> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = from + i;
  return v;
}

// A started instance of a plug-in, and prepared arguments for bare direct
// calls through its plgFunction.
struct Bare {
  std::unique_ptr<Instance> inst;
  PlgFunctionPtr fn = nullptr;
  axArray* args[4] = {nullptr, nullptr, nullptr, nullptr};
  double* flag = nullptr;  // the flag argument's element, looked up once

  Bare(const char* name, const std::vector<axArray*>& params, int inWidth, int outWidth) {
    inst.reset(new Instance(plugin(name), name));
    for (axArray* a : params) inst->addParam(a);
    blocksim::CallResult r = inst->sizesCall();
    if (!r.ok()) die(std::string(name) + " sizes: " + r.error + (r.status ? r.status : ""));
    inst->settleInputWidth(inWidth);
    inst->settleOutputWidth(outWidth < 0 ? inWidth : outWidth);
    std::string counts = inst->checkCounts();
    if (!counts.empty()) die(std::string(name) + ": " + counts);
    r = inst->start();
    if (!r.ok()) die(std::string(name) + " start: " + r.error + (r.status ? r.status : ""));
    inst->setHit(true);
    inst->setStepKind(MajorTimeStep);
    fn = inst->plugin().function();
    args[0] = num(0);
    args[1] = axCreateDoubleMatrix(0, 0, 0);
    args[2] = axCreateDoubleMatrix(0, 0, 0);
    args[3] = num(FlagOutputs);
    flag = axGetPr(args[3]);
  }
  ~Bare() {
    inst->terminate();
    for (axArray* a : args) axDestroyArray(a);
  }
  void call(double f) {
    *flag = f;
    axArray* lhs[2] = {nullptr, reinterpret_cast<axArray*>(&inst->context())};
    fn(-1, lhs, 4, const_cast<const axArray**>(args));
  }
  void check(const char* name) {
    if (inst->context().ErrorStatus != nullptr) die(std::string(name) + ": " + inst->context().ErrorStatus);
  }
};

// ---------------------------------------------------------------------------
// 1. Gateway overhead.

void gatewayPlgFunction(benchmark::State& state) {
  Bare b("extremum", {str("xav")}, 1, 1);
  b.inst->u()[0] = 3.0;
  *b.flag = FlagOutputs;
  BlockContext* S = &b.inst->context();
  for (auto _ : state) {
    axArray* lhs[2] = {nullptr, reinterpret_cast<axArray*>(S)};
    b.fn(-1, lhs, 4, const_cast<const axArray**>(b.args));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void gatewayPlainPointer(benchmark::State& state) {
  // The same block source compiled into this program: kivrelBlock is its
  // descriptor (the plug-in's copy is not reachable from outside).
  Bare b("extremum", {str("xav")}, 1, 1);
  b.inst->u()[0] = 3.0;
  BlockContext* S = &b.inst->context();
  volatile OutputsFn outputs = kivrelBlock.mdlOutputs;  // no inlining across the pointer
  for (auto _ : state) {
    outputs(S->OutputVector, S->StateVector, S->InputVector, S, 0);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void gatewayInstance(benchmark::State& state) {
  Bare b("extremum", {str("xav")}, 1, 1);
  b.inst->u()[0] = 3.0;
  for (auto _ : state) {
    blocksim::CallResult r = b.inst->outputs();
    benchmark::DoNotOptimize(r.status);
  }
  state.SetItemsProcessed(state.iterations());
}

// One call into libax (axGetPr) from this program: the price of every
// parameter read a block makes, for reading the W = 1 rows.
void gatewayLibaxCall(benchmark::State& state) {
  axArray* a = num(1.0);
  for (auto _ : state) benchmark::DoNotOptimize(axGetPr(a));
  axDestroyArray(a);
  state.SetItemsProcessed(state.iterations());
}

// ---------------------------------------------------------------------------
// 2. Per-block throughput, and each block's floor.
//
// A floor is the block's arithmetic on the same data in its plainest loop:
// the same operations in the same precision (long double where the block
// computes in it), the same work-vector contents the block must leave, the
// parameters loaded from memory (so that the compiler cannot fold them), but
// no call through the gateway, no parameter reads through libax and no
// checks. Block and floor loops share everything else: the same feed of the
// inputs and the same time step, so the ratio between the two is the cost of
// the call and of the block's own overhead.

// The floor's data: inputs, outputs, real and integer work, the parameter
// values (from the case's floorParams), the time, and a few scalars of state.
size_t room(int W) { return static_cast<size_t>(W < 64 ? 64 : W); }

struct FloorData {
  std::vector<double> u, y, r, p;
  std::vector<int32_t> s;
  double t = 0.0;
  double calls = 0.0;
  int32_t pos = 0;
  int32_t flag1 = 0, flag2 = 0;
  double edge1 = -1.0, edge2 = -1.0;
  // Room for the largest floor: at least 64 elements per width.
  FloorData(int W, std::vector<double> params)
      : u(room(W) + 2), y(room(W) * 3 + 2), r(room(W) * 4 + 4), p(std::move(params)), s(room(W) * 3 + 2) {
    for (int i = 0; i < W; ++i) s[static_cast<size_t>(i)] = i + 1;
  }
};

typedef void (*FloorFn)(FloorData& d, int W, int64_t k);
typedef void (*FeedFn)(double* u, int W, int64_t k);  // input for call k

struct BlockCase {
  const char* name;
  bool scalable;  // widths 1, 64 and 4096; else its natural width only
  std::function<std::vector<axArray*>(int W)> params;
  std::function<int(int W)> inWidth;  // settles a -1 input width
  int outWidth;                        // settles a -1 output width; -1: as the input
  FeedFn feed;
  bool update;  // mdlUpdate has work
  FloorFn floorOut = nullptr;
  FloorFn floorUpd = nullptr;
  std::function<std::vector<double>(int W)> floorParams = nullptr;  // the floor's d.p
};

double pattern(int i) { return static_cast<double>((i * 37) % 101) / 50.0 - 1.0; }

void fillPattern(double* u, int n) {
  for (int i = 0; i < n; ++i) u[i] = pattern(i);
}

// A trigger that rises at every other call.
double toggle(int64_t k) { return (k & 1) != 0 ? 1.0 : 0.0; }

// The floors, in the order of the cases.

void floorArrivalgen(FloorData& d, int W, int64_t) {
  const double lambda = d.p[0];
  for (int i = 0; i < W; ++i) {
    d.y[i] = d.r[i];
    double count = 0.0, sum = 0.0;
    for (;;) {
      const long double next = static_cast<long double>(sum) - static_cast<long double>(log(nextUniform(&d.s[i])));
      sum = static_cast<double>(next);
      if (next > lambda) break;
      count += 1.0;
    }
    d.r[i] = count;
  }
}

// One placement pass over W free outputs (what a draw with one 1 needs): the
// free list and the thresholds i / W that the block leaves in its work
// vectors, and the chosen position found by search rather than by counting.
void floorCoinflip(FloorData& d, int W, int64_t) {
  double* T = d.r.data();
  double* thresholds = T + W + 1;
  int32_t* freeList = d.s.data() + W;
  int32_t* seed = &d.s[static_cast<size_t>(W) * 2];
  if (*seed == 0) *seed = 12345;
  T[0] = T[1] + d.p[0];
  for (int l = 0; l < W; ++l) d.y[l] = 0.0;
  double u = nextUniform(seed);
  if (!(T[0] >= u)) return;
  for (int l = 0; l < W; ++l) freeList[l] = l;
  const double k = W;
  for (int i = 0; i < W; ++i) thresholds[i] = static_cast<double>(i) / k;
  u = nextUniform(seed);
  int32_t first = static_cast<int32_t>(u * k);
  while (first > 0 && static_cast<double>(first - 1) / k >= u) --first;
  while (first < W && static_cast<double>(first) / k < u) ++first;
  d.y[freeList[W - first]] = 1.0;
}

void floorDiceroll(FloorData& d, int W, int64_t) {
  const long double m = d.p[0];
  for (int i = 0; i < W; ++i) {
    d.y[i] = static_cast<double>(floorl(m * static_cast<long double>(d.r[i])));
    d.r[i] = nextUniform(&d.s[i]);
  }
}

void floorFlatnoise(FloorData& d, int W, int64_t) {
  const long double hi = d.p[0], lo = d.p[1];
  for (int i = 0; i < W; ++i) {
    d.y[i] = static_cast<double>((hi - lo) * static_cast<long double>(d.r[i]) + lo);
    d.r[i] = nextUniform(&d.s[i]);
  }
}

void floorMathmap(FloorData& d, int W, int64_t) {  // signed square root
  for (int i = 0; i < W; ++i) {
    const double x = d.u[i];
    d.y[i] = x > 0.0 ? sqrt(x) : x < 0.0 ? -sqrt(-x) : 0.0;
  }
}

void floorExtremum(FloorData& d, int W, int64_t) {
  double best = d.u[0];
  for (int i = 1; i < W; ++i)
    if (d.u[i] > best) best = d.u[i];
  d.y[0] = best;
}

void floorLookuprow(FloorData& d, int W, int64_t) {
  const double* table = d.p.data();
  const int32_t last = static_cast<int32_t>(d.p.size()) - 1;
  for (int i = 0; i < W; ++i) {
    const int32_t j = truncInt(d.u[i]);
    d.y[i] = table[j < 0 ? 0 : j > last ? last : j];
  }
}

// A switch-box row of W elements (d.p[0 .. W)) with Ini_Value (d.p[W .. 2W)):
// each output the input its element names, truncated and range-checked.
void gatherRow(FloorData& d, int W) {
  const double* row = d.p.data();
  const double* ini = row + W;
  for (int i = 0; i < W; ++i) {
    const int32_t e = truncInt(row[i]);
    d.y[i] = e > 0 && e <= W ? d.u[e - 1] : ini[i];
  }
}

void floorRoutegrid(FloorData& d, int W, int64_t) {
  const double r = floor(d.u[W] + 0.5);
  if (r == 1.0) gatherRow(d, W);
}

void floorSlotweave(FloorData& d, int W, int64_t) {
  const double thr = d.p[2 * W];
  if (d.flag1 == 0 && d.u[W] >= thr) {
    d.flag1 = 1;
    d.edge1 = d.t;
  } else if (thr > d.u[W]) {
    d.flag1 = 0;
  }
  gatherRow(d, W);
}

// Picks from positions that run on past the buffer, reduced modulo W.
void floorSlotpick(FloorData& d, int W, int64_t) {
  const double thr = d.p[W];
  const double* index = d.p.data();
  double* buffer = d.r.data();
  int32_t* pos = d.s.data();
  const bool loadHigh = d.u[W] >= thr;
  if (d.flag1 == 0 && loadHigh) {
    memcpy(buffer, d.u.data(), static_cast<size_t>(W) * sizeof(double));
    for (int i = 0; i < W; ++i) pos[i] = truncInt(index[i]);
    d.flag1 = 1;
    d.y[W] = 1.0;
    d.edge1 = d.t;
  } else if (d.flag1 == 1 && thr > d.u[W]) {
    d.flag1 = 0;
    d.y[W] = 0.0;
  }
  if (d.flag2 == 0 && d.u[W + 1] >= thr) {
    const uint32_t n = static_cast<uint32_t>(W);
    for (int i = 0; i < W; ++i) {
      const uint32_t p = static_cast<uint32_t>(pos[i]);
      d.y[i] = buffer[p < n ? p : p % n];
      pos[i] = static_cast<int32_t>(p + 1);
    }
    d.flag2 = 1;
    d.edge2 = d.t;
    return;
  }
  if (d.flag2 == 1 && thr > d.u[W + 1]) d.flag2 = 0;
}

// The register of m = max(1, largest delay) slots, written at every other
// call (the rising edges).
void floorTapdelay(FloorData& d, int W, int64_t) {
  const double thr = d.p[W];
  const int32_t m = W > 2 ? W - 1 : 1;
  double* reg = d.r.data();
  if (d.flag1 == 0 && d.u[1] >= thr) {
    const int32_t pos = d.pos;
    for (int i = 0; i < W; ++i) {
      const int32_t delay = truncInt(d.p[i]);
      const int32_t j = pos - delay;
      d.y[i] = delay == 0 ? d.u[0] : reg[j < 0 ? j + m : j];
    }
    d.y[W] = pos == 0 ? 1.0 : 0.0;
    reg[pos] = d.u[0];
    d.pos = pos + 1 == m ? 0 : pos + 1;
    d.flag1 = 1;
    d.edge1 = d.t;
    return;
  }
  if (d.flag1 == 1 && thr > d.u[1]) {
    d.flag1 = 0;
    d.y[W] = 0.0;
  }
}

void floorSinkdump(FloorData& d, int W, int64_t k) {
  static FILE* f = fopen("/dev/null", "w");
  if ((k & 1) == 0 || f == nullptr) return;
  for (int i = 0; i < W; ++i) fprintf(f, " %g", d.u[i]);
  fputc('\n', f);
}

void floorResetsum(FloorData& d, int W, int64_t) {
  for (int i = 0; i < W; ++i) d.y[i] = d.r[i];
}

// h = min(Ts, time since the last update), x += h·u, no reset (Tr = 1e9).
void floorResetsumUpdate(FloorData& d, int W, int64_t) {
  const double Ts = d.p[0];
  double* x = d.r.data();
  double& last = d.edge1;
  const double dt = d.t - last;
  const double h = Ts > dt ? dt : Ts;
  d.calls = d.calls + h;
  for (int i = 0; i < W; ++i) x[i] = x[i] + h * d.u[i];
  if (d.t > last) last = d.t;
}

// Trapezoidal rule over rings of m = 3 samples per element, then y = sums.
void floorWindowsum(FloorData& d, int W, int64_t) {
  const int m = 3;
  const double Ts = d.p[0];
  double* rings = d.r.data();
  double* sums = rings + static_cast<size_t>(W) * m;
  const int w = d.pos;
  const int prev = w == 0 ? m - 1 : w - 1;
  const int next = w == m - 1 ? 0 : w + 1;
  for (int i = 0; i < W; ++i) {
    double* B = rings + static_cast<size_t>(i) * m;
    sums[i] = sums[i] + 0.5 * Ts * (d.u[i] + B[prev] - B[w] - B[next]);
    B[w] = d.u[i];
  }
  d.pos = next;
  for (int i = 0; i < W; ++i) d.y[i] = sums[i];
}

// Index, codebook value and the running mean of the squared error in long
// double, over K + 1 calls.
void floorBandmap(FloorData& d, int W, int64_t) {
  const double* partition = d.p.data();
  const double* codebook = partition + 3;
  const int L = 3;
  double* mean = d.r.data();
  const double K = d.calls;
  d.calls = K + 1.0;
  for (int i = 0; i < W; ++i) {
    int j = 0;
    while (j < L && d.u[i] > partition[j]) ++j;
    d.y[i] = j;
    d.y[W + i] = codebook[j];
    const long double e0 = static_cast<long double>(d.u[i]) - static_cast<long double>(codebook[j]);
    long double e = e0 * e0;
    if (K != 0.0)
      e = (e + static_cast<long double>(K) * static_cast<long double>(mean[i])) / static_cast<long double>(d.calls);
    mean[i] = static_cast<double>(e);
    d.y[2 * W + i] = static_cast<double>(e);
  }
}

void floorPackframe(FloorData& d, int W, int64_t) {
  const int32_t b = truncInt(d.p[0]);
  int32_t v = truncInt(d.u[0]);
  if (v <= 0) {
    for (int i = 0; i < W; ++i) d.y[i] = 0.0;
    return;
  }
  for (int i = 0; i < W; ++i) {
    d.y[i] = v % b;
    v /= b;
  }
}

void floorUnpackframe(FloorData& d, int W, int64_t) {
  const uint32_t b = static_cast<uint32_t>(truncInt(d.p[0]));
  double sum = 0.0, weight = 1.0;
  for (int i = 0; i < W; ++i) {
    const int32_t t = truncInt(d.u[i]);
    const uint32_t digit = (t < 0 ? 0u - static_cast<uint32_t>(t) : static_cast<uint32_t>(t)) % b;
    if (digit != 0) sum += static_cast<double>(digit) * weight;
    weight *= b;
  }
  d.y[0] = sum;
}

// gentaps, table form (m = 2, k = 1, n = 2, 8 rows): the table expanded into
// the integer work (next states, output words and their bits), then the row
// of the state and input bit. The sizes are read from the matrix, as the
// block reads them, so that the loops are not unrolled for constants.
void floorGentaps(FloorData& d, int, int64_t) {
  const int height = static_cast<int>(d.p.size()) / 2;  // two columns
  const int rows = height - 2, m = truncInt(d.p[1]), n = truncInt(d.p[static_cast<size_t>(height)]);
  const double* next = d.p.data() + 2;           // column 0 from row 2
  const double* word = d.p.data() + height + 2;  // column 1 from row 2
  int32_t* iw = d.s.data();
  for (int r = 0; r < rows; ++r) {
    iw[r] = truncInt(next[r]);
    iw[rows + r] = truncInt(word[r]);
  }
  for (int j = 0; j < m + n; ++j)
    for (int r = 0; r < rows; ++r) {
      int32_t v = iw[(j < m ? 0 : rows) + r];
      for (int b = 0; b < (j < m ? j : j - m); ++b) v /= 2;
      iw[rows * (2 + j) + r] = v % 2;
    }
  if (d.u[1] < 0.2) return;
  const int32_t r = truncInt(d.r[0]) + (1 << m) * truncInt(d.u[0]);
  for (int j = 0; j < n; ++j) d.y[j] = iw[rows * (2 + m + j) + r];
}

void floorGentapsUpdate(FloorData& d, int, int64_t) {
  const double* next = d.p.data() + 2;
  const int m = truncInt(d.p[1]);
  if (d.u[1] < 0.2) return;
  const int32_t r = truncInt(d.r[0]) + (1 << m) * truncInt(d.u[0]);
  d.r[0] = next[r];
}

// polymix, feedback, modulus 2, polynomial [1 0 1 1]: at a rising edge the
// register shifts and the output is the input plus the weighted cells.
void floorPolymix(FloorData& d, int, int64_t) {
  const int g = 4;
  const double* poly = d.p.data();
  const int32_t modulus = truncInt(d.p[4]);
  int32_t* cell = d.s.data();
  if (d.flag1 == 0 && d.u[1] >= 1e-7) {
    for (int j = g - 1; j >= 1; --j) cell[j] = cell[j - 1];
    cell[0] = cell[g];
    const int32_t v = truncInt(d.u[0]);
    int32_t sum = 0;
    for (int i = 0; i < g; ++i) {
      if (poly[i] == 0.0) continue;
      sum = i == 0 ? v : wrapAdd(sum, wrapMul(truncInt(poly[i]), cell[i - 1]));
    }
    const int32_t rem = sum % modulus;
    d.y[0] = rem;
    cell[g] = rem;
    for (int i = 1; i < g; ++i) d.y[i] = cell[i - 1];
    d.flag1 = 1;
    d.edge1 = d.t;
    return;
  }
  if (d.t <= 0.0) d.y[0] = 0.0;
  if (d.flag1 == 1 && d.u[1] < 1e-7) d.flag1 = 0;
}

void floorWrapsum(FloorData& d, int, int64_t) { d.y[0] = d.r[0]; }

// The state folded into [lo, hi] in long double (it is inside already).
void floorWrapsumUpdate(FloorData& d, int, int64_t) {
  const long double lo = d.p[0], hi = d.p[1];
  const long double r = hi - lo;
  if (!(r > 0.0L)) return;
  long double v = d.r[0];
  if (isinf(v)) return;
  while (v < lo) v = v + r;
  while (v > hi) v = v - r;
  d.r[0] = static_cast<double>(v);
}

std::vector<double> repeat(double v, int n) { return std::vector<double>(static_cast<size_t>(n), v); }
std::vector<double> join(std::vector<double> a, const std::vector<double>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

void feedNone(double*, int, int64_t) {}
void feedPatternOnce(double* u, int W, int64_t k) {
  if (k == 0) fillPattern(u, W);
}

std::vector<BlockCase> blockCases() {
  auto same = [](int W) { return W; };
  return {
      {"arrivalgen", true, [](int W) { return std::vector<axArray*>{row(iota(W, 1)), row({3}), num(1)}; },
       [](int) { return 0; }, -1, feedNone, false, floorArrivalgen, nullptr,
       [](int) { return std::vector<double>{3}; }},
      {"coinflip", true, [](int W) { return std::vector<axArray*>{num(W), row({0.5}), num(12345), num(1)}; },
       [](int) { return 0; }, -1, feedNone, false, floorCoinflip, nullptr,
       [](int) { return std::vector<double>{0.5}; }},
      {"diceroll", true, [](int W) { return std::vector<axArray*>{row(iota(W, 1)), row({6}), num(1)}; },
       [](int) { return 0; }, -1, feedNone, false, floorDiceroll, nullptr,
       [](int) { return std::vector<double>{6}; }},
      {"flatnoise", true,
       [](int W) { return std::vector<axArray*>{row(iota(W, 1)), row({1}), row({-1}), num(1)}; },
       [](int) { return 0; }, -1, feedNone, false, floorFlatnoise, nullptr,
       [](int) { return std::vector<double>{1, -1}; }},
      {"mathmap", true, [](int) { return std::vector<axArray*>{str("sqrt")}; }, same, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) for (int i = 0; i < W; ++i) u[i] = 1.0 + i;
       },
       false, floorMathmap},
      {"extremum", true, [](int) { return std::vector<axArray*>{str("xav")}; }, same, 1, feedPatternOnce, false,
       floorExtremum},
      {"lookuprow", true, [](int) { return std::vector<axArray*>{row(iota(16, 0.5))}; }, same, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) for (int i = 0; i < W; ++i) u[i] = (i * 7) % 20 - 2;
       },
       false, floorLookuprow, nullptr, [](int) { return iota(16, 0.5); }},
      {"routegrid", true,
       [](int W) { return std::vector<axArray*>{mat(1, W, iota(W, 1)), row(repeat(0.0, W))}; },
       [](int W) { return W + 1; }, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
         u[W] = 1.0;
       },
       false, floorRoutegrid, nullptr, [](int W) { return join(iota(W, 1), repeat(0.0, W)); }},
      {"slotpick", true,
       [](int W) { return std::vector<axArray*>{row(iota(W, 0)), row({1}), num(0.5), num(1)}; },
       [](int W) { return W + 2; }, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
         u[W] = toggle(k >> 3);  // a load per 16 calls
         u[W + 1] = toggle(k);   // a pick per 2 calls
       },
       false, floorSlotpick, nullptr, [](int W) { return join(iota(W, 0), {0.5}); }},
      {"slotweave", true,
       [](int W) {
         return std::vector<axArray*>{mat(1, W, iota(W, 1)), row(repeat(0.0, W)), row(repeat(0.0, W)), num(0.5)};
       },
       [](int W) { return W + 1; }, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
         u[W] = toggle(k);
       },
       false, floorSlotweave, nullptr, [](int W) { return join(join(iota(W, 1), repeat(0.0, W)), {0.5}); }},
      {"tapdelay", true, [](int W) { return std::vector<axArray*>{row(iota(W, 0)), num(0.5)}; },
       [](int) { return 2; }, -1,
       [](double* u, int, int64_t k) {
         u[0] = static_cast<double>(k);
         u[1] = toggle(k);
       },
       false, floorTapdelay, nullptr, [](int W) { return join(iota(W, 0), {0.5}); }},
      {"sinkdump", true,
       [](int) { return std::vector<axArray*>{str("/dev/null"), str("float"), row({0}), num(0.5)}; },
       [](int W) { return W + 1; }, 1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
         u[W] = toggle(k);
       },
       false, floorSinkdump},
      {"resetsum", true, [](int) { return std::vector<axArray*>{row({1e9}), row({1}), row({INFINITY})}; }, same, -1,
       feedPatternOnce, true, floorResetsum, floorResetsumUpdate, [](int) { return std::vector<double>{1}; }},
      {"windowsum", true,
       [](int W) { return std::vector<axArray*>{num(W), num(2), num(1), str("trapezoidal")}; }, same, -1,
       feedPatternOnce, false, floorWindowsum, nullptr, [](int) { return std::vector<double>{1}; }},
      {"bandmap", true,
       [](int W) { return std::vector<axArray*>{num(W), row({-0.5, 0, 0.5}), row({-0.75, -0.25, 0.25, 0.75})}; },
       [](int W) { return W + 1; }, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
         u[W] = 1.0;
       },
       false, floorBandmap, nullptr, [](int) { return std::vector<double>{-0.5, 0, 0.5, -0.75, -0.25, 0.25, 0.75}; }},
      {"bandmaptimed", true,
       [](int W) {
         return std::vector<axArray*>{num(W), row({-0.5, 0, 0.5}), row({-0.75, -0.25, 0.25, 0.75}), num(1)};
       },
       same, -1, feedPatternOnce, false, floorBandmap, nullptr,
       [](int) { return std::vector<double>{-0.5, 0, 0.5, -0.75, -0.25, 0.25, 0.75}; }},
      {"packframe", true, [](int W) { return std::vector<axArray*>{num(W), num(2), num(0)}; },
       [](int) { return 1; }, -1, [](double* u, int, int64_t k) { u[0] = static_cast<double>(k & 0xFFFFF); },
       false, floorPackframe, nullptr, [](int) { return std::vector<double>{2}; }},
      {"unpackframe", true, [](int) { return std::vector<axArray*>{num(2), num(0)}; }, same, 1,
       [](double* u, int W, int64_t k) {
         if (k == 0) for (int i = 0; i < W; ++i) u[i] = (i * 5) % 3 == 0 ? 1.0 : 0.0;
       },
       false, floorUnpackframe, nullptr, [](int) { return std::vector<double>{2}; }},
      {"gentaps", false,
       [](int) {
         return std::vector<axArray*>{
             mat(10, 2, {0, 2, 0, 2, 0, 2, 1, 3, 1, 3, 2, 1, 0, 1, 3, 2, 3, 2, 0, 1})};
       },
       [](int) { return 2; }, -1,
       [](double* u, int, int64_t k) {
         u[0] = toggle(k >> 1);
         u[1] = 1.0;
       },
       true, floorGentaps, floorGentapsUpdate,
       [](int) { return std::vector<double>{0, 2, 0, 2, 0, 2, 1, 3, 1, 3, 2, 1, 0, 1, 3, 2, 3, 2, 0, 1}; }},
      {"polymix", false,
       [](int) { return std::vector<axArray*>{num(2), row({1, 0, 1, 1}), num(0), row({0, 0, 0})}; },
       [](int) { return 2; }, -1,
       [](double* u, int, int64_t k) {
         u[0] = toggle(k >> 1);
         u[1] = toggle(k);
       },
       false, floorPolymix, nullptr, [](int) { return std::vector<double>{1, 0, 1, 1, 2}; }},
      {"wrapsum", false, [](int) { return std::vector<axArray*>{num(0.25), num(0), num(1)}; }, [](int) { return 1; },
       -1, [](double* u, int, int64_t) { u[0] = 2.0; }, true, floorWrapsum, floorWrapsumUpdate,
       [](int) { return std::vector<double>{0, 1}; }},
  };
}

void runBlock(benchmark::State& state, const BlockCase& c, int W, double flag) {
  Bare b(c.name, c.params(W), c.inWidth(W), c.outWidth);
  double* u = b.inst->u();
  int64_t k = 0;
  double t = 0.0;
  for (auto _ : state) {
    c.feed(u, W, k++);
    b.inst->setTime(t);
    t += 1.0;
    b.call(flag);
    benchmark::ClobberMemory();
  }
  b.check(c.name);
  state.SetItemsProcessed(state.iterations() * W);
}

void runFloor(benchmark::State& state, const BlockCase& c, FloorFn fn, int W) {
  FloorData d(W, c.floorParams ? c.floorParams(W) : std::vector<double>{});
  volatile FloorFn call = fn;  // called through a pointer, as the block is
  int64_t k = 0;
  for (auto _ : state) {
    c.feed(d.u.data(), W, k);
    d.t = static_cast<double>(k);
    call(d, W, k++);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(d.y.data());
  state.SetItemsProcessed(state.iterations() * W);
}

// ---------------------------------------------------------------------------
// 3. Generator.

void uniformNext(benchmark::State& state) {
  int32_t seed = 1;
  double sum = 0.0;
  for (auto _ : state) sum += nextUniform(&seed);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}

void uniformMinstd(benchmark::State& state) {
  std::minstd_rand0 g(1);
  double sum = 0.0;
  for (auto _ : state) sum += static_cast<double>(g()) * kUniformScale;
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("gateway/plgFunction", gatewayPlgFunction);
  benchmark::RegisterBenchmark("gateway/plain_pointer", gatewayPlainPointer);
  benchmark::RegisterBenchmark("gateway/host_instance", gatewayInstance);
  benchmark::RegisterBenchmark("gateway/libax_call", gatewayLibaxCall);

  static const std::vector<BlockCase> cases = blockCases();
  for (const BlockCase& c : cases) {
    const std::vector<int> widths = c.scalable ? std::vector<int>{1, 64, 4096} : std::vector<int>{1};
    for (int W : widths) {
      const std::string w = std::to_string(W);
      const std::string name = c.name;
      benchmark::RegisterBenchmark(("block/" + name + "/out/" + w).c_str(),
                                   [&c, W](benchmark::State& s) { runBlock(s, c, W, FlagOutputs); });
      if (c.update)
        benchmark::RegisterBenchmark(("block/" + name + "/upd/" + w).c_str(),
                                     [&c, W](benchmark::State& s) { runBlock(s, c, W, FlagUpdate); });
      if (c.floorOut != nullptr)
        benchmark::RegisterBenchmark(("floor/" + name + "/out/" + w).c_str(),
                                     [&c, W](benchmark::State& s) { runFloor(s, c, c.floorOut, W); });
      if (c.floorUpd != nullptr)
        benchmark::RegisterBenchmark(("floor/" + name + "/upd/" + w).c_str(),
                                     [&c, W](benchmark::State& s) { runFloor(s, c, c.floorUpd, W); });
    }
  }


  benchmark::RegisterBenchmark("uniform/nextUniform", uniformNext);
  benchmark::RegisterBenchmark("uniform/minstd_rand0", uniformMinstd);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
