// The gateway of a block plug-in: the sizes call, the direct callback calls
// and the version query. Built once per plug-in, with the block's name
// (KIVREL_BLOCK_NAME) and level (KIVREL_LEVEL, 1 or 2) compiled in.
#include "kivrel.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#ifndef KIVREL_BLOCK_NAME
#error "KIVREL_BLOCK_NAME must name the block"
#endif
#ifndef KIVREL_LEVEL
#define KIVREL_LEVEL 1
#endif

namespace {

const char kBlockName[] = KIVREL_BLOCK_NAME;
#if KIVREL_LEVEL == 2
const char kCallerLabel[] = "PLG level2 S-function \"" KIVREL_BLOCK_NAME "\"";
const int32_t kVersionMarker = Level2VersionMarker;
#else
const char kCallerLabel[] = "PLG level1 S-function \"" KIVREL_BLOCK_NAME "\"";
const int32_t kVersionMarker = Level1VersionMarker;
#endif
const char kVersionText[] = "Trelon R14 native";

// Room for every fixed message with the caller label; the name-mismatch
// message embeds the host's PluginName and is cut to this size.
const size_t kMessageSize = 512;

[[noreturn]] void argumentError(const char* fmt) {
  char msg[kMessageSize];
  snprintf(msg, sizeof msg, fmt, kCallerLabel);
  plgErrMsgTxt(msg);
}

AnyCallback asAny(ContextFn f) { return reinterpret_cast<AnyCallback>(f); }

// ---------------------------------------------------------------------------
// Stubs installed for the callbacks no block of this system has.

void varHitStub(BlockContext* S) {
  setErrorStatus(S,
                 "To have a variable sample time, you must define MDL_GET_TIME_OF_NEXT_VAR_HIT "
                 "and add a mdlGetTimeOfNextVarHit routine");
}

void zeroCrossingStub(BlockContext* S) {
  setErrorStatus(S,
                 "To have nonsampled zero crossings, you must define MDL_ZERO_CROSSINGS and have "
                 "a mdlZeroCrossings routine");
}

// ---------------------------------------------------------------------------
// Context of a sizes call.

// The host's record, when argument 1 is a two-row array whose second element
// is the marker and whose first carries the record's address; else null.
BlockContext* hostRecord(const axArray* x) {
  if (x == nullptr || axGetM(x) != 2) return nullptr;
  const double* pr = axGetPr(x);
  if (pr == nullptr || pr[1] != HostRecordMarker) return nullptr;
#if UINTPTR_MAX == 0xFFFFFFFFu
  // The address travels as a 32-bit signed integer.
  return reinterpret_cast<BlockContext*>(static_cast<uintptr_t>(static_cast<uint32_t>(truncInt(pr[0]))));
#else
  // The full address, exact as a double below 2^53.
  if (!(pr[0] >= -9007199254740992.0 && pr[0] <= 9007199254740992.0)) return nullptr;
  return reinterpret_cast<BlockContext*>(static_cast<uintptr_t>(static_cast<int64_t>(pr[0])));
#endif
}

#if KIVREL_LEVEL == 2
// Port counters of a context made for a command-line call. A count whose
// records cannot be allocated is refused like a negative one (0, nothing
// changed), so a block never gets a port count without its records.
int32_t countPorts(void* ctx, int32_t count, int entry, void** records, size_t recordSize) {
  if (count < 0) return 0;
  BlockContext* S = static_cast<BlockContext*>(ctx);
  if (count > 0) {
    void* fresh = axCalloc(static_cast<size_t>(count), recordSize);
    if (fresh == nullptr) return 0;
    *records = fresh;
  }
  S->SizesVector[entry] = count;
  S->SizesVector[PortFlags] |= PortFlagCountsSet;
  return 1;
}

int32_t countInputPorts(void* ctx, int32_t count) {
  BlockContext* S = static_cast<BlockContext*>(ctx);
  void* ports = S->InputPorts;
  int32_t r = countPorts(ctx, count, NumInputs, &ports, sizeof(InputPortRecord));
  S->InputPorts = static_cast<InputPortRecord*>(ports);
  return r;
}

int32_t countOutputPorts(void* ctx, int32_t count) {
  BlockContext* S = static_cast<BlockContext*>(ctx);
  void* ports = S->OutputPorts;
  int32_t r = countPorts(ctx, count, NumOutputs, &ports, sizeof(OutputPortRecord));
  S->OutputPorts = static_cast<OutputPortRecord*>(ports);
  return r;
}
#endif

// A context of the plug-in's own, for a sizes call from the command line: the
// arguments after FLAG become the block parameters. The host reclaims it.
BlockContext* commandLineContext(int nrhs, const axArray* prhs[]) {
  int count = nrhs >= 5 ? nrhs - 4 : 0;
  BlockContext* S = static_cast<BlockContext*>(axCalloc(1, sizeof(BlockContext)));
  ::SimInfo* si = static_cast<::SimInfo*>(axCalloc(1, sizeof(::SimInfo)));
  S->RootContext = S;
  S->SimInfo = si;
  si->RunMode = RunModeOwnContext;
  S->SFcnParamsCount = count;
  S->PluginName = kBlockName;
  S->BlockPath = kBlockName;
  if (count > 0) {
    S->SFcnParams = static_cast<const axArray**>(axCalloc(static_cast<size_t>(count), sizeof(axArray*)));
    for (int i = 0; i < count; ++i) S->SFcnParams[i] = prhs[4 + i];
  }
#if KIVREL_LEVEL == 2
  S->InputPortCountFn = countInputPorts;
  S->InputPortCountCtx = S;
  S->OutputPortCountFn = countOutputPorts;
  S->OutputPortCountCtx = S;
#endif
  return S;
}

void checkName(BlockContext* S) {
  const char* hostName = S->PluginName != nullptr ? S->PluginName : "";
  if (strcmp(hostName, kBlockName) == 0) return;
  char msg[kMessageSize];
  snprintf(msg, sizeof msg,
           "S-function name mismatch. Name in source is \"#define S_FUNCTION_NAME %s\", whereas "
           "name of the S-function PLG file is \"%s\". The source needs to be updated",
           kBlockName, hostName);
  plgErrMsgTxt(msg);
}

void installCallbacks(BlockContext* S) {
  CallbackTable& t = S->Callbacks;
#if KIVREL_LEVEL == 2
  const Level2Block& b = kivrelBlock2;
  t.mdlInitializeSizes = asAny(b.mdlInitializeSizes);
  t.mdlSetInputPortWidth = reinterpret_cast<AnyCallback>(b.mdlSetInputPortDimensionInfo);
  S->SizesVector[PortFlags] |= PortFlagDimsSetters;
  t.mdlSetInputPortSampleTime = reinterpret_cast<AnyCallback>(b.mdlSetInputPortSampleTime);
  t.mdlSetOutputPortSampleTime = reinterpret_cast<AnyCallback>(b.mdlSetOutputPortSampleTime);
  t.mdlSetInputPortComplexSignal = reinterpret_cast<AnyCallback>(b.mdlSetInputPortComplexSignal);
  t.mdlInitializeSampleTimes = asAny(b.mdlInitializeSampleTimes);
  t.mdlGetTimeOfNextVarHit = asAny(varHitStub);
  t.mdlOutputs = reinterpret_cast<AnyCallback>(b.mdlOutputs);
  t.mdlZeroCrossings = asAny(zeroCrossingStub);
  t.mdlTerminate = asAny(b.mdlTerminate);
#else
  const Level1Block& b = kivrelBlock;
  t.mdlInitializeSizes = asAny(b.mdlInitializeSizes);
  t.mdlInitializeSampleTimes = asAny(b.mdlInitializeSampleTimes);
  t.mdlInitializeConditions = reinterpret_cast<AnyCallback>(b.mdlInitializeConditions);
  t.mdlGetTimeOfNextVarHit = asAny(varHitStub);
  t.mdlOutputs = reinterpret_cast<AnyCallback>(b.mdlOutputs);
  t.mdlUpdate = reinterpret_cast<AnyCallback>(b.mdlUpdate);
  t.mdlDerivatives = reinterpret_cast<AnyCallback>(b.mdlDerivatives);
  t.mdlZeroCrossings = asAny(zeroCrossingStub);
  t.mdlTerminate = asAny(b.mdlTerminate);
  if (b.mdlCheckParameters != nullptr) t.mdlCheckParameters = asAny(b.mdlCheckParameters);
#endif
}

void sizesCall(int nlhs, axArray* plhs[], int nrhs, const axArray* prhs[]) {
  if (nrhs < 4) argumentError("%s must be called with at least 4 right hand arguments");
  if (nlhs > 1) argumentError("%s called with too many left hand arguments");
  const char* const flagMessage = "The 4th right hand argument, FLAG, passed to %s must be an integer";
  const axArray* flagArg = prhs[3];
  if (flagArg == nullptr ||
      static_cast<long long>(axGetM(flagArg)) * axGetN(flagArg) != 1 || axIsComplex(flagArg) ||
      !axIsNumeric(flagArg))
    argumentError(flagMessage);
  const double flag = axGetPr(flagArg)[0];
  if (!fitsInt(flag) || static_cast<double>(truncInt(flag)) != flag) argumentError(flagMessage);
  if (truncInt(flag) != 0) argumentError("Invalid flag passed to %s");

  BlockContext* S = hostRecord(prhs[1]);
  if (S != nullptr) {
#if KIVREL_LEVEL == 2
    checkName(S);
#else
    if (S->SimInfo != nullptr && S->SimInfo->RunMode == RunModeNameCheck) checkName(S);
#endif
    installCallbacks(S);
  } else {
    S = commandLineContext(nrhs, prhs);
  }

  S->SizesVector[VersionMarker] = kVersionMarker;
#if KIVREL_LEVEL == 2
  kivrelBlock2.mdlInitializeSizes(S);
#else
  kivrelBlock.mdlInitializeSizes(S);
#endif

  axArray* result = axCreateDoubleMatrix(SizesVectorLength, 1, 0);
  plhs[0] = result;
  double* out = axGetPr(result);
  for (int i = 0; i < SizesVectorLength; ++i) out[i] = S->SizesVector[i];
  S->SizesVector[OptionFlags] |= OptionSizesCallBit;
  for (int i = FirstUnsignedEntry; i <= LastUnsignedEntry; ++i) out[i] = static_cast<uint32_t>(S->SizesVector[i]);
  out[OptionFlags] = static_cast<uint32_t>(S->SizesVector[OptionFlags]);
}

// ---------------------------------------------------------------------------
// Direct calls.

// Calls a table slot holding a function of type Fn, or stores the message
// when the slot is empty.
template <typename Fn, typename... Args>
void viaSlot(BlockContext* S, AnyCallback slot, const char* missing, Args... args) {
  if (slot == nullptr) {
    setErrorStatus(S, missing);
    return;
  }
  reinterpret_cast<Fn>(slot)(S, args...);
}

#if KIVREL_LEVEL == 2
void directCall(BlockContext* S, int32_t flag) {
  const Level2Block& b = kivrelBlock2;
  CallbackTable& t = S->Callbacks;
  ::SimInfo* si = S->SimInfo;
  const int32_t port = S->SizesVector[ExchangeArg];
  const bool dimsSetters = (S->SizesVector[PortFlags] & PortFlagDimsSetters) != 0;
  PortMethodTable* pm = S->PortMethods;
  switch (flag) {
    case FlagInitializeSampleTimes: b.mdlInitializeSampleTimes(S); break;
    case FlagGetTimeOfNextVarHit: varHitStub(S); break;
    case FlagOutputs: b.mdlOutputs(S, port == OutputsTaskIndexRequest ? OutputsTaskIndexRequest : 0); break;
    case FlagTerminate: b.mdlTerminate(S); break;
    case FlagZeroCrossings: zeroCrossingStub(S); break;
    case FlagSetWorkWidths: viaSlot<ContextFn>(S, t.mdlSetWorkWidths, "Unexpected call to mdlSetWorkWidths"); break;
    case FlagCheckParameters: viaSlot<ContextFn>(S, t.mdlCheckParameters, "Unexpected call to mdlCheckParameters"); break;
    case FlagSetInputPortDataType:
      viaSlot<PortValueFn>(S, t.mdlSetInputPortDataType, "Unexpected call to mdlSetInputPortDataType",
                           port, si->PortArgValue);
      break;
    case FlagSetOutputPortDataType:
      viaSlot<PortValueFn>(S, t.mdlSetOutputPortDataType, "Unexpected call to mdlSetOutputPortDataType",
                           port, si->PortArgValue);
      break;
    case FlagSetInputPortWidth:
      viaSlot<PortValueFn>(S, dimsSetters ? nullptr : t.mdlSetInputPortWidth,
                           "Unexpected call to mdlSetInputPortWidth", port, si->PortArgValue);
      break;
    case FlagSetOutputPortWidth:
      viaSlot<PortValueFn>(S, dimsSetters ? nullptr : t.mdlSetOutputPortWidth,
                           "Unexpected call to mdlSetOutputPortWidth", port, si->PortArgValue);
      break;
    case FlagSetInputPortComplexSignal:
      viaSlot<PortValueFn>(S, t.mdlSetInputPortComplexSignal,
                           "Unexpected call to mdlSetInputPortComplexSignal", port, si->PortArgValue);
      break;
    case FlagSetOutputPortComplexSignal:
      viaSlot<PortValueFn>(S, t.mdlSetOutputPortComplexSignal,
                           "Unexpected call to mdlSetOutputPortComplexSignal", port, si->PortArgValue);
      break;
    case FlagSetInputPortSampleTime:
      viaSlot<PortTimeFn>(S, t.mdlSetInputPortSampleTime, "Unexpected call to mdlSetInputPortSampleTime",
                          port, si->PortArgTimes[0], si->PortArgTimes[1]);
      break;
    case FlagSetOutputPortSampleTime:
      viaSlot<PortTimeFn>(S, t.mdlSetOutputPortSampleTime,
                          "Unexpected call to mdlSetOutputPortSampleTime", port, si->PortArgTimes[0],
                          si->PortArgTimes[1]);
      break;
    case FlagSetInputPortDimensionInfo:
      viaSlot<PortDimsFn>(S, dimsSetters ? t.mdlSetInputPortWidth : nullptr,
                          "Unexpected call to mdlSetInputPortDimensionInfo", port,
                          static_cast<const DimsInfo*>(si->PortArgDims));
      break;
    case FlagSetOutputPortDimensionInfo:
      viaSlot<PortDimsFn>(S, dimsSetters ? t.mdlSetOutputPortWidth : nullptr,
                          "Unexpected call to mdlSetOutputPortDimensionInfo", port,
                          static_cast<const DimsInfo*>(si->PortArgDims));
      break;
    case FlagSetInputPortFrameData:
      viaSlot<PortMethodFn>(S, pm ? reinterpret_cast<AnyCallback>(pm->mdlSetInputPortFrameData) : nullptr,
                            "Unexpected call to mdlSetInputPortFrameData", port, si->PortArgValue);
      break;
    case FlagSetDefaultPortDimensionInfo:
      viaSlot<DefaultPortFn>(S, pm ? reinterpret_cast<AnyCallback>(pm->mdlSetDefaultPortDimensionInfo) : nullptr,
                             "Unexpected call to mdlSetDefaultPortDimensionInfo");
      break;
    case FlagSetDefaultPortDataTypes:
      viaSlot<DefaultPortFn>(S, pm ? reinterpret_cast<AnyCallback>(pm->mdlSetDefaultPortDataTypes) : nullptr,
                             "Unexpected call to mdlSetDefaultPortDataTypes");
      break;
    case FlagSetDefaultPortComplexSignals:
      viaSlot<DefaultPortFn>(S, pm ? reinterpret_cast<AnyCallback>(pm->mdlSetDefaultPortComplexSignals) : nullptr,
                             "Unexpected call to mdlSetDefaultPortComplexSignals");
      break;
    default: setErrorStatus(S, "Invalid flag encountered in kivrel"); break;
  }
}
#else
void directCall(BlockContext* S, int32_t flag) {
  const Level1Block& b = kivrelBlock;
  CallbackTable& t = S->Callbacks;
  int32_t* exchange = &S->SizesVector[ExchangeArg];
  switch (flag) {
    case FlagInitializeSampleTimes: b.mdlInitializeSampleTimes(S); break;
    case FlagInitializeConditions: b.mdlInitializeConditions(S->StateVector, S); break;
    case FlagGetTimeOfNextVarHit: varHitStub(S); break;
    case FlagOutputs: b.mdlOutputs(S->OutputVector, S->StateVector, S->InputVector, S, 0); break;
    case FlagUpdate: b.mdlUpdate(S->StateVector, S->InputVector, S, 0); break;
    case FlagDerivatives: b.mdlDerivatives(S->DerivVector, S->StateVector, S->InputVector, S, 0); break;
    case FlagTerminate: b.mdlTerminate(S); break;
    case FlagZeroCrossings: zeroCrossingStub(S); break;
    case FlagGetInputPortWidth:
      if (t.mdlGetInputPortWidth != nullptr)
        *exchange = reinterpret_cast<PortWidthFn>(t.mdlGetInputPortWidth)(S, *exchange);
      else
        setErrorStatus(S, "Unexpected call to mdlGetInputPortWidth");
      break;
    case FlagGetOutputPortWidth:
      if (t.mdlGetOutputPortWidth != nullptr)
        *exchange = reinterpret_cast<PortWidthFn>(t.mdlGetOutputPortWidth)(S, *exchange);
      else
        setErrorStatus(S, "Unexpected call to mdlGetOutputPortWidth");
      break;
    case FlagSetWorkWidths: viaSlot<ContextFn>(S, t.mdlSetWorkWidths, "Unexpected call to mdlSetWorkWidths"); break;
    case FlagCheckParameters: viaSlot<ContextFn>(S, t.mdlCheckParameters, "Unexpected call to mdlCheckParameters"); break;
    default: setErrorStatus(S, "Invalid flag encountered in kivrel"); break;
  }
}
#endif

}  // namespace

// ---------------------------------------------------------------------------
// Services for block code.

void checkParamCount(BlockContext* S, int expected) {
  if (S->SFcnParamsCount != expected)
    blockError(KIVREL_WRONG_COUNT_FMT, S->SFcnParamsCount + 4, expected + 4);
}

void blockError(const char* fmt, ...) {
  char msg[kMessageSize];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(msg, sizeof msg, fmt, ap);
  va_end(ap);
  plgErrMsgTxt(msg);
}

#if KIVREL_LEVEL == 2
const DimsInfo DynamicDimsInfo = {-1, -1, nullptr, 0};

namespace {
// Describes the port from DynamicDimsInfo with the given dimensions and hands
// it to the host's setter; 1 when the host has none. A matrix whose element
// count does not fit the width word cannot be described: such a request is
// refused (0) without asking the host.
int32_t setPortDims(BlockContext* S, SetPortDimsFunc fn, int32_t port, int32_t numDims, int32_t* dims) {
  if (fn == nullptr) return 1;
  DimsInfo info = DynamicDimsInfo;
  info.numDims = numDims;
  info.dims = dims;
  if (numDims == 1) {
    info.width = dims[0];
  } else if (dims[0] == -1 || dims[1] == -1) {
    info.width = -1;
  } else {
    const int64_t width = static_cast<int64_t>(dims[0]) * dims[1];
    if (width < INT32_MIN || width > INT32_MAX) return 0;
    info.width = static_cast<int32_t>(width);
  }
  return fn(S, port, &info);
}
}  // namespace

int32_t setInputPortMatrixDimensions(BlockContext* S, int32_t port, int32_t rows, int32_t cols) {
  int32_t dims[2] = {rows, cols};
  return setPortDims(S, S->SimInfo->SetInputPortDimsFn, port, 2, dims);
}
int32_t setOutputPortMatrixDimensions(BlockContext* S, int32_t port, int32_t rows, int32_t cols) {
  int32_t dims[2] = {rows, cols};
  return setPortDims(S, S->SimInfo->SetOutputPortDimsFn, port, 2, dims);
}
int32_t setInputPortVectorDimension(BlockContext* S, int32_t port, int32_t width) {
  return setPortDims(S, S->SimInfo->SetInputPortDimsFn, port, 1, &width);
}
int32_t setOutputPortVectorDimension(BlockContext* S, int32_t port, int32_t width) {
  return setPortDims(S, S->SimInfo->SetOutputPortDimsFn, port, 1, &width);
}

int32_t hostQueryInt(BlockContext* S, int32_t arg) {
  int32_t result = 0;
  if (S->SimInfo->HostQueryFn != nullptr) S->SimInfo->HostQueryFn(S, QueryIntRequest, arg, &result);
  return result;
}

double hostQueryDouble(BlockContext* S) {
  double result = 0.0;
  if (S->SimInfo->HostQueryFn != nullptr) S->SimInfo->HostQueryFn(S, QueryDoubleRequest, 0, &result);
  return result;
}
#endif

// ---------------------------------------------------------------------------
// Exported entry points.

extern "C" void plgFunction(int nlhs, axArray* plhs[], int nrhs, const axArray* prhs[]) {
  if (nlhs < 0) {
    BlockContext* S = reinterpret_cast<BlockContext*>(plhs[1]);
    directCall(S, truncInt(axGetPr(prhs[3])[0]));
    return;
  }
  sizesCall(nlhs, plhs, nrhs, prhs);
}

extern "C" const char* plgVersion(void) { return kVersionText; }
