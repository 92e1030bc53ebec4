#include "engine/component/server_lifetime.h"

#include <atomic>

namespace orvan::engine::component {
namespace {

std::atomic<long> live_objects{0};
std::atomic<long> server_locks{0};

}  // namespace

void object_created() {
  live_objects.fetch_add(1, std::memory_order_relaxed);
}
void object_destroyed() {
  live_objects.fetch_sub(1, std::memory_order_acq_rel);
}
void server_locked() {
  server_locks.fetch_add(1, std::memory_order_relaxed);
}
bool server_unlocked() {
  long locks = server_locks.load(std::memory_order_relaxed);
  while (locks > 0) {
    if (server_locks.compare_exchange_weak(locks, locks - 1, std::memory_order_acq_rel))
      return true;
  }
  return false;
}
bool server_idle() {
  return live_objects.load(std::memory_order_acquire) == 0 &&
         server_locks.load(std::memory_order_acquire) == 0;
}

}  // namespace orvan::engine::component
