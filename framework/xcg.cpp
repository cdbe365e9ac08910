// Code-generation record writer, block warnings and data-type ids: services
// compiled into every plug-in for block code to call. The host formats the
// .xcg file; these routines check the arguments, decode the variable argument
// lists by value type and supply the fixed record texts.
#include "xcg.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int kLastValueType = 10;

// A SimInfo without a writer function (a context the plug-in made for a
// command-line call has none) is refused rather than called through null.
const char kNoWriter[] = "The host supplies no .xcg file writer";

const char kPairBadType[] = "Invalid SSWRITE_VALUE_type passed to ssWriteXCGNameValuePair";
const char kPairBadName[] = "Invalid name passed to ssWriteXCGNameValuePair";
const char kPairBadSize[] = "Invalid number of rows or columns passed to ssWriteXCGNameValuePair";
const char kPairBadValue[] = "Invalid value (NULL) passed to ssWriteXCGNameValuePair";
const char kParamsBadType[] = "Invalid SSWRITE_VALUE_type passed to ssWriteXCGParameters";
const char kParamsBadArgs[] = "Invalid arguments passed to ssWriteXCGParameters";
const char kSettingsBadType[] = "Invalid SSWRITE_VALUE_type passed to ssWriteXCGParamSettings";
const char kWorkBadName[] =
    "Invalid work vector name (vectName) passed to ssWriteXCGWorkVect (must be RWork, IWork, or PWork";
const char kWorkBadCount[] = "nNames argument to ssWriteXCGWorkVect must be greater than 0";
const char kWorkMismatchFmt[] =
    "Error in ssWriteXCGWorkVect.  The total number of %sDefines written to the .xcg file (= %d), "
    "should be equal to number of %s (= %d), registered in mdlInitializeSizes";

// Size of the local buffer that holds "Num<vectName>Defines".
const size_t kWorkNameSize = 40;
// Room for the mismatch text: the format plus two five-letter vector names
// and two ints of at most 11 characters each.
const size_t kWorkMismatchSize = sizeof kWorkMismatchFmt + 2 * 5 + 2 * 11;

// The mismatch text of the last failing ssWriteXCGWorkVect; ErrorStatus
// points here until the next such failure.
char workMismatchText[kWorkMismatchSize];

int fail(BlockContext* S, const char* msg) {
  setErrorStatus(S, msg);
  return 0;
}

bool isValueType(int valueType) { return valueType >= 0 && valueType <= kLastValueType; }
bool isMatrixType(int valueType) { return valueType == 5 || valueType == 8 || valueType == 10; }
bool isComplexType(int valueType) { return valueType == 9 || valueType == 10; }

int writeRecord(BlockContext* S, const char* text) {
  const SimInfo* si = S->SimInfo;
  if (si == nullptr || si->WriteRecordFn == nullptr) return fail(S, kNoWriter);
  return si->WriteRecordFn(si->WriterCtx, text);
}

// Checks and writes one name-value pair whose value type is already known to
// be valid and whose trailing arguments are decoded.
int writePair(BlockContext* S, int valueType, const char* name, const void* value, int dataTypeId,
              int rows, int cols) {
  if (name == nullptr || name[0] == '\0') return fail(S, kPairBadName);
  if (rows < 0 || cols < 0) return fail(S, kPairBadSize);
  // A matrix is empty with both rows and columns 0, never with one of them.
  if (isMatrixType(valueType) && (rows == 0) != (cols == 0)) return fail(S, kPairBadSize);
  // An empty value is written without looking at it.
  if (rows != 0) {
    if (isComplexType(valueType)) {
      // The value points at the pair (real part, imaginary part); a null pair
      // is refused before it is read.
      if (value == nullptr) return fail(S, kPairBadValue);
      const void* const* parts = static_cast<const void* const*>(value);
      if (parts[0] == nullptr) return fail(S, kPairBadValue);
      if ((dataTypeId & XcgComplexBit) != 0 && parts[1] == nullptr) return fail(S, kPairBadValue);
    } else if (value == nullptr) {
      return fail(S, kPairBadValue);
    }
  }
  const SimInfo* si = S->SimInfo;
  if (si == nullptr || si->WriteNameValueFn == nullptr) return fail(S, kNoWriter);
  return si->WriteNameValueFn(si->WriterCtx, valueType, name, value, dataTypeId, rows, cols);
}

// The type-6 int32 pair the work-vector writer uses for its counts.
int writeInt(BlockContext* S, const char* name, const int32_t* value) {
  return writePair(S, 6, name, value, XcgInt32, 1, 1);
}

// The arguments of the value types 4, 5 and 7 to 10, which
// ssWriteXCGParameters and ssWriteXCGParamSettings take alike: the value (or
// the real and imaginary parts), rows, columns for a matrix type, and from
// type 7 on a data-type id. The columns of a type without them are left to
// the caller.
struct TypedValue {
  const void* parts[2] = {nullptr, nullptr};  // the value, or the real and imaginary parts
  int rows = 0, cols = 0, dataTypeId = 0;
  // What the host's writer is given: the value itself, or the pair of parts.
  const void* value(int valueType) const { return isComplexType(valueType) ? parts : parts[0]; }
};

bool isTypedValue(int valueType) { return valueType == 4 || valueType == 5 || (valueType >= 7 && valueType <= 10); }

void readTypedValue(int valueType, va_list* ap, TypedValue& v) {
  v.parts[0] = va_arg(*ap, const void*);
  if (isComplexType(valueType)) v.parts[1] = va_arg(*ap, const void*);
  v.rows = va_arg(*ap, int);
  if (isMatrixType(valueType)) v.cols = va_arg(*ap, int);
  if (valueType >= 7) v.dataTypeId = va_arg(*ap, int);
}

}  // namespace

int ssWriteXCGRecordLine(BlockContext* S, const char* text) { return writeRecord(S, text); }

int ssWriteXCGNameValuePair(BlockContext* S, int valueType, const char* name, const void* value, ...) {
  // Negative types are no more valid than those above 10: neither has an
  // argument layout to decode.
  if (!isValueType(valueType)) return fail(S, kPairBadType);
  int dataTypeId = 0, rows = 1, cols = 1;
  va_list ap;
  va_start(ap, value);
  switch (valueType) {
    case 0:
    case 1: break;
    case 2: rows = va_arg(ap, int); break;
    case 3:
    case 6: dataTypeId = va_arg(ap, int); break;
    case 4:
    case 7:
    case 9:
      dataTypeId = va_arg(ap, int);
      rows = va_arg(ap, int);
      break;
    default:  // 5, 8, 10
      dataTypeId = va_arg(ap, int);
      rows = va_arg(ap, int);
      cols = va_arg(ap, int);
      break;
  }
  va_end(ap);
  return writePair(S, valueType, name, value, dataTypeId, rows, cols);
}

int ssWriteXCGComplexVector(BlockContext* S, const char* name, const void* real, const void* imag,
                            int dataTypeId, int rows) {
  const void* parts[2] = {real, imag};
  return writePair(S, 9, name, parts, dataTypeId, rows, 1);
}

int ssWriteXCGComplexMatrix(BlockContext* S, const char* name, const void* real, const void* imag,
                            int dataTypeId, int rows, int cols) {
  const void* parts[2] = {real, imag};
  return writePair(S, 10, name, parts, dataTypeId, rows, cols);
}

int ssWriteXCGParameters(BlockContext* S, int count, ...) {
  int result = 1;
  va_list ap;
  va_start(ap, count);
  for (int i = 0; i < count; ++i) {
    const int valueType = va_arg(ap, int);
    const char* name = va_arg(ap, const char*);
    const char* text = va_arg(ap, const char*);
    if (!isTypedValue(valueType)) {
      va_end(ap);
      return fail(S, kParamsBadType);
    }
    TypedValue v;
    readTypedValue(valueType, &ap, v);
    const void* const value = v.value(valueType);
    const int rows = v.rows, dataTypeId = v.dataTypeId;
    int cols = v.cols;
    // A type without columns has one, or none when it has no rows.
    if (!isMatrixType(valueType)) cols = rows != 0 ? 1 : 0;
    // The value that must be present: the real part of a complex pair, and
    // its imaginary part too when the data type is complex, as for a
    // name-value pair (the host would read it).
    bool missing = value == nullptr;
    if (isComplexType(valueType))
      missing = v.parts[0] == nullptr || ((dataTypeId & XcgComplexBit) != 0 && v.parts[1] == nullptr);
    if (name == nullptr || name[0] == '\0' || (missing && rows != 0) || rows < 0 || cols < 0 ||
        (rows == 0) != (cols == 0)) {
      va_end(ap);
      return fail(S, kParamsBadArgs);
    }
    const SimInfo* si = S->SimInfo;
    if (si == nullptr || si->WriteParameterFn == nullptr) {
      va_end(ap);
      return fail(S, kNoWriter);
    }
    result = si->WriteParameterFn(si->WriterCtx, valueType, name, text, value, dataTypeId, rows, cols);
    if (result == 0) break;
  }
  va_end(ap);
  return result;
}

int ssWriteXCGParamSettings(BlockContext* S, int count, ...) {
  if (count <= 0) return 0;
  int result = writeRecord(S, "SFcnParamSettings {");
  if (result != 1) return result;
  va_list ap;
  va_start(ap, count);
  for (int i = 0; i < count; ++i) {
    const int valueType = va_arg(ap, int);
    if (!isValueType(valueType)) {
      va_end(ap);
      return fail(S, kSettingsBadType);
    }
    const char* name = va_arg(ap, const char*);
    const void* value = nullptr;
    double number = 0.0;
    TypedValue v;
    int dataTypeId = 0, rows = 1, cols = 1;
    switch (valueType) {
      case 0:
      case 1: value = va_arg(ap, const void*); break;
      case 2:
        value = va_arg(ap, const void*);
        rows = va_arg(ap, int);
        break;
      case 3:
        number = va_arg(ap, double);
        value = &number;
        break;
      case 6:
        value = va_arg(ap, const void*);
        dataTypeId = va_arg(ap, int);
        break;
      default:  // 4, 5, 7 to 10; a type without columns has one
        readTypedValue(valueType, &ap, v);
        value = v.value(valueType);
        rows = v.rows;
        cols = isMatrixType(valueType) ? v.cols : 1;
        dataTypeId = v.dataTypeId;
        break;
    }
    result = writePair(S, valueType, name, value, dataTypeId, rows, cols);
    if (result != 1) {
      va_end(ap);
      return result;
    }
  }
  va_end(ap);
  return writeRecord(S, "}");
}

int ssWriteXCGWorkVect(BlockContext* S, const char* vectName, int count, ...) {
  int sizeEntry = -1;
  if (vectName != nullptr && strlen(vectName) + 11 <= kWorkNameSize) {
    if (strcmp(vectName, "RWork") == 0) sizeEntry = NumRWork;
    if (strcmp(vectName, "IWork") == 0) sizeEntry = NumIWork;
    if (strcmp(vectName, "PWork") == 0) sizeEntry = NumPWork;
  }
  if (sizeEntry < 0) return fail(S, kWorkBadName);
  if (count <= 0) return fail(S, kWorkBadCount);
  const int32_t registered = S->SizesVector[sizeEntry];

  char text[kWorkNameSize];
  snprintf(text, sizeof text, "Num%sDefines", vectName);
  const int32_t defines = count;
  int result = writeInt(S, text, &defines);
  if (result != 1) return result;

  snprintf(text, sizeof text, "%sDefine {", vectName);
  va_list ap;
  va_start(ap, count);
  int32_t start = 0;
  for (int i = 0; i < count; ++i) {
    const char* name = va_arg(ap, const char*);
    const int32_t width = va_arg(ap, int);
    result = writeRecord(S, text);
    if (result == 1) result = writePair(S, 1, "Name", name, 0, 1, 1);
    if (result == 1) result = writeInt(S, "Width", &width);
    if (result == 1) result = writeInt(S, "StartIndex", &start);
    if (result == 1) result = writeRecord(S, "}");
    if (result != 1) {
      va_end(ap);
      return result;
    }
    // Start indices add up in 32 bits with wrap-around, as the host's int
    // arithmetic does; widths are written as given, negative ones included.
    start = static_cast<int32_t>(static_cast<uint32_t>(start) + static_cast<uint32_t>(width));
  }
  va_end(ap);

  if (start != registered) {
    snprintf(workMismatchText, sizeof workMismatchText, kWorkMismatchFmt, vectName, start, vectName,
             registered);
    return fail(S, workMismatchText);
  }
  return 1;
}

void BlockWarning(BlockContext* S, const char* message) {
  // A null message is shown as an empty one.
  const char* msg = message != nullptr ? message : "";
  if (S->BlockPath != nullptr) {
    const size_t size = strlen(S->BlockPath) + strlen(msg) + 16;
    char* text = static_cast<char*>(malloc(size));
    if (text != nullptr) {
      snprintf(text, size, "block '%s': %s", S->BlockPath, msg);
      plgWarnMsgTxt(text);
      free(text);
      return;
    }
  }
  plgWarnMsgTxt(msg);
}

int ClassIdToDataTypeId(const axArray* a) {
  // No array has no data type.
  if (a == nullptr) return XcgInvalidDataType;
  const int classId = axGetClassID(a);
  if (classId == axUINT8_CLASS && axIsLogical(a)) return XcgBoolean;
  if (classId >= axDOUBLE_CLASS && classId <= axUINT32_CLASS) return classId - axDOUBLE_CLASS;
  return XcgInvalidDataType;
}
