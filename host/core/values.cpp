#include "values_toml.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

namespace blocksim {

namespace {

bool numberOf(const toml::node& n, double& out) {
  if (auto i = n.as_integer()) {
    out = static_cast<double>(i->get());
    return true;
  }
  if (auto f = n.as_floating_point()) {
    out = f->get();
    return true;
  }
  return false;
}

struct ClassName {
  const char* name;
  int id;
  bool logical;
};
const ClassName kClasses[] = {{"double", axDOUBLE_CLASS, false}, {"single", axSINGLE_CLASS, false},
                              {"int8", axINT8_CLASS, false},     {"uint8", axUINT8_CLASS, false},
                              {"int16", axINT16_CLASS, false},   {"uint16", axUINT16_CLASS, false},
                              {"int32", axINT32_CLASS, false},   {"uint32", axUINT32_CLASS, false},
                              {"logical", axUINT8_CLASS, true},  {"char", axCHAR_CLASS, false}};

// { rows = R, cols = C, data = [...] (column by column), imag = [...],
//   class = "int8" }
axArray* fromTable(const toml::table& t, std::string& err) {
  for (auto&& [key, value] : t) {
    (void)value;
    std::string k(key.str());
    if (k != "rows" && k != "cols" && k != "data" && k != "imag" && k != "class") {
      err = "unknown key '" + k + "' in an array table (rows, cols, data, imag, class)";
      return nullptr;
    }
  }
  auto rows = t["rows"].value<int64_t>();
  auto cols = t["cols"].value<int64_t>();
  if (!rows || !cols || *rows < 0 || *cols < 0 || *rows > (1 << 20) || *cols > (1 << 20) ||
      *rows * *cols > (1 << 22)) {
    err = "an array table needs rows and cols between 0 and 2^20 (at most 2^22 elements)";
    return nullptr;
  }
  size_t count = static_cast<size_t>(*rows * *cols);
  std::vector<double> re(count, 0.0), im;
  auto fill = [&](const char* key, std::vector<double>& into) -> bool {
    const toml::array* arr = t[key].as_array();
    if (arr == nullptr) {
      if (t.contains(key)) {
        err = std::string(key) + " must be an array of numbers";
        return false;
      }
      return true;
    }
    if (arr->size() != count) {
      err = std::string(key) + " has " + std::to_string(arr->size()) + " numbers, rows*cols is " +
            std::to_string(count);
      return false;
    }
    into.assign(count, 0.0);
    for (size_t i = 0; i < count; ++i) {
      if (!numberOf(*arr->get(i), into[i])) {
        err = std::string(key) + " must hold numbers only";
        return false;
      }
    }
    return true;
  };
  if (!fill("data", re) || !fill("imag", im)) return nullptr;
  int classId = axDOUBLE_CLASS;
  bool logical = false;
  if (auto cls = t["class"].value<std::string>()) {
    bool found = false;
    for (const ClassName& c : kClasses) {
      if (*cls == c.name) {
        classId = c.id;
        logical = c.logical;
        found = true;
      }
    }
    if (!found) {
      err = "unknown class '" + *cls + "'";
      return nullptr;
    }
  }
  if (!im.empty() && classId != axDOUBLE_CLASS) {
    err = "only double arrays can have an imaginary part";
    return nullptr;
  }
  int m = static_cast<int>(*rows), n = static_cast<int>(*cols);
  axArray* a = im.empty() ? axCreateClassMatrix(m, n, classId, logical) : axCreateDoubleMatrix(m, n, 1);
  for (size_t i = 0; i < count; ++i) axGetPr(a)[i] = re[i];
  for (size_t i = 0; i < im.size(); ++i) axGetPi(a)[i] = im[i];
  return a;
}

axArray* fromArray(const toml::array& arr, std::string& err) {
  if (arr.empty()) return axCreateDoubleMatrix(0, 0, 0);
  if (arr.get(0)->is_array()) {
    // A matrix, row by row.
    size_t rows = arr.size();
    size_t cols = arr.get(0)->as_array()->size();
    if (rows * cols > (1u << 22)) {
      err = "matrix too large";
      return nullptr;
    }
    std::vector<double> v(rows * cols);
    for (size_t r = 0; r < rows; ++r) {
      const toml::array* row = arr.get(r)->as_array();
      if (row == nullptr || row->size() != cols) {
        err = "every row of a matrix must be an array of the same length";
        return nullptr;
      }
      for (size_t c = 0; c < cols; ++c) {
        if (!numberOf(*row->get(c), v[r + rows * c])) {
          err = "a matrix must hold numbers only";
          return nullptr;
        }
      }
    }
    if (cols == 0) return axCreateDoubleMatrix(static_cast<int>(rows), 0, 0);
    axArray* a = axCreateDoubleMatrix(static_cast<int>(rows), static_cast<int>(cols), 0);
    memcpy(axGetPr(a), v.data(), v.size() * sizeof(double));
    return a;
  }
  if (arr.size() > (1u << 22)) {
    err = "array too large";
    return nullptr;
  }
  axArray* a = axCreateDoubleMatrix(1, static_cast<int>(arr.size()), 0);
  for (size_t i = 0; i < arr.size(); ++i) {
    if (!numberOf(*arr.get(i), axGetPr(a)[i])) {
      axDestroyArray(a);
      err = "an array must hold numbers only (or arrays of numbers for a matrix)";
      return nullptr;
    }
  }
  return a;
}

}  // namespace

axArray* arrayFromToml(const toml::node& value, std::string& err) {
  double d;
  if (numberOf(value, d)) {
    axArray* a = axCreateDoubleMatrix(1, 1, 0);
    axGetPr(a)[0] = d;
    return a;
  }
  if (auto s = value.as_string()) return axCreateCharArray(s->get().c_str());
  if (auto arr = value.as_array()) return fromArray(*arr, err);
  if (auto t = value.as_table()) return fromTable(*t, err);
  err = "a value must be a number, an array, a string or an inline table";
  return nullptr;
}

namespace {
bool parserRunning = false;
}  // namespace

toml::table parseToml(std::string_view text, std::string_view path) {
  struct Running {
    Running() {
      parserRunning = true;
      axHoldAllocationSwitch(true);
    }
    ~Running() {
      axHoldAllocationSwitch(false);
      parserRunning = false;
    }
  } running;
  // No byte outside ASCII reaches the parser: where it would classify one
  // (asking whether it is blank) it runs into __builtin_unreachable() for
  // many of them. Written as an escape, a character keeps its meaning in a
  // double-quoted string; anywhere else the guard above refuses it before.
  return toml::parse(escapeNonAscii(std::string(text)), path);
}

bool tomlParserRunning() { return parserRunning; }

uint64_t tomlValueBytes(const toml::node& value) {
  if (value.is_number()) return arrayBytes(1);
  if (auto s = value.as_string()) return arrayBytes(s->get().size());
  if (auto arr = value.as_array()) {
    if (!arr->empty() && arr->get(0)->is_array()) return arrayBytes(uint64_t(arr->size()) * arr->get(0)->as_array()->size());
    return arrayBytes(arr->size());
  }
  if (auto t = value.as_table()) {
    auto rows = (*t)["rows"].value<int64_t>();
    auto cols = (*t)["cols"].value<int64_t>();
    // Shapes the reader refuses anyway count as empty.
    if (!rows || !cols || *rows < 0 || *cols < 0 || *rows > (1 << 20) || *cols > (1 << 20)) return arrayBytes(0);
    return arrayBytes(static_cast<uint64_t>(*rows) * static_cast<uint64_t>(*cols), t->contains("imag"));
  }
  return arrayBytes(0);
}

namespace {

// The length of the UTF-8 sequence at text[i] and its code point; 0 when
// the bytes there are no valid sequence.
size_t utf8Sequence(const std::string& text, size_t i, uint32_t& cp) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  cp = n == 1 ? c : c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(text[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

const char kTomlTextRefused[] =
    "a character other than ASCII (or not UTF-8) outside a double-quoted string or a comment, or right after a "
    "backslash";

bool tomlTextIsSafe(const std::string& text, size_t& offset) {
  enum { Plain, Comment, Basic, Literal, MultiBasic, MultiLiteral } state = Plain;
  // The whole run of quotes that closes a multi-line string (up to two of
  // them may belong to the string).
  auto closeRun = [&](size_t& i, char q) {
    while (i + 1 < text.size() && text[i + 1] == q) ++i;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // Only in a double-quoted string or a comment, as valid UTF-8, and not
      // right after a backslash (checked at the backslash below).
      uint32_t cp;
      const size_t n = utf8Sequence(text, i, cp);
      if (n == 0 || (state != Comment && state != Basic && state != MultiBasic)) {
        offset = i;
        return false;
      }
      i += n - 1;
      continue;
    }
    switch (state) {
      case Plain:
        if (c == '#') {
          state = Comment;
        } else if (c == '"' || c == '\'') {
          if (text.compare(i, 3, std::string(3, static_cast<char>(c))) == 0) {
            state = c == '"' ? MultiBasic : MultiLiteral;
            i += 2;
          } else {
            state = c == '"' ? Basic : Literal;
          }
        }
        break;
      case Comment:
        if (c == '\n') state = Plain;
        break;
      case Basic:
      case MultiBasic:
        if (c == '\\') {
          // An escape takes the next character with it (so that \" does not
          // close the string); one outside ASCII is no escape.
          if (i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            offset = i + 1;
            return false;
          }
          ++i;
        } else if (state == Basic ? (c == '"' || c == '\n') : text.compare(i, 3, "\"\"\"") == 0) {
          if (state == MultiBasic) closeRun(i, '"');
          state = Plain;
        }
        break;
      case Literal:
        if (c == '\'' || c == '\n') state = Plain;
        break;
      case MultiLiteral:
        if (text.compare(i, 3, "\'\'\'") == 0) {
          closeRun(i, '\'');
          state = Plain;
        }
        break;
    }
  }
  return true;
}

std::string escapeNonAscii(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp;
    const size_t n = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : utf8Sequence(text, i, cp);
    if (n == 1) {
      out += text[i];
      continue;
    }
    char buf[16];
    if (n == 0)
      snprintf(buf, sizeof buf, "\\uFFFD");  // no valid character: the parser refuses or reads U+FFFD
    else
      snprintf(buf, sizeof buf, cp < 0x10000 ? "\\u%04X" : "\\U%08X", static_cast<unsigned>(cp));
    out += buf;
    if (n > 1) i += n - 1;
  }
  return out;
}

axArray* arrayFromText(const std::string& text, std::string& err, MemoryBudget* budget) {
  size_t offset;
  if (!tomlTextIsSafe(text, offset)) {
    err = "bad value '" + text + "': " + kTomlTextRefused;
    return nullptr;
  }
  toml::table doc;
  try {
    doc = parseToml("v = " + text);
  } catch (const toml::parse_error& e) {
    err = "bad value '" + text + "': " + std::string(e.description());
    return nullptr;
  }
  const toml::node* v = doc.get("v");
  if (v == nullptr) {
    err = "bad value '" + text + "'";
    return nullptr;
  }
  const uint64_t bytes = tomlValueBytes(*v);
  if (budget != nullptr && !budget->take(bytes)) {
    err = "the value needs " + MemoryBudget::mebibytes(bytes) + " MiB, more than is left of " + budget->describe();
    return nullptr;
  }
  axArray* a = arrayFromToml(*v, err);
  if (a == nullptr && budget != nullptr) budget->give(bytes);
  return a;
}

bool readLine(std::istream& in, std::string& line, size_t maxBytes, bool& tooLong) {
  line.clear();
  tooLong = false;
  std::streambuf* buf = in.rdbuf();
  bool any = false;
  for (;;) {
    const int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      if (!any) in.setstate(std::ios::eofbit | std::ios::failbit);
      return any;
    }
    any = true;
    if (c == '\n') return true;
    if (line.size() >= maxBytes) {
      tooLong = true;
      return true;
    }
    line += static_cast<char>(c);
  }
}

bool parseNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  const char* s = text.c_str();
  char* end = nullptr;
  out = strtod(s, &end);
  return end == s + text.size();
}

}  // namespace blocksim
