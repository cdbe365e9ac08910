// The level-1 part of the gateway, built into the 21 level-1 plug-ins: the
// callback table the sizes call fills, and the direct calls 101 to 112.
#include "gateway.h"

const char gateway::kCallerLabel[] = "PLG level1 S-function \"" KIVREL_BLOCK_NAME "\"";
const int32_t gateway::kVersionMarker = Level1VersionMarker;

namespace {

typedef int32_t (*PortWidthFn)(BlockContext* S, int32_t width);

// 109 and 110: the width in ExchangeArg is replaced by the slot's answer.
void exchangeWidth(BlockContext* S, AnyCallback slot, const char* missing) {
  int32_t* exchange = &S->SizesVector[ExchangeArg];
  if (slot != nullptr)
    *exchange = reinterpret_cast<PortWidthFn>(slot)(S, *exchange);
  else
    setErrorStatus(S, missing);
}

// Flags 101 to 108 reach the block's callbacks directly, 109 to 112 only what
// the table holds.
void directCall(BlockContext* S, int32_t flag) {
  using namespace gateway;
  const Level1Block& b = kivrelBlock;
  CallbackTable& t = S->Callbacks;
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
      exchangeWidth(S, t.mdlGetInputPortWidth, "Unexpected call to mdlGetInputPortWidth");
      break;
    case FlagGetOutputPortWidth:
      exchangeWidth(S, t.mdlGetOutputPortWidth, "Unexpected call to mdlGetOutputPortWidth");
      break;
    case FlagSetWorkWidths: viaSlot<ContextFn>(S, t.mdlSetWorkWidths, "Unexpected call to mdlSetWorkWidths"); break;
    case FlagCheckParameters:
      viaSlot<ContextFn>(S, t.mdlCheckParameters, "Unexpected call to mdlCheckParameters");
      break;
    default: invalidFlag(S); break;
  }
}

}  // namespace

// Only a host running in the name-check mode has the name checked.
bool gateway::checksName(const BlockContext* S) {
  return S->SimInfo != nullptr && S->SimInfo->RunMode == RunModeNameCheck;
}

// The port-width and work-width slots stay as the host set them, and so does
// the parameter-check slot of a block without one.
void gateway::installCallbacks(BlockContext* S) {
  const Level1Block& b = kivrelBlock;
  CallbackTable& t = S->Callbacks;
  t.mdlInitializeSizes = asAny(b.mdlInitializeSizes);
  t.mdlInitializeSampleTimes = asAny(b.mdlInitializeSampleTimes);
  t.mdlInitializeConditions = asAny(b.mdlInitializeConditions);
  t.mdlGetTimeOfNextVarHit = asAny(varHitStub);
  t.mdlOutputs = asAny(b.mdlOutputs);
  t.mdlUpdate = asAny(b.mdlUpdate);
  t.mdlDerivatives = asAny(b.mdlDerivatives);
  t.mdlZeroCrossings = asAny(zeroCrossingStub);
  t.mdlTerminate = asAny(b.mdlTerminate);
  if (b.mdlCheckParameters != nullptr) t.mdlCheckParameters = asAny(b.mdlCheckParameters);
}

void gateway::completeOwnContext(BlockContext*) {}

void gateway::initializeSizes(BlockContext* S) { kivrelBlock.mdlInitializeSizes(S); }

// The outputs and update calls, made at every step, are tested first on the
// flag as given: a flag equal to 104.0 or 105.0 truncates to the same case of
// directCall, and every other flag (104.5 too) goes through the truncation.
extern "C" void plgFunction(int nlhs, axArray* plhs[], int nrhs, const axArray* prhs[]) {
  if (nlhs >= 0) return gateway::sizesCall(nlhs, plhs, nrhs, prhs);
  BlockContext* S = reinterpret_cast<BlockContext*>(plhs[1]);
  const double flag = axGetPr(prhs[3])[0];
  const Level1Block& b = kivrelBlock;
  if (flag == static_cast<double>(FlagOutputs))
    return b.mdlOutputs(S->OutputVector, S->StateVector, S->InputVector, S, 0);
  if (flag == static_cast<double>(FlagUpdate)) return b.mdlUpdate(S->StateVector, S->InputVector, S, 0);
  directCall(S, truncInt(flag));
}

