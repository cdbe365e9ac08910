// Fuzz target for `blocksim run`: the input is a model file, run the way
// blocksim runs it (runModel: reading, loading, sizing, the step loop, the
// CSV written to a file renamed into place, and with a marker the picture),
// in a scratch folder. Reading, preparing and running must end with a
// status, never crash, and leave nothing outside the folder.
//
// The input is the model text, optionally followed by files for it: each
// section after a line "#@file NAME" (NAME of letters, digits, '.', '_' and
// '-') is written to the folder as NAME before the run, so that data-file
// sources read data of the fuzzer's making. A line "#@plot" asks for --plot.
// The run is cut to a few thousand steps (--stop), and its memory budget is
// small, as the fuzzer's is.
//
// With KIVREL_FUZZ_TRACE set the status, the standard output and error and
// the files left in the folder go to standard output (see plugin_target.cpp).
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model.h"
#include "plugins.h"
#include "runner.h"
#include "scratch.h"

namespace {

const int64_t kMaxFuzzSteps = 2000;
const uint64_t kFuzzMemoryLimit = uint64_t(64) << 20;

bool fileName(const std::string& name) {
  if (name.empty() || name.size() > 24 || name[0] == '.') return false;
  for (char c : name)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') return false;
  return true;
}

// Splits the input into the model and its files; writes the files.
std::string prepareFiles(const std::string& input, bool& plot) {
  const std::string marker = "\n#@file ";
  size_t end = input.find(marker);
  const std::string model = input.substr(0, end);
  plot = model.find("\n#@plot") != std::string::npos;
  while (end != std::string::npos) {
    const size_t nameBegin = end + marker.size();
    const size_t nameEnd = input.find('\n', nameBegin);
    const std::string name = input.substr(nameBegin, nameEnd == std::string::npos ? std::string::npos : nameEnd - nameBegin);
    end = nameEnd == std::string::npos ? std::string::npos : input.find(marker, nameEnd);
    if (!fileName(name) || name == "model.toml" || nameEnd == std::string::npos) continue;
    std::ofstream(name, std::ios::binary) << input.substr(nameEnd + 1, end == std::string::npos ? std::string::npos : end - nameEnd - 1);
  }
  return model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool entered = (fuzz::enterScratch(), true);
  (void)entered;
  if (size > 16384) return 0;
  bool plot = false;
  const std::string model = prepareFiles(std::string(reinterpret_cast<const char*>(data), size), plot);
  std::ofstream("model.toml", std::ios::binary) << model;

  blocksim::RunOptions options;
  options.pluginDir = fuzz::pluginDir();
  options.memoryLimit = kFuzzMemoryLimit;
  options.outputPath = "out.csv";
  if (plot) options.plotPath = "out.png";
  // A long run is cut short: the model's step decides how far 2000 steps go.
  {
    blocksim::Model m;
    std::vector<std::string> mistakes;
    blocksim::ReadOptions read;
    read.pluginDir = options.pluginDir;
    read.memoryLimit = options.memoryLimit;
    if (blocksim::readModelText(model, "model.toml", read, m, mistakes)) {
      const double stop = m.hasStopTime ? m.stopTime : 0.0;
      if (!(stop / m.step <= static_cast<double>(kMaxFuzzSteps))) {
        options.hasStop = true;
        options.stop = m.step * static_cast<double>(kMaxFuzzSteps);
      }
    } else if (mistakes.empty()) {
      fprintf(stderr, "fuzz: a model was refused without a mistake\n");
      abort();
    }
  }
  std::ostringstream out, err;
  const int status = blocksim::runModel("model.toml", options, out, err);
  if (fuzz::tracing()) {
    printf("status %d\n--- out\n%s--- err\n%s--- end\n", status, out.str().c_str(), err.str().c_str());
    fuzz::traceFiles();
    fflush(stdout);
  }
  fuzz::removeScratchFiles();
  return 0;
}
