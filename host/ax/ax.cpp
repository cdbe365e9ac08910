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

std::vector<void*>& callocs() {
  static std::vector<void*> blocks;
  return blocks;
}

size_t elementCount(int m, int n) {
  return m > 0 && n > 0 ? static_cast<size_t>(m) * static_cast<size_t>(n) : 0;
}

axArray* newArray(int m, int n, int classId, bool complex) {
  if (m < 0) m = 0;
  if (n < 0) n = 0;
  axArray* a = new axArray{m, n, classId, false, nullptr, nullptr};
  // Always a readable buffer, also for an empty array.
  size_t count = elementCount(m, n);
  a->pr = static_cast<double*>(calloc(count > 0 ? count : 1, sizeof(double)));
  if (complex) a->pi = static_cast<double*>(calloc(count > 0 ? count : 1, sizeof(double)));
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
  for (; i < count && i < limit; ++i) buf[i] = static_cast<char>(static_cast<unsigned char>(a->pr[i]));
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
  void* p = calloc(count > 0 ? count : 1, size > 0 ? size : 1);
  if (p != nullptr) callocs().push_back(p);
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

}  // extern "C"
