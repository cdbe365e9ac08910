#include "csv.h"

#include "instance.h"

namespace blocksim {

void CsvWriter::writeHeader() {
  line_ = "time";
  for (const CsvColumns& c : columns_) {
    for (size_t i = 0; i < c.count; ++i) {
      line_ += ',';
      line_ += c.name;
      line_ += '[';
      line_ += std::to_string(c.first + i);
      line_ += ']';
    }
  }
  line_ += '\n';
  emit();
  // The longest row: every number at its longest (24 characters, as in
  // "-2.2250738585072014e-308") and a separator each.
  size_t values = 1;
  for (const CsvColumns& c : columns_) values += c.count;
  line_.clear();
  line_.reserve(values * 25 + 1);
}

void CsvWriter::writeRow(double time) {
  line_.clear();
  appendNumber(line_, time);
  for (const CsvColumns& c : columns_) {
    for (size_t i = 0; i < c.count; ++i) {
      line_ += ',';
      appendNumber(line_, c.values[i]);
    }
  }
  line_ += '\n';
  emit();
}

void CsvWriter::emit() {
  for (std::ostream* s : streams_) s->write(line_.data(), static_cast<std::streamsize>(line_.size()));
}

void CsvWriter::flush() {
  for (std::ostream* s : streams_) s->flush();
}

bool CsvWriter::good() const {
  for (std::ostream* s : streams_)
    if (!s->good()) return false;
  return true;
}

}  // namespace blocksim
