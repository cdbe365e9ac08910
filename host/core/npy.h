// The binary log of `blocksim run`: a NumPy .npy file (format version 1.0)
// holding one little-endian float64 matrix in C order, a row per logged
// step: the time, then the logged outputs in the CSV's column order, each
// the double of the run bit for bit. numpy.load reads it in one call; the
// column names go to a text file beside it (NAME.npy.columns.txt).
#ifndef BLOCKSIM_NPY_H
#define BLOCKSIM_NPY_H

#include <stddef.h>
#include <stdint.h>

#include <ostream>
#include <string>
#include <vector>

#include "csv.h"

namespace blocksim {

// The header of a rows x columns float64 matrix in C order: the magic
// "\x93NUMPY", version 1.0, the length of the text, and the text, padded
// with spaces and ended by a line feed so that the whole header is `length`
// bytes, or (length 0) the least multiple of 64 that holds it.
std::string npyHeader(uint64_t rows, uint64_t columns, size_t length = 0);

class NpyWriter : public LogWriter {
 public:
  // out must be seekable: the header is written afresh with the rows
  // written when the log ends.
  explicit NpyWriter(std::ostream& out) : out_(out) {}

  void setColumns(std::vector<CsvColumns> columns);
  const std::vector<CsvColumns>& columns() const { return columns_; }
  // The header for at most `rows` rows (the row count of a complete run).
  void writeHeader(uint64_t rows);
  void writeRow(double time) override;
  // Writes the header afresh with the rows written so far, and flushes.
  void flush() override;
  bool good() const override { return out_.good(); }
  // The column names, one per line: "time", then NAME[i] as in the CSV.
  std::string columnNames() const;

 private:
  std::ostream& out_;
  std::vector<CsvColumns> columns_;
  std::vector<double> row_;
  uint64_t rows_ = 0;
  size_t headerLength_ = 0;
};

}  // namespace blocksim

#endif
