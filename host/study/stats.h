// Statistics of one study point, computed from the signals its run logged:
// final value, mean, mean square, minimum and maximum of chosen columns over
// the rows at or after a settling time.
#ifndef BLOCKSIM_STATS_H
#define BLOCKSIM_STATS_H

#include <stddef.h>

#include <memory>
#include <string>
#include <vector>

namespace blocksim {

enum class Stat { Final, Mean, MeanSquare, Min, Max };
const int kStatCount = 5;

// "final", "mean", "mean_square", "min", "max".
const char* statName(Stat s);
bool statFromName(const std::string& name, Stat& s);

// What a point collects: every listed statistic of every listed signal (a
// column name of the run's output, "NAME[i]"), over the rows whose time is at
// least `settle` (every row when there is none).
struct StatSpec {
  std::vector<std::string> signals;
  std::vector<Stat> stats;
  bool hasSettle = false;
  double settle = 0.0;
};

// A run's logged signals, read row by row. The CSV of `blocksim run` is one
// such format; another one (a binary log) can stand beside it.
class RunOutput {
 public:
  virtual ~RunOutput() = default;
  // The file name a run is told to write (its extension selects the format).
  virtual const char* fileName() const = 0;
  // Opens the file; false with why.
  virtual bool open(const std::string& path, std::string& why) = 0;
  // The column names after the time.
  virtual const std::vector<std::string>& columns() const = 0;
  // The next row: 1 with time and values (one per column), 0 at the end, -1
  // with why when the file is damaged.
  virtual int next(double& time, std::vector<double>& values, std::string& why) = 0;
};

std::unique_ptr<RunOutput> csvRunOutput();

// The statistic cells of a point, signal by signal and statistic by
// statistic as listed, as the shortest texts that read back as the same
// numbers. False with why (the cells then stay empty) when a signal is not
// logged, the output is damaged or no row is counted.
bool pointStatistics(RunOutput& output, const StatSpec& spec, std::vector<std::string>& cells, std::string& why);

}  // namespace blocksim

#endif
