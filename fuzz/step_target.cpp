// Fuzz target for `blocksim step`: the input is a step script, run by the
// real script runner against the built plug-ins. The runner must end every
// script with a status and never crash, whatever the script says.
//
// Two kinds of line are left out before the run, since they would reach
// outside the test: `load` of anything but a plug-in name of the build (a
// path would dlopen an arbitrary file), and `load sinkdump`, whose file name
// parameter may be any path (the plug-in target fuzzes it in a folder of its
// own).
//
// With KIVREL_FUZZ_TRACE set the exit status and what the script wrote go to
// standard output (see plugin_target.cpp).
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <sstream>
#include <string>

#include "step.h"

#ifndef KIVREL_PLUGIN_DIR
#define KIVREL_PLUGIN_DIR "plugins"
#endif
#ifndef KIVREL_FUZZ_PLUGINS
#define KIVREL_FUZZ_PLUGINS ""
#endif

namespace {

std::set<std::string> loadable;

bool allowedLine(const std::string& line) {
  std::istringstream words(line);
  std::string command, name, extra;
  words >> command;
  if (command != "load") return true;
  words >> name;
  if (words >> extra) return false;
  return name != "sinkdump" && loadable.count(name) > 0;
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
  if (size > 8192) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string script;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (allowedLine(line)) script += line + "\n";
  std::istringstream in(script);
  std::ostringstream out, err;
  const char* dir = getenv("KIVREL_FUZZ_PLUGIN_DIR");
  int status = blocksim::runStepScript(in, out, err, dir != nullptr ? dir : KIVREL_PLUGIN_DIR);
  if (getenv("KIVREL_FUZZ_TRACE") != nullptr) {
    printf("status %d\n--- out\n%s\n--- err\n%s\n--- end\n", status, out.str().c_str(), err.str().c_str());
    fflush(stdout);
  }
  if (status < 0 || status > 3) {
    fprintf(stderr, "fuzz: blocksim step exit status %d\n", status);
    abort();
  }
  return 0;
}
