#include "npy.h"

#include <string.h>

namespace blocksim {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the .npy writer stores the doubles as they are in memory");

std::string npyHeader(uint64_t rows, uint64_t columns, size_t length) {
  std::string text = "{'descr': '<f8', 'fortran_order': False, 'shape': (" + std::to_string(rows) + ", " +
                     std::to_string(columns) + "), }";
  const size_t prefix = 10;  // magic, version, text length
  const size_t least = prefix + text.size() + 1;
  if (length < least) length = (least + 63) / 64 * 64;
  text.append(length - prefix - text.size() - 1, ' ');
  text += '\n';
  const size_t n = text.size();
  std::string header("\x93NUMPY\x01\x00", 8);
  header += static_cast<char>(n & 0xFF);
  header += static_cast<char>(n >> 8);
  return header + text;
}

void NpyWriter::setColumns(std::vector<CsvColumns> columns) {
  columns_ = std::move(columns);
  size_t values = 1;
  for (const CsvColumns& c : columns_) values += c.count;
  row_.assign(values, 0.0);
}

void NpyWriter::writeHeader(uint64_t rows) {
  const std::string header = npyHeader(rows, row_.size());
  headerLength_ = header.size();
  out_.write(header.data(), static_cast<std::streamsize>(header.size()));
}

void NpyWriter::writeRow(double time) {
  double* p = row_.data();
  *p++ = time;
  for (const CsvColumns& c : columns_) {
    memcpy(p, c.values, c.count * sizeof(double));
    p += c.count;
  }
  out_.write(reinterpret_cast<const char*>(row_.data()), static_cast<std::streamsize>(row_.size() * sizeof(double)));
  ++rows_;
}

void NpyWriter::flush() {
  if (!out_.good()) return;
  // The row count of a run that ended early is below the one the header
  // was made for, so the header keeps its length.
  const std::string header = npyHeader(rows_, row_.size(), headerLength_);
  if (header.size() != headerLength_) return;  // (fewer rows never need more room)
  const std::streampos end = out_.tellp();
  out_.seekp(0);
  out_.write(header.data(), static_cast<std::streamsize>(header.size()));
  out_.seekp(end);
  out_.flush();
}

std::string NpyWriter::columnNames() const {
  std::string names = "time\n";
  for (const CsvColumns& c : columns_)
    for (size_t i = 0; i < c.count; ++i) names += c.name + "[" + std::to_string(c.first + i) + "]\n";
  return names;
}

}  // namespace blocksim
