// A fixed-capacity single-producer/single-consumer ring: the only way data crosses between
// a client thread and the render thread without a lock. Neither side ever allocates or
// waits; push fails when full, pop when empty.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace orvan::music {

template <class T, std::size_t Capacity>
class SpscRing {
  static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "power of two");

 public:
  // Producer only.
  bool push(const T& value) noexcept {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) == Capacity) return false;
    slots_[tail & (Capacity - 1)] = value;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }
  // Producer only: whether the next push would fail.
  bool full() const noexcept {
    return tail_.load(std::memory_order_relaxed) - head_.load(std::memory_order_acquire) ==
           Capacity;
  }
  // Either side: how many values wait (a snapshot).
  std::size_t size() const noexcept {
    return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_acquire);
  }
  // Consumer only.
  bool pop(T& value) noexcept {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    value = slots_[head & (Capacity - 1)];
    head_.store(head + 1, std::memory_order_release);
    return true;
  }
  // Consumer only: the next value without taking it.
  const T* peek() const noexcept {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return nullptr;
    return &slots_[head & (Capacity - 1)];
  }

 private:
  std::array<T, Capacity> slots_{};
  alignas(64) std::atomic<std::size_t> head_{0};
  alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace orvan::music
