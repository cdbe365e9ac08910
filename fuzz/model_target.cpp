// Fuzz target for `blocksim run`: the input is a model file, read by the real
// model reader; a model that reads and names only plug-ins of the build is
// then prepared (loaded, sized, ordered, widths settled, started), run when it
// has at most a few thousand steps, and terminated. Reading, preparing and
// running must end with a status, never crash.
//
// Left out: text with a character outside the ASCII range outside a string
// (see below), models that mention a device or system folder (a file source
// reading /dev/stdin would wait forever for the fuzzer's input), and runs with
// a plug-in given by path or the file writer, which writes files where its
// parameter says.
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "model.h"
#include "runner.h"
#include "values.h"

#ifndef KIVREL_PLUGIN_DIR
#define KIVREL_PLUGIN_DIR "plugins"
#endif
#ifndef KIVREL_FUZZ_PLUGINS
#define KIVREL_FUZZ_PLUGINS ""
#endif

namespace {

std::set<std::string> loadable;
const int64_t kMaxFuzzSteps = 2000;

bool runnable(const blocksim::Model& model) {
  for (const blocksim::BlockSpec& b : model.blocks) {
    if (b.isSource) continue;
    if (b.plugin == "sinkdump" || loadable.count(b.plugin) == 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::istringstream names(KIVREL_FUZZ_PLUGINS);
  std::string name;
  const char* dir = getenv("KIVREL_FUZZ_PLUGIN_DIR");
  while (names >> name) {
    loadable.insert(name);
    // Kept loaded for the whole run: the fuzzer reads the coverage counters
    // of every library it has seen, also after the host has closed it.
    dlopen(((dir != nullptr ? dir : KIVREL_PLUGIN_DIR) + std::string("/") + name + ".plgglx").c_str(),
           RTLD_NOW | RTLD_LOCAL);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* system : {"/dev", "/proc", "/sys"})
    if (text.find(system) != std::string::npos) return 0;
  const char* envDir = getenv("KIVREL_FUZZ_PLUGIN_DIR");
  const std::string dir = envDir != nullptr ? envDir : KIVREL_PLUGIN_DIR;
  blocksim::ReadOptions readOptions;
  readOptions.pluginDir = dir;
  blocksim::Model model;
  std::vector<std::string> mistakes;
  if (!blocksim::readModelText(text, "/nonexistent-kivrel-fuzz/model.toml", readOptions, model, mistakes)) {
    if (mistakes.empty()) {
      fprintf(stderr, "fuzz: a model was refused without a mistake\n");
      abort();
    }
    return 0;
  }
  if (!runnable(model)) return 0;
  blocksim::RunOptions options;
  options.pluginDir = dir;
  std::ostringstream err;
  blocksim::Simulation sim(model, options, err);
  if (sim.prepare() == blocksim::ExitOk && sim.lastStep() <= kMaxFuzzSteps) sim.run(nullptr);
  sim.terminate();
  return 0;
}
