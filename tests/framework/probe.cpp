// A test block for the gateway: every callback leaves its mark in RWork[0]
// (the flag number that reaches it), and the sizes callback reports what it
// found in the record. Parameter 0 selects what mdlInitializeSizes writes.
#include "kivrel.h"

namespace {

void mark(BlockContext* S, double code) {
  if (S->RWork != nullptr) S->RWork[0] = code;
}

void mdlInitializeSizes(BlockContext* S) {
  int32_t* sv = S->SizesVector;
  // Entry 11: how many entries other than the version marker were non-zero
  // when the callback started; entry 12: whether the table was filled.
  int32_t nonzero = 0;
  for (int i = 0; i < SizesVectorLength; ++i)
    if (i != VersionMarker && sv[i] != 0) ++nonzero;
  sv[11] = nonzero;
  sv[12] = S->Callbacks.mdlOutputs != nullptr ? 1 : 0;
  sv[13] = S->SFcnParamsCount;
  sv[14] = S->SimInfo->RunMode;
  sv[NumInputs] = -1;
  sv[NumOutputs] = 1;
  sv[NumSampleTimes] = 1;
  sv[NumRWork] = 1;
  sv[NumSFcnParams] = S->SFcnParamsCount;
  const double mode = S->SFcnParamsCount > 0 && axGetNumberOfElements(blockParam(S, 0)) > 0
                          ? axGetPr(blockParam(S, 0))[0]
                          : 0.0;
  if (mode == 1.0) {
    sv[FirstUnsignedEntry] = -1;
    sv[OptionFlags] = -1;
    sv[20] = -7;
  } else if (mode == 2.0) {
    sv[VersionMarker] = 42;
  } else if (mode == 3.0) {
    setErrorStatus(S, "probe status");
  }
}

void mdlInitializeSampleTimes(BlockContext* S) {
  S->SampleTimes[0] = -1.0;
  S->OffsetTimes[0] = 1.0;
  mark(S, FlagInitializeSampleTimes);
}
void mdlInitializeConditions(double*, BlockContext* S) { mark(S, FlagInitializeConditions); }
void mdlOutputs(double* y, double*, double*, BlockContext* S, int32_t tid) {
  mark(S, FlagOutputs);
  y[0] = tid;
}
void mdlUpdate(double*, double*, BlockContext* S, int32_t) { mark(S, FlagUpdate); }
void mdlDerivatives(double*, double*, double*, BlockContext* S, int32_t) { mark(S, FlagDerivatives); }
void mdlTerminate(BlockContext* S) { mark(S, FlagTerminate); }
void mdlCheckParameters(BlockContext* S) { mark(S, FlagCheckParameters); }

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = mdlInitializeSampleTimes,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs, .mdlUpdate = mdlUpdate,
    .mdlDerivatives = mdlDerivatives, .mdlTerminate = mdlTerminate, .mdlCheckParameters = mdlCheckParameters};
