// The benchmarks of the gateway, the blocks, the host and the generator.
//
//   gateway/...   a direct call (flag 104) through plgFunction of the loaded
//                 extremum plug-in, against the same block's mdlOutputs
//                 compiled into this program and called through a plain
//                 function pointer, and the host's Instance::outputs path
//   block/NAME/out|upd/W   mdlOutputs (mdlUpdate) of every plug-in, called
//                 bare through plgFunction on a started instance, at input
//                 width W; items are elements (W per call)
//   floor/NAME/W  a minimal hand-written loop doing the same arithmetic
//   host/...      blocksim's Simulation on bench/model20.toml against the same
//                 plug-in calls made bare, the allocations during the run, and
//                 loading all 22 plug-ins
//   uniform/...   nextUniform against std::minstd_rand0
#include <benchmark/benchmark.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "instance.h"
#include "randomsource.h"
#include "runner.h"

namespace {

using blocksim::Instance;
using blocksim::Plugin;
using blocksim::PlgFunctionPtr;

const char* const kAllPlugins[] = {"arrivalgen", "bandmap",     "bandmaptimed", "coinflip",  "diceroll",  "extremum",
                                   "flatnoise",  "gentaps",     "lookuprow",    "mathmap",   "packframe", "polymix",
                                   "portagree",  "resetsum",    "routegrid",    "sinkdump",  "slotpick",  "slotweave",
                                   "tapdelay",   "unpackframe", "windowsum",    "wrapsum"};

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
    inst->setStepKind(1);
    fn = inst->plugin().function();
    args[0] = num(0);
    args[1] = axCreateDoubleMatrix(0, 0, 0);
    args[2] = axCreateDoubleMatrix(0, 0, 0);
    args[3] = num(FlagOutputs);
  }
  ~Bare() {
    inst->terminate();
    for (axArray* a : args) axDestroyArray(a);
  }
  void call(double flag) {
    axGetPr(args[3])[0] = flag;
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
  axGetPr(b.args[3])[0] = FlagOutputs;
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

// ---------------------------------------------------------------------------
// 2. Per-block throughput.

struct BlockCase {
  const char* name;
  bool scalable;  // widths 1, 64 and 4096; else its natural width only
  std::function<std::vector<axArray*>(int W)> params;
  std::function<int(int W)> inWidth;  // settles a -1 input width
  int outWidth;                        // settles a -1 output width; -1: as the input
  std::function<void(double* u, int W, int64_t k)> feed;  // input for call k
  bool update;                                             // mdlUpdate has work
};

double pattern(int i) { return static_cast<double>((i * 37) % 101) / 50.0 - 1.0; }

void fillPattern(double* u, int n) {
  for (int i = 0; i < n; ++i) u[i] = pattern(i);
}

// A trigger that rises at every other call.
double toggle(int64_t k) { return (k & 1) != 0 ? 1.0 : 0.0; }

std::vector<BlockCase> blockCases() {
  auto none = [](double*, int, int64_t) {};
  auto same = [](int W) { return W; };
  return {
      {"arrivalgen", true, [](int W) { return std::vector<axArray*>{row(iota(W, 1)), row({3}), num(1)}; },
       [](int) { return 0; }, -1, none, false},
      {"coinflip", true, [](int W) { return std::vector<axArray*>{num(W), row({0.5}), num(12345), num(1)}; },
       [](int) { return 0; }, -1, none, false},
      {"diceroll", true, [](int W) { return std::vector<axArray*>{row(iota(W, 1)), row({6}), num(1)}; },
       [](int) { return 0; }, -1, none, false},
      {"flatnoise", true,
       [](int W) { return std::vector<axArray*>{row(iota(W, 1)), row({1}), row({-1}), num(1)}; },
       [](int) { return 0; }, -1, none, false},
      {"mathmap", true, [](int) { return std::vector<axArray*>{str("sqrt")}; }, same, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) for (int i = 0; i < W; ++i) u[i] = 1.0 + i;
       },
       false},
      {"extremum", true, [](int) { return std::vector<axArray*>{str("xav")}; }, same, 1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
       },
       false},
      {"lookuprow", true, [](int) { return std::vector<axArray*>{row(iota(16, 0.5))}; }, same, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) for (int i = 0; i < W; ++i) u[i] = (i * 7) % 20 - 2;
       },
       false},
      {"routegrid", true,
       [](int W) { return std::vector<axArray*>{mat(1, W, iota(W, 1)), row(std::vector<double>(W, 0.0))}; },
       [](int W) { return W + 1; }, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
         u[W] = 1.0;
       },
       false},
      {"slotpick", true,
       [](int W) { return std::vector<axArray*>{row(iota(W, 0)), row({1}), num(0.5), num(1)}; },
       [](int W) { return W + 2; }, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
         u[W] = toggle(k >> 3);  // a load per 16 calls
         u[W + 1] = toggle(k);   // a pick per 2 calls
       },
       false},
      {"slotweave", true,
       [](int W) {
         return std::vector<axArray*>{mat(1, W, iota(W, 1)), row(std::vector<double>(W, 0.0)),
                                      row(std::vector<double>(W, 0.0)), num(0.5)};
       },
       [](int W) { return W + 1; }, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
         u[W] = toggle(k);
       },
       false},
      {"tapdelay", true, [](int W) { return std::vector<axArray*>{row(iota(W, 0)), num(0.5)}; },
       [](int) { return 2; }, -1,
       [](double* u, int, int64_t k) {
         u[0] = static_cast<double>(k);
         u[1] = toggle(k);
       },
       false},
      {"sinkdump", true,
       [](int) { return std::vector<axArray*>{str("/dev/null"), str("float"), row({0}), num(0.5)}; },
       [](int W) { return W + 1; }, 1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
         u[W] = toggle(k);
       },
       false},
      {"resetsum", true, [](int) { return std::vector<axArray*>{row({1e9}), row({1}), row({INFINITY})}; }, same, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
       },
       true},
      {"windowsum", true,
       [](int W) { return std::vector<axArray*>{num(W), num(2), num(1), str("trapezoidal")}; }, same, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
       },
       false},
      {"bandmap", true,
       [](int W) { return std::vector<axArray*>{num(W), row({-0.5, 0, 0.5}), row({-0.75, -0.25, 0.25, 0.75})}; },
       [](int W) { return W + 1; }, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
         u[W] = 1.0;
       },
       false},
      {"bandmaptimed", true,
       [](int W) {
         return std::vector<axArray*>{num(W), row({-0.5, 0, 0.5}), row({-0.75, -0.25, 0.25, 0.75}), num(1)};
       },
       same, -1,
       [](double* u, int W, int64_t k) {
         if (k == 0) fillPattern(u, W);
       },
       false},
      {"packframe", true, [](int W) { return std::vector<axArray*>{num(W), num(2), num(0)}; },
       [](int) { return 1; }, -1, [](double* u, int, int64_t k) { u[0] = static_cast<double>(k & 0xFFFFF); },
       false},
      {"unpackframe", true, [](int) { return std::vector<axArray*>{num(2), num(0)}; }, same, 1,
       [](double* u, int W, int64_t k) {
         if (k == 0) for (int i = 0; i < W; ++i) u[i] = (i * 5) % 3 == 0 ? 1.0 : 0.0;
       },
       false},
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
       true},
      {"polymix", false,
       [](int) { return std::vector<axArray*>{num(2), row({1, 0, 1, 1}), num(0), row({0, 0, 0})}; },
       [](int) { return 2; }, -1,
       [](double* u, int, int64_t k) {
         u[0] = toggle(k >> 1);
         u[1] = toggle(k);
       },
       false},
      {"wrapsum", false, [](int) { return std::vector<axArray*>{num(0.25), num(0), num(1)}; }, [](int) { return 1; },
       -1, [](double* u, int, int64_t) { u[0] = 2.0; }, true},
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

// ---------------------------------------------------------------------------
// Floors: the arithmetic of a block in its plainest loop, W elements per call.

struct FloorData {
  std::vector<double> u, y, r;
  std::vector<int32_t> s;
  explicit FloorData(int W) : u(static_cast<size_t>(W) + 2), y(static_cast<size_t>(W) + 2), r(static_cast<size_t>(W) * 4 + 4), s(static_cast<size_t>(W) + 2) {
    fillPattern(u.data(), W);
    for (int i = 0; i < W; ++i) s[static_cast<size_t>(i)] = i + 1;
  }
};

typedef void (*FloorFn)(FloorData& d, int W, int64_t k);

void floorArrivalgen(FloorData& d, int W, int64_t) {
  const double lambda = 3.0;
  for (int i = 0; i < W; ++i) {
    double sum = -log(nextUniform(&d.s[i]));
    int n = 0;
    while (sum <= lambda) {
      ++n;
      sum -= log(nextUniform(&d.s[i]));
    }
    d.y[i] = n;
  }
}
void floorCoinflip(FloorData& d, int W, int64_t) {
  for (int i = 0; i < W; ++i) d.y[i] = 0.0;
  if (nextUniform(&d.s[0]) < 0.5) d.y[static_cast<size_t>(nextUniform(&d.s[0]) * W)] = 1.0;
}
void floorDiceroll(FloorData& d, int W, int64_t) {
  for (int i = 0; i < W; ++i) d.y[i] = floor(nextUniform(&d.s[i]) * 6.0);
}
void floorFlatnoise(FloorData& d, int W, int64_t) {
  for (int i = 0; i < W; ++i) d.y[i] = -1.0 + 2.0 * nextUniform(&d.s[i]);
}
void floorMathmap(FloorData& d, int W, int64_t) {
  for (int i = 0; i < W; ++i) d.y[i] = sqrt(d.u[i] + 2.0);
}
void floorExtremum(FloorData& d, int W, int64_t) {
  double best = d.u[0];
  for (int i = 1; i < W; ++i)
    if (d.u[i] > best) best = d.u[i];
  d.y[0] = best;
}
void floorLookuprow(FloorData& d, int W, int64_t) {
  const double* table = d.r.data();
  for (int i = 0; i < W; ++i) {
    int j = static_cast<int>(d.u[i] * 8.0);
    j = j < 0 ? 0 : j > 15 ? 15 : j;
    d.y[i] = table[j];
  }
}
void floorGather(FloorData& d, int W, int64_t) {  // routegrid, slotweave
  for (int i = 0; i < W; ++i) d.y[i] = d.u[d.s[i] - 1];
}
void floorSlotpick(FloorData& d, int W, int64_t k) {
  if ((k & 15) == 8) memcpy(d.r.data(), d.u.data(), static_cast<size_t>(W) * sizeof(double));
  if ((k & 1) == 0) return;
  for (int i = 0; i < W; ++i) {
    int32_t p = d.s[i] - 1;
    d.y[i] = d.r[p];
    d.s[i] = p + 1 < W ? p + 2 : 1;
  }
}
void floorTapdelay(FloorData& d, int W, int64_t k) {
  const int m = W;
  if ((k & 1) != 0) d.r[k % m] = static_cast<double>(k);
  const int pos = static_cast<int>(k % m);
  for (int i = 0; i < W; ++i) {
    int j = pos - i;
    d.y[i] = d.r[j < 0 ? j + m : j];
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
void floorResetsumUpdate(FloorData& d, int W, int64_t) {
  for (int i = 0; i < W; ++i) d.r[i] += d.u[i] * 1.0;
}
void floorWindowsum(FloorData& d, int W, int64_t k) {
  const int m = 3;
  const int w = static_cast<int>(k % m);
  double* ring = d.r.data();
  for (int i = 0; i < W; ++i) {
    double* cell = ring + i * m;
    const double old = cell[w];
    cell[w] = d.u[i];
    d.y[i] = d.y[i] + 0.5 * (d.u[i] + cell[(w + m - 1) % m]) - 0.5 * (old + cell[(w + 1) % m]);
  }
}
void floorBandmap(FloorData& d, int W, int64_t) {
  static const double partition[3] = {-0.5, 0, 0.5};
  static const double codebook[4] = {-0.75, -0.25, 0.25, 0.75};
  double* index = d.y.data();
  double* mse = d.r.data();
  for (int i = 0; i < W; ++i) {
    int j = 0;
    while (j < 3 && d.u[i] > partition[j]) ++j;
    index[i] = j;
    const double e = d.u[i] - codebook[j];
    mse[i] += (e * e - mse[i]) / 2.0;
    mse[W + i] = codebook[j];
  }
}
void floorPackframe(FloorData& d, int W, int64_t k) {
  double v = static_cast<double>(k & 0xFFFFF);
  for (int i = 0; i < W; ++i) {
    const double q = floor(v / 2.0);
    d.y[i] = v - 2.0 * q;
    v = q;
  }
}
void floorUnpackframe(FloorData& d, int W, int64_t) {
  double sum = 0.0, weight = 1.0;
  for (int i = 0; i < W; ++i) {
    sum += fmod(fabs(d.u[i]), 2.0) * weight;
    weight *= 2.0;
  }
  d.y[0] = sum;
}

struct FloorCase {
  const char* name;
  const char* kind;  // "out" or "upd"
  FloorFn fn;
};

const FloorCase kFloors[] = {
    {"arrivalgen", "out", floorArrivalgen}, {"coinflip", "out", floorCoinflip},
    {"diceroll", "out", floorDiceroll},     {"flatnoise", "out", floorFlatnoise},
    {"mathmap", "out", floorMathmap},       {"extremum", "out", floorExtremum},
    {"lookuprow", "out", floorLookuprow},   {"routegrid", "out", floorGather},
    {"slotpick", "out", floorSlotpick},     {"slotweave", "out", floorGather},
    {"tapdelay", "out", floorTapdelay},     {"sinkdump", "out", floorSinkdump},
    {"resetsum", "out", floorResetsum},     {"resetsum", "upd", floorResetsumUpdate},
    {"windowsum", "out", floorWindowsum},   {"bandmap", "out", floorBandmap},
    {"bandmaptimed", "out", floorBandmap},  {"packframe", "out", floorPackframe},
    {"unpackframe", "out", floorUnpackframe},
};

void runFloor(benchmark::State& state, FloorFn fn, int W) {
  FloorData d(W);
  int64_t k = 0;
  for (auto _ : state) {
    fn(d, W, k++);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(d.y.data());
  state.SetItemsProcessed(state.iterations() * W);
}

// ---------------------------------------------------------------------------
// 3. Host.

blocksim::ReadOptions benchReadOptions() {
  blocksim::ReadOptions o;
  o.pluginDir = KIVREL_PLUGIN_DIR;
  return o;
}

blocksim::Model& model20() {
  static blocksim::Model model;
  static bool read = false;
  if (!read) {
    std::vector<std::string> mistakes;
    if (!blocksim::readModel(KIVREL_BENCH_MODEL, benchReadOptions(), model, mistakes))
      die(mistakes.empty() ? "cannot read model20.toml" : mistakes[0]);
    read = true;
  }
  return model;
}

// One iteration: the whole model run (20001 steps). Counters: block calls
// per second, and the allocations made during the run.
void hostRun(benchmark::State& state) {
  uint64_t calls = 0;
  unsigned long long allocations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::ostringstream err;
    blocksim::RunOptions options;
    options.pluginDir = KIVREL_PLUGIN_DIR;
    auto sim = std::make_unique<blocksim::Simulation>(model20(), options, err);
    if (sim->prepare() != 0) die(err.str());
    allocCount::start();
    state.ResumeTiming();
    if (sim->run(nullptr) != 0) die(err.str());
    state.PauseTiming();
    allocations = allocCount::stop();
    calls += sim->blockCalls();
    sim->terminate();
    sim.reset();
    state.ResumeTiming();
  }
  state.counters["calls"] = benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate);
  state.counters["allocs_per_run"] = static_cast<double>(allocations);
}

// The same plug-in calls as hostRun, bare: flags 104 and 105 for every block
// at every step, the time written, nothing else.
void hostBare(benchmark::State& state) {
  std::ostringstream err;
  blocksim::RunOptions options;
  options.pluginDir = KIVREL_PLUGIN_DIR;
  blocksim::Simulation sim(model20(), options, err);
  if (sim.prepare() != 0) die(err.str());
  struct Call {
    PlgFunctionPtr fn;
    BlockContext* ctx;
  };
  std::vector<Call> blocks;
  for (int b : sim.order())
    if (Instance* inst = sim.instance(b)) {
      inst->setHit(true);
      inst->setStepKind(1);
      blocks.push_back(Call{inst->plugin().function(), &inst->context()});
    }
  axArray* empty = axCreateDoubleMatrix(0, 0, 0);
  axArray* t = num(0);
  axArray* f104 = num(FlagOutputs);
  axArray* f105 = num(FlagUpdate);
  const axArray* outputs[4] = {t, empty, empty, f104};
  const axArray* updates[4] = {t, empty, empty, f105};
  uint64_t calls = 0;
  for (auto _ : state) {
    for (int64_t n = 0; n <= sim.lastStep(); ++n) {
      const double time = sim.timeAt(n);
      for (int b : sim.order())
        if (Instance* inst = sim.instance(b)) inst->setTime(time);
      for (const Call& c : blocks) {
        axArray* lhs[2] = {nullptr, reinterpret_cast<axArray*>(c.ctx)};
        c.fn(-1, lhs, 4, outputs);
      }
      for (const Call& c : blocks) {
        axArray* lhs[2] = {nullptr, reinterpret_cast<axArray*>(c.ctx)};
        c.fn(-1, lhs, 4, updates);
      }
      calls += 2 * blocks.size();
    }
  }
  for (axArray* a : {empty, t, f104, f105}) axDestroyArray(a);
  sim.terminate();
  state.counters["calls"] = benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate);
}

void loadAllPlugins(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<std::shared_ptr<Plugin>> loaded;
    for (const char* name : kAllPlugins) loaded.push_back(plugin(name));
    benchmark::DoNotOptimize(loaded.data());
  }
}

// ---------------------------------------------------------------------------
// 4. Generator.

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

  static const std::vector<BlockCase> cases = blockCases();
  for (const BlockCase& c : cases) {
    const std::vector<int> widths = c.scalable ? std::vector<int>{1, 64, 4096} : std::vector<int>{1};
    for (int W : widths) {
      const std::string w = std::to_string(W);
      benchmark::RegisterBenchmark(("block/" + std::string(c.name) + "/out/" + w).c_str(),
                                   [&c, W](benchmark::State& s) { runBlock(s, c, W, FlagOutputs); });
      if (c.update)
        benchmark::RegisterBenchmark(("block/" + std::string(c.name) + "/upd/" + w).c_str(),
                                     [&c, W](benchmark::State& s) { runBlock(s, c, W, FlagUpdate); });
    }
  }
  for (const FloorCase& f : kFloors)
    for (int W : {1, 64, 4096})
      benchmark::RegisterBenchmark(("floor/" + std::string(f.name) + "/" + f.kind + "/" + std::to_string(W)).c_str(),
                                   [f, W](benchmark::State& s) { runFloor(s, f.fn, W); });

  benchmark::RegisterBenchmark("host/run_model20", hostRun)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("host/bare_model20", hostBare)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("host/load_22_plugins", loadAllPlugins)->Unit(benchmark::kMicrosecond);

  benchmark::RegisterBenchmark("uniform/nextUniform", uniformNext);
  benchmark::RegisterBenchmark("uniform/minstd_rand0", uniformMinstd);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
