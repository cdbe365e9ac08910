// The host's operator new: the ordinary one, except that it counts each
// allocation with libax's allocation-failure switch, so that a test can make
// any single allocation of the host fail (and see that the run ends in a
// message and frees what it took). Linked into blocksim and the host tests.
#include <stdlib.h>

#include <new>

#include "ax_host.h"

namespace {

void* allocate(size_t n) {
  if (axAllocationFails()) return nullptr;
  return malloc(n > 0 ? n : 1);
}

}  // namespace

void* operator new(size_t n) {
  void* p = allocate(n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* operator new[](size_t n) {
  void* p = allocate(n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* operator new(size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return allocate(n); }

void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { free(p); }
