// The block context record: the memory that the host and a block plug-in
// share for one block instance (field order and widths are the host's), with
// its sizes vector, the host's run-time record, the level-2 port records, and
// every number the two sides pass each other through them. Included by the
// framework (and so by every block) and by the host.
#ifndef KIVREL_RECORD_H
#define KIVREL_RECORD_H

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
  ExchangeArg = 4,  // argument word of the host's direct calls
  DirFeedthrough = 5,
  NumSampleTimes = 6,
  NumSFcnParams = 7,
  NumIWork = 8,
  NumRWork = 9,
  NumPWork = 10,
  // Four words of the host's that the sizes call returns as unsigned values.
  FirstUnsignedEntry = 15,
  LastUnsignedEntry = 18,
  VersionMarker = 19,
  OptionFlags = 23,  // returned as an unsigned value too
  PortFlags = 31,
  SizesVectorLength = 38,
};

// VersionMarker as the framework sets it before mdlInitializeSizes.
const int32_t Level1VersionMarker = 5120214;
const int32_t Level2VersionMarker = 5120229;

// The double the host puts in element 1 of the sizes call's second argument
// when element 0 carries the address of its own record.
const double HostRecordMarker = 5120229.0;

// Bits of OptionFlags. Their meaning is the host's: the sizes call ORs in the
// first, and the port-attribute block stores the second.
enum OptionFlagBits : int32_t {
  OptionSizesCallBit = 0x2000,
  OptionPortBlockBit = 0x2000000,
};

// Bits of PortFlags (level 2).
enum PortFlagBits : int32_t {
  PortFlagDimsSetters = 0x1,  // the port-width slots hold dimension-info setters
  PortFlagCountsSet = 0x2,    // a port count has been set
  // A two-bit field (bits 11-12) whose meaning is the host's; the
  // port-attribute block sets it to 1 with its sample times.
  PortFlagRateField = 0x1800,
  PortFlagRateFieldOne = 0x800,
};

// ---------------------------------------------------------------------------
// Direct calls: the flag names the callback the host asks for. Level 1 takes
// 101 to 112; level 2 takes 101, 103, 104, 107, 108, 111 to 116, 120 to 123,
// 126 to 128 and 131 to 133.
enum CallFlag : int32_t {
  FlagInitializeSampleTimes = 101,
  FlagInitializeConditions = 102,
  FlagGetTimeOfNextVarHit = 103,
  FlagOutputs = 104,
  FlagUpdate = 105,
  FlagDerivatives = 106,
  FlagTerminate = 107,
  FlagZeroCrossings = 108,
  FlagGetInputPortWidth = 109,
  FlagGetOutputPortWidth = 110,
  FlagSetWorkWidths = 111,
  FlagCheckParameters = 112,
  FlagSetInputPortDataType = 113,
  FlagSetOutputPortDataType = 114,
  FlagSetInputPortWidth = 115,
  FlagSetOutputPortWidth = 116,
  FlagSetInputPortComplexSignal = 120,
  FlagSetOutputPortComplexSignal = 121,
  FlagSetInputPortSampleTime = 122,
  FlagSetOutputPortSampleTime = 123,
  FlagSetInputPortDimensionInfo = 126,
  FlagSetOutputPortDimensionInfo = 127,
  FlagSetInputPortFrameData = 128,
  FlagSetDefaultPortDimensionInfo = 131,
  FlagSetDefaultPortDataTypes = 132,
  FlagSetDefaultPortComplexSignals = 133,
};

// ExchangeArg of a level-2 outputs call that passes the task index -2 (any
// other value passes 0).
const int32_t OutputsTaskIndexRequest = -2;

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
const unsigned FrameModeShift = 3;
const unsigned FrameModeMask = 3;

struct InputPortRecord {
  int32_t HostOwned0;
  int32_t Complexity;     // -1 while not settled
  uint8_t flags;          // bits 3-4: FrameMode
  double PortSampleTime;  // -1.0 = inherited
  double PortOffsetTime;
  int32_t HostOwned1;
};

inline int portFrameMode(const InputPortRecord* p) { return (p->flags >> FrameModeShift) & FrameModeMask; }
inline void setPortFrameMode(InputPortRecord* p, int mode) {
  const unsigned field = FrameModeMask << FrameModeShift;
  p->flags = static_cast<uint8_t>((p->flags & ~field) | ((static_cast<unsigned>(mode) & FrameModeMask) << FrameModeShift));
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

// Request codes of HostQueryFn: an int result for an int argument, and a
// double result (argument 0). Their meaning is the host's.
enum HostQueryRequest : int32_t {
  QueryIntRequest = 20,
  QueryDoubleRequest = 21,
};

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

// RunMode values the plug-ins act on.
enum RunModeValue : int32_t {
  RunModeOwnContext = 1,  // a context the plug-in made for a command-line call
  RunModeNameCheck = 2,   // the level-1 sizes call checks the block's name
};

// StepKind in a major time step, and in a minor one (a solver's stage).
const int32_t MajorTimeStep = 1;
const int32_t MinorTimeStep = 0;

struct SimInfo {
  int32_t RunMode;
  double* TimePtr;
  int32_t* SampleHitFlags;
  int32_t HostOwned0;
  int32_t StepKind;
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

#endif
