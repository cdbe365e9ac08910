// portagree: a level-2 block with two inputs and no outputs that computes
// nothing at run time. While the host settles port attributes it ties input
// 2 to input 1: the dimensions of input 2 follow input 1, the sample times
// must match (or input 2 inherits), the complexities must match (or one side
// is still open), and input 2 must not be frame based while input 1 is
// sample based. Messages count the ports from 1; port indices from 0.
#include "kivrel.h"

namespace {

const int32_t kPortCount = 2;

// Whether the host has given the block its two input-port records. The port
// callbacks touch the records only then, so a port call that reaches a block
// whose sizes call stopped early (wrong parameter count, refused ports)
// reads and writes nothing.
bool havePorts(const BlockContext* S) {
  return S->InputPorts != nullptr && S->SizesVector[NumInputs] >= kPortCount;
}

void mdlInitializeSizes(BlockContext* S) {
  S->SizesVector[NumSFcnParams] = 0;
  if (S->SFcnParamsCount != 0) return;  // the host reports the count mismatch
  if (S->RootContext->ErrorStatus != nullptr) return;

  // A record without a port counter cannot take ports: treated as a refusal.
  if (S->InputPortCountFn == nullptr) return;
  if (S->InputPortCountFn(S->InputPortCountCtx, kPortCount) == 0) return;
  if (!havePorts(S)) return;

  SetPortDimsFunc setDims = S->SimInfo->SetInputPortDimsFn;
  for (int32_t port = 0; port < kPortCount; ++port) {
    if (setDims != nullptr && setDims(S, port, &DynamicDimsInfo) == 0) return;
    setPortFrameMode(&S->InputPorts[port], FrameUnsettled);
    S->InputPorts[port].Complexity = -1;
  }
  S->SizesVector[NumSampleTimes] = -1;  // sample times are set per port
  S->InputPorts[0].PortSampleTime = -1.0;
  S->InputPorts[1].PortSampleTime = -1.0;
  S->SizesVector[OptionFlags] = OptionPortBlockBit;
}

// Sets the two-bit rate field of PortFlags to 1.
void mdlInitializeSampleTimes(BlockContext* S) {
  int32_t& flags = S->SizesVector[PortFlags];
  flags = (flags & ~PortFlagRateField) | PortFlagRateFieldOne;
}

// Dimensions arrive for input 1 only and are passed on to input 2 as they
// are; for input 2 nothing is set. Either way the frame modes are checked.
void mdlSetInputPortDimensionInfo(BlockContext* S, int32_t port, const DimsInfo* info) {
  SetPortDimsFunc setDims = S->SimInfo->SetInputPortDimsFn;
  if (port == 0 && setDims != nullptr) {
    if (setDims(S, 0, info) == 0) return;
    if (setDims(S, 1, info) == 0) return;
  }
  if (!havePorts(S)) return;
  if (portFrameMode(&S->InputPorts[0]) == FrameSampleBased &&
      portFrameMode(&S->InputPorts[1]) == FrameFrameBased)
    setErrorStatus(S, "If port 1 is sample based, port 2 must also be sample based.");
}

// Input 1 takes any sample time; input 2 (every port index but 0) only the
// one input 1 holds at that moment, so it is refused while input 1 still
// inherits unless it inherits too. A NaN never matches.
void mdlSetInputPortSampleTime(BlockContext* S, int32_t port, double sampleTime, double offset) {
  if (!havePorts(S)) return;
  InputPortRecord* ports = S->InputPorts;
  if (port != 0) {
    if (sampleTime != ports[0].PortSampleTime) {
      setErrorStatus(S, "Input 2 should inherit its sample time, or its sample time should match input 1.");
      return;
    }
    port = 1;
  }
  ports[port].PortSampleTime = sampleTime;
  ports[port].PortOffsetTime = offset;
}

// The complexity is stored even when it conflicts with the other input; a
// port index that names neither input is ignored, as there is no record to
// store it in.
void mdlSetInputPortComplexSignal(BlockContext* S, int32_t port, int32_t complexity) {
  if (!havePorts(S) || port < 0 || port >= kPortCount) return;
  InputPortRecord* ports = S->InputPorts;
  ports[port].Complexity = complexity;
  const int32_t other = ports[port == 0 ? 1 : 0].Complexity;
  if (other != -1 && other != complexity)
    setErrorStatus(S, "Input 2 should inherit complexity, or its complexity should match input 1");
}

}  // namespace

const Level2Block kivrelBlock2 = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = mdlInitializeSampleTimes,
    .mdlSetInputPortDimensionInfo = mdlSetInputPortDimensionInfo,
    .mdlSetInputPortSampleTime = mdlSetInputPortSampleTime,
    .mdlSetInputPortComplexSignal = mdlSetInputPortComplexSignal};
