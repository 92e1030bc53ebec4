// What the render thread publishes about one segment state, read by client threads.
#pragma once

#include <atomic>
#include <cstdint>

namespace orvan::music {

struct PlaybackShared {
  explicit PlaybackShared(std::int32_t segment_length) : length(segment_length) {}

  const std::int32_t length;
  // Music time within the current pass of what has been rendered, 0..length.
  std::atomic<std::int32_t> position{0};
  // Set by the client when it queues the play, cleared by the render thread when the
  // state ends, is stopped or is replaced (or by CloseDown).
  std::atomic<bool> playing{false};
  // Set by the render thread when the play begins (a queued one on its boundary).
  std::atomic<bool> started{false};
  // The render thread holds no pointer to the state any more (release order: every
  // notification about it was queued before this became true).
  std::atomic<bool> retired{false};
};

}  // namespace orvan::music
