// Study files of `blocksim sweep`: a model, the values to vary, the seeds to
// repeat every point with, and the statistics to collect per point. A study
// is read once; its points are numbered 0 ... points()-1, the first [[vary]]
// changing slowest and the seed fastest.
#ifndef BLOCKSIM_STUDY_H
#define BLOCKSIM_STUDY_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "stats.h"

namespace blocksim {

// One [[vary]]: its column in the table, its values, and what each value sets
// (one or more model values, as TOML texts).
struct Axis {
  std::string name;
  std::vector<double> numbers;     // the values, for the plot
  std::vector<std::string> cells;  // the values as the table shows them
  std::vector<std::string> targets;            // "NAME.params[K]" or "NAME.KEY"
  std::vector<std::vector<std::string>> texts;  // [target][value]: the TOML text set
};

// [seeds]: every point is repeated with the seeds first, first+1, ...,
// first+count-1. The listed parameters' elements are numbered one after the
// other across the list (e = 0, 1, ...); with seed s element e is set to
// s + e*count, so no two elements of any two repetitions share a seed.
struct Seeds {
  bool given = false;
  int64_t first = 1;
  int64_t count = 1;
  std::vector<std::string> targets;
  std::vector<size_t> widths;  // elements of each target (0: a plain number)
};

struct Study {
  std::string path;       // as given
  std::string name;       // the file name without ".toml"
  std::string modelPath;  // as the study writes it (in messages)
  std::string modelFile;  // absolute, for the runs
  bool hasStop = false;   // stop_time: replaces the model's
  double stop = 0.0;
  bool hasTimeLimit = false;  // time_limit, in seconds
  double timeLimit = 0.0;
  std::vector<Axis> axes;
  Seeds seeds;
  StatSpec stats;
  uint64_t fingerprint = 0;  // of the study and model texts

  size_t points() const;
  // The value index of each axis at point k, then the repetition.
  void decompose(size_t k, std::vector<size_t>& valueIndex, int64_t& repetition) const;
  // The --set texts of point k.
  std::vector<std::string> sets(size_t k) const;
  // The table header "point,AXIS...,seed,SIGNAL.STAT...,status,message".
  std::string header() const;
  // The cells of point k before its statistics: "K,VALUE...,SEED".
  std::string leadingCells(size_t k) const;
};

// The largest number of points a study may have.
const size_t kMaxPoints = 1000000;

// Reads and checks the study and the parts of its model it names. On failure
// returns false with one "FILE:LINE: WHAT" per mistake.
bool readStudy(const std::string& path, Study& study, std::vector<std::string>& mistakes);

// A CSV field: quoted (quotes doubled) when it holds a comma, a quote or a
// line break.
std::string csvField(const std::string& text);

}  // namespace blocksim

#endif
