// What the framework offers to the block code compiled with it: the tables
// of a block's callbacks and helpers for parameters, time, messages and
// (level 2) ports. The record itself is in record.h.
#ifndef KIVREL_KIVREL_H
#define KIVREL_KIVREL_H

#include <stdint.h>

#include "ax.h"
#include "record.h"

// ---------------------------------------------------------------------------
// Level-1 block callbacks, as the framework calls them.
typedef void (*ContextFn)(BlockContext* S);
typedef void (*ConditionsFn)(double* x, BlockContext* S);
typedef void (*OutputsFn)(double* y, double* x, double* u, BlockContext* S, int32_t tid);
typedef void (*UpdateFn)(double* x, double* u, BlockContext* S, int32_t tid);
typedef void (*DerivativesFn)(double* dx, double* x, double* u, BlockContext* S, int32_t tid);

struct Level1Block {
  ContextFn mdlInitializeSizes;
  ContextFn mdlInitializeSampleTimes;
  ConditionsFn mdlInitializeConditions;
  OutputsFn mdlOutputs;
  UpdateFn mdlUpdate;
  DerivativesFn mdlDerivatives;
  ContextFn mdlTerminate;
  ContextFn mdlCheckParameters;  // null for blocks without one
};

// Level-2 block callbacks.
typedef void (*Outputs2Fn)(BlockContext* S, int32_t tid);
typedef void (*PortDimsFn)(BlockContext* S, int32_t port, const DimsInfo* info);
typedef void (*PortTimeFn)(BlockContext* S, int32_t port, double sampleTime, double offset);
typedef void (*PortValueFn)(BlockContext* S, int32_t port, int32_t value);

struct Level2Block {
  ContextFn mdlInitializeSizes;
  ContextFn mdlInitializeSampleTimes;
  PortDimsFn mdlSetInputPortDimensionInfo;
  PortTimeFn mdlSetInputPortSampleTime;
  PortTimeFn mdlSetOutputPortSampleTime;
  PortValueFn mdlSetInputPortComplexSignal;
  Outputs2Fn mdlOutputs;
  ContextFn mdlTerminate;
};

// The block's callbacks, defined once in the block's source; the framework
// built into the same plug-in reaches the block through it.
extern const Level1Block kivrelBlock;
extern const Level2Block kivrelBlock2;

// ---------------------------------------------------------------------------
// Helpers for block code.

// Converts a double to a 32-bit int by truncation toward zero, as the x86
// conversion instruction does: NaN and values outside the int range give
// INT32_MIN (the "integer indefinite" value).
inline int32_t truncInt(double v) {
  if (v > -2147483649.0 && v < 2147483648.0) return static_cast<int32_t>(v);
  return INT32_MIN;
}

// Whether v truncates to an int32 without loss of range (NaN and values
// outside the int range do not).
inline bool fitsInt(double v) { return v > -2147483649.0 && v < 2147483648.0; }

// Parameter k (counted from 0) of a block.
inline const axArray* blockParam(const BlockContext* S, int k) { return S->SFcnParams[k]; }

inline double blockTime(const BlockContext* S) { return *S->SimInfo->TimePtr; }

// One sample time inherited from the driving block (-1.0 with offset 1.0),
// the rate of every block without a sample time of its own.
inline void inheritSampleTime(BlockContext* S) {
  S->SampleTimes[0] = -1.0;
  S->OffsetTimes[0] = 1.0;
}

// Stores a static message in the root record's error slot.
inline void setErrorStatus(BlockContext* S, const char* msg) { S->RootContext->ErrorStatus = msg; }

// Whether the block's first sample time has a hit in a major step: the
// condition under which the random sources draw.
inline bool majorHit(const BlockContext* S) {
  const SimInfo* si = S->SimInfo;
  return si->StepKind == MajorTimeStep && si->SampleHitFlags[S->SampleTaskIndex[0]] != 0;
}

// Reports the wrong-count message through plgErrMsgTxt (which does not
// return) when SFcnParamsCount differs from the expected count.
void checkParamCount(BlockContext* S, int expected);

// Formats a message into a stack buffer and reports it with plgErrMsgTxt.
[[noreturn]] void blockError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Level-2 dimension helpers and host queries (built into level-2 plug-ins
// only).
int32_t setInputPortMatrixDimensions(BlockContext* S, int32_t port, int32_t rows, int32_t cols);
int32_t setOutputPortMatrixDimensions(BlockContext* S, int32_t port, int32_t rows, int32_t cols);
int32_t setInputPortVectorDimension(BlockContext* S, int32_t port, int32_t width);
int32_t setOutputPortVectorDimension(BlockContext* S, int32_t port, int32_t width);
int32_t hostQueryInt(BlockContext* S, int32_t arg);
double hostQueryDouble(BlockContext* S);
extern const DimsInfo DynamicDimsInfo;

#endif
