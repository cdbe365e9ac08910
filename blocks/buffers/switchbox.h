// Switch-box selection shared by slotweave and routegrid. The parameter
// Switch_Box is a table with one row per state (slot) and one column per
// output; element (r, i) names the data input, counted from 1, that output i
// carries in state r. An element of 0 or less names no input, and the output
// takes its block's fallback. The input vector holds the data inputs followed
// by one control element (trigger or row selector), so an element may name at
// most w - 1 inputs.
#ifndef KIVREL_BUFFERS_SWITCHBOX_H
#define KIVREL_BUFFERS_SWITCHBOX_H

#include "kivrel.h"

const char kSwitchBoxEmptyIniMsg[] = "Empty initial variable assignment.";
const char kSwitchBoxColumnsMsg[] = "The column number of Switch_Box must match the vector size of Ini_Value.";
const char kSwitchBoxRangeMsg[] =
    "The index number in Switch_Box variable is larger than the signal input vector.";
// A parameter edited during a run cannot change the output width the host
// allocated; the blocks stop rather than read past it.
const char kSwitchBoxIniChangedMsg[] = "Ini_Value changed its size during the simulation.";
// An input without its control element leaves nothing to read the control from.
const char kSwitchBoxNoControlMsg[] = "The input vector must hold at least the control input.";

// Switch_Box as read from its host array, column by column.
struct SwitchBox {
  const double* p;
  int32_t rows;  // number of states
  int32_t cols;  // number of outputs
};

inline SwitchBox readSwitchBox(const axArray* a) {
  SwitchBox b;
  b.p = axGetPr(a);
  b.rows = axGetM(a);
  b.cols = axGetN(a);
  return b;
}

// Element (r, i), truncated, for 0 <= r < rows and 0 <= i < cols.
inline int32_t switchBoxElement(const SwitchBox& b, int32_t r, int32_t i) {
  return truncInt(b.p[static_cast<ptrdiff_t>(r) + static_cast<ptrdiff_t>(b.rows) * i]);
}

// The input (counted from 0) that output i carries in state r, or -1 when its
// element names none. An element beyond the dataInputs data inputs stops the
// simulation with the range message.
inline int32_t switchBoxSelect(const SwitchBox& b, int32_t r, int32_t i, int32_t dataInputs) {
  const int32_t e = switchBoxElement(b, r, i);
  if (e <= 0) return -1;
  if (e > dataInputs) blockError("%s", kSwitchBoxRangeMsg);
  return e - 1;
}

// Checks made at sizing and again at every run-time call: the table must have
// one column per output.
inline void checkSwitchBoxColumns(const SwitchBox& b, int32_t outputs) {
  if (b.cols != outputs) blockError("%s", kSwitchBoxColumnsMsg);
}

// At run time Ini_Value must still hold one value per allocated output.
inline void checkIniValueUnchanged(const axArray* ini, int32_t outputs) {
  if (axGetNumberOfElements(ini) != outputs) blockError("%s", kSwitchBoxIniChangedMsg);
}

// The control element is the last input; without it the block has nothing to
// act on.
inline void checkControlInput(const BlockContext* S) {
  if (S->SizesVector[NumInputs] < 1) blockError("%s", kSwitchBoxNoControlMsg);
}

#endif
