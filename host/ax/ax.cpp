// The host array library: real and complex matrices of doubles stored column
// by column, character arrays, and zero-filled memory that the host reclaims.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <vector>

#include "ax_host.h"

struct axArray {
  int m;
  int n;
  int classId;
  bool logical;
  double* pr;  // m * n values; character arrays hold their character codes
  double* pi;  // imaginary part, or null
};

namespace {

// The allocation-failure switch (see axFailAllocationAt): the number of
// allocations still to go before the one that fails; 0 when disarmed.
unsigned long long failCountdown = 0;
unsigned long long allocationCount = 0;
bool switchHeld = false;

std::vector<void*>& callocs() {
  static std::vector<void*> blocks;
  return blocks;
}

size_t elementCount(int m, int n) {
  return m > 0 && n > 0 ? static_cast<size_t>(m) * static_cast<size_t>(n) : 0;
}

// calloc, subject to the allocation-failure switch.
void* countedCalloc(size_t count, size_t size) {
  if (axAllocationFails()) return nullptr;
  return calloc(count, size);
}

// A new array; like operator new, it never returns null but throws
// std::bad_alloc, which a host call turns into a failed call and the host
// reports (an array is never handed out half made).
axArray* newArray(int m, int n, int classId, bool complex) {
  if (m < 0) m = 0;
  if (n < 0) n = 0;
  axArray* a = new axArray{m, n, classId, false, nullptr, nullptr};
  // Always a readable buffer, also for an empty array.
  size_t count = elementCount(m, n);
  a->pr = static_cast<double*>(countedCalloc(count > 0 ? count : 1, sizeof(double)));
  if (a->pr != nullptr && complex) a->pi = static_cast<double*>(countedCalloc(count > 0 ? count : 1, sizeof(double)));
  if (a->pr == nullptr || (complex && a->pi == nullptr)) {
    axDestroyArray(a);
    throw std::bad_alloc();
  }
  return a;
}

}  // namespace

extern "C" {

int axGetM(const axArray* a) { return a->m; }
int axGetN(const axArray* a) { return a->n; }

int axGetNumberOfElements(const axArray* a) { return static_cast<int>(elementCount(a->m, a->n)); }

double* axGetPr(const axArray* a) { return a->pr; }
double* axGetPi(const axArray* a) { return a->pi; }

int axGetString(const axArray* a, char* buf, int buflen) {
  if (buf == nullptr || buflen <= 0) return 1;
  buf[0] = '\0';
  if (a->classId != axCHAR_CLASS) return 1;
  size_t count = elementCount(a->m, a->n);
  size_t limit = static_cast<size_t>(buflen - 1);
  size_t i = 0;
  for (; i < count && i < limit; ++i) buf[i] = static_cast<char>(axCharCode(a->pr[i]));
  buf[i] = '\0';
  return 0;
}

bool axIsInf(double v) { return isinf(v); }

bool axIsNumeric(const axArray* a) {
  return a->classId >= axDOUBLE_CLASS && a->classId <= axUINT32_CLASS && !a->logical;
}

bool axIsComplex(const axArray* a) { return a->pi != nullptr; }
bool axIsLogical(const axArray* a) { return a->logical; }
int axGetClassID(const axArray* a) { return a->classId; }

void* axCalloc(size_t count, size_t size) {
  void* p = countedCalloc(count > 0 ? count : 1, size > 0 ? size : 1);
  if (p == nullptr) return nullptr;
  try {
    callocs().push_back(p);
  } catch (const std::bad_alloc&) {
    free(p);
    return nullptr;
  }
  return p;
}

axArray* axCreateDoubleMatrix(int m, int n, int complexity) {
  return newArray(m, n, axDOUBLE_CLASS, complexity != 0);
}

axArray* axCreateClassMatrix(int m, int n, int classId, bool logical) {
  axArray* a = newArray(m, n, classId, false);
  a->logical = logical;
  return a;
}

axArray* axCreateCharArray(const char* text) {
  size_t len = strlen(text);
  axArray* a = newArray(len > 0 ? 1 : 0, static_cast<int>(len), axCHAR_CLASS, false);
  for (size_t i = 0; i < len; ++i) a->pr[i] = static_cast<unsigned char>(text[i]);
  return a;
}

void axDestroyArray(axArray* a) {
  if (a == nullptr) return;
  free(a->pr);
  free(a->pi);
  delete a;
}

void axReleaseCallocs(void) {
  for (void* p : callocs()) free(p);
  callocs().clear();
}

size_t axPendingCallocs(void) { return callocs().size(); }

unsigned char axCharCode(double v) {
  // A code held as any double: whole codes 0 to 255 as they are, other
  // finite values wrapped modulo 256 after truncation, NaN and infinities 0,
  // so that no value makes an out-of-range conversion.
  if (v >= 0.0 && v < 256.0) return static_cast<unsigned char>(v);
  if (!(v > -9.2e18 && v < 9.2e18)) return 0;
  return static_cast<unsigned char>(static_cast<unsigned long long>(static_cast<long long>(v)));
}

void axFailAllocationAt(unsigned long long n) {
  failCountdown = n;
  allocationCount = 0;
}

void axHoldAllocationSwitch(bool hold) { switchHeld = hold; }

bool axAllocationFails(void) {
  if (switchHeld) return false;
  ++allocationCount;
  if (failCountdown == 0) return false;
  return --failCountdown == 0;
}

unsigned long long axAllocationCount(void) { return allocationCount; }

}  // extern "C"
