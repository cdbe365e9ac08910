// The gateway of a block plug-in: the sizes call (argument checks, the host's
// record or a context of the plug-in's own, the returned sizes), plgVersion,
// the stubs of the direct calls, and the services for block code of both
// levels. Built once per plug-in, with the block's name (KIVREL_BLOCK_NAME)
// compiled in; plgFunction and what differs by level come from level1.cpp or
// level2.cpp (gateway.h).
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "gateway.h"

namespace {

const char kBlockName[] = KIVREL_BLOCK_NAME;
const char kVersionText[] = "Trelon R14 native";

const char kNoMemory[] = "Out of memory while making the context of a command-line call.";
const char kWrongCountFormat[] =
    "Wrong number of input arguments passed to S-function PLG-file.\n%d input arguments were passed in when "
    "expecting %d input arguments.\n";

// Room for every fixed message with the caller label; the name-mismatch
// message embeds the host's PluginName and is cut to this size.
const size_t kMessageSize = 512;

// The parameters of a command-line call follow its four fixed arguments
// (t, x, u and the flag).
const int kFixedArguments = 4;

[[noreturn]] void argumentError(const char* fmt) {
  char msg[kMessageSize];
  snprintf(msg, sizeof msg, fmt, gateway::kCallerLabel);
  plgErrMsgTxt(msg);
}

// The host's record, when argument 1 is a two-row array whose second element
// is the marker and whose first carries the record's address; else null.
BlockContext* hostRecord(const axArray* x) {
  if (x == nullptr || axGetM(x) != 2) return nullptr;
  const double* pr = axGetPr(x);
  if (pr == nullptr || pr[1] != HostRecordMarker) return nullptr;
#if UINTPTR_MAX == 0xFFFFFFFFu
  // The address travels as a 32-bit signed integer.
  return reinterpret_cast<BlockContext*>(static_cast<uintptr_t>(static_cast<uint32_t>(truncInt(pr[0]))));
#else
  // The full address, exact as a double below 2^53.
  if (!(pr[0] >= -9007199254740992.0 && pr[0] <= 9007199254740992.0)) return nullptr;
  return reinterpret_cast<BlockContext*>(static_cast<uintptr_t>(static_cast<int64_t>(pr[0])));
#endif
}

// Zero-filled host memory for a context of the plug-in's own. A request the
// host cannot meet ends the call with a message: the block must never run on
// a record that is not there.
void* ownContextMemory(size_t count, size_t size) {
  void* p = axCalloc(count, size);
  if (p == nullptr) plgErrMsgTxt(kNoMemory);
  return p;
}

// The context of a command-line sizes call: made from host memory, never
// freed by the plug-in; the arguments after FLAG are the block parameters.
BlockContext* commandLineContext(int nrhs, const axArray* prhs[]) {
  const int count = nrhs > kFixedArguments ? nrhs - kFixedArguments : 0;
  BlockContext* S = static_cast<BlockContext*>(ownContextMemory(1, sizeof(BlockContext)));
  ::SimInfo* si = static_cast<::SimInfo*>(ownContextMemory(1, sizeof(::SimInfo)));
  S->RootContext = S;
  S->SimInfo = si;
  si->RunMode = RunModeOwnContext;
  S->SFcnParamsCount = count;
  S->PluginName = kBlockName;
  S->BlockPath = kBlockName;
  if (count > 0) {
    S->SFcnParams = static_cast<const axArray**>(ownContextMemory(static_cast<size_t>(count), sizeof(axArray*)));
    for (int i = 0; i < count; ++i) S->SFcnParams[i] = prhs[kFixedArguments + i];
  }
  gateway::completeOwnContext(S);
  return S;
}

void checkName(BlockContext* S) {
  const char* hostName = S->PluginName != nullptr ? S->PluginName : "";
  if (strcmp(hostName, kBlockName) == 0) return;
  char msg[kMessageSize];
  snprintf(msg, sizeof msg,
           "S-function name mismatch. Name in source is \"#define S_FUNCTION_NAME %s\", whereas "
           "name of the S-function PLG file is \"%s\". The source needs to be updated",
           kBlockName, hostName);
  plgErrMsgTxt(msg);
}

}  // namespace

void gateway::sizesCall(int nlhs, axArray* plhs[], int nrhs, const axArray* prhs[]) {
  if (nrhs < kFixedArguments) argumentError("%s must be called with at least 4 right hand arguments");
  if (nlhs > 1) argumentError("%s called with too many left hand arguments");
  const char* const flagMessage = "The 4th right hand argument, FLAG, passed to %s must be an integer";
  const axArray* flagArg = prhs[3];
  if (flagArg == nullptr ||
      static_cast<long long>(axGetM(flagArg)) * axGetN(flagArg) != 1 || axIsComplex(flagArg) ||
      !axIsNumeric(flagArg))
    argumentError(flagMessage);
  const double flag = axGetPr(flagArg)[0];
  if (!fitsInt(flag) || static_cast<double>(truncInt(flag)) != flag) argumentError(flagMessage);
  if (truncInt(flag) != 0) argumentError("Invalid flag passed to %s");

  BlockContext* S = hostRecord(prhs[1]);
  if (S != nullptr) {
    if (gateway::checksName(S)) checkName(S);
    gateway::installCallbacks(S);
  } else {
    S = commandLineContext(nrhs, prhs);
  }

  S->SizesVector[VersionMarker] = gateway::kVersionMarker;
  gateway::initializeSizes(S);

  axArray* result = axCreateDoubleMatrix(SizesVectorLength, 1, 0);
  plhs[0] = result;
  double* out = axGetPr(result);
  for (int i = 0; i < SizesVectorLength; ++i) out[i] = S->SizesVector[i];
  S->SizesVector[OptionFlags] |= OptionSizesCallBit;
  for (int i = FirstUnsignedEntry; i <= LastUnsignedEntry; ++i) out[i] = static_cast<uint32_t>(S->SizesVector[i]);
  out[OptionFlags] = static_cast<uint32_t>(S->SizesVector[OptionFlags]);
}

// ---------------------------------------------------------------------------
// Stubs and messages of the direct calls.

void gateway::varHitStub(BlockContext* S) {
  setErrorStatus(S,
                 "To have a variable sample time, you must define MDL_GET_TIME_OF_NEXT_VAR_HIT "
                 "and add a mdlGetTimeOfNextVarHit routine");
}

void gateway::zeroCrossingStub(BlockContext* S) {
  setErrorStatus(S,
                 "To have nonsampled zero crossings, you must define MDL_ZERO_CROSSINGS and have "
                 "a mdlZeroCrossings routine");
}

void gateway::invalidFlag(BlockContext* S) { setErrorStatus(S, "Invalid flag encountered in kivrel"); }

// ---------------------------------------------------------------------------
// Services for block code.

void checkParamCount(BlockContext* S, int expected) {
  if (S->SFcnParamsCount != expected)
    blockError(kWrongCountFormat, S->SFcnParamsCount + kFixedArguments, expected + kFixedArguments);
}

void blockError(const char* fmt, ...) {
  char msg[kMessageSize];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(msg, sizeof msg, fmt, ap);
  va_end(ap);
  plgErrMsgTxt(msg);
}

extern "C" const char* plgVersion(void) { return kVersionText; }
