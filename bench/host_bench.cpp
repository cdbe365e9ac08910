// The host's benchmarks: blocksim's Simulation running a model against the
// same plug-in calls made bare, and what logging adds to a run.
//
//   host/run/MODEL    Simulation::run on bench/MODEL.toml, nothing logged;
//                     counters: plug-in calls per second, allocations made
//                     during the run, growth of the resident memory (KiB)
//   host/bare/MODEL   mdlOutputs and mdlUpdate of every block at every step, straight
//                     through plgFunction with prepared arguments (the models'
//                     blocks all hit at every step), the time written first;
//                     the inputs are never copied, so every block computes on
//                     the zeros it started with
//   host/bare_data/MODEL  the same, each call after its block's inputs are
//                     copied from the outputs they come from (memcpy, as the
//                     run copies them): the calls on the run's own data
//   host/copies/MODEL these copies alone, without the calls
//   host/log/KIND     10^5 steps of chain20 logging every output of every
//                     block (35 values a row with the time) to /dev/null:
//                     none, as CSV, as CSV every 10th step, as .npy
//   host/load_22_plugins  dlopen, symbols and dlclose of every plug-in
//
// The host's overhead per plug-in call is (run - bare) / calls, its share of
// the run time (run - bare) / run (bench/report.py).
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "instance.h"
#include "npy.h"
#include "runner.h"

namespace {

using blocksim::Instance;
using blocksim::PlgFunctionPtr;

const char* const kModels[] = {"model20", "model20w64", "chain20"};

[[noreturn]] void die(const std::string& what) {
  fprintf(stderr, "host_bench: %s\n", what.c_str());
  exit(2);
}

const blocksim::Model& model(const std::string& name) {
  static std::map<std::string, std::unique_ptr<blocksim::Model>> models;
  std::unique_ptr<blocksim::Model>& m = models[name];
  if (!m) {
    m = std::make_unique<blocksim::Model>();
    blocksim::ReadOptions options;
    options.pluginDir = KIVREL_PLUGIN_DIR;
    std::vector<std::string> mistakes;
    if (!blocksim::readModel(std::string(KIVREL_BENCH_DIR) + "/" + name + ".toml", options, *m, mistakes))
      die(mistakes.empty() ? "cannot read " + name : mistakes[0]);
  }
  return *m;
}

blocksim::RunOptions runOptions() {
  blocksim::RunOptions options;
  options.pluginDir = KIVREL_PLUGIN_DIR;
  return options;
}

// The resident memory of the process in KiB.
long residentKiB() {
  long pages = 0, resident = 0;
  FILE* f = fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  fclose(f);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// One iteration: the whole model run.
void hostRun(benchmark::State& state, const std::string& name) {
  uint64_t calls = 0;
  unsigned long long allocations = 0;
  long growth = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::ostringstream err;
    auto sim = std::make_unique<blocksim::Simulation>(model(name), runOptions(), err);
    if (sim->prepare() != 0) die(err.str());
    const long before = residentKiB();
    allocCount::start();
    state.ResumeTiming();
    if (sim->run(nullptr) != 0) die(err.str());
    state.PauseTiming();
    allocations = allocCount::stop();
    growth = residentKiB() - before;
    calls += sim->blockCalls();
    sim->terminate();
    sim.reset();
    state.ResumeTiming();
  }
  state.counters["calls"] = benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate);
  state.counters["calls_per_run"] = static_cast<double>(calls) / static_cast<double>(state.iterations());
  state.counters["allocs_per_run"] = static_cast<double>(allocations);
  state.counters["rss_growth_kib"] = static_cast<double>(growth);
}

// The same plug-in calls, bare (Calls); on the data of the run (Data); the
// input copies of Data alone (Copies).
enum class Bare { Calls, Data, Copies };

void hostBare(benchmark::State& state, const std::string& name, Bare kind) {
  std::ostringstream err;
  blocksim::Simulation sim(model(name), runOptions(), err);
  if (sim.prepare() != 0) die(err.str());
  struct Copy {
    const double* from;
    double* to;
    size_t count;
  };
  struct Call {
    PlgFunctionPtr fn;
    BlockContext* ctx;
    std::vector<Copy> copies;
  };
  std::vector<Call> blocks;
  std::vector<Instance*> instances;
  const blocksim::Model& m = model(name);
  for (int b : sim.order())
    if (Instance* inst = sim.instance(b)) {
      inst->setHit(true);
      inst->setStepKind(MajorTimeStep);
      Call call{inst->plugin().function(), &inst->context(), {}};
      double* to = inst->u();
      for (const auto& entry : m.blocks[static_cast<size_t>(b)].inputs)
        for (const blocksim::SignalRef& r : entry) {
          const size_t count =
              r.whole ? static_cast<size_t>(sim.outputWidth(r.source)) : static_cast<size_t>(r.end - r.begin);
          call.copies.push_back(Copy{sim.outputs(r.source) + (r.whole ? 0 : r.begin), to, count});
          to += count;
        }
      if (kind == Bare::Calls) call.copies.clear();
      blocks.push_back(call);
      instances.push_back(inst);
    }
  axArray* empty = axCreateDoubleMatrix(0, 0, 0);
  axArray* t = axCreateDoubleMatrix(1, 1, 0);
  axArray* f104 = axCreateDoubleMatrix(1, 1, 0);
  axArray* f105 = axCreateDoubleMatrix(1, 1, 0);
  axGetPr(f104)[0] = FlagOutputs;
  axGetPr(f105)[0] = FlagUpdate;
  const axArray* outputs[4] = {t, empty, empty, f104};
  const axArray* updates[4] = {t, empty, empty, f105};
  uint64_t calls = 0;
  for (auto _ : state) {
    for (int64_t n = 0; n <= sim.lastStep(); ++n) {
      const double time = sim.timeAt(n);
      axGetPr(t)[0] = time;
      for (Instance* inst : instances) inst->setTime(time);
      for (const Call& c : blocks) {
        for (const Copy& k : c.copies) memcpy(k.to, k.from, k.count * sizeof(double));
        axArray* lhs[2] = {nullptr, reinterpret_cast<axArray*>(c.ctx)};
        if (kind != Bare::Copies) c.fn(-1, lhs, 4, outputs);
      }
      for (const Call& c : blocks) {
        for (const Copy& k : c.copies) memcpy(k.to, k.from, k.count * sizeof(double));
        axArray* lhs[2] = {nullptr, reinterpret_cast<axArray*>(c.ctx)};
        if (kind != Bare::Copies) c.fn(-1, lhs, 4, updates);
      }
      benchmark::ClobberMemory();
      calls += 2 * blocks.size();
    }
  }
  for (axArray* a : {empty, t, f104, f105}) axDestroyArray(a);
  sim.terminate();
  state.counters["calls"] = benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate);
}

// chain20 with every output of every block logged, for 10^5 steps.
const blocksim::Model& loggedChain() {
  static blocksim::Model m;
  static bool read = false;
  if (!read) {
    std::string text;
    const std::string path = std::string(KIVREL_BENCH_DIR) + "/chain20.toml";
    if (!blocksim::readTomlFile(path, text).empty()) die("cannot read " + path);
    text = text.substr(0, text.find("[output]"));
    text.replace(text.find("stop_time = 999.999"), 19, "stop_time = 99.999");
    blocksim::ReadOptions options;
    options.pluginDir = KIVREL_PLUGIN_DIR;
    std::vector<std::string> mistakes;
    if (!blocksim::readModelText(text, path, options, m, mistakes)) die(mistakes.empty() ? path : mistakes[0]);
    read = true;
  }
  return m;
}

enum class Log { None, Csv, CsvStride10, Npy };

void hostLog(benchmark::State& state, Log kind) {
  uint64_t values = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::ostringstream err;
    blocksim::RunOptions options = runOptions();
    options.stride = kind == Log::CsvStride10 ? 10 : 1;
    auto sim = std::make_unique<blocksim::Simulation>(loggedChain(), options, err);
    if (sim->prepare() != 0) die(err.str());
    std::ofstream out("/dev/null", std::ios::binary);
    std::unique_ptr<blocksim::LogWriter> log;
    size_t columns = 1;
    for (const blocksim::CsvColumns& c : sim->logColumns()) columns += c.count;
    if (kind == Log::Npy) {
      auto w = std::make_unique<blocksim::NpyWriter>(out);
      w->setColumns(sim->logColumns());
      w->writeHeader(static_cast<uint64_t>(sim->loggedRows()));
      log = std::move(w);
    } else if (kind != Log::None) {
      auto w = std::make_unique<blocksim::CsvWriter>(std::vector<std::ostream*>{&out});
      w->setColumns(sim->logColumns());
      w->writeHeader();
      log = std::move(w);
    }
    state.ResumeTiming();
    if (sim->run(log.get()) != 0) die(err.str());
    state.PauseTiming();
    if (log) values += static_cast<uint64_t>(sim->loggedRows()) * columns;
    sim->terminate();
    sim.reset();
    state.ResumeTiming();
  }
  state.counters["values"] = benchmark::Counter(static_cast<double>(values), benchmark::Counter::kIsRate);
  state.counters["values_per_run"] = static_cast<double>(values) / static_cast<double>(state.iterations());
}

void loadAllPlugins(benchmark::State& state) {
  static const char* const names[] = {
      "arrivalgen", "bandmap",  "bandmaptimed", "coinflip",  "diceroll", "extremum",    "flatnoise", "gentaps",
      "lookuprow",  "mathmap",  "packframe",    "polymix",   "portagree", "resetsum",   "routegrid", "sinkdump",
      "slotpick",   "slotweave", "tapdelay",    "unpackframe", "windowsum", "wrapsum"};
  for (auto _ : state) {
    std::vector<std::shared_ptr<blocksim::Plugin>> loaded;
    for (const char* name : names) {
      std::string err;
      loaded.push_back(blocksim::Plugin::load(KIVREL_PLUGIN_DIR, name, err));
      if (!loaded.back()) die(err);
    }
    benchmark::DoNotOptimize(loaded.data());
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (const char* m : kModels) {
    const std::string name = m;
    benchmark::RegisterBenchmark(("host/run/" + name).c_str(), [name](benchmark::State& s) { hostRun(s, name); })
        ->Unit(benchmark::kMillisecond);
    const std::pair<const char*, Bare> bares[] = {{"bare", Bare::Calls}, {"bare_data", Bare::Data}, {"copies", Bare::Copies}};
    for (const auto& b : bares) {
      const Bare kind = b.second;
      benchmark::RegisterBenchmark((std::string("host/") + b.first + "/" + name).c_str(),
                                   [name, kind](benchmark::State& s) { hostBare(s, name, kind); })
          ->Unit(benchmark::kMillisecond);
    }
  }
  const std::pair<const char*, Log> logs[] = {
      {"none", Log::None}, {"csv", Log::Csv}, {"csv_stride10", Log::CsvStride10}, {"npy", Log::Npy}};
  for (const auto& l : logs) {
    const Log kind = l.second;
    benchmark::RegisterBenchmark((std::string("host/log/") + l.first).c_str(),
                                 [kind](benchmark::State& s) { hostLog(s, kind); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("host/load_22_plugins", loadAllPlugins)->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
