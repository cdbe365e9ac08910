// Host-side services of the host libraries: creating and freeing arrays,
// reclaiming command-line allocations, and running plug-in code so that an
// error raised with plgErrMsgTxt comes back to the host as a message.
#ifndef KIVREL_AX_HOST_H
#define KIVREL_AX_HOST_H

#include <stddef.h>

#include "ax.h"

extern "C" {
// A 1 x N character array of the text (0 x 0 for the empty text).
AX_EXPORT axArray* axCreateCharArray(const char* text);
// An M x N array of the given class (values held as doubles); logical arrays
// are of class axUINT8_CLASS.
AX_EXPORT axArray* axCreateClassMatrix(int m, int n, int classId, bool logical);
AX_EXPORT double* axGetPi(const axArray* a);
AX_EXPORT void axDestroyArray(axArray* a);
// Frees everything axCalloc handed out since the last release.
AX_EXPORT void axReleaseCallocs(void);
// Number of axCalloc blocks not yet released.
AX_EXPORT size_t axPendingCallocs(void);

// The character a code of a character array stands for (codes are held as
// doubles; any double gives a byte without an out-of-range conversion).
AX_EXPORT unsigned char axCharCode(double v);

// Allocation-failure switch for tests of the out-of-memory paths: after
// axFailAllocationAt(N) the Nth allocation from then on fails (once), and
// every allocation is counted (axAllocationCount); N = 0 disarms it. libax
// asks it for its own allocations, and the host's replacement of operator new
// and its guarded vectors ask it too, so one count covers the process.
AX_EXPORT void axFailAllocationAt(unsigned long long n);
// Counts one allocation; true when it is the one that must fail.
AX_EXPORT bool axAllocationFails(void);
// While held, allocations are neither counted nor failed: for code that
// cannot unwind from a failed allocation (the TOML parser), which the host
// treats as a fatal out-of-memory instead.
AX_EXPORT void axHoldAllocationSwitch(bool hold);
AX_EXPORT unsigned long long axAllocationCount(void);

typedef void (*plgCallFn)(void* arg);
typedef void (*plgWarningFn)(const char* msg, void* ctx);
// Runs fn(arg). Returns 0 when it returned normally; 1 when it called
// plgErrMsgTxt, with the message copied into msg (cut to msgSize - 1 bytes).
AX_EXPORT int plgProtectedCall(plgCallFn fn, void* arg, char* msg, size_t msgSize);
// Where plgWarnMsgTxt sends its messages (null: standard error).
AX_EXPORT void plgSetWarningHandler(plgWarningFn fn, void* ctx);
}

// A host array owned by the host code that made it.
#include <memory>
struct axArrayDeleter {
  void operator()(axArray* a) const { axDestroyArray(a); }
};
typedef std::unique_ptr<axArray, axArrayDeleter> axArrayPtr;

#endif
