// A test block for the runner, shaped by its parameters:
//   1. [inputs, outputs, feedthrough, continuous states, P0, O0, P1, O1, ...]
//      (-1 widths are settled by the host; one sample time per pair);
//   2. what it computes: 0 y = u (or, with continuous states, y = x and
//      dx = u), 1 y[i] = hit flag of sample time i, 2 y = x with the update
//      x = u (a unit delay), 3 y = (t, StepKind), 4 y[0] = 1 + sum(u);
//   3. [how, time, where]: from time t on, fail with plgErrMsgTxt (how 1),
//      an ErrorStatus text (how 2), a write one past y (how 3), a crash
//      (how 4: SIGSEGV), a hang (how 5) or a task index far outside the hit
//      flags (how 6) in the sizes call (where 0),
//      mdlInitializeConditions (1), mdlOutputs (2), mdlUpdate (3),
//      mdlDerivatives (4) or mdlTerminate (5);
//   4. a file to which every call appends "PATH FLAG T STEPKIND HITS...".
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include "kivrel.h"

namespace {

double element(const BlockContext* S, int k, int i, double otherwise) {
  if (S->SFcnParamsCount <= k) return otherwise;
  const axArray* a = blockParam(S, k);
  return i < axGetNumberOfElements(a) ? axGetPr(a)[i] : otherwise;
}

int32_t config(const BlockContext* S, int i) { return truncInt(element(S, 0, i, 0.0)); }
int32_t mode(const BlockContext* S) { return truncInt(element(S, 1, 0, 0.0)); }

void log(BlockContext* S, int flag) {
  if (S->SFcnParamsCount < 4) return;
  char path[512];
  if (axGetString(blockParam(S, 3), path, sizeof path) != 0 || path[0] == '\0') return;
  FILE* f = fopen(path, "a");
  if (f == nullptr) return;
  fprintf(f, "%s %d %.17g %d", S->BlockPath, flag, flag == 0 ? 0.0 : blockTime(S), S->SimInfo->StepKind);
  if (flag != 0 && flag != FlagInitializeSampleTimes)
    for (int32_t i = 0; i < S->SizesVector[NumSampleTimes]; ++i) {
      const int32_t k = S->SampleTaskIndex[i];  // (how 6 moves it out of range)
      fprintf(f, " %d", k >= 0 && k < S->SizesVector[NumSampleTimes] ? S->SimInfo->SampleHitFlags[k] : -1);
    }
  fprintf(f, "\n");
  fclose(f);
}

void maybeFail(BlockContext* S, int where) {
  const int32_t how = truncInt(element(S, 2, 0, 0.0));
  if (how == 0 || truncInt(element(S, 2, 2, -1.0)) != where) return;
  if (where != 0 && blockTime(S) < element(S, 2, 1, 0.0)) return;
  if (how == 1) blockError("probe failure at %d", where);
  if (how == 4) raise(SIGSEGV);
  while (how == 5) pause();
  if (how == 3) {
    if (S->OutputVector != nullptr) S->OutputVector[S->SizesVector[NumOutputs]] = 7.0;
    return;
  }
  if (how == 6) {
    if (S->SampleTaskIndex != nullptr) S->SampleTaskIndex[0] = 1 << 20;
    return;
  }
  setErrorStatus(S, "probe status");
}

void mdlInitializeSizes(BlockContext* S) {
  int32_t* sv = S->SizesVector;
  sv[NumSFcnParams] = 4;
  log(S, 0);
  if (S->SFcnParamsCount != 4) return;
  sv[NumInputs] = config(S, 0);
  sv[NumOutputs] = config(S, 1);
  sv[DirFeedthrough] = config(S, 2);
  sv[NumContStates] = config(S, 3);
  sv[NumDiscStates] = mode(S) == 2 ? sv[NumOutputs] : 0;
  const int32_t pairs = (axGetNumberOfElements(blockParam(S, 0)) - 4) / 2;
  sv[NumSampleTimes] = pairs > 0 ? pairs : 0;
  maybeFail(S, 0);
}

void mdlInitializeSampleTimes(BlockContext* S) {
  for (int32_t i = 0; i < S->SizesVector[NumSampleTimes]; ++i) {
    S->SampleTimes[i] = element(S, 0, 4 + 2 * i, -1.0);
    S->OffsetTimes[i] = element(S, 0, 5 + 2 * i, 0.0);
  }
  log(S, FlagInitializeSampleTimes);
}

void mdlInitializeConditions(double* x, BlockContext* S) {
  const int32_t n = S->SizesVector[NumContStates] + S->SizesVector[NumDiscStates];
  for (int32_t i = 0; i < n; ++i) x[i] = 0.0;
  log(S, FlagInitializeConditions);
  maybeFail(S, 1);
}

void mdlOutputs(double* y, double* x, double* u, BlockContext* S, int32_t) {
  log(S, FlagOutputs);
  maybeFail(S, 2);
  const int32_t nin = S->SizesVector[NumInputs], nout = S->SizesVector[NumOutputs];
  switch (mode(S)) {
    case 0:
      for (int32_t i = 0; i < nout; ++i)
        y[i] = S->SizesVector[NumContStates] > 0 ? x[i < S->SizesVector[NumContStates] ? i : 0]
                                                 : (i < nin ? u[i] : 0.0);
      break;
    case 1:
      for (int32_t i = 0; i < nout && i < S->SizesVector[NumSampleTimes]; ++i)
        y[i] = S->SimInfo->SampleHitFlags[S->SampleTaskIndex[i]];
      break;
    case 2:
      for (int32_t i = 0; i < nout; ++i) y[i] = x[i];
      break;
    case 3:
      if (nout > 0) y[0] = blockTime(S);
      if (nout > 1) y[1] = S->SimInfo->StepKind;
      break;
    case 4: {
      double sum = 1.0;
      for (int32_t i = 0; i < nin; ++i) sum += u[i];
      if (nout > 0) y[0] = sum;
      break;
    }
  }
}

void mdlUpdate(double* x, double* u, BlockContext* S, int32_t) {
  log(S, FlagUpdate);
  maybeFail(S, 3);
  if (mode(S) == 2)
    for (int32_t i = 0; i < S->SizesVector[NumDiscStates] && i < S->SizesVector[NumInputs]; ++i) x[i] = u[i];
}

void mdlDerivatives(double* dx, double*, double* u, BlockContext* S, int32_t) {
  log(S, FlagDerivatives);
  maybeFail(S, 4);
  for (int32_t i = 0; i < S->SizesVector[NumContStates]; ++i) dx[i] = i < S->SizesVector[NumInputs] ? u[i] : 0.0;
}

void mdlTerminate(BlockContext* S) {
  log(S, FlagTerminate);
  maybeFail(S, 5);
}

}  // namespace

const Level1Block kivrelBlock = {
    .mdlInitializeSizes = mdlInitializeSizes, .mdlInitializeSampleTimes = mdlInitializeSampleTimes,
    .mdlInitializeConditions = mdlInitializeConditions, .mdlOutputs = mdlOutputs, .mdlUpdate = mdlUpdate,
    .mdlDerivatives = mdlDerivatives, .mdlTerminate = mdlTerminate};
