// A level-2 test block for the gateway. Its callbacks leave the flag that
// reached them in RWork[0] and their arguments in RWork[1..3]; the sizes
// callback reports what it found in the record and declares ports through
// the record's counters (parameter 0: input ports, parameter 1: output ports;
// 2 and 1 when absent). mdlOutputs also runs the framework's dimension helpers
// and host queries on request: RWork[2] names the service, RWork[3..5] are
// its arguments and RWork[6] receives its result.
#include <string.h>

#include "kivrel.h"

namespace {

void mark(BlockContext* S, double code, double a = 0, double b = 0, double c = 0) {
  if (S->RWork == nullptr) return;
  S->RWork[0] = code;
  S->RWork[1] = a;
  S->RWork[2] = b;
  S->RWork[3] = c;
}

int32_t paramOr(BlockContext* S, int k, int32_t fallback) {
  if (S->SFcnParamsCount <= k || axGetNumberOfElements(blockParam(S, k)) < 1) return fallback;
  return truncInt(axGetPr(blockParam(S, k))[0]);
}

bool zeroFilled(const void* p, size_t bytes) {
  const unsigned char* c = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < bytes; ++i)
    if (c[i] != 0) return false;
  return true;
}

void mdlInitializeSizes(BlockContext* S) {
  int32_t* sv = S->SizesVector;
  // Entry 11: entries other than the version marker and PortFlags that were
  // non-zero at the start; entry 12: whether the table was filled.
  int32_t nonzero = 0;
  for (int i = 0; i < SizesVectorLength; ++i)
    if (i != VersionMarker && i != PortFlags && sv[i] != 0) ++nonzero;
  sv[11] = nonzero;
  sv[12] = S->Callbacks.mdlOutputs != nullptr ? 1 : 0;
  sv[13] = S->SFcnParamsCount;
  sv[14] = S->SimInfo->RunMode;
  const int32_t inputs = paramOr(S, 0, 2);
  const int32_t outputs = paramOr(S, 1, 1);
  // Entries 20-22: the counters' answers and whether their contexts are the
  // record itself; entries 24-26: which port records exist, and whether the
  // input records came zero-filled.
  sv[20] = S->InputPortCountFn != nullptr ? S->InputPortCountFn(S->InputPortCountCtx, inputs) : -9;
  sv[21] = S->OutputPortCountFn != nullptr ? S->OutputPortCountFn(S->OutputPortCountCtx, outputs) : -9;
  sv[22] = (S->InputPortCountCtx == S ? 1 : 0) + (S->OutputPortCountCtx == S ? 2 : 0);
  sv[24] = S->InputPorts != nullptr ? 1 : 0;
  sv[25] = S->OutputPorts != nullptr ? 1 : 0;
  sv[26] = S->InputPorts != nullptr && inputs > 0 &&
           zeroFilled(S->InputPorts, sizeof(InputPortRecord) * static_cast<size_t>(inputs));
  sv[NumSampleTimes] = 1;
  sv[NumRWork] = 7;
}

void mdlInitializeSampleTimes(BlockContext* S) {
  S->SampleTimes[0] = -1.0;
  S->OffsetTimes[0] = 1.0;
  mark(S, FlagInitializeSampleTimes);
}

// The framework services, selected by RWork[2].
void runService(BlockContext* S) {
  double* rw = S->RWork;
  const int32_t a = truncInt(rw[3]), b = truncInt(rw[4]), c = truncInt(rw[5]);
  switch (truncInt(rw[2])) {
    case 1: rw[6] = setInputPortMatrixDimensions(S, a, b, c); break;
    case 2: rw[6] = setOutputPortMatrixDimensions(S, a, b, c); break;
    case 3: rw[6] = setInputPortVectorDimension(S, a, b); break;
    case 4: rw[6] = setOutputPortVectorDimension(S, a, b); break;
    case 5: rw[6] = hostQueryInt(S, a); break;
    case 6: rw[6] = hostQueryDouble(S); break;
    default: break;
  }
}

void mdlOutputs(BlockContext* S, int32_t tid) {
  if (S->RWork == nullptr) return;
  runService(S);
  S->RWork[0] = FlagOutputs;
  S->RWork[1] = tid;
}

void mdlTerminate(BlockContext* S) { mark(S, FlagTerminate); }

void mdlSetInputPortDimensionInfo(BlockContext* S, int32_t port, const DimsInfo* info) {
  mark(S, FlagSetInputPortDimensionInfo, port, info != nullptr ? info->width : -99,
       info != nullptr ? info->numDims : -99);
}

void mdlSetInputPortSampleTime(BlockContext* S, int32_t port, double t, double o) {
  mark(S, FlagSetInputPortSampleTime, port, t, o);
}
void mdlSetOutputPortSampleTime(BlockContext* S, int32_t port, double t, double o) {
  mark(S, FlagSetOutputPortSampleTime, port, t, o);
}
void mdlSetInputPortComplexSignal(BlockContext* S, int32_t port, int32_t c) {
  mark(S, FlagSetInputPortComplexSignal, port, c);
}

}  // namespace

const Level2Block kivrelBlock2 = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = mdlInitializeSampleTimes,
    .mdlSetInputPortDimensionInfo = mdlSetInputPortDimensionInfo,
    .mdlSetInputPortSampleTime = mdlSetInputPortSampleTime,
    .mdlSetOutputPortSampleTime = mdlSetOutputPortSampleTime,
    .mdlSetInputPortComplexSignal = mdlSetInputPortComplexSignal, .mdlOutputs = mdlOutputs,
    .mdlTerminate = mdlTerminate};
