// A Standard MIDI File read into music time: the data a segment plays.
//
// Music time counts 768 ticks per quarter note in a signed 32-bit value. File ticks are
// converted from their absolute position (never by summing rounded deltas), so a long file
// does not drift.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/com/status.h"

namespace orvan::music::midi {

inline constexpr std::int32_t kTicksPerQuarter = 768;
inline constexpr std::uint32_t kDefaultTempo = 500000;  // microseconds per quarter (120 BPM)

inline constexpr std::uint8_t kSysExStatus = 0xF0;
inline constexpr std::uint8_t kSysExEscapeStatus = 0xF7;
inline constexpr std::uint8_t kMetaStatus = 0xFF;
inline constexpr std::uint8_t kMetaTempo = 0x51;
inline constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
inline constexpr std::uint8_t kMetaTimeSignature = 0x58;
inline constexpr std::uint8_t kMetaMarker = 0x06;

struct Event {
  std::int32_t time = 0;            // music time
  std::uint16_t track = 0;          // index of the track chunk it came from
  std::uint8_t status = 0;          // 0x80..0xEF channel message, 0xF0/0xF7 SysEx, 0xFF meta
  std::uint8_t data1 = 0;           // channel message: first data byte; meta: meta type
  std::uint8_t data2 = 0;           // channel message: second data byte (0 if it has one)
  std::uint32_t payload_offset = 0; // SysEx and meta: their bytes in Sequence::payload
  std::uint32_t payload_size = 0;

  bool is_channel() const { return status >= 0x80 && status < 0xF0; }
  std::uint8_t channel() const { return status & 0x0F; }
  std::uint8_t command() const { return status & 0xF0; }
};

// Where the tempo changes, in music time, with the real time already elapsed there.
struct TempoPoint {
  std::int32_t time = 0;
  std::uint32_t usec_per_quarter = kDefaultTempo;
  double seconds = 0.0;  // real time at `time`, at master tempo 1.0
};

// Converts music time to seconds and back at master tempo 1.0. Always holds a point at 0.
class TempoMap {
 public:
  TempoMap();
  // Points need not hold one at 0 (120 BPM is assumed before the first); later points
  // at the same time replace earlier ones.
  explicit TempoMap(std::vector<TempoPoint> points);

  double seconds_at(double music_time) const;
  double music_time_at(double seconds) const;
  std::uint32_t tempo_at(std::int32_t music_time) const;
  const std::vector<TempoPoint>& points() const { return points_; }

 private:
  std::vector<TempoPoint> points_;
};

struct Sequence {
  int format = 0;                 // 0 or 1
  int track_count = 0;
  std::uint16_t division = 0;     // the header's raw division word
  std::vector<Event> events;      // all tracks merged by time; ties keep track, then file order
  std::vector<std::uint8_t> payload;
  TempoMap tempo;
  std::int32_t length = 0;        // the latest end-of-track time over all tracks

  std::span<const std::uint8_t> payload_of(const Event& e) const {
    return {payload.data() + e.payload_offset, e.payload_size};
  }
};

// Reads an SMF (format 0 or 1) or an RMID file, recognised by content. On failure `out` is
// left unchanged and, when `detail` is given, it receives a one-line explanation.
com::HResult read_sequence(std::span<const std::uint8_t> bytes, Sequence& out,
                           std::string* detail = nullptr);
com::HResult read_sequence_file(const std::string& path, Sequence& out,
                                std::string* detail = nullptr);

}  // namespace orvan::music::midi
