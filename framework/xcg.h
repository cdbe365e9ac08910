// Framework services for block code: writing a block's settings into the
// host's code-generation file (the ".xcg file") as records and name-value
// pairs, showing a warning with the block's path, and mapping a host array's
// class to a block data-type id.
//
// The writers do not format the file themselves: each record line,
// name-value pair and parameter goes to the host function in SimInfo
// (WriteRecordFn, WriteNameValueFn, WriteParameterFn, called with WriterCtx
// first). A host function returns 1 for success; any other result is passed
// back unchanged and ends a writer of several records early. Every failure of
// the framework's own checks stores its message in RootContext->ErrorStatus
// and returns 0; none of these services calls plgErrMsgTxt.
//
// Value types (SSWRITE_VALUE_type), 0 to 10, and what the value points at:
//   0, 1  a text (the value is the const char* itself)
//   2     rows texts (the value is a const char* const*)
//   3-8   rows x columns elements of the data type, column by column; with the
//         complex bit set, real and imaginary part of each element in turn
//   9, 10 a pair of pointers (real part, imaginary part), each to rows x
//         columns elements; the imaginary part is used when the data-type id
//         has the complex bit
// Types 5, 8 and 10 are matrices; 9 and 10 are complex.
//
// Variable arguments are read with the promoted types: every count, rows,
// columns and data-type id as int (int32_t), every value, real part or
// imaginary part as const void* (pass other pointers cast to const void*),
// every name or text as const char*, and the number of type 3 in
// ssWriteXCGParamSettings as double (pass 2.0, not 2).
#ifndef KIVREL_XCG_H
#define KIVREL_XCG_H

#include <stdint.h>

#include "kivrel.h"

// Data-type ids of ClassIdToDataTypeId and of the writers.
enum {
  XcgDouble = 0,
  XcgSingle = 1,
  XcgInt8 = 2,
  XcgUint8 = 3,
  XcgInt16 = 4,
  XcgUint16 = 5,
  XcgInt32 = 6,
  XcgUint32 = 7,
  XcgBoolean = 8,
  XcgInvalidDataType = -10,
};
// Set in a data-type id whose values are complex.
const int32_t XcgComplexBit = 0x10000;

// WriteRecordFn(WriterCtx, text).
int ssWriteXCGRecordLine(BlockContext* S, const char* text);

// One name-value pair. Trailing arguments by value type:
//   0, 1   none                              (data type 0, 1 x 1)
//   2      rows                              (data type 0, rows x 1)
//   3, 6   data-type id                      (1 x 1)
//   4, 7   data-type id, rows                (rows x 1)
//   5, 8   data-type id, rows, columns
//   9      data-type id, rows                (rows x 1, complex)
//   10     data-type id, rows, columns       (complex)
// Returns the host's result, or 0 after an error.
int ssWriteXCGNameValuePair(BlockContext* S, int valueType, const char* name, const void* value, ...);

// The pair (real, imag) written as type 9 (rows x 1) or type 10.
int ssWriteXCGComplexVector(BlockContext* S, const char* name, const void* real, const void* imag,
                            int dataTypeId, int rows);
int ssWriteXCGComplexMatrix(BlockContext* S, const char* name, const void* real, const void* imag,
                            int dataTypeId, int rows, int cols);

// count parameters, each given as value type, name, text, then by type:
//   4   value, rows                           (data type 0)
//   5   value, rows, columns                  (data type 0)
//   7   value, rows, data-type id
//   8   value, rows, columns, data-type id
//   9   real part, imaginary part, rows, data-type id
//   10  real part, imaginary part, rows, columns, data-type id
// Types without columns are written with 1 column, or 0 when rows is 0.
// Returns 1 for a count of 0 or less, else the last host result; a host
// result of 0 ends the call.
int ssWriteXCGParameters(BlockContext* S, int count, ...);

// The record "SFcnParamSettings {", count name-value pairs, and "}". Each
// entry is value type and name, then by type:
//   0, 1  value
//   2     value, rows
//   3     a double (written through a copy, data type 0)
//   4     value, rows                         (data type 0)
//   5     value, rows, columns                (data type 0)
//   6     value, data-type id
//   7     value, rows, data-type id
//   8     value, rows, columns, data-type id
//   9     real part, imaginary part, rows, data-type id
//   10    real part, imaginary part, rows, columns, data-type id
// Returns 0 without writing for a count of 0 or less.
int ssWriteXCGParamSettings(BlockContext* S, int count, ...);

// The defines of a work vector ("RWork", "IWork" or "PWork"): count pairs of
// name (const char*) and width (int). Fails after writing all defines when
// the widths do not add up to the vector's size in SizesVector.
int ssWriteXCGWorkVect(BlockContext* S, const char* vectName, int count, ...);

// Shows message as a warning, as "block '<BlockPath>': <message>" when the
// block has a path.
void BlockWarning(BlockContext* S, const char* message);

// The data-type id of a host array's class (XcgInvalidDataType when none).
int ClassIdToDataTypeId(const axArray* a);

#endif
