#include "stats.h"

#include <math.h>
#include <stdlib.h>

#include <fstream>

#include "instance.h"

namespace blocksim {

namespace {

const char* const kStatNames[kStatCount] = {"final", "mean", "mean_square", "min", "max"};

// The CSV of `blocksim run`: a header "time,NAME[i],..." and rows of plain
// numbers.
class CsvRunOutput : public RunOutput {
 public:
  const char* fileName() const override { return "run.csv"; }

  bool open(const std::string& path, std::string& why) override {
    in_.open(path, std::ios::binary);
    std::string header;
    if (!in_ || !std::getline(in_, header)) {
      why = "the run wrote no output";
      return false;
    }
    std::vector<std::string> names = split(header);
    if (names.empty() || names[0] != "time") {
      why = "the run's output has no header starting with 'time'";
      return false;
    }
    columns_.assign(names.begin() + 1, names.end());
    return true;
  }

  const std::vector<std::string>& columns() const override { return columns_; }

  int next(double& time, std::vector<double>& values, std::string& why) override {
    if (!std::getline(in_, line_)) return 0;
    ++row_;
    fields_ = split(line_);
    if (fields_.size() != columns_.size() + 1) {
      why = "row " + std::to_string(row_) + " of the run's output has " + std::to_string(fields_.size()) +
            " fields, the header " + std::to_string(columns_.size() + 1);
      return -1;
    }
    values.resize(columns_.size());
    for (size_t i = 0; i < fields_.size(); ++i) {
      const char* s = fields_[i].c_str();
      char* end = nullptr;
      double v = strtod(s, &end);
      if (fields_[i].empty() || *end != '\0') {
        why = "row " + std::to_string(row_) + " of the run's output holds '" + fields_[i] + "', no number";
        return -1;
      }
      if (i == 0)
        time = v;
      else
        values[i - 1] = v;
    }
    return 1;
  }

 private:
  static std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    size_t begin = 0;
    for (;;) {
      size_t comma = line.find(',', begin);
      out.push_back(line.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin));
      if (comma == std::string::npos) break;
      begin = comma + 1;
    }
    return out;
  }

  std::ifstream in_;
  std::vector<std::string> columns_, fields_;
  std::string line_;
  size_t row_ = 0;
};

// The running figures of one column. A NaN among the counted values makes
// every statistic but the final value NaN.
struct Running {
  size_t count = 0;
  double last = 0.0, sum = 0.0, sumSquares = 0.0, min = 0.0, max = 0.0;
  bool nan = false;

  void add(double v) {
    if (isnan(v)) nan = true;
    if (count == 0 || v < min) min = v;
    if (count == 0 || v > max) max = v;
    last = v;
    sum += v;
    sumSquares += v * v;
    ++count;
  }

  double value(Stat s) const {
    const double n = static_cast<double>(count);
    switch (s) {
      case Stat::Final: return last;
      case Stat::Mean: return sum / n;
      case Stat::MeanSquare: return sumSquares / n;
      case Stat::Min: return nan ? NAN : min;
      case Stat::Max: return nan ? NAN : max;
    }
    return NAN;
  }
};

}  // namespace

const char* statName(Stat s) { return kStatNames[static_cast<int>(s)]; }

bool statFromName(const std::string& name, Stat& s) {
  for (int i = 0; i < kStatCount; ++i) {
    if (name == kStatNames[i]) {
      s = static_cast<Stat>(i);
      return true;
    }
  }
  return false;
}

std::unique_ptr<RunOutput> csvRunOutput() { return std::make_unique<CsvRunOutput>(); }

bool pointStatistics(RunOutput& output, const StatSpec& spec, std::vector<std::string>& cells, std::string& why) {
  cells.assign(spec.signals.size() * spec.stats.size(), std::string());
  std::vector<size_t> column(spec.signals.size());
  const std::vector<std::string>& names = output.columns();
  for (size_t s = 0; s < spec.signals.size(); ++s) {
    size_t c = 0;
    while (c < names.size() && names[c] != spec.signals[s]) ++c;
    if (c == names.size()) {
      why = "the run logged no signal " + spec.signals[s] + " (list its block in the model's [output] signals)";
      return false;
    }
    column[s] = c;
  }
  std::vector<Running> running(spec.signals.size());
  double time;
  std::vector<double> values;
  int rc;
  while ((rc = output.next(time, values, why)) == 1) {
    if (spec.hasSettle && !(time >= spec.settle)) continue;
    for (size_t s = 0; s < column.size(); ++s) running[s].add(values[column[s]]);
  }
  if (rc < 0) return false;
  if (!running.empty() && running[0].count == 0) {
    why = spec.hasSettle ? "no row at or after the settling time " + formatNumber(spec.settle) : "the run logged no row";
    return false;
  }
  for (size_t s = 0; s < running.size(); ++s)
    for (size_t k = 0; k < spec.stats.size(); ++k)
      appendNumber(cells[s * spec.stats.size() + k], running[s].value(spec.stats[k]));
  return true;
}

}  // namespace blocksim
