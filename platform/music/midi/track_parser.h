// Reads the events of one MTrk chunk, with absolute tick times.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/com/status.h"
#include "platform/music/midi/sequence.h"

namespace orvan::music::midi {

struct TickedEvent {
  std::uint64_t tick = 0;
  Event event;  // its `time` is filled in once ticks convert to music time
};

struct TrackResult {
  std::uint64_t end_tick = 0;  // the end-of-track event's tick
};

// Appends the track's kept events to `events` and their SysEx/meta bytes to `payload`.
// `cut_short` says the chunk declared more bytes than the file holds, so running out of
// data means the file was truncated rather than that the track lacks its end.
// `max_ticks` bounds the absolute time (beyond it music time would not fit 32 bits).
com::HResult parse_track(std::span<const std::uint8_t> data, bool cut_short,
                         std::uint16_t track_index, std::uint64_t max_ticks,
                         std::vector<TickedEvent>& events, std::vector<std::uint8_t>& payload,
                         TrackResult& result, std::string& detail);

}  // namespace orvan::music::midi
