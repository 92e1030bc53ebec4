// Hands parameter records from the client thread to the render thread without a lock.
//
// A triple buffer: the writer fills its own slot and swaps it with the shared middle slot;
// the reader swaps the middle slot with its own only when something new was published.
// Neither side ever waits, and the reader always sees a whole record, the newest one.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

namespace orvan::music::dsp {

template <class Record>
class ParamMailbox {
  static_assert(std::is_trivially_copyable_v<Record>);

 public:
  explicit ParamMailbox(const Record& initial) noexcept {
    for (Record& slot : slots_) slot = initial;
  }

  // Client thread: makes `record` the newest value.
  void publish(const Record& record) noexcept {
    slots_[back_] = record;
    const std::uint8_t previous =
        middle_.exchange(static_cast<std::uint8_t>(back_ | kFresh), std::memory_order_acq_rel);
    back_ = previous & kIndex;
  }

  // Render thread only: copies the newest record into `out` if one arrived since the last
  // fetch; returns whether it did.
  bool fetch(Record& out) noexcept {
    if ((middle_.load(std::memory_order_relaxed) & kFresh) == 0) return false;
    const std::uint8_t previous = middle_.exchange(front_, std::memory_order_acq_rel);
    front_ = previous & kIndex;
    out = slots_[front_];
    return true;
  }

 private:
  static constexpr std::uint8_t kIndex = 3;
  static constexpr std::uint8_t kFresh = 4;

  Record slots_[3];
  std::atomic<std::uint8_t> middle_{1};
  std::uint8_t back_ = 0;   // writer's slot
  std::uint8_t front_ = 2;  // reader's slot
};

}  // namespace orvan::music::dsp
