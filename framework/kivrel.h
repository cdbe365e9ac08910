// The block context record shared between the host and a block plug-in, the
// sizes vector, the host's run-time record, and what the framework offers to
// the block code compiled with it.
#ifndef KIVREL_KIVREL_H
#define KIVREL_KIVREL_H

#include <stdint.h>

#include "ax.h"

struct BlockContext;

// ---------------------------------------------------------------------------
// Sizes vector entries.
enum SizesIndex {
  NumContStates = 0,
  NumDiscStates = 1,
  NumOutputs = 2,   // level 2: number of output ports
  NumInputs = 3,    // level 2: number of input ports
  ExchangeArg = 4,
  DirFeedthrough = 5,
  NumSampleTimes = 6,
  NumSFcnParams = 7,
  NumIWork = 8,
  NumRWork = 9,
  NumPWork = 10,
  VersionMarker = 19,
  OptionFlags = 23,
  PortFlags = 31,
  SizesVectorLength = 38,
};

// ---------------------------------------------------------------------------
// Level-2 port records.

// Dimension description: width and dimension count (-1 = not yet settled),
// the dimensions, and one word passed on unchanged.
struct DimsInfo {
  int32_t width;
  int32_t numDims;
  int32_t* dims;
  int32_t passThrough;
};

// FrameMode values (bits 3-4 of InputPortRecord::flags).
enum { FrameSampleBased = 0, FrameFrameBased = 1, FrameUnsettled = 3 };

struct InputPortRecord {
  int32_t HostOwned0;
  int32_t Complexity;     // -1 while not settled
  uint8_t flags;          // bits 3-4: FrameMode
  double PortSampleTime;  // -1.0 = inherited
  double PortOffsetTime;
  int32_t HostOwned1;
};

inline int portFrameMode(const InputPortRecord* p) { return (p->flags >> 3) & 3; }
inline void setPortFrameMode(InputPortRecord* p, int mode) {
  p->flags = (uint8_t)((p->flags & ~0x18u) | ((unsigned)(mode & 3) << 3));
}

struct OutputPortRecord {
  int32_t HostOwned[4];
};

typedef void (*PortMethodFn)(BlockContext* S, int32_t port, int32_t arg);
typedef void (*DefaultPortFn)(BlockContext* S);

// Level-2 port method sub-record (the PortMethods field).
struct PortMethodTable {
  void* HostOwned0;
  void* HostOwned1;
  PortMethodFn mdlSetInputPortFrameData;
  void* HostOwned2;
  DefaultPortFn mdlSetDefaultPortDimensionInfo;
  DefaultPortFn mdlSetDefaultPortDataTypes;
  DefaultPortFn mdlSetDefaultPortComplexSignals;
};

typedef int32_t (*PortCountFunc)(void* ctx, int32_t count);
typedef int32_t (*SetPortDimsFunc)(BlockContext* S, int32_t port, const DimsInfo* info);
typedef void (*HostQueryFunc)(BlockContext* S, int32_t request, int32_t arg, void* result);

// Code-generation writer functions supplied by the host. They return 1 for
// success; anything else is passed back to the caller unchanged.
typedef int32_t (*WriteRecordFunc)(void* writerCtx, const char* text);
typedef int32_t (*WriteNameValueFunc)(void* writerCtx, int32_t valueType, const char* name,
                                      const void* value, int32_t dataTypeId, int32_t rows,
                                      int32_t cols);
typedef int32_t (*WriteParameterFunc)(void* writerCtx, int32_t valueType, const char* name,
                                      const char* text, const void* value, int32_t dataTypeId,
                                      int32_t rows, int32_t cols);

// ---------------------------------------------------------------------------
// The host's run-time record.
struct SimInfo {
  int32_t RunMode;  // 1: a context the plug-in made itself; 2: name check on
  double* TimePtr;
  int32_t* SampleHitFlags;
  int32_t HostOwned0;
  int32_t StepKind;  // 1 in a major time step
  int32_t HostOwned1;
  int32_t ResetRequest;
  int32_t HostOwned2;
  // Level-2 port call arguments and host port services.
  DimsInfo* PortArgDims;
  // Code-generation writer.
  WriteRecordFunc WriteRecordFn;
  WriteNameValueFunc WriteNameValueFn;
  WriteParameterFunc WriteParameterFn;
  void* WriterCtx;
  HostQueryFunc HostQueryFn;
  int32_t PortArgValue;
  SetPortDimsFunc SetInputPortDimsFn;
  SetPortDimsFunc SetOutputPortDimsFn;
  double PortArgTimes[2];
};

// ---------------------------------------------------------------------------
// Callback table. Slots have the level-1 signature of their name; a slot that
// also serves level 2 holds the level-2 function, stored and called through
// the matching cast.
typedef void (*AnyCallback)(void);

struct CallbackTable {
  AnyCallback mdlInitializeSizes;
  AnyCallback mdlGetInputPortWidth;
  AnyCallback mdlGetOutputPortWidth;
  AnyCallback mdlSetInputPortWidth;  // level 2: input dimension-info setter
  AnyCallback mdlSetOutputPortWidth; // level 2: output dimension-info setter
  AnyCallback mdlSetInputPortDataType;
  AnyCallback mdlSetOutputPortDataType;
  AnyCallback mdlInitializeSampleTimes;
  AnyCallback mdlSetInputPortSampleTime;
  AnyCallback mdlSetOutputPortSampleTime;
  AnyCallback mdlSetWorkWidths;
  AnyCallback HostOwned0;
  AnyCallback mdlInitializeConditions;
  AnyCallback HostOwned1;
  AnyCallback mdlCheckParameters;
  AnyCallback HostOwned2;
  AnyCallback mdlGetTimeOfNextVarHit;
  AnyCallback mdlOutputs;
  AnyCallback mdlUpdate;
  AnyCallback mdlDerivatives;
  AnyCallback mdlZeroCrossings;
  AnyCallback mdlTerminate;
  AnyCallback mdlSetInputPortComplexSignal;
  AnyCallback mdlSetOutputPortComplexSignal;
};

// ---------------------------------------------------------------------------
// The block context record.
struct BlockContext {
  const char* PluginName;
  const char* BlockPath;
  void* HostOwned0;
  BlockContext* RootContext;
  const char* ErrorStatus;  // used in the root record; static text, never freed
  int32_t SizesVector[SizesVectorLength];
  // Level-2 port fields.
  PortCountFunc InputPortCountFn;
  void* InputPortCountCtx;
  PortCountFunc OutputPortCountFn;
  void* OutputPortCountCtx;
  InputPortRecord* InputPorts;
  OutputPortRecord* OutputPorts;
  int32_t SFcnParamsCount;
  const axArray** SFcnParams;
  uint32_t* SFcnParamAttributes;
  void* HostOwned1;
  double* InputVector;
  double* OutputVector;
  double* StateVector;
  void* HostOwned2;
  double* DerivVector;
  PortMethodTable* PortMethods;
  int32_t* IWork;
  double* RWork;
  void** PWork;
  void* HostOwned3;
  ::SimInfo* SimInfo;
  void* HostOwned4;
  double* SampleTimes;
  double* OffsetTimes;
  void* HostOwned5;
  int32_t* SampleTaskIndex;
  CallbackTable Callbacks;
};

// The double the host puts in element 1 of the sizes call's second argument
// when element 0 carries the address of its own record.
const double HostRecordMarker = 5120229.0;
const int32_t Level1VersionMarker = 5120214;
const int32_t Level2VersionMarker = 5120229;

// ---------------------------------------------------------------------------
// Level-1 block callbacks, as the framework calls them.
typedef void (*ContextFn)(BlockContext* S);
typedef void (*ConditionsFn)(double* x, BlockContext* S);
typedef void (*OutputsFn)(double* y, double* x, double* u, BlockContext* S, int32_t tid);
typedef void (*UpdateFn)(double* x, double* u, BlockContext* S, int32_t tid);
typedef void (*DerivativesFn)(double* dx, double* x, double* u, BlockContext* S, int32_t tid);
typedef int32_t (*PortWidthFn)(BlockContext* S, int32_t width);

struct Level1Block {
  ContextFn mdlInitializeSizes;
  ContextFn mdlInitializeSampleTimes;
  ConditionsFn mdlInitializeConditions;
  OutputsFn mdlOutputs;
  UpdateFn mdlUpdate;
  DerivativesFn mdlDerivatives;
  ContextFn mdlTerminate;
  ContextFn mdlCheckParameters;  // null for blocks without one
};

// Level-2 block callbacks.
typedef void (*Outputs2Fn)(BlockContext* S, int32_t tid);
typedef void (*PortDimsFn)(BlockContext* S, int32_t port, const DimsInfo* info);
typedef void (*PortTimeFn)(BlockContext* S, int32_t port, double sampleTime, double offset);
typedef void (*PortValueFn)(BlockContext* S, int32_t port, int32_t value);

struct Level2Block {
  ContextFn mdlInitializeSizes;
  ContextFn mdlInitializeSampleTimes;
  PortDimsFn mdlSetInputPortDimensionInfo;
  PortTimeFn mdlSetInputPortSampleTime;
  PortTimeFn mdlSetOutputPortSampleTime;
  PortValueFn mdlSetInputPortComplexSignal;
  Outputs2Fn mdlOutputs;
  ContextFn mdlTerminate;
};

// The block's callbacks, defined once in the block's source; the framework
// built into the same plug-in reaches the block through it.
extern const Level1Block kivrelBlock;
extern const Level2Block kivrelBlock2;

// ---------------------------------------------------------------------------
// Helpers for block code.

// Converts a double to a 32-bit int by truncation toward zero, as the x86
// conversion instruction does: NaN and values outside the int range give
// INT32_MIN (the "integer indefinite" value).
inline int32_t truncInt(double v) {
  if (v > -2147483649.0 && v < 2147483648.0) return (int32_t)v;
  return INT32_MIN;
}

// Whether v truncates to an int32 without loss of range (NaN and values
// outside the int range do not).
inline bool fitsInt(double v) { return v > -2147483649.0 && v < 2147483648.0; }

// Parameter k (counted from 0) of a block.
inline const axArray* blockParam(const BlockContext* S, int k) { return S->SFcnParams[k]; }

inline double blockTime(const BlockContext* S) { return *S->SimInfo->TimePtr; }

// One sample time inherited from the driving block (-1.0 with offset 1.0),
// the rate of every block without a sample time of its own.
inline void inheritSampleTime(BlockContext* S) {
  S->SampleTimes[0] = -1.0;
  S->OffsetTimes[0] = 1.0;
}

// Stores a static message in the root record's error slot.
inline void setErrorStatus(BlockContext* S, const char* msg) { S->RootContext->ErrorStatus = msg; }

// Whether the block's first sample time has a hit in a major step: the
// condition under which the random sources draw.
inline bool majorHit(const BlockContext* S) {
  const SimInfo* si = S->SimInfo;
  return si->StepKind == 1 && si->SampleHitFlags[S->SampleTaskIndex[0]] != 0;
}

// The wrong-parameter-count message shared by the blocks that check it.
#define KIVREL_WRONG_COUNT_FMT                                                 \
  "Wrong number of input arguments passed to S-function PLG-file.\n%d input " \
  "arguments were passed in when expecting %d input arguments.\n"

// Reports the wrong-count message through plgErrMsgTxt (which does not
// return) when SFcnParamsCount differs from the expected count.
void checkParamCount(BlockContext* S, int expected);

// Formats a message into a stack buffer and reports it with plgErrMsgTxt.
[[noreturn]] void blockError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Level-2 dimension helpers and host queries (framework services).
int32_t setInputPortMatrixDimensions(BlockContext* S, int32_t port, int32_t rows, int32_t cols);
int32_t setOutputPortMatrixDimensions(BlockContext* S, int32_t port, int32_t rows, int32_t cols);
int32_t setInputPortVectorDimension(BlockContext* S, int32_t port, int32_t width);
int32_t setOutputPortVectorDimension(BlockContext* S, int32_t port, int32_t width);
int32_t hostQueryInt(BlockContext* S, int32_t arg);
double hostQueryDouble(BlockContext* S);
extern const DimsInfo DynamicDimsInfo;

extern "C" {
__attribute__((visibility("default"))) void plgFunction(int nlhs, axArray* plhs[], int nrhs,
                                                         const axArray* prhs[]);
__attribute__((visibility("default"))) const char* plgVersion(void);
}

#endif
