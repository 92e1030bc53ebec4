#include "tests/midi/allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The replaced global allocator is process-wide by nature; its state has to be as well.
namespace {
std::atomic<bool> g_watching{false};
std::atomic<std::size_t> g_largest{0};
}  // namespace

void* operator new(std::size_t size) {
  if (g_watching.load(std::memory_order_relaxed)) {
    std::size_t seen = g_largest.load(std::memory_order_relaxed);
    while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
    }
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace orvan::test {

AllocationProbe::AllocationProbe() {
  g_largest = 0;
  g_watching = true;
}
AllocationProbe::~AllocationProbe() {
  g_watching = false;
}
std::size_t AllocationProbe::largest() const {
  return g_largest.load();
}

}  // namespace orvan::test
