// blocksim: the stand-in host. `run` simulates a model file, `step` drives one
// plug-in call by call from a script; `sizes` makes a command-line sizes call.
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "help.h"
#include "interrupt.h"
#include "values_toml.h"
#include "runner.h"
#include "step.h"
#include "sweep.h"

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

namespace {

int run(int argc, char** argv) {
  CLI::App app{"blocksim: a stand-in simulation host for the block plug-ins"};
  app.require_subcommand(1);
  std::string pluginDir = defaultPluginDir();
  const std::string pluginDirHelp = "folder of the NAME.plgglx files (default: the plugins folder beside the bin "
                                    "folder of this program, here " + pluginDir + ")";
  uint64_t memoryMiB = blocksim::kDefaultMemoryLimit >> 20;
  const std::string memoryHelp = "memory budget in MiB for what the model or script asks the host to hold "
                                 "(parameters, source data, block vectors); default " + std::to_string(memoryMiB);

  CLI::App* step = app.add_subcommand("step", "drive one plug-in call by call from a script ('-' reads stdin)");
  std::string script;
  step->add_option("--plugin-dir", pluginDir, pluginDirHelp);
  step->add_option("--memory-limit", memoryMiB, memoryHelp)->check(CLI::Range(uint64_t(1), uint64_t(1) << 30));
  step->add_option("SCRIPT", script, "the step script")->required();

  CLI::App* sizes = app.add_subcommand("sizes", "command-line sizes call: NAME and its parameters as TOML values");
  std::string name;
  std::vector<std::string> params;
  sizes->add_option("--plugin-dir", pluginDir, pluginDirHelp);
  sizes->add_option("NAME", name, "the plug-in")->required();
  // The parameters are taken verbatim (no list splitting of "[a,b]").
  sizes->allow_extras();
  sizes->footer("PARAM...: block parameters as TOML values, e.g. '[[0,2],[1,1]]' or \"'sin'\"");

  CLI::App* run = app.add_subcommand("run", "simulate a model file, writing the logged signals as CSV");
  std::string model;
  blocksim::RunOptions options;
  double stop = 0.0;
  run->add_option("MODEL", model, "the model (TOML)")->required();
  CLI::Option* stopOption = run->add_option("--stop", stop, "stop time (instead of the model's stop_time)");
  run->add_option("--output,-o", options.outputPath,
                  "CSV file (default: standard output); a name ending in .npy writes a NumPy .npy file instead, "
                  "its column names in NAME.npy.columns.txt");
  run->add_option("--stride", options.stride, "log every Nth step (steps 0, N, 2N, ...) instead of the model's "
                                              "[output] stride")
      ->check(CLI::Range(int64_t(1), int64_t(1000000000000)));
  run->add_option("--plot", options.plotPath, "draw the logged signals into this PNG (gnuplot)");
  run->add_option("--plugin-dir", pluginDir, pluginDirHelp);
  run->add_flag("--allow-outside-writes", options.writeAnywhere,
                "let blocks write files outside the folder the run is started in (refused by default: a model "
                "from someone else must not write into your other files)");
  run->add_option("--memory-limit", memoryMiB, memoryHelp)->check(CLI::Range(uint64_t(1), uint64_t(1) << 30));
  run->add_flag("--verbose,-v", options.verbose, "list each block's plug-in file and version before the run");
  run->add_option("--set", options.sets, "NAME.params[K]=VALUE or NAME.KEY=VALUE: replace one value of the model")
      ->allow_extra_args(false);
  run->footer(
      "A model names its plug-ins; they are loaded from the plug-in folder only. Files the blocks\n"
      "write must lie inside the current folder (see --allow-outside-writes). --output and --plot\n"
      "are written under a temporary name and renamed into place when the run ends.\n"
      "SIGINT or SIGTERM stops the run after the current step: every block is terminated and the\n"
      "CSV keeps the rows so far; a second signal ends blocksim at once.\n"
      "The host compares the guard zones around the blocks' vectors after every " +
      std::to_string(blocksim::Simulation::kGuardCheckSteps) + "th step and after the\n"
      "last one: a write outside a vector stops the run up to " +
      std::to_string(blocksim::Simulation::kGuardCheckSteps - 1) + " steps after the step it happened in.\n"
      "Exit status: 0 the run completed; 1 a block reported an error; 2 a mistake in the model\n"
      "(or an option); 3 a block wrote outside a host vector; 4 the plot could not be drawn;\n"
      "5 the CSV could not be written; 6 out of memory; 130 / 143 stopped by SIGINT / SIGTERM.");

  CLI::App* help = app.add_subcommand("help", "print a block's page; without NAME, list the blocks");
  std::string helpName;
  help->add_option("NAME", helpName, "the block");

  CLI::App* sweep = app.add_subcommand("sweep", "run every point of a study, each as a run of its own");
  blocksim::SweepOptions study;
  sweep->add_option("STUDY", study.study, "the study (TOML)")->required();
  sweep->add_option("-j", study.jobs, "points run at a time (default: the cores)");
  sweep->add_option("--results", study.results, "results folder (default: STUDY-results here)");
  sweep->add_option("--plot", study.plot, "draw each statistic against the first varied value into this PNG");
  CLI::Option* limitOption = sweep->add_option("--time-limit", study.timeLimit, "seconds a point may run (default 600)");
  sweep->add_flag("--count", study.count, "print the number of points");
  CLI::Option* pointOption = sweep->add_option("--point", study.point, "run point K alone, keeping its row");
  sweep->add_flag("--gather", study.gather, "write the table from the kept rows");
  sweep->add_flag("--slurm", study.slurm, "print the sbatch script running the points as a Slurm job array");
  sweep->add_flag("--submit", study.submit, "with --slurm: submit that script with sbatch");
  sweep->add_option("--plugin-dir", study.pluginDir, "folder of the NAME.plgglx files");
  sweep->footer("Exit status: 0 every point completed; 1 a point failed or (--gather) is missing;\n"
                "2 a mistake in the study; 4 the plot failed; 5 the results could not be written.");

  CLI11_PARSE(app, argc, argv);

  if (help->parsed()) return blocksim::printHelp(helpName, std::cout, std::cerr);

  if (sweep->parsed()) {
    study.hasTimeLimit = limitOption->count() > 0;
    study.hasPoint = pointOption->count() > 0;
    study.progress = isatty(2) != 0;
    return blocksim::runSweep(study, std::cout, std::cerr);
  }

  if (run->parsed()) {
    options.pluginDir = pluginDir;
    options.hasStop = stopOption->count() > 0;
    options.stop = stop;
    options.progress = isatty(2) != 0;
    options.memoryLimit = memoryMiB << 20;
    // A closed output pipe is a failed write (the run then stops and its
    // blocks are terminated), not the end of the process.
    signal(SIGPIPE, SIG_IGN);
    blocksim::catchInterrupts();
    return blocksim::runModel(model, options, std::cout, std::cerr);
  }

  if (step->parsed()) {
    if (script == "-") return blocksim::runStepScript(std::cin, std::cout, std::cerr, pluginDir, memoryMiB << 20);
    std::ifstream in(script);
    if (!in) {
      std::cerr << "blocksim: cannot read " << script << "\n";
      return blocksim::ExitMistake;
    }
    return blocksim::runStepScript(in, std::cout, std::cerr, pluginDir, memoryMiB << 20);
  }
  params = sizes->remaining();
  return blocksim::runSizesCommand(name, params, std::cout, std::cerr, pluginDir);
}

// The TOML parser cannot unwind from a failed allocation: it ends in
// std::terminate, which is then reported as what it is.
[[noreturn]] void onTerminate() {
  if (blocksim::tomlParserRunning()) {
    static const char msg[] = "blocksim: out of memory (while reading TOML text)\n";
    if (write(2, msg, sizeof msg - 1) < 0) _exit(blocksim::ExitOutOfMemory);
    _exit(blocksim::ExitOutOfMemory);
  }
  abort();
}

}  // namespace

int main(int argc, char** argv) {
  std::set_terminate(onTerminate);
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "blocksim: out of memory\n";
    return blocksim::ExitOutOfMemory;
  }
}
