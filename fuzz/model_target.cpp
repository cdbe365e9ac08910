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
//
// With KIVREL_FUZZ_TRACE set the mistakes, the statuses, the CSV rows and the
// messages go to standard output (see plugin_target.cpp).
#include <stdio.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "model.h"
#include "plugins.h"
#include "runner.h"
#include "values.h"

namespace {

const int64_t kMaxFuzzSteps = 2000;

bool runnable(const blocksim::Model& model) {
  for (const blocksim::BlockSpec& b : model.blocks) {
    if (b.isSource) continue;
    if (b.plugin == "sinkdump" || fuzz::loadablePlugins().count(b.plugin) == 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* system : {"/dev", "/proc", "/sys"})
    if (text.find(system) != std::string::npos) return 0;
  const std::string dir = fuzz::pluginDir();
  blocksim::ReadOptions readOptions;
  readOptions.pluginDir = dir;
  blocksim::Model model;
  std::vector<std::string> mistakes;
  const bool tracing = fuzz::tracing();
  const bool read = blocksim::readModelText(text, "/nonexistent-kivrel-fuzz/model.toml", readOptions, model, mistakes);
  if (tracing)
    for (const std::string& m : mistakes) printf("mistake %s\n", m.c_str());
  if (!read) {
    if (mistakes.empty()) {
      fprintf(stderr, "fuzz: a model was refused without a mistake\n");
      abort();
    }
    return 0;
  }
  if (!runnable(model)) return 0;
  blocksim::RunOptions options;
  options.pluginDir = dir;
  std::ostringstream err, rows;
  blocksim::CsvWriter csv({&rows});
  blocksim::Simulation sim(model, options, err);
  const int prepared = sim.prepare();
  int ran = -1;
  if (prepared == blocksim::ExitOk && sim.lastStep() <= kMaxFuzzSteps) {
    if (tracing) {
      csv.setColumns(sim.logColumns());
      csv.writeHeader();
    }
    ran = sim.run(tracing ? &csv : nullptr);
  }
  const int terminated = sim.terminate();
  if (tracing) {
    csv.flush();
    printf("prepare %d run %d terminate %d\n--- csv\n%s\n--- err\n%s\n--- end\n", prepared, ran, terminated,
           rows.str().c_str(), err.str().c_str());
    fflush(stdout);
  }
  return 0;
}
