// `blocksim sweep STUDY.toml`: runs every point of a study as a `blocksim run`
// of its own (a child process, at most -j at a time, each with a time limit)
// and writes one results table, one row per point in point order. The same
// rows come from `--point K` (one point, its row kept in the results folder,
// as a Slurm array task runs it) and `--gather` (the table from those rows),
// so a table gathered from a cluster equals one made on a single machine.
#ifndef BLOCKSIM_SWEEP_H
#define BLOCKSIM_SWEEP_H

#include <iosfwd>
#include <string>

#include "status.h"

namespace blocksim {

// `blocksim sweep` exits with ExitOk when every point ran and has its
// statistics; ExitBlockError when the table is written but a point failed
// (or, gathering, is missing); ExitMistake for a mistake in the study, its
// model's named values or the command line; ExitPlotFailed when the table is
// written but --plot could not be drawn; ExitOutputFailed when the results
// folder, a row or the table could not be written.

// The time a point may run when neither the study nor --time-limit says.
const double kDefaultTimeLimit = 600.0;

struct SweepOptions {
  std::string study;
  std::string results;    // the results folder; empty: NAME-results in the current folder
  std::string plot;       // --plot FILE.png: each statistic against the first varied value
  std::string pluginDir;  // passed on to the runs when given
  std::string blocksim;   // the program run for each point; empty: this program
  int jobs = 0;           // points at a time; 0: the cores
  bool hasTimeLimit = false;
  double timeLimit = 0.0;  // seconds per point
  bool count = false;      // --count: print the number of points
  bool hasPoint = false;   // --point K: run point K alone, keep its row
  long long point = 0;
  bool gather = false;  // --gather: the table from the kept rows
  bool slurm = false;   // --slurm: print the sbatch array script
  bool submit = false;  // --submit: hand that script to sbatch
  bool progress = false;  // show progress on the error stream (a terminal)
};

int runSweep(const SweepOptions& options, std::ostream& out, std::ostream& err);

}  // namespace blocksim

#endif
