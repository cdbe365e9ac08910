// The CSV log of `blocksim run`: a header "time,NAME[0],..." and one row per
// logged major step. Rows are built in one reused buffer, so writing a row does not
// allocate once the first row has been written.
#ifndef BLOCKSIM_CSV_H
#define BLOCKSIM_CSV_H

#include <stddef.h>

#include <ostream>
#include <string>
#include <vector>

namespace blocksim {

// One logged column group: `count` outputs of a block starting at `values`,
// headed NAME[first], NAME[first+1], ...
struct CsvColumns {
  std::string name;
  const double* values = nullptr;
  size_t first = 0;
  size_t count = 0;
};

// A log of a run: a row per logged step.
class LogWriter {
 public:
  virtual ~LogWriter() = default;
  virtual void writeRow(double time) = 0;
  virtual void flush() = 0;
  // False once writing has failed (a full disk, a closed pipe).
  virtual bool good() const = 0;
};

class CsvWriter : public LogWriter {
 public:
  // Rows go to every stream given (the log and, for a plot, a copy).
  explicit CsvWriter(std::vector<std::ostream*> streams) : streams_(std::move(streams)) {}

  void setColumns(std::vector<CsvColumns> columns) { columns_ = std::move(columns); }
  const std::vector<CsvColumns>& columns() const { return columns_; }
  void writeHeader();
  void writeRow(double time) override;
  void flush() override;
  bool good() const override;

 private:
  void emit();
  std::vector<std::ostream*> streams_;
  std::vector<CsvColumns> columns_;
  std::string line_;
};

}  // namespace blocksim

#endif
