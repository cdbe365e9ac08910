// LLVMFuzzerInitialize of the step and model targets: every plug-in of the
// build (KIVREL_FUZZ_PLUGINS) may be loaded by an input, and is loaded here
// once for the whole run.
#include <dlfcn.h>

#include <sstream>

#include "plugins.h"

#ifndef KIVREL_FUZZ_PLUGINS
#define KIVREL_FUZZ_PLUGINS ""
#endif

namespace {
std::set<std::string> loadable;
}  // namespace

const std::set<std::string>& fuzz::loadablePlugins() { return loadable; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::istringstream names(KIVREL_FUZZ_PLUGINS);
  std::string name;
  while (names >> name) {
    loadable.insert(name);
    // Kept loaded for the whole run: the fuzzer reads the coverage counters
    // of every library it has seen, also after the host has closed it.
    dlopen((fuzz::pluginDir() + "/" + name + ".plgglx").c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  return 0;
}
