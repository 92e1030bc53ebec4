// A Standard MIDI File read into music time: the data a segment plays.
//
// Music time counts 768 ticks per quarter note in a signed 32-bit value. File ticks are
// converted from their absolute position (never by summing rounded deltas), so a long file
// does not drift: music = round(ticks * 768 / ticks_per_quarter).
//
// Files whose division counts SMPTE frames have no quarter notes. They convert through real
// time at a fixed 120 BPM: music = round(seconds * 1536), seconds = ticks / (fps * ticks per
// frame), with 29 meaning 29.97 (30000/1001) frames a second. Their tempo meta events cannot
// change timing, so they are dropped and the tempo map holds the single 120 BPM point.
//
// Accepted: format 0 and 1, bare or inside a RIFF 'RMID' file's 'data' chunk, recognised by
// content. Format 2 (independent patterns) is refused with MUSIC_E_UNSUPPORTED_FORMAT.
// Running status carries across meta and SysEx events, as real files rely on it. Chunks
// other than MThd and MTrk are skipped, and so is anything after the last declared track.
// Every track must end with an end-of-track event (MUSIC_E_NO_END_OF_TRACK otherwise).
#pragma once

#include <cstddef>
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
inline constexpr std::uint8_t kMetaCuePoint = 0x07;

struct Event {
  std::int32_t time = 0;    // music time
  std::uint16_t track = 0;  // index of the track chunk it came from
  std::uint8_t status = 0;  // 0x80..0xEF channel message, 0xF0/0xF7 SysEx, 0xFF meta
  std::uint8_t data1 = 0;   // channel message: first data byte; meta: meta type
  std::uint8_t data2 = 0;   // channel message: second data byte (0 if it has one)
  // SysEx and meta: their bytes in Sequence::payload. Meta: the data after the length.
  // SysEx: the bytes after the length as stored, so an F0 message continues after its F0
  // (and normally ends with F7) and an F7 escape holds raw bytes to send as they are.
  std::uint32_t payload_offset = 0;
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

  // For the reader: points sorted by time, the first at 0, each `seconds` already computed
  // (from exact file ticks, which is finer than music time). Taken as they are.
  static TempoMap with_seconds(std::vector<TempoPoint> points);

  double seconds_at(double music_time) const;
  double music_time_at(double seconds) const;
  std::uint32_t tempo_at(std::int32_t music_time) const;
  const std::vector<TempoPoint>& points() const { return points_; }

 private:
  std::size_t segment_at_time(double music_time) const;
  std::size_t segment_at_seconds(double seconds) const;

  std::vector<TempoPoint> points_;
};

// How the header's division word counts time.
struct Division {
  std::int32_t ticks_per_quarter = 0;  // > 0 for metrical files, 0 for SMPTE
  std::int32_t smpte_fps = 0;          // 24, 25, 29 (= 29.97) or 30 for SMPTE files
  std::int32_t ticks_per_frame = 0;
  bool is_smpte() const { return ticks_per_quarter == 0; }
};

// Channel messages, SysEx and the meta events playback needs (tempo, time and key
// signature, marker, cue point) are kept; end-of-track is not an event, `length` carries it.
struct Sequence {
  int format = 0;  // 0 or 1
  int track_count = 0;
  std::uint16_t division = 0;  // the header's raw division word
  std::vector<Event> events;   // all tracks merged by time; ties keep track, then file order
  std::vector<std::uint8_t> payload;
  TempoMap tempo;
  std::int32_t length = 0;         // the latest end-of-track time over all tracks
  double length_seconds = 0.0;     // real time of the latest end-of-track, from exact file ticks
  std::int32_t tempo_changes = 0;  // tempo meta events that set the timing

  std::span<const std::uint8_t> payload_of(const Event& e) const {
    return {payload.data() + e.payload_offset, e.payload_size};
  }
};

// Files larger than this are refused with MUSIC_E_FILE_TOO_LARGE before anything is read.
inline constexpr std::size_t kMaxFileBytes = 64u * 1024u * 1024u;

Division decode_division(std::uint16_t word);

// Reads an SMF (format 0 or 1) or an RMID file, recognised by content. On failure `out` is
// left unchanged and, when `detail` is given, it receives a one-line explanation.
// Statuses: MUSIC_E_EMPTY_FILE, MUSIC_E_UNSUPPORTED_FORMAT (no MIDI or RMID content, or
// format 2), MUSIC_E_TRUNCATED (the data ends inside a header or an event, or before every
// declared track), MUSIC_E_BAD_CHUNK_SIZE (a chunk's size is impossible: past the end of
// the file while its content is complete, or a header of the wrong size),
// MUSIC_E_NO_TRACKS, MUSIC_E_NO_END_OF_TRACK, MUSIC_E_NO_RUNNING_STATUS,
// MUSIC_E_FILE_TOO_LARGE (input or music time beyond the limits), MUSIC_E_CORRUPT
// (anything else that breaks the format).
com::HResult read_sequence(std::span<const std::uint8_t> bytes, Sequence& out,
                           std::string* detail = nullptr);
// As read_sequence, for the file at `path` exactly as given. Adds MUSIC_E_CANNOT_OPEN
// (missing, unreadable or not a regular file) and MUSIC_E_IS_DIRECTORY.
com::HResult read_sequence_file(const std::string& path, Sequence& out,
                                std::string* detail = nullptr);

}  // namespace orvan::music::midi
