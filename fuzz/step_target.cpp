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
#include <stdio.h>

#include <sstream>
#include <string>

#include "plugins.h"
#include "step.h"

namespace {

bool allowedLine(const std::string& line) {
  std::istringstream words(line);
  std::string command, name, extra;
  words >> command;
  if (command != "load") return true;
  words >> name;
  if (words >> extra) return false;
  return name != "sinkdump" && fuzz::loadablePlugins().count(name) > 0;
}

}  // namespace

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
  int status = blocksim::runStepScript(in, out, err, fuzz::pluginDir());
  if (fuzz::tracing()) {
    printf("status %d\n--- out\n%s\n--- err\n%s\n--- end\n", status, out.str().c_str(), err.str().c_str());
    fflush(stdout);
  }
  if (status < 0 || status > 3) {
    fprintf(stderr, "fuzz: blocksim step exit status %d\n", status);
    abort();
  }
  return 0;
}
