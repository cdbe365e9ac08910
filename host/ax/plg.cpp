// The host extension library: error and warning messages of a plug-in.
// plgErrMsgTxt never returns to the plug-in: it unwinds to the innermost
// plgProtectedCall, which hands the message to the host.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>

#include "ax_host.h"

namespace {

const char kOutOfMemory[] = "Out of memory.";

struct PluginError {
  std::string message;
};

int protectionDepth = 0;
plgWarningFn warningHandler = nullptr;
void* warningContext = nullptr;

}  // namespace

extern "C" {

void plgErrMsgTxt(const char* msg) {
  if (protectionDepth == 0) {
    // No host call to return to: the message must not be lost.
    fprintf(stderr, "plgErrMsgTxt outside a host call: %s\n", msg != nullptr ? msg : "");
    abort();
  }
  throw PluginError{msg != nullptr ? msg : ""};
}

void plgWarnMsgTxt(const char* msg) {
  const char* text = msg != nullptr ? msg : "";
  if (warningHandler != nullptr)
    warningHandler(text, warningContext);
  else
    fprintf(stderr, "Warning: %s\n", text);
}

int plgProtectedCall(plgCallFn fn, void* arg, char* msg, size_t msgSize) {
  ++protectionDepth;
  int failed = 0;
  try {
    fn(arg);
  } catch (const PluginError& e) {
    failed = 1;
    if (msg != nullptr && msgSize > 0) snprintf(msg, msgSize, "%s", e.message.c_str());
  } catch (const std::bad_alloc&) {
    // A host service (an array, a message) could not get memory during the
    // call: the call fails with a message like any other.
    failed = 1;
    if (msg != nullptr && msgSize > 0) snprintf(msg, msgSize, "%s", kOutOfMemory);
  }
  --protectionDepth;
  return failed;
}

void plgSetWarningHandler(plgWarningFn fn, void* ctx) {
  warningHandler = fn;
  warningContext = ctx;
}

}  // extern "C"
