// Inside the framework: what the gateway (kivrel.cpp) and the source of the
// plug-in's level (level1.cpp or level2.cpp; a plug-in is built with one of
// them) give each other. Not for block code.
//
// The level's source defines plgFunction: a negative left-hand count is a
// direct call, made there with the host's record from left-hand entry 1 and
// the flag of argument 3 truncated (so that the dispatch of the run-time
// calls is compiled into the entry point); any other call is a sizes call,
// handed to sizesCall().
#ifndef KIVREL_GATEWAY_H
#define KIVREL_GATEWAY_H

#include <stdint.h>

#include "kivrel.h"

#ifndef KIVREL_BLOCK_NAME
#error "KIVREL_BLOCK_NAME must name the block"
#endif

extern "C" {
__attribute__((visibility("default"))) void plgFunction(int nlhs, axArray* plhs[], int nrhs,
                                                         const axArray* prhs[]);
__attribute__((visibility("default"))) const char* plgVersion(void);
}

namespace gateway {

// ---------------------------------------------------------------------------
// From the level's source.

// The caller label of the sizes-call messages: PLG levelN S-function and the
// block name in double quotes.
extern const char kCallerLabel[];
// VersionMarker of the level.
extern const int32_t kVersionMarker;

// Whether the sizes call with the host's record S checks the block's name.
bool checksName(const BlockContext* S);
// Fills the host's callback table with the block's callbacks and the stubs.
void installCallbacks(BlockContext* S);
// Completes a context made for a command-line call (level 2: port counters).
void completeOwnContext(BlockContext* S);
// The block's mdlInitializeSizes.
void initializeSizes(BlockContext* S);

// ---------------------------------------------------------------------------
// From kivrel.cpp.

// The sizes call: argument checks, the context, the returned sizes.
void sizesCall(int nlhs, axArray* plhs[], int nrhs, const axArray* prhs[]);

// The stubs installed for the callbacks no block of this system has. Each
// leaves its message in ErrorStatus.
void varHitStub(BlockContext* S);
void zeroCrossingStub(BlockContext* S);

// The message of a flag no case of the level takes.
void invalidFlag(BlockContext* S);

template <typename Fn>
AnyCallback asAny(Fn f) {
  return reinterpret_cast<AnyCallback>(f);
}

// Calls a table slot holding a function of type Fn, or stores the message
// when the slot is empty.
template <typename Fn, typename... Args>
void viaSlot(BlockContext* S, AnyCallback slot, const char* missing, Args... args) {
  if (slot == nullptr) {
    setErrorStatus(S, missing);
    return;
  }
  reinterpret_cast<Fn>(slot)(S, args...);
}

}  // namespace gateway

#endif
