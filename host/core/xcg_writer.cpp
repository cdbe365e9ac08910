#include "xcg_writer.h"

#include <math.h>
#include <string.h>

#include <charconv>

#include "instance.h"

namespace blocksim {

namespace {

const int32_t kComplexBit = 0x10000;
// Indentation stops growing here; deeper records are still written.
const int kMaxDepth = 32;

const char* const kTypeNames[] = {"double", "single", "int8",   "uint8",  "int16",
                                  "uint16", "int32",  "uint32", "boolean"};
const size_t kTypeSizes[] = {8, 4, 1, 1, 2, 2, 4, 4, 1};
const int32_t kTypeCount = 9;

// Backslash escapes for backslashes, control characters and (in a quoted
// text) double quotes, so that every call stays on its own line.
void appendEscaped(std::string& out, const char* text, bool quoted) {
  if (quoted) out += '"';
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    const unsigned char c = *p;
    if (c == '\\') {
      out += "\\\\";
    } else if (quoted && c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (quoted) out += '"';
}

void appendFloat(std::string& out, float v) {
  if (isnan(v)) {
    out += "nan";
    return;
  }
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

// Element k of an array of the known base data type.
void appendElement(std::string& out, int32_t baseType, const void* data, int64_t k) {
  const unsigned char* p =
      static_cast<const unsigned char*>(data) + static_cast<size_t>(k) * kTypeSizes[baseType];
  switch (baseType) {
    case 0: { double v; memcpy(&v, p, sizeof v); appendNumber(out, v); break; }
    case 1: { float v; memcpy(&v, p, sizeof v); appendFloat(out, v); break; }
    case 2: { int8_t v; memcpy(&v, p, sizeof v); out += std::to_string(v); break; }
    case 3: { uint8_t v; memcpy(&v, p, sizeof v); out += std::to_string(v); break; }
    case 4: { int16_t v; memcpy(&v, p, sizeof v); out += std::to_string(v); break; }
    case 5: { uint16_t v; memcpy(&v, p, sizeof v); out += std::to_string(v); break; }
    case 6: { int32_t v; memcpy(&v, p, sizeof v); out += std::to_string(v); break; }
    case 7: { uint32_t v; memcpy(&v, p, sizeof v); out += std::to_string(v); break; }
    default: out += *p != 0 ? "true" : "false"; break;
  }
}

void appendComplex(std::string& out, int32_t baseType, const void* re, int64_t kr, const void* im,
                   int64_t ki) {
  appendElement(out, baseType, re, kr);
  std::string imag;
  appendElement(imag, baseType, im, ki);
  if (imag[0] != '-') out += '+';
  out += imag;
  out += 'i';
}

// The data type's name, and its base type (-1 when unknown).
int32_t describeType(std::string& out, int32_t dataTypeId) {
  const bool complex = dataTypeId >= 0 && (dataTypeId & kComplexBit) != 0;
  const int32_t base = complex ? dataTypeId & ~kComplexBit : dataTypeId;
  if (base < 0 || base >= kTypeCount) {
    out += "data type " + std::to_string(dataTypeId);
    return -1;
  }
  if (complex) out += "complex ";
  out += kTypeNames[base];
  return base;
}

// " = VALUES" of a name-value pair or parameter; false when a value that
// must be read is missing.
bool appendValues(std::string& out, int32_t valueType, const void* value, int32_t baseType,
                  bool complex, int32_t rows, int32_t cols) {
  const int64_t count = static_cast<int64_t>(rows) * cols;
  if (valueType == 0 || valueType == 1) {
    if (value == nullptr) return false;
    out += " = ";
    appendEscaped(out, static_cast<const char*>(value), true);
    return true;
  }
  if (count == 0) {
    out += " = []";
    return true;
  }
  if (value == nullptr) return false;
  if (baseType < 0 && valueType != 2) {
    out += " = ?";
    return true;
  }
  const void* re = value;
  const void* im = nullptr;
  if (valueType == 9 || valueType == 10) {
    const void* const* parts = static_cast<const void* const*>(value);
    re = parts[0];
    im = complex ? parts[1] : nullptr;
    if (re == nullptr || (complex && im == nullptr)) return false;
  }
  const bool bare = (valueType == 3 || valueType == 6) && count == 1;
  out += bare ? " = " : " = [";
  for (int32_t i = 0; i < rows; ++i) {
    if (i > 0) out += "; ";
    for (int32_t j = 0; j < cols; ++j) {
      if (j > 0) out += ' ';
      const int64_t k = i + static_cast<int64_t>(rows) * j;
      if (valueType == 2) {
        const char* text = static_cast<const char* const*>(value)[k];
        if (text != nullptr)
          appendEscaped(out, text, true);
        else
          out += "null";
      } else if (valueType == 9 || valueType == 10) {
        if (im != nullptr)
          appendComplex(out, baseType, re, k, im, k);
        else
          appendElement(out, baseType, re, k);
      } else if (complex) {
        appendComplex(out, baseType, value, 2 * k, value, 2 * k + 1);
      } else {
        appendElement(out, baseType, value, k);
      }
    }
  }
  if (!bare) out += ']';
  return true;
}

// NAME [type T, DATA TYPE, RxC<extra>] = VALUES
bool formatLine(std::string& out, int32_t valueType, const char* name, const char* text,
                const void* value, int32_t dataTypeId, int32_t rows, int32_t cols) {
  if (name == nullptr || valueType < 0 || valueType > 10 || rows < 0 || cols < 0) return false;
  std::string line;
  appendEscaped(line, name, false);
  line += " [type " + std::to_string(valueType) + ", ";
  int32_t base = -1;
  if (valueType == 0 || valueType == 1) {
    line += "text";
  } else {
    if (valueType == 2)
      line += "texts";
    else
      base = describeType(line, dataTypeId);
    line += ", " + std::to_string(rows) + "x" + std::to_string(cols);
  }
  if (text != nullptr) {
    line += ", text ";
    appendEscaped(line, text, true);
  }
  line += ']';
  const bool complex = base >= 0 && (dataTypeId & kComplexBit) != 0;
  if (!appendValues(line, valueType, value, base, complex, rows, cols)) return false;
  out += line;
  return true;
}

int32_t writeLine(XcgWriter* w, const std::string& line, int depth) {
  std::string out(static_cast<size_t>(depth) * 2, ' ');
  out += line;
  out += '\n';
  if (fwrite(out.data(), 1, out.size(), w->file) != out.size()) return 0;
  return 1;
}

XcgWriter* writerOf(void* writerCtx) {
  XcgWriter* w = static_cast<XcgWriter*>(writerCtx);
  return w != nullptr && w->file != nullptr ? w : nullptr;
}

}  // namespace

void attachXcgWriter(::SimInfo& si, XcgWriter* writer) {
  si.WriteRecordFn = &xcgWriteRecord;
  si.WriteNameValueFn = &xcgWriteNameValue;
  si.WriteParameterFn = &xcgWriteParameter;
  si.WriterCtx = writer;
}

bool formatXcgNameValue(std::string& out, int32_t valueType, const char* name, const void* value,
                        int32_t dataTypeId, int32_t rows, int32_t cols) {
  return formatLine(out, valueType, name, nullptr, value, dataTypeId, rows, cols);
}

bool formatXcgParameter(std::string& out, int32_t valueType, const char* name, const char* text,
                        const void* value, int32_t dataTypeId, int32_t rows, int32_t cols) {
  std::string line = "parameter ";
  // A parameter without a text shows an empty one.
  if (!formatLine(line, valueType, name, text != nullptr ? text : "", value, dataTypeId, rows, cols))
    return false;
  out += line;
  return true;
}

int32_t xcgWriteRecord(void* writerCtx, const char* text) {
  XcgWriter* w = writerOf(writerCtx);
  if (w == nullptr || text == nullptr) return 0;
  if (text[0] == '}' && w->depth > 0) --w->depth;
  std::string line;
  appendEscaped(line, text, false);
  const int32_t result = writeLine(w, line, w->depth < kMaxDepth ? w->depth : kMaxDepth);
  const size_t len = strlen(text);
  if (result == 1 && len > 0 && text[len - 1] == '{' && w->depth < INT32_MAX) ++w->depth;
  return result;
}

int32_t xcgWriteNameValue(void* writerCtx, int32_t valueType, const char* name, const void* value,
                          int32_t dataTypeId, int32_t rows, int32_t cols) {
  XcgWriter* w = writerOf(writerCtx);
  std::string line;
  if (w == nullptr || !formatXcgNameValue(line, valueType, name, value, dataTypeId, rows, cols)) return 0;
  return writeLine(w, line, w->depth < kMaxDepth ? w->depth : kMaxDepth);
}

int32_t xcgWriteParameter(void* writerCtx, int32_t valueType, const char* name, const char* text,
                          const void* value, int32_t dataTypeId, int32_t rows, int32_t cols) {
  XcgWriter* w = writerOf(writerCtx);
  std::string line;
  if (w == nullptr || !formatXcgParameter(line, valueType, name, text, value, dataTypeId, rows, cols))
    return 0;
  return writeLine(w, line, w->depth < kMaxDepth ? w->depth : kMaxDepth);
}

}  // namespace blocksim
