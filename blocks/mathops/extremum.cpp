// extremum: emits the position (counted from 0) or the value of the largest
// or smallest element of its input vector. The mode parameter's second
// character selects the search ("a" maximum, "i" minimum), its third asks for
// the value ("v") instead of the position; its first is ignored.
#include <string.h>

#include "kivrel.h"

namespace {

void mdlInitializeSizes(BlockContext* S) {
  setSizes(S, {.outputs = 1, .inputs = -1, .directFeedthrough = 1, .sampleTimes = 1, .params = 1});
}

void mdlOutputs(double* y, double*, double* u, BlockContext* S, int32_t) {
  // The mode's first three characters; a shorter mode leaves zero bytes. A
  // missing parameter, or one that is not a character array, reads as a mode
  // that matches neither search and asks for the position.
  char mode[4] = {0, 0, 0, 0};
  if (S->SFcnParamsCount < 1 || axGetString(blockParam(S, 0), mode, sizeof mode) != 0)
    memset(mode, 0, sizeof mode);
  const int32_t n = S->SizesVector[NumInputs];
  // An empty input has no element to select: y keeps its value.
  if (n < 1) return;
  double best = u[0];
  int32_t pos = 0;
  // Strict comparisons: the first of equal extremes wins, and NaN elements
  // never win (a NaN in u[0] is never beaten either).
  if (mode[1] == 'a') {
    for (int32_t i = 1; i < n; ++i)
      if (u[i] > best) {
        best = u[i];
        pos = i;
      }
  } else if (mode[1] == 'i') {
    for (int32_t i = 1; i < n; ++i)
      if (u[i] < best) {
        best = u[i];
        pos = i;
      }
  }
  y[0] = mode[2] == 'v' ? best : static_cast<double>(pos);
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = inheritSampleTime,
    .mdlOutputs = mdlOutputs};
