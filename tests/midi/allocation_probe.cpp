#include "tests/midi/allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The replaced global allocator is process-wide by nature; its state has to be as well.
namespace {
std::atomic<bool> g_watching{false};
std::atomic<std::size_t> g_largest{0};
}  // namespace

namespace {
void* watched_malloc(std::size_t size) noexcept {
  if (g_watching.load(std::memory_order_relaxed)) {
    std::size_t seen = g_largest.load(std::memory_order_relaxed);
    while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
    }
  }
  return std::malloc(size == 0 ? 1 : size);
}
void* watched_new(std::size_t size) {
  if (void* p = watched_malloc(size)) return p;
  throw std::bad_alloc();
}
}  // namespace

// Every plain form is replaced together, so that each allocation meets its own release.
void* operator new(std::size_t size) {
  return watched_new(size);
}
void* operator new[](std::size_t size) {
  return watched_new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return watched_malloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return watched_malloc(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
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
