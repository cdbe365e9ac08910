// A counting allocator for the benchmark program: malloc, calloc, realloc and
// the operator new family go to glibc's allocator and, while counting is on,
// add one to the count. The plug-ins bind their malloc to the program's, so
// their allocations are counted too.
#include "alloc_count.h"

#include <stddef.h>

#include <atomic>
#include <new>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<unsigned long long> allocations{0};

inline void count() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

namespace allocCount {
void start() {
  allocations = 0;
  counting = true;
}
unsigned long long stop() {
  counting = false;
  return allocations;
}
}  // namespace allocCount

extern "C" void* malloc(size_t n) {
  count();
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t size) {
  count();
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t n) {
  count();
  return __libc_realloc(p, n);
}
extern "C" void free(void* p) { __libc_free(p); }

void* operator new(size_t n) {
  count();
  if (void* p = __libc_malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t) noexcept { __libc_free(p); }
