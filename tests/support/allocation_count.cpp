#include "support/allocation_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> g_liveAllocations{0};
}

void* operator new(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  ++g_liveAllocations;
  return p;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  --g_liveAllocations;
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace testing_support {

long liveAllocations() { return g_liveAllocations; }

}  // namespace testing_support
