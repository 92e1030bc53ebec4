// What the music tells its listeners as it is heard (started, looped, ended, stopped, each
// beat, each marker, a queued piece begun), handed from the render thread to a client thread.
//
// The render thread publishes into a bounded lock-free ring and never waits: when the ring is
// full the event is dropped and counted. One client-side consumer at a time takes events out
// (it serialises its own takers). A marker's name is not copied on the render thread: the
// event names the sequence and the index of the marker event in it, which the client side
// reads the text from.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/music/render/spsc_ring.h"

namespace orvan::music {

enum class MusicEventKind : std::uint8_t {
  Started,
  Looped,  // a: the passes still to come after the one beginning (-1: forever)
  Ended,
  Stopped,
  Beat,    // a: bar, b: beat in it, both from 1
  Marker,  // a: index of the marker or cue-point event in `sequence`'s events
  TransitionDone,
};

struct MusicEvent {
  MusicEventKind kind = MusicEventKind::Started;
  std::int32_t a = 0;
  std::int32_t b = 0;
  // The output frame at which it is heard, counted from the performance's first frame.
  std::int64_t frame = 0;
  const void* sequence = nullptr;  // Marker: the midi::Sequence it belongs to (an identity)
};

class MusicEventRing {
 public:
  // A beat every 64 frames for over five seconds at 48 kHz, far denser than any piece.
  static constexpr std::size_t kCapacity = 4096;

  // Render thread only: never allocates, never waits.
  void publish(const MusicEvent& event) noexcept {
    if (!ring_.push(event)) overflowed_.fetch_add(1, std::memory_order_relaxed);
  }
  // The one consumer.
  bool take(MusicEvent& event) noexcept { return ring_.pop(event); }
  // Events dropped because the ring was full, over its life. Any thread.
  std::uint64_t overflowed() const noexcept { return overflowed_.load(std::memory_order_relaxed); }

 private:
  SpscRing<MusicEvent, kCapacity> ring_;
  std::atomic<std::uint64_t> overflowed_{0};
};

}  // namespace orvan::music
