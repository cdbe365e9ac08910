// Decoding of fuzz inputs: a byte reader that never runs past its data (a
// finished input reads as zeros), and the values and host parameter arrays
// the targets build from it.
#ifndef KIVREL_FUZZ_INPUT_H
#define KIVREL_FUZZ_INPUT_H

#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "ax_host.h"

namespace fuzz {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return pos_ >= size_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  // A double from one tag byte:
  //   0x00-0x7f  the whole number tag - 16 (-16 ... 111)
  //   0x80-0x9f  an edge value from the table below
  //   0xa0-0xdf  a fraction (tag - 0xa0) / 8 - 2 (-2 ... 5.875)
  //   0xe0-0xff  the next 8 bytes as the bits of a double
  double value() {
    static const double kEdges[32] = {
        0.0,        1.0,       -1.0,          2.0,           0.5,           -0.5,     0.2,       1.5,
        3.0,        4.0,       7.0,           8.0,           10.0,          16.0,     24.0,      32.0,
        100.0,      255.0,     256.0,         1e8,           1e9,           2147483647.0,
        2147483648.0, -2147483648.0, -2147483649.0, 1e300, -1e300,     INFINITY, -INFINITY, NAN,
        -0.0,       1e-300};
    uint8_t t = byte();
    if (t < 0x80) return static_cast<double>(t) - 16.0;
    if (t < 0xa0) return kEdges[t - 0x80];
    if (t < 0xe0) return (t - 0xa0) / 8.0 - 2.0;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(byte()) << (8 * i);
    double d;
    memcpy(&d, &bits, sizeof d);
    return d;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Texts the blocks look for (function names, modes, record formats, methods)
// and file names that stay inside the working folder.
inline const char* const* knownWords(size_t& count) {
  static const char* const kWords[] = {
      "",        "si",        "co",      "ta",     "ex",     "as",    "ac",     "at",
      "ln",      "lo",        "sq",      "sg",     "ro",     "fl",    "ce",     "ab",
      "sin",     "max",       "min",     "mav",    "miv",    "xav",   "xiv",    "float",
      "integer", "ascii",     "ASCII",   "binary", "forward", "backward", "trapezoidal", "fo",
      "ba",      "tr",        "out.txt", "nodir/out.txt", "a-name-longer-than-thirty-one-characters.dat",
      "%s%n%d",  "x",         "\xff\x80"};
  count = sizeof kWords / sizeof kWords[0];
  return kWords;
}

// A text: a known word, or up to 15 printable characters. '/' never occurs in
// a made-up text, so a file the file writer creates stays in the working
// folder.
inline std::string text(Reader& r) {
  uint8_t b = r.byte();
  if (b < 0x80) {
    size_t count;
    const char* const* words = knownWords(count);
    return words[b % count];
  }
  std::string s;
  for (int n = b & 0x0f; n > 0; --n) {
    char c = static_cast<char>(0x20 + r.byte() % 0x5f);
    s += c == '/' ? '_' : c;
  }
  return s;
}

// A host parameter array. Kind byte (low two bits): 0 a real double matrix,
// 1 a character array, 2 a complex double matrix, 3 a matrix of another class
// (logical, int32, single, uint8). Rows and columns take one byte each (0 ...
// 63, at most 1024 elements in all); each element one value.
inline axArray* parameter(Reader& r) {
  uint8_t kind = r.byte();
  if ((kind & 3) == 1) return axCreateCharArray(text(r).c_str());
  int m = r.byte() & 0x3f;
  int n = r.byte() & 0x3f;
  while (m * n > 1024) n /= 2;
  axArray* a;
  if ((kind & 3) == 3) {
    static const int kClasses[4] = {axUINT8_CLASS, axINT32_CLASS, axSINGLE_CLASS, axUINT8_CLASS};
    int c = (kind >> 2) & 3;
    a = axCreateClassMatrix(m, n, kClasses[c], c == 0);
  } else {
    a = axCreateDoubleMatrix(m, n, (kind & 3) == 2 ? 1 : 0);
  }
  double* pr = axGetPr(a);
  for (int i = 0; i < m * n; ++i) pr[i] = r.value();
  return a;
}

}  // namespace fuzz

#endif
