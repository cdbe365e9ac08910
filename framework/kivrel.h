// What the framework offers to the block code compiled with it: the callback
// table a block fills, the sizes declaration, and helpers for parameters,
// time, messages and (level 2) ports. The record itself is in record.h.
//
// A block source defines its callbacks in an unnamed namespace and ends with
// its table, naming only the callbacks it has:
//
//   const Level1Block kivrelBlock = {
//       .mdlInitializeSizes = mdlInitializeSizes,
//       .mdlInitializeSampleTimes = inheritSampleTime,
//       .mdlOutputs = mdlOutputs,
//   };
#ifndef KIVREL_KIVREL_H
#define KIVREL_KIVREL_H

#include <stdint.h>

#include "ax.h"
#include "record.h"

// ---------------------------------------------------------------------------
// Block callbacks, as the framework calls them.

// Level 1.
typedef void (*ContextFn)(BlockContext* S);
typedef void (*ConditionsFn)(double* x, BlockContext* S);
typedef void (*OutputsFn)(double* y, double* x, double* u, BlockContext* S, int32_t tid);
typedef void (*UpdateFn)(double* x, double* u, BlockContext* S, int32_t tid);
typedef void (*DerivativesFn)(double* dx, double* x, double* u, BlockContext* S, int32_t tid);

// Level 2.
typedef void (*Outputs2Fn)(BlockContext* S, int32_t tid);
typedef void (*PortDimsFn)(BlockContext* S, int32_t port, const DimsInfo* info);
typedef void (*PortTimeFn)(BlockContext* S, int32_t port, double sampleTime, double offset);
typedef void (*PortValueFn)(BlockContext* S, int32_t port, int32_t value);

// What a callback the block leaves out does: nothing. The framework installs
// these in the host's table and calls them as it would the block's own.
inline void noopContext(BlockContext*) {}
inline void noopConditions(double*, BlockContext*) {}
inline void noopOutputs(double*, double*, double*, BlockContext*, int32_t) {}
inline void noopUpdate(double*, double*, BlockContext*, int32_t) {}
inline void noopDerivatives(double*, double*, double*, BlockContext*, int32_t) {}
inline void noopOutputs2(BlockContext*, int32_t) {}
inline void noopPortDims(BlockContext*, int32_t, const DimsInfo*) {}
inline void noopPortTime(BlockContext*, int32_t, double, double) {}
inline void noopPortValue(BlockContext*, int32_t, int32_t) {}

// The callbacks of a level-1 block. mdlCheckParameters is the one slot that
// stays empty when left out: the host's parameter-check call then reports
// that the block has none.
struct Level1Block {
  ContextFn mdlInitializeSizes = noopContext;
  ContextFn mdlInitializeSampleTimes = noopContext;
  ConditionsFn mdlInitializeConditions = noopConditions;
  OutputsFn mdlOutputs = noopOutputs;
  UpdateFn mdlUpdate = noopUpdate;
  DerivativesFn mdlDerivatives = noopDerivatives;
  ContextFn mdlTerminate = noopContext;
  ContextFn mdlCheckParameters = nullptr;
};

// The callbacks of a level-2 block.
struct Level2Block {
  ContextFn mdlInitializeSizes = noopContext;
  ContextFn mdlInitializeSampleTimes = noopContext;
  PortDimsFn mdlSetInputPortDimensionInfo = noopPortDims;
  PortTimeFn mdlSetInputPortSampleTime = noopPortTime;
  PortTimeFn mdlSetOutputPortSampleTime = noopPortTime;
  PortValueFn mdlSetInputPortComplexSignal = noopPortValue;
  Outputs2Fn mdlOutputs = noopOutputs2;
  ContextFn mdlTerminate = noopContext;
};

// The block's table, defined once in the block's source: kivrelBlock in a
// level-1 plug-in, kivrelBlock2 in a level-2 one.
extern const Level1Block kivrelBlock;
extern const Level2Block kivrelBlock2;

// ---------------------------------------------------------------------------
// Sizes.

// Entries 0 to 10 of the sizes vector but ExchangeArg, which is the host's,
// in their order; an entry a block leaves out is 0. Declared in one
// statement from mdlInitializeSizes:
//   setSizes(S, {.outputs = 1, .inputs = -1, .directFeedthrough = 1, .sampleTimes = 1, .params = 1});
struct BlockSizes {
  int32_t contStates = 0;
  int32_t discStates = 0;  // -1: as many as the settled input width
  int32_t outputs = 0;     // -1: settled by the host
  int32_t inputs = 0;      // -1: settled by the host
  int32_t directFeedthrough = 0;
  int32_t sampleTimes = 0;
  int32_t params = 0;  // the number of parameters the block expects
  int32_t iwork = 0;
  int32_t rwork = 0;  // -1: as many as the settled input width
  int32_t pwork = 0;
};

inline void setSizes(BlockContext* S, const BlockSizes& z) {
  int32_t* sv = S->SizesVector;
  sv[NumContStates] = z.contStates;
  sv[NumDiscStates] = z.discStates;
  sv[NumOutputs] = z.outputs;
  sv[NumInputs] = z.inputs;
  sv[DirFeedthrough] = z.directFeedthrough;
  sv[NumSampleTimes] = z.sampleTimes;
  sv[NumSFcnParams] = z.params;
  sv[NumIWork] = z.iwork;
  sv[NumRWork] = z.rwork;
  sv[NumPWork] = z.pwork;
}

// Reports the wrong-parameter-count message through plgErrMsgTxt (which does
// not return) when SFcnParamsCount differs from the expected count.
void checkParamCount(BlockContext* S, int expected);

// ---------------------------------------------------------------------------
// Numbers.

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

// 32-bit two's complement arithmetic that wraps around, as x86 integer
// instructions do, without the signed overflow the language leaves undefined.
inline int32_t wrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t wrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// ---------------------------------------------------------------------------
// Parameters, time, rates and messages.

// Parameter k (counted from 0) of a block.
inline const axArray* blockParam(const BlockContext* S, int k) { return S->SFcnParams[k]; }

inline double blockTime(const BlockContext* S) { return *S->SimInfo->TimePtr; }

// One sample time inherited from the driving block (-1.0 with offset 1.0),
// the rate of every block without a sample time of its own. A block's
// mdlInitializeSampleTimes where that is all it sets.
inline void inheritSampleTime(BlockContext* S) {
  S->SampleTimes[0] = -1.0;
  S->OffsetTimes[0] = 1.0;
}

// Whether the block's first sample time has a hit in a major step: the
// condition under which the random sources draw.
inline bool majorHit(const BlockContext* S) {
  const SimInfo* si = S->SimInfo;
  return si->StepKind == MajorTimeStep && si->SampleHitFlags[S->SampleTaskIndex[0]] != 0;
}

// Stores a static message in the root record's error slot.
inline void setErrorStatus(BlockContext* S, const char* msg) { S->RootContext->ErrorStatus = msg; }

// Formats a message into a stack buffer and reports it with plgErrMsgTxt.
[[noreturn]] void blockError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// ---------------------------------------------------------------------------
// Level-2 services (built into level-2 plug-ins only).

// The fully dynamic port description: width and dimension count -1.
extern const DimsInfo DynamicDimsInfo;

// Describe a port to the host's dimension setter; each returns the host's
// answer, or 1 when the host has no setter.
int32_t setInputPortMatrixDimensions(BlockContext* S, int32_t port, int32_t rows, int32_t cols);
int32_t setOutputPortMatrixDimensions(BlockContext* S, int32_t port, int32_t rows, int32_t cols);
int32_t setInputPortVectorDimension(BlockContext* S, int32_t port, int32_t width);
int32_t setOutputPortVectorDimension(BlockContext* S, int32_t port, int32_t width);

// The host's answers to the int and the double query (0 without a host
// query function).
int32_t hostQueryInt(BlockContext* S, int32_t arg);
double hostQueryDouble(BlockContext* S);

#endif
