// The host's code-generation writer: the three functions a plug-in reaches
// through SimInfo (WriteRecordFn, WriteNameValueFn, WriteParameterFn) and the
// writer state passed to them as WriterCtx. They write a readable ".xcg" text
// file, one line per call:
//
//   a record        its text, indented two spaces per open record (a record
//                   ending in "{" opens one, a record starting with "}"
//                   closes one)
//   a name-value    NAME [type T, DATA TYPE, RxC] = VALUES
//   a parameter     parameter NAME [type T, DATA TYPE, RxC, text "TEXT"] = VALUES
//
// Texts (value types 0 and 1) are shown as [type T, text] and a quoted text.
// VALUES are "[a b; c d]" row by row (a scalar of type 3 or 6 without the
// brackets), complex elements as "1+2i", texts in double quotes with
// backslash escapes. Values of a data-type id the host does not know are not
// read and show as "?".
#ifndef BLOCKSIM_XCG_WRITER_H
#define BLOCKSIM_XCG_WRITER_H

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "record.h"

namespace blocksim {

// Writer state (WriterCtx): the open file and the number of open records.
struct XcgWriter {
  FILE* file = nullptr;
  int depth = 0;
};

// Installs the three writer functions and the writer in a SimInfo.
void attachXcgWriter(::SimInfo& si, XcgWriter* writer);

// The writer functions: 1 when the line was written; 0 when the arguments
// cannot be shown (a null text or name, negative rows or columns, a null
// value that would be read) or the file write failed.
int32_t xcgWriteRecord(void* writerCtx, const char* text);
int32_t xcgWriteNameValue(void* writerCtx, int32_t valueType, const char* name, const void* value,
                          int32_t dataTypeId, int32_t rows, int32_t cols);
int32_t xcgWriteParameter(void* writerCtx, int32_t valueType, const char* name, const char* text,
                          const void* value, int32_t dataTypeId, int32_t rows, int32_t cols);

// The line of a name-value pair or parameter, without indentation and line
// end. False (out unchanged) when the arguments cannot be shown.
bool formatXcgNameValue(std::string& out, int32_t valueType, const char* name, const void* value,
                        int32_t dataTypeId, int32_t rows, int32_t cols);
bool formatXcgParameter(std::string& out, int32_t valueType, const char* name, const char* text,
                        const void* value, int32_t dataTypeId, int32_t rows, int32_t cols);

}  // namespace blocksim

#endif
