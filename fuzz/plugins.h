// What the fuzz targets share about the plug-ins of the build: the folder to
// load them from, the names the step and model targets may load, and
// whether a trace was asked for.
#ifndef KIVREL_FUZZ_PLUGINS_H
#define KIVREL_FUZZ_PLUGINS_H

#include <stdlib.h>

#include <set>
#include <string>

#ifndef KIVREL_PLUGIN_DIR
#define KIVREL_PLUGIN_DIR "plugins"
#endif

namespace fuzz {

// KIVREL_FUZZ_PLUGIN_DIR when set, else the build's plug-in folder.
inline std::string pluginDir() {
  const char* dir = getenv("KIVREL_FUZZ_PLUGIN_DIR");
  return dir != nullptr ? dir : KIVREL_PLUGIN_DIR;
}

// Whether KIVREL_FUZZ_TRACE asks the target to write a trace of each input
// to standard output.
inline bool tracing() { return getenv("KIVREL_FUZZ_TRACE") != nullptr; }

// The plug-ins of the build, loaded by the LLVMFuzzerInitialize of the step
// and model targets (all_plugins.cpp).
const std::set<std::string>& loadablePlugins();

}  // namespace fuzz

#endif
