// The level-2 part of the framework, built only into level-2 plug-ins: the
// callback table the sizes call fills, the port counters of a command-line
// context, the direct calls of the level-2 flag set, and the dimension
// helpers and host queries offered to level-2 blocks.
#include <stddef.h>

#include "gateway.h"

const char gateway::kCallerLabel[] = "PLG level2 S-function \"" KIVREL_BLOCK_NAME "\"";
const int32_t gateway::kVersionMarker = Level2VersionMarker;

namespace {

// The port counters of a context made for a command-line call: Record the
// port record, ports its field in the record, entry the sizes entry of the
// count. A count whose records cannot be allocated is refused like a negative
// one (0, nothing changed), so a block never gets a port count without its
// records.
template <typename Record, Record* BlockContext::*ports, int entry>
int32_t countPorts(void* ctx, int32_t count) {
  if (count < 0) return 0;
  BlockContext* S = static_cast<BlockContext*>(ctx);
  if (count > 0) {
    void* fresh = axCalloc(static_cast<size_t>(count), sizeof(Record));
    if (fresh == nullptr) return 0;
    S->*ports = static_cast<Record*>(fresh);
  }
  S->SizesVector[entry] = count;
  S->SizesVector[PortFlags] |= PortFlagCountsSet;
  return 1;
}

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

// The frame-data and default-port slots live in the host's PortMethods
// record, which a host may not have.
template <typename Fn>
AnyCallback portMethod(const PortMethodTable* pm, Fn PortMethodTable::*slot) {
  return pm != nullptr ? gateway::asAny(pm->*slot) : nullptr;
}

// Flags 101, 103, 104, 107 and 108 reach the block (or the stubs) directly;
// the port flags only what the table or PortMethods holds. Which of the width
// and dimension-info flags a port-width slot answers depends on PortFlags.
void directCall(BlockContext* S, int32_t flag) {
  using namespace gateway;
  const Level2Block& b = kivrelBlock2;
  CallbackTable& t = S->Callbacks;
  const ::SimInfo* si = S->SimInfo;
  const int32_t port = S->SizesVector[ExchangeArg];
  const bool dimsSetters = (S->SizesVector[PortFlags] & PortFlagDimsSetters) != 0;
  const PortMethodTable* pm = S->PortMethods;
  switch (flag) {
    case FlagInitializeSampleTimes: b.mdlInitializeSampleTimes(S); break;
    case FlagGetTimeOfNextVarHit: varHitStub(S); break;
    case FlagOutputs: b.mdlOutputs(S, port == OutputsTaskIndexRequest ? OutputsTaskIndexRequest : 0); break;
    case FlagTerminate: b.mdlTerminate(S); break;
    case FlagZeroCrossings: zeroCrossingStub(S); break;
    case FlagSetWorkWidths: viaSlot<ContextFn>(S, t.mdlSetWorkWidths, "Unexpected call to mdlSetWorkWidths"); break;
    case FlagCheckParameters:
      viaSlot<ContextFn>(S, t.mdlCheckParameters, "Unexpected call to mdlCheckParameters");
      break;
    case FlagSetInputPortDataType:
      viaSlot<PortValueFn>(S, t.mdlSetInputPortDataType, "Unexpected call to mdlSetInputPortDataType", port,
                           si->PortArgValue);
      break;
    case FlagSetOutputPortDataType:
      viaSlot<PortValueFn>(S, t.mdlSetOutputPortDataType, "Unexpected call to mdlSetOutputPortDataType", port,
                           si->PortArgValue);
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
      viaSlot<PortValueFn>(S, t.mdlSetInputPortComplexSignal, "Unexpected call to mdlSetInputPortComplexSignal",
                           port, si->PortArgValue);
      break;
    case FlagSetOutputPortComplexSignal:
      viaSlot<PortValueFn>(S, t.mdlSetOutputPortComplexSignal,
                           "Unexpected call to mdlSetOutputPortComplexSignal", port, si->PortArgValue);
      break;
    case FlagSetInputPortSampleTime:
      viaSlot<PortTimeFn>(S, t.mdlSetInputPortSampleTime, "Unexpected call to mdlSetInputPortSampleTime", port,
                          si->PortArgTimes[0], si->PortArgTimes[1]);
      break;
    case FlagSetOutputPortSampleTime:
      viaSlot<PortTimeFn>(S, t.mdlSetOutputPortSampleTime, "Unexpected call to mdlSetOutputPortSampleTime",
                          port, si->PortArgTimes[0], si->PortArgTimes[1]);
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
      viaSlot<PortMethodFn>(S, portMethod(pm, &PortMethodTable::mdlSetInputPortFrameData),
                            "Unexpected call to mdlSetInputPortFrameData", port, si->PortArgValue);
      break;
    case FlagSetDefaultPortDimensionInfo:
      viaSlot<DefaultPortFn>(S, portMethod(pm, &PortMethodTable::mdlSetDefaultPortDimensionInfo),
                             "Unexpected call to mdlSetDefaultPortDimensionInfo");
      break;
    case FlagSetDefaultPortDataTypes:
      viaSlot<DefaultPortFn>(S, portMethod(pm, &PortMethodTable::mdlSetDefaultPortDataTypes),
                             "Unexpected call to mdlSetDefaultPortDataTypes");
      break;
    case FlagSetDefaultPortComplexSignals:
      viaSlot<DefaultPortFn>(S, portMethod(pm, &PortMethodTable::mdlSetDefaultPortComplexSignals),
                             "Unexpected call to mdlSetDefaultPortComplexSignals");
      break;
    default: invalidFlag(S); break;
  }
}

}  // namespace

// The name is checked whatever the run mode.
bool gateway::checksName(const BlockContext*) { return true; }

// The block's input dimension setter goes into the input-width slot (marked
// in PortFlags); no conditions, update or derivatives slot is filled.
void gateway::installCallbacks(BlockContext* S) {
  const Level2Block& b = kivrelBlock2;
  CallbackTable& t = S->Callbacks;
  t.mdlInitializeSizes = asAny(b.mdlInitializeSizes);
  t.mdlSetInputPortWidth = asAny(b.mdlSetInputPortDimensionInfo);
  S->SizesVector[PortFlags] |= PortFlagDimsSetters;
  t.mdlSetInputPortSampleTime = asAny(b.mdlSetInputPortSampleTime);
  t.mdlSetOutputPortSampleTime = asAny(b.mdlSetOutputPortSampleTime);
  t.mdlSetInputPortComplexSignal = asAny(b.mdlSetInputPortComplexSignal);
  t.mdlInitializeSampleTimes = asAny(b.mdlInitializeSampleTimes);
  t.mdlGetTimeOfNextVarHit = asAny(varHitStub);
  t.mdlOutputs = asAny(b.mdlOutputs);
  t.mdlZeroCrossings = asAny(zeroCrossingStub);
  t.mdlTerminate = asAny(b.mdlTerminate);
}

void gateway::completeOwnContext(BlockContext* S) {
  S->InputPortCountFn = countPorts<InputPortRecord, &BlockContext::InputPorts, NumInputs>;
  S->InputPortCountCtx = S;
  S->OutputPortCountFn = countPorts<OutputPortRecord, &BlockContext::OutputPorts, NumOutputs>;
  S->OutputPortCountCtx = S;
}

void gateway::initializeSizes(BlockContext* S) { kivrelBlock2.mdlInitializeSizes(S); }

extern "C" void plgFunction(int nlhs, axArray* plhs[], int nrhs, const axArray* prhs[]) {
  if (nlhs < 0) return directCall(reinterpret_cast<BlockContext*>(plhs[1]), truncInt(axGetPr(prhs[3])[0]));
  gateway::sizesCall(nlhs, plhs, nrhs, prhs);
}

// ---------------------------------------------------------------------------
// Services for level-2 block code.

const DimsInfo DynamicDimsInfo = {-1, -1, nullptr, 0};

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
