// Measures what the runner adds to each plug-in call: the model is prepared
// and run by blocksim's Simulation (no CSV), then the same plug-in calls
// (flags 104 and 105 for every block at every step, as the model's blocks
// all hit at every step) are made bare, straight through plgFunction with
// prepared arguments. The difference per call is the host overhead: hit
// flags, input copies, time and step kind, the protected call, the error
// status and the guard checks.
//
//   run_overhead MODEL.toml PLUGIN_DIR [REPEATS]
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <sstream>
#include <vector>

#include "runner.h"

namespace {

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: run_overhead MODEL.toml PLUGIN_DIR [REPEATS]\n");
    return 2;
  }
  const int repeats = argc > 3 ? atoi(argv[3]) : 5;
  blocksim::Model model;
  std::vector<std::string> mistakes;
  blocksim::ReadOptions readOptions;
  readOptions.pluginDir = argv[2];
  if (!blocksim::readModel(argv[1], readOptions, model, mistakes)) {
    for (const std::string& m : mistakes) fprintf(stderr, "%s\n", m.c_str());
    return 2;
  }
  double bestHost = 1e30, bestBare = 1e30;
  uint64_t calls = 0, bareCalls = 0;
  int64_t steps = 0;
  for (int rep = 0; rep < repeats; ++rep) {
    std::ostringstream err;
    blocksim::Simulation sim(model, blocksim::RunOptions(), err);
    if (sim.prepare() != 0) {
      fprintf(stderr, "%s", err.str().c_str());
      return 1;
    }
    double t0 = now();
    if (sim.run(nullptr) != 0) {
      fprintf(stderr, "%s", err.str().c_str());
      return 1;
    }
    double host = now() - t0;
    calls = sim.blockCalls();
    steps = sim.lastStep() + 1;

    // The same calls, bare, on the same started instances.
    struct Bare {
      blocksim::PlgFunctionPtr fn;
      BlockContext* ctx;
    };
    std::vector<Bare> blocks;
    for (int b : sim.order())
      if (blocksim::Instance* inst = sim.instance(b))
        blocks.push_back(Bare{inst->plugin().function(), &inst->context()});
    axArray* t = axCreateDoubleMatrix(1, 1, 0);
    axArray* x = axCreateDoubleMatrix(0, 0, 0);
    axArray* u = axCreateDoubleMatrix(0, 0, 0);
    axArray* f104 = axCreateDoubleMatrix(1, 1, 0);
    axArray* f105 = axCreateDoubleMatrix(1, 1, 0);
    axGetPr(f104)[0] = FlagOutputs;
    axGetPr(f105)[0] = FlagUpdate;
    const axArray* outputs[4] = {t, x, u, f104};
    const axArray* updates[4] = {t, x, u, f105};
    bareCalls = 0;
    t0 = now();
    for (int64_t n = 0; n <= sim.lastStep(); ++n) {
      axGetPr(t)[0] = sim.timeAt(n);
      for (const Bare& b : blocks) {
        axArray* lhs[2] = {nullptr, reinterpret_cast<axArray*>(b.ctx)};
        b.fn(-1, lhs, 4, outputs);
      }
      for (const Bare& b : blocks) {
        axArray* lhs[2] = {nullptr, reinterpret_cast<axArray*>(b.ctx)};
        b.fn(-1, lhs, 4, updates);
      }
      bareCalls += 2 * blocks.size();
    }
    double bare = now() - t0;
    for (axArray* a : {t, x, u, f104, f105}) axDestroyArray(a);
    sim.terminate();
    if (host < bestHost) bestHost = host;
    if (bare < bestBare) bestBare = bare;
  }
  const double hostPerCall = bestHost / static_cast<double>(calls) * 1e9;
  const double barePerCall = bestBare / static_cast<double>(bareCalls) * 1e9;
  printf("steps %lld, plug-in calls %llu (bare %llu), best of %d\n", static_cast<long long>(steps),
         static_cast<unsigned long long>(calls), static_cast<unsigned long long>(bareCalls), repeats);
  printf("runner: %.1f ns per plug-in call (%.3f s)\n", hostPerCall, bestHost);
  printf("bare:   %.1f ns per plug-in call (%.3f s)\n", barePerCall, bestBare);
  printf("host overhead: %.1f ns per plug-in call\n", hostPerCall - barePerCall);
  return 0;
}
