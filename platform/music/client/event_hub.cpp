#include "platform/music/client/event_hub.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include "platform/music/client/root.h"

namespace orvan::music {
namespace {

constexpr int kIndexBits = 10;
static_assert((1 << kIndexBits) == EventHub::kCapacity);
constexpr std::uint32_t kIndexMask = (1u << kIndexBits) - 1;
// Generations start at 1 (so no handle is 0) and stop below bit 31 (so handles are positive).
constexpr std::uint32_t kMaxGeneration = (1u << (31 - kIndexBits)) - 1;
constexpr std::uint64_t kCountMask = 0xFFFFFFFFu;

struct Slot {
  // Upper half: the live handle (0 = free); lower half: signals not yet delivered.
  std::atomic<std::uint64_t> word{0};
  // Written and read under the hub's lock only.
  EventSink* sink = nullptr;
  std::uint32_t generation = 0;
};

std::uint32_t handle_of(std::uint64_t word) {
  return static_cast<std::uint32_t>(word >> 32);
}

}  // namespace

struct EventHub::State {
  std::array<Slot, kCapacity> slots;
  // Bumped by every signal and by shutdown; the notification thread sleeps on it.
  std::atomic<std::uint32_t> wake{0};
  std::atomic<bool> stopping{false};

  std::mutex mutex;
  std::condition_variable callback_done;
  // Everything below is guarded by `mutex`.
  std::int32_t in_flight = 0;  // handle whose callback is running, 0 when none
  std::thread thread;
  std::thread::id thread_id;
  int live = 0;
  int next_slot = 0;
  bool closed = false;

  Slot* slot_for(std::int32_t handle) {
    if (handle <= 0) return nullptr;
    return &slots[static_cast<std::uint32_t>(handle) & kIndexMask];
  }

  // Takes one pending signal off `slot`; returns its handle, or 0 when none is pending.
  static std::uint32_t take_one(Slot& slot) {
    std::uint64_t word = slot.word.load(std::memory_order_acquire);
    while ((word & kCountMask) != 0) {
      if (slot.word.compare_exchange_weak(word, word - 1, std::memory_order_acq_rel)) {
        return handle_of(word);
      }
    }
    return 0;
  }

  void deliver(Slot& slot, std::uint32_t handle) {
    EventSink* sink = nullptr;
    {
      std::lock_guard lock(mutex);
      // Destroyed between taking the signal and getting here: the signal goes with it.
      if (stopping.load(std::memory_order_relaxed) ||
          handle_of(slot.word.load(std::memory_order_acquire)) != handle) {
        return;
      }
      in_flight = static_cast<std::int32_t>(handle);
      sink = slot.sink;
    }
    try {
      sink->DXCallback(static_cast<std::int32_t>(handle));
    } catch (...) {
      // A sink's failure is its own; the other events must keep being delivered.
    }
    {
      std::lock_guard lock(mutex);
      in_flight = 0;
    }
    callback_done.notify_all();
  }

  // Notification thread only.
  static void run(const std::shared_ptr<State>& self) {
    for (;;) {
      const std::uint32_t seen = self->wake.load(std::memory_order_acquire);
      if (self->stopping.load(std::memory_order_acquire)) return;
      bool delivered = false;
      // One signal per event per pass, so a busy event cannot starve the others.
      for (Slot& slot : self->slots) {
        if (const std::uint32_t handle = take_one(slot)) {
          self->deliver(slot, handle);
          delivered = true;
        }
      }
      if (!delivered) self->wake.wait(seen, std::memory_order_acquire);
    }
  }
};

std::shared_ptr<EventHub> EventHub::create() {
  return std::shared_ptr<EventHub>(new EventHub());
}

EventHub::EventHub() : state_(std::make_shared<State>()) {}

EventHub::~EventHub() {
  shutdown();
}

com::HResult EventHub::create_event(EventSink* sink, std::int32_t& handle) {
  if (!sink) return com::E_POINTER;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (s.closed) return com::MUSIC_E_CLOSED;
  if (s.live == kCapacity) return com::E_OUTOFMEMORY;

  // Slots are taken in turn rather than lowest-first, so a destroyed handle's slot rests.
  int index = s.next_slot;
  while (s.slots[static_cast<std::size_t>(index)].word.load(std::memory_order_relaxed) != 0) {
    index = (index + 1) % kCapacity;
  }
  s.next_slot = (index + 1) % kCapacity;

  Slot& slot = s.slots[static_cast<std::size_t>(index)];
  slot.generation = slot.generation % kMaxGeneration + 1;
  const std::uint32_t new_handle =
      (slot.generation << kIndexBits) | static_cast<std::uint32_t>(index);
  slot.sink = sink;
  slot.word.store(std::uint64_t{new_handle} << 32, std::memory_order_release);
  ++s.live;

  if (!s.thread.joinable() && s.thread_id == std::thread::id{}) {
    try {
      s.thread = std::thread(&State::run, state_);
    } catch (const std::system_error&) {
      slot.word.store(0, std::memory_order_release);
      slot.sink = nullptr;
      --s.live;
      return com::E_OUTOFMEMORY;
    }
    s.thread_id = s.thread.get_id();
  }
  handle = static_cast<std::int32_t>(new_handle);
  return com::S_OK;
}

com::HResult EventHub::destroy_event(std::int32_t handle) {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  Slot* slot = s.slot_for(handle);
  if (!slot ||
      handle_of(slot->word.load(std::memory_order_acquire)) != static_cast<std::uint32_t>(handle)) {
    return com::MUSIC_E_UNKNOWN_EVENT;
  }
  slot->word.store(0, std::memory_order_release);
  slot->sink = nullptr;
  --s.live;
  // Inside the event's own callback the callback in flight is the caller: waiting would
  // never end.
  if (s.thread_id != std::this_thread::get_id()) {
    s.callback_done.wait(lock, [&] { return s.in_flight != handle; });
  }
  return com::S_OK;
}

com::HResult EventHub::signal(std::int32_t handle) noexcept {
  State& s = *state_;
  Slot* slot = s.slot_for(handle);
  if (!slot) return com::MUSIC_E_UNKNOWN_EVENT;
  std::uint64_t word = slot->word.load(std::memory_order_acquire);
  do {
    if (handle_of(word) != static_cast<std::uint32_t>(handle)) return com::MUSIC_E_UNKNOWN_EVENT;
    // Four billion undelivered signals: the sink is not keeping up; more would wrap.
    if ((word & kCountMask) == kCountMask) return com::S_FALSE;
  } while (!slot->word.compare_exchange_weak(word, word + 1, std::memory_order_acq_rel));
  s.wake.fetch_add(1, std::memory_order_release);
  s.wake.notify_one();
  return com::S_OK;
}

void EventHub::shutdown() {
  State& s = *state_;
  std::thread to_join;
  {
    std::lock_guard lock(s.mutex);
    s.closed = true;
    s.stopping.store(true, std::memory_order_release);
    for (Slot& slot : s.slots) {
      slot.word.store(0, std::memory_order_release);
      slot.sink = nullptr;
    }
    s.live = 0;
    if (s.thread.joinable()) {
      // Joining ourselves would deadlock; the thread owns the state it still touches and
      // ends as soon as the current callback returns.
      if (s.thread_id == std::this_thread::get_id()) {
        s.thread.detach();
      } else {
        to_join = std::move(s.thread);
      }
    }
  }
  s.wake.fetch_add(1, std::memory_order_release);
  s.wake.notify_all();
  if (to_join.joinable()) to_join.join();
}

bool EventHub::on_notification_thread() const {
  std::lock_guard lock(state_->mutex);
  return state_->thread_id == std::this_thread::get_id();
}

int EventHub::event_count() const {
  std::lock_guard lock(state_->mutex);
  return state_->live;
}

}  // namespace orvan::music
