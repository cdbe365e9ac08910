// Host array library (libax) and host extension library (libplg): the
// operations a plug-in may call. Every symbol here is exported by the host
// libraries with the symbol version v7.0.
#ifndef KIVREL_AX_H
#define KIVREL_AX_H

#include <stddef.h>

#define AX_EXPORT __attribute__((visibility("default")))

// Opaque host array: an M x N real matrix of doubles (column by column),
// optionally with an imaginary part, or a character array.
typedef struct axArray axArray;

// Class ids reported by axGetClassID.
enum {
  axUNKNOWN_CLASS = 0,
  axCHAR_CLASS = 4,
  axDOUBLE_CLASS = 6,
  axSINGLE_CLASS = 7,
  axINT8_CLASS = 8,
  axUINT8_CLASS = 9,  // also the class of logical arrays (axIsLogical)
  axINT16_CLASS = 10,
  axUINT16_CLASS = 11,
  axINT32_CLASS = 12,
  axUINT32_CLASS = 13,
};

extern "C" {
AX_EXPORT int axGetM(const axArray* a);
AX_EXPORT int axGetN(const axArray* a);
AX_EXPORT int axGetNumberOfElements(const axArray* a);
AX_EXPORT double* axGetPr(const axArray* a);
// Copies at most buflen - 1 characters and a terminating zero. Returns 0 for
// a character array, non-zero otherwise (the buffer then holds "").
AX_EXPORT int axGetString(const axArray* a, char* buf, int buflen);
AX_EXPORT bool axIsInf(double v);
AX_EXPORT bool axIsNumeric(const axArray* a);
AX_EXPORT bool axIsComplex(const axArray* a);
AX_EXPORT bool axIsLogical(const axArray* a);
AX_EXPORT int axGetClassID(const axArray* a);
// Zero-filled memory owned by the host: released when the host ends the
// command-line call that asked for it.
AX_EXPORT void* axCalloc(size_t count, size_t size);
// A new zero-filled real (complexity 0) or complex array.
AX_EXPORT axArray* axCreateDoubleMatrix(int m, int n, int complexity);

// Shows an error and never returns: the host regains control at the call it
// made into the plug-in.
[[noreturn]] AX_EXPORT void plgErrMsgTxt(const char* msg);
AX_EXPORT void plgWarnMsgTxt(const char* msg);
}

#endif
