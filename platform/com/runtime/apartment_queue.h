// The queue of calls posted to one single-threaded apartment.
//
// Any thread may post; only the apartment's own thread runs what was posted, inside its
// pump. An eventfd is readable exactly while the queue holds a call, so that an event loop
// (poll, Qt's socket notifier, asyncio, GLib) can wait for work without a thread of its own.
// When the apartment ends the queue closes: later posts are refused, and every call it never
// ran is released on the apartment's thread, so what the calls held goes with them.
#pragma once

#include <deque>
#include <mutex>

#include "orvan/component_runtime.h"

namespace orvan::com::runtime {

// A posted call: `run` runs once on the apartment's thread; `release` (may be null) then
// frees `context`, or frees it without `run` when the call is dropped.
struct ApartmentCall {
  void (*run)(void* context) = nullptr;
  void (*release)(void* context) = nullptr;
  void* context = nullptr;
};

class ApartmentQueue {
 public:
  // E_OUTOFMEMORY when the descriptor cannot be made.
  static HRESULT open(ApartmentQueue*& out);
  ~ApartmentQueue();
  ApartmentQueue(const ApartmentQueue&) = delete;
  ApartmentQueue& operator=(const ApartmentQueue&) = delete;

  // Any thread. Takes the call, or refuses it with RPC_E_DISCONNECTED once the queue has
  // closed (then the caller still owns it). May allocate: never from a render thread.
  HRESULT post(const ApartmentCall& call);

  // The apartment's thread only. Waits up to `timeout_ms` (INFINITE: no limit) for a call,
  // then runs the calls queued at that moment, oldest first, one at a time, so that a call
  // may post or pump again. Calls posted while it runs stay for the next pump.
  ULONG pump(DWORD timeout_ms);

  // The apartment's thread only: refuses later posts and releases every call not yet run.
  void close();

  int descriptor() const noexcept { return descriptor_; }

 private:
  explicit ApartmentQueue(int descriptor) noexcept : descriptor_(descriptor) {}
  bool take(ApartmentCall& call);  // the oldest call; false when empty
  void wait_readable(DWORD timeout_ms) const;

  std::mutex mutex_;
  std::deque<ApartmentCall> calls_;
  bool closed_ = false;
  const int descriptor_;
};

}  // namespace orvan::com::runtime
