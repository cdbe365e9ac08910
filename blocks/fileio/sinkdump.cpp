// sinkdump: writes the data part of its input (all elements but the last) to
// a file, one record at selected rising edges of the trigger (the last
// element). The record format is "float" or "integer" text lines, "ascii"
// bytes or raw "binary" doubles. The trigger pulse number [P] or [P Q] skips P
// edges between records and Q edges before the first. The file is created at
// the first record and closed at mdlTerminate; the output is always 0.0.
#include <stdio.h>
#include <string.h>

#include "kivrel.h"

namespace {

enum { FileNameParam = 0, DataTypeParam = 1, PulseParam = 2, ThresholdParam = 3 };
// IWork: whether the file was opened, the edges since the last record, and
// the trigger flag. PWork: the open file.
enum { OpenFlag = 0, EdgeCounter = 1, TriggerFlag = 2 };
const int32_t kFile = 0;

const int kFileNameSize = 32;  // at most 31 characters of the name are used
const int kDataTypeSize = 10;

// The file name as it is used to open the file; a name that is not a
// character array reads as the empty name, which cannot be opened.
void readFileName(BlockContext* S, char (&name)[kFileNameSize]) {
  memset(name, 0, sizeof name);
  axGetString(blockParam(S, FileNameParam), name, kFileNameSize);
}

// Closes the open file, if any, and forgets its handle, so that PWork never
// holds a handle that is no longer open. The open flag stays as it is: a call
// after a failure then reports the lost file instead of quietly starting it
// afresh. Returns false when the close failed, that is when buffered records
// could not be written.
bool closeFile(BlockContext* S) {
  FILE* f = static_cast<FILE*>(S->PWork[kFile]);
  S->PWork[kFile] = nullptr;
  return f == nullptr || fclose(f) == 0;
}

// Closes the file, then reports the message. The host stops the simulation
// after an error without necessarily terminating the block, so the file is
// closed here: its records so far reach it and its handle is not leaked.
[[noreturn]] void failClosing(BlockContext* S, const char* msg) {
  closeFile(S);
  blockError("%s", msg);
}

// Closes the file and reports a failed close as an error naming the file:
// records that never reached the file must not pass for a success. The name
// is read again from the parameter, which holds it for the whole run.
void closeReporting(BlockContext* S) {
  if (closeFile(S)) return;
  char name[kFileNameSize];
  readFileName(S, name);
  blockError("Error in closing the data file %s", name);
}

// Width of the input vector; the trigger is its last element, so it must have
// one.
int32_t inputWidth(BlockContext* S) {
  const int32_t w = S->SizesVector[NumInputs];
  if (w < 1) failClosing(S, "The input must have at least one element, the trigger.");
  return w;
}

// The threshold is not validated beyond having a first element to read.
double threshold(BlockContext* S) {
  const axArray* a = blockParam(S, ThresholdParam);
  if (axGetNumberOfElements(a) < 1) failClosing(S, "Threshold must not be empty.");
  return axGetPr(a)[0];
}

bool badPulseCount(const axArray* a) {
  const int32_t count = axGetNumberOfElements(a);
  return count > 2 || count <= 0;
}

// Writes one record of the data part u[0] ... u[w-2] in the given format.
void writeRecord(BlockContext* S, FILE* f, const char* type, const double* u, int32_t w) {
  const int32_t count = w - 1;
  if (strcmp(type, "float") == 0) {
    for (int32_t i = 0; i < count; ++i) fprintf(f, " %g", u[i]);
    fputc('\n', f);
  } else if (strcmp(type, "integer") == 0) {
    for (int32_t i = 0; i < count; ++i) fprintf(f, " %i", static_cast<int>(truncInt(u[i])));
    fputc('\n', f);
  } else if (strcmp(type, "ascii") == 0 || strcmp(type, "ASCII") == 0) {
    // One byte per nonzero element: the low 8 bits of its truncated value.
    for (int32_t i = 0; i < count; ++i)
      if (u[i] != 0.0) fputc(truncInt(u[i]) & 0xFF, f);
  } else if (strcmp(type, "binary") == 0) {
    // The doubles as held in memory (IEEE 754, little-endian on x86).
    if (count > 0) fwrite(u, sizeof(double) * static_cast<size_t>(count), 1, f);
  } else {
    failClosing(S, "Data type is not a legal string.");
  }
  // A write the stream could not complete (a full disk) is reported at once.
  if (ferror(f)) {
    char name[kFileNameSize];
    readFileName(S, name);
    closeFile(S);
    blockError("Error in writing the data file %s", name);
  }
}

// One rising edge of the trigger.
void risingEdge(BlockContext* S, const double* u, int32_t w) {
  char type[kDataTypeSize];
  memset(type, 0, sizeof type);
  if (axGetString(blockParam(S, DataTypeParam), type, kDataTypeSize) != 0)
    failClosing(S, "Error in Data Type specification.");
  // The pulse number is read again at every edge; one that lost its elements
  // during the run has nothing left to read.
  const axArray* pulse = blockParam(S, PulseParam);
  if (badPulseCount(pulse)) failClosing(S, "Dimension for trigger pulse number is incorrect.");
  const double* pr = axGetPr(pulse);

  int32_t* iw = S->IWork;
  // The edge counter saturates instead of overflowing.
  if (iw[EdgeCounter] < INT32_MAX) ++iw[EdgeCounter];

  if (iw[OpenFlag] != 0) {
    if (iw[EdgeCounter] <= truncInt(pr[0])) return;
    iw[EdgeCounter] = 0;
    FILE* f = static_cast<FILE*>(S->PWork[kFile]);
    if (f == nullptr) blockError("File point has lost.");
    writeRecord(S, f, type, u, w);
    return;
  }

  // The first record: at the first edge for [P], else at the first edge
  // whose number exceeds Q (compared as a double, unrounded).
  if (axGetNumberOfElements(pulse) != 1 && !(static_cast<double>(iw[EdgeCounter]) > pr[1])) return;
  char name[kFileNameSize];
  readFileName(S, name);
  FILE* f = fopen(name, "w");
  if (f == nullptr) blockError("Error in opening the data file %s", name);
  S->PWork[kFile] = f;
  writeRecord(S, f, type, u, w);
  iw[OpenFlag] = 1;
  iw[EdgeCounter] = 0;
}

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 4);
  const axArray* name = blockParam(S, FileNameParam);
  if (axGetM(name) > 1 && axGetN(name) > 1) blockError("Filename should be a string vector.");
  const axArray* type = blockParam(S, DataTypeParam);
  if (axGetM(type) > 1 && axGetN(type) > 1) blockError("Data Type should be a string vector.");
  if (badPulseCount(blockParam(S, PulseParam))) blockError("Dimension for trigger pulse number is incorrect.");
  if (axGetNumberOfElements(blockParam(S, ThresholdParam)) < 1) blockError("Threshold must not be empty.");
  setSizes(S, {.outputs = 1, .inputs = -1, .directFeedthrough = 1, .sampleTimes = 1, .params = 4, .iwork = 3,
               .pwork = 1});
}

// PWork[kFile] is null unless the block holds an open file (it is cleared at
// every close). A run initialised again while its file is still open closes
// that file first, so its handle is not lost and its records are kept; the
// new run starts the file afresh at its first record.
void mdlInitializeConditions(double*, BlockContext* S) {
  closeReporting(S);
  S->IWork[OpenFlag] = 0;
  S->IWork[EdgeCounter] = 0;
  S->IWork[TriggerFlag] = 0;
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const int32_t w = inputWidth(S);
  const double thr = threshold(S);
  const bool high = u[w - 1] >= thr;  // NaN is never high
  if (S->IWork[TriggerFlag] == 0 && high) risingEdge(S, u, w);
  S->IWork[TriggerFlag] = high ? 1 : 0;
  y[0] = 0.0;
}

// Closing flushes the stream; a close that fails has lost records.
void mdlTerminate(BlockContext* S) { closeReporting(S); }

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs, .mdlTerminate = mdlTerminate};
