// routegrid: switch box controlled by a number. The last input, rounded to
// the nearest integer (halves upward), selects a row of Switch_Box counted
// from 1; each output carries the data input its element in that row names,
// or shows its Ini_Value when the element names none or no row is selected.
// The block keeps no memory: every call computes all outputs afresh.
#include <math.h>

#include "switchbox.h"

namespace {

enum { SwitchBoxParam = 0, IniValueParam = 1 };

// The row selected by the control input, or 0 when it selects none (NaN, or a
// rounded value outside the int range).
int32_t selectedRow(double control) {
  const double r = floor(control + 0.5);
  return fitsInt(r) ? static_cast<int32_t>(r) : 0;
}

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 2);
  const int32_t K = axGetNumberOfElements(blockParam(S, IniValueParam));
  if (K < 1) blockError("%s", kSwitchBoxEmptyIniMsg);
  checkSwitchBoxColumns(readSwitchBox(blockParam(S, SwitchBoxParam)), K);
  setSizes(S, {.outputs = K, .inputs = -1, .directFeedthrough = 1, .sampleTimes = 1, .params = 2});
}

void mdlInitializeConditions(double*, BlockContext* S) { checkControlInput(S); }

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  const int32_t K = S->SizesVector[NumOutputs];
  const int32_t w = S->SizesVector[NumInputs];
  // Parameters edited during the run must still fit the allocated outputs.
  const axArray* iniArray = blockParam(S, IniValueParam);
  checkIniValueUnchanged(iniArray, K);
  const SwitchBox box = readSwitchBox(blockParam(S, SwitchBoxParam));
  checkSwitchBoxColumns(box, K);
  const double* ini = axGetPr(iniArray);

  const int32_t r = selectedRow(u[w - 1]);
  if (r <= 0 || r > box.rows) {
    for (int32_t i = 0; i < K; ++i) y[i] = ini[i];
    return;
  }
  for (int32_t i = 0; i < K; ++i) {
    const int32_t in = switchBoxSelect(box, r - 1, i, w - 1);
    y[i] = in >= 0 ? u[in] : ini[i];
  }
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs};
