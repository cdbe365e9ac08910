// blocksim: the stand-in host. `step` drives one plug-in call by call from a
// script; `sizes` makes a command-line sizes call.
#include <limits.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "step.h"

namespace {

// The plug-ins built beside this program: ../plugins from its own folder.
std::string defaultPluginDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "plugins";
  std::string exe(buf, static_cast<size_t>(n));
  std::string dir = exe.substr(0, exe.rfind('/'));
  return dir + "/../plugins";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"blocksim: a stand-in simulation host for the block plug-ins"};
  app.require_subcommand(1);
  std::string pluginDir = defaultPluginDir();

  CLI::App* step = app.add_subcommand("step", "drive one plug-in call by call from a script ('-' reads stdin)");
  std::string script;
  step->add_option("--plugin-dir", pluginDir, "folder of the NAME.plgglx files");
  step->add_option("SCRIPT", script, "the step script")->required();

  CLI::App* sizes = app.add_subcommand("sizes", "command-line sizes call: NAME and its parameters as TOML values");
  std::string name;
  std::vector<std::string> params;
  sizes->add_option("--plugin-dir", pluginDir, "folder of the NAME.plgglx files");
  sizes->add_option("NAME", name, "the plug-in")->required();
  // The parameters are taken verbatim (no list splitting of "[a,b]").
  sizes->allow_extras();
  sizes->footer("PARAM...: block parameters as TOML values, e.g. '[[0,2],[1,1]]' or \"'sin'\"");

  CLI11_PARSE(app, argc, argv);

  if (step->parsed()) {
    if (script == "-") return blocksim::runStepScript(std::cin, std::cout, std::cerr, pluginDir);
    std::ifstream in(script);
    if (!in) {
      std::cerr << "blocksim: cannot read " << script << "\n";
      return 2;
    }
    return blocksim::runStepScript(in, std::cout, std::cerr, pluginDir);
  }
  params = sizes->remaining();
  return blocksim::runSizesCommand(name, params, std::cout, std::cerr, pluginDir);
}
