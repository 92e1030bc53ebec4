// Recorded music as a segment's data: a file that libsndfile decodes (WAV in PCM or float,
// FLAC, Ogg Vorbis, Ogg Opus, MP3), recognised by its bytes and held open for as long as the
// segment lives (byte_store.h): a file, or a client's stream read while the music plays.
//
// Music time: a wave segment has no tempo map; its music time runs at 768 per quarter note at
// 120 BPM, 1,536 per second of audio. Source frame f is at music time f * 1536 / rate, and a
// start point p lands on source frame round(p * rate / 1536).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/status.h"
#include "platform/music/wave/byte_store.h"

namespace orvan::music::wave {

inline constexpr std::int64_t kMusicTimePerSecond = 1536;
// What the downmix and the resampler accept.
inline constexpr int kMaxChannels = 8;
inline constexpr int kMinSourceRate = 1000;
inline constexpr int kMaxSourceRate = 384000;
// The start of every wave segment is kept decoded, so that a loop (and a play from the
// start) begins without waiting for the decoder: this long, or the whole file if shorter.
inline constexpr double kHeadSeconds = 0.5;
// +24 dBFS: louder than any music file holds, far below where the converters' sums of
// squares could overflow.
inline constexpr float kLoudestSample = 16.0f;

// A place a file marks by name (a WAV file's cue point), at a source frame.
struct CuePoint {
  std::int64_t frame = 0;
  std::string name;  // the file's bytes, UTF-8 where it is
};

struct WaveInfo {
  std::string container;  // "wav", "flac", "ogg", "mp3"
  std::string codec;      // "pcm_16", "float", "flac", "vorbis", "opus", "mp3", ...
  int sample_rate = 0;
  int channels = 0;
  // The file's own count where it states one exactly; counted by decoding at load where
  // it states none or only an estimate (an FLAC written to a pipe, an MP3 without a tag).
  std::int64_t frames = 0;
  std::int32_t length = 0;  // music time of `frames`
  // The loop the file marks (loop_tags.h): source frames start <= f < end; end 0: none.
  std::int64_t loop_start_frame = 0;
  std::int64_t loop_end_frame = 0;
  // The places it marks, sorted by frame, none past `frames` (cue_points.h).
  std::vector<CuePoint> cues;
};

// Stereo gains of each source channel, from the file's channel map where it has one and the
// usual layout for its channel count otherwise: mono centred at full level, stereo as it is,
// centre and surrounds at -3 dB into both sides or their own, LFE left out.
struct Downmix {
  int channels = 0;
  float left[kMaxChannels] = {};
  float right[kMaxChannels] = {};
  // `in`: `frames` interleaved frames of `channels` channels; `out`: interleaved stereo.
  void apply(const float* in, std::int64_t frames, float* out) const noexcept;
};

class Decoder;
class Mp3Reader;

// Where one reader is in the bytes a source holds.
struct FileCursor {
  const ByteStore* bytes = nullptr;
  std::int64_t offset = 0;
  std::int64_t size = 0;
};

// Up to `size` bytes of the file from `offset`: fewer at its end or where a read fails.
std::vector<std::uint8_t> read_bytes_at(const FileCursor& file, std::int64_t offset,
                                        std::size_t size);

// Shared by a segment and all its plays; immutable once made.
class WaveSource {
 public:
  ~WaveSource();
  WaveSource(const WaveSource&) = delete;
  WaveSource& operator=(const WaveSource&) = delete;

  const WaveInfo& info() const { return info_; }
  const Downmix& downmix() const { return downmix_; }
  // The first head_frames() frames of the file, already downmixed to interleaved stereo.
  const std::vector<float>& head() const { return head_; }
  std::int64_t head_frames() const { return static_cast<std::int64_t>(head_.size() / 2); }
  // A decoder of its own for one play, reading the file this source holds open.
  com::HResult open_decoder(std::unique_ptr<Decoder>& decoder) const;

  // Source frame a music time lands on, and the music time of a source frame.
  std::int64_t frame_at(std::int32_t music_time) const;
  double music_time_at(double frame) const;

 private:
  friend com::HResult open_wave_source(std::shared_ptr<const ByteStore>,
                                       std::shared_ptr<const WaveSource>&, std::string*);
  WaveSource() = default;

  std::shared_ptr<const ByteStore> bytes_;
  WaveInfo info_;
  Downmix downmix_;
  std::vector<float> head_;
};

// One reader of a source's file: its own position, decoding to interleaved source frames.
// Used by one thread at a time. What it hands on is always a finite sample no louder than
// kLoudestSample: a damaged stream can make a codec produce anything, and one infinite or
// not-a-number sample would otherwise spread through the filters after it.
class Decoder {
 public:
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  bool seek(std::int64_t frame);
  // Frames read (fewer than asked only at the end of the data or where it is damaged).
  // Samples that are not finite are read as silence, louder ones at the limit.
  std::int64_t read(float* interleaved, std::int64_t frames);
  std::int64_t position() const { return position_; }
  // The frames the file states exactly, or -1 where it states none or only an estimate.
  std::int64_t stated_frames() const { return stated_frames_; }

 private:
  friend class WaveSource;
  Decoder() = default;

  std::int64_t decode(float* interleaved, std::int64_t frames);

  FileCursor cursor_;
  int channels_ = 0;
  void* file_ = nullptr;            // SNDFILE, or
  std::unique_ptr<Mp3Reader> mp3_;  // for MP3
  std::int64_t position_ = 0;
  std::int64_t stated_frames_ = -1;
};

// Whether these first bytes of a file are a MIDI or RMID file's (which the MIDI reader takes).
bool looks_like_midi(const std::uint8_t* bytes, std::size_t size);

// Examines the file at `path` exactly as given and keeps it open in `source`.
// MUSIC_E_CANNOT_OPEN, MUSIC_E_IS_DIRECTORY, MUSIC_E_EMPTY_FILE (no bytes or no audio frames),
// MUSIC_E_UNSUPPORTED_FORMAT (not one of the five formats, or a rate or channel count outside
// the limits above), MUSIC_E_CORRUPT (a header libsndfile accepts, audio it cannot decode),
// MUSIC_E_FILE_TOO_LARGE (longer than music time can count). `detail` says why.
com::HResult open_wave_source(const std::string& path, std::shared_ptr<const WaveSource>& source,
                              std::string* detail = nullptr);
// The same for bytes held elsewhere (a client's stream), which the source keeps for as long
// as it and its plays live.
com::HResult open_wave_source(std::shared_ptr<const ByteStore> bytes,
                              std::shared_ptr<const WaveSource>& source,
                              std::string* detail = nullptr);

}  // namespace orvan::music::wave
