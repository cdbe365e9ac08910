// slotweave: time-division multiplexer. Every rising edge of the trigger (the
// last input) moves to the next row of Switch_Box, cyclically; during a slot
// each output carries the data input its element names, and an output that
// carries none falls back, by its Keep_Value, to Ini_Value (negative), to 0.0
// (zero) or to the value it had (positive or NaN).
#include "switchbox.h"

namespace {

enum { SwitchBoxParam = 0, KeepValueParam = 1, IniValueParam = 2, ThresholdParam = 3 };

// IWork: the current slot (-1 before the first edge) and the trigger flag;
// K more entries are reserved. RWork: the time of the last rising edge.
const int32_t kSlot = 0;
const int32_t kTriggerFlag = 1;
const int32_t kEdgeTime = 0;

const char kKeepValueSizeMsg[] = "Keep_Value should have the same vector size as Ini_Value.";
const char kThresholdScalarMsg[] = "Threshold must be a scalar.";
// A table of no rows has no slot to select; it is refused rather than read.
const char kNoRowsMsg[] = "Switch_Box must have at least one row.";

// The parameter checks after K is known; returns Switch_Box as checked. The
// sizing call and every run-time call make them, so that a parameter edited
// during the run can never lead outside itself.
SwitchBox checkParams(BlockContext* S, int32_t K) {
  if (axGetNumberOfElements(blockParam(S, KeepValueParam)) != K) blockError("%s", kKeepValueSizeMsg);
  if (axGetNumberOfElements(blockParam(S, ThresholdParam)) != 1) blockError("%s", kThresholdScalarMsg);
  const SwitchBox box = readSwitchBox(blockParam(S, SwitchBoxParam));
  checkSwitchBoxColumns(box, K);
  if (box.rows < 1) blockError("%s", kNoRowsMsg);
  return box;
}

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 4);
  const int32_t K = axGetNumberOfElements(blockParam(S, IniValueParam));
  if (K <= 0) blockError("%s", kSwitchBoxEmptyIniMsg);
  checkParams(S, K);
  setSizes(S, {.outputs = K, .inputs = -1, .directFeedthrough = 1, .sampleTimes = 1, .params = 4,
               .iwork = K + 2, .rwork = 1});
}

void mdlInitializeConditions(double*, BlockContext* S) {
  checkControlInput(S);
  S->IWork[kSlot] = -1;
  S->IWork[kTriggerFlag] = 0;
  S->RWork[kEdgeTime] = -1.0;
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const int32_t K = S->SizesVector[NumOutputs];
  const int32_t w = S->SizesVector[NumInputs];
  const axArray* iniArray = blockParam(S, IniValueParam);
  checkIniValueUnchanged(iniArray, K);
  const SwitchBox box = checkParams(S, K);
  const double thr = axGetPr(blockParam(S, ThresholdParam))[0];
  const double t = blockTime(S);
  int32_t* iw = S->IWork;

  // Ini_Value and Keep_Value are looked up only at the calls that read them.
  if (t <= 0.0) {
    const double* ini = axGetPr(iniArray);
    for (int32_t i = 0; i < K; ++i) y[i] = ini[i];
  }

  if (iw[kTriggerFlag] == 0 && u[w - 1] >= thr) {
    const double* ini = axGetPr(iniArray);
    const double* keep = axGetPr(blockParam(S, KeepValueParam));
    // A slot beyond the last row (the table lost rows during the run) wraps
    // to row 0 like the last one.
    int32_t s = iw[kSlot] + 1;
    if (s >= box.rows) s = 0;
    iw[kSlot] = s;
    for (int32_t i = 0; i < K; ++i) {
      const int32_t in = switchBoxSelect(box, s, i, w - 1);
      if (in >= 0) y[i] = u[in];
      else if (keep[i] < 0.0) y[i] = ini[i];
      else if (keep[i] == 0.0) y[i] = 0.0;
      // Positive or NaN Keep_Value: the output keeps its value.
    }
    iw[kTriggerFlag] = 1;
    S->RWork[kEdgeTime] = t;
    return;
  }

  // Between edges the selected inputs pass straight through. The range of
  // each element is tested here too, since Switch_Box may have been edited
  // since the edge that entered the slot; a slot the edited table no longer
  // has selects nothing until the next edge.
  const int32_t s = iw[kSlot];
  if (s >= 0 && s < box.rows) {
    for (int32_t i = 0; i < K; ++i) {
      const int32_t in = switchBoxSelect(box, s, i, w - 1);
      if (in >= 0) y[i] = u[in];
    }
  }
  if (thr > u[w - 1]) iw[kTriggerFlag] = 0;
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs};
