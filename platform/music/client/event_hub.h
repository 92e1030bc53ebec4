// The root object's notification events: a registry of handle -> sink and the thread that
// delivers them.
//
// How it works
// - Events live in a fixed table of slots. A slot's whole state is one 64-bit atomic word:
//   the live handle in the upper half (0 = free) and the count of undelivered signals in
//   the lower half. Because handle and count change together in one compare-and-swap, a
//   signal can never land on an event that was destroyed (or on a newer event that reuses
//   the slot) between "is this handle live?" and "count one more".
// - signal() is that compare-and-swap plus a bump of a wake counter and a futex wake-up
//   (std::atomic::notify_one). It takes no lock, never allocates and never sleeps, so the
//   render thread may call it. It is the only entry point the render thread may use.
// - One notification thread per hub (started with the first event) takes signals off the
//   slots one at a time, round robin, and calls the sink's DXCallback(handle) once per
//   signal. Signals that arrive while a callback runs are counted and delivered after it.
// - The sink is never called while the hub's lock is held: the thread marks the event as
//   "in flight" under the lock, unlocks, calls, then clears the mark and wakes waiters.
// - destroy_event() clears the slot (dropping its pending signals) under the lock, then
//   waits until no callback for that handle is in flight, so that no callback reaches the
//   sink after it returns. On the notification thread itself (a sink destroying an event
//   from inside its callback) it does not wait: that callback is the caller's own frame.
// - shutdown() destroys every event and stops the thread, joining it, or detaching it when
//   called on the notification thread (the last reference to the root dropped inside a
//   callback). The thread keeps the hub's state alive through a shared pointer, so a
//   detached thread finishes safely after the hub object is gone.
//
// Handles are positive 32-bit values: slot index in the low bits, a per-slot generation
// above it, so a handle is not reused while it is live, nor soon after it is destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "platform/com/status.h"

namespace orvan::music {

class EventSink;

class EventHub {
 public:
  // Events a hub can hold at once; one more gives E_OUTOFMEMORY.
  static constexpr int kCapacity = 1024;

  static std::shared_ptr<EventHub> create();
  ~EventHub();  // shuts down as shutdown() does

  EventHub(const EventHub&) = delete;
  EventHub& operator=(const EventHub&) = delete;

  // Registers `sink`; E_POINTER for an empty sink, MUSIC_E_CLOSED after shutdown().
  com::HResult create_event(EventSink* sink, std::int32_t& handle);
  // MUSIC_E_UNKNOWN_EVENT for a handle that is not live.
  com::HResult destroy_event(std::int32_t handle);
  // One signal, one callback. Any thread, the render thread included: lock-free, no
  // allocation, no waiting. MUSIC_E_UNKNOWN_EVENT for a handle that is not live.
  com::HResult signal(std::int32_t handle) noexcept;
  // Destroys every event; later calls to create_event fail. Idempotent.
  void shutdown();

  // True on this hub's notification thread (inside a callback).
  bool on_notification_thread() const;
  // Live events, for diagnostics and tests.
  int event_count() const;

  struct State;  // shared with the notification thread

 private:
  EventHub();

  std::shared_ptr<State> state_;
};

}  // namespace orvan::music
