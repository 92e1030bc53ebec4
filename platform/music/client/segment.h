// A loaded piece of music (MIDI, a recording, a tracker module: whatever its content is), its
// repeat count and start point.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/music/midi/sequence.h"
#include "platform/music/sources/play_source.h"
#include "platform/music/types.h"

namespace orvan::music {

class DirectMusicAudioPath8;
class DirectMusicCollection8;
namespace wave {
class WaveSource;
}

class DirectMusicSegment8 : public com::Object {
 public:
  // `content` may be null: music of no length.
  explicit DirectMusicSegment8(std::shared_ptr<const PlayContent> content);
  // MIDI music; a null sequence is an empty one.
  explicit DirectMusicSegment8(std::shared_ptr<const midi::Sequence> sequence);
  // Music of no length.
  explicit DirectMusicSegment8(std::nullptr_t)
      : DirectMusicSegment8(std::shared_ptr<const PlayContent>{}) {}

  HResult GetLength(std::int32_t& length) const;
  // Repetitions after the first pass; -1 repeats forever, other negative counts are refused.
  HResult SetRepeats(std::int32_t repeats);
  HResult GetRepeats(std::int32_t& repeats) const;
  // The region the repeats of later plays go back over: each pass with repeats left ends at
  // `end` and the next begins at `start`; the last plays on to the end. (0, 0): the whole
  // piece. Otherwise 0 <= start < end <= length, else E_INVALIDARG; E_NOTIMPL for music that
  // plays no region of its own choosing (a tracker module). A load sets the region
  // the file marks (PlayContent::marked_loop), or (0, 0).
  HResult SetLoopPoints(std::int32_t start, std::int32_t end);
  HResult GetLoopPoints(std::int32_t& start, std::int32_t& end) const;
  // Where the next play begins; 0 <= point < length, else MUSIC_E_START_OUT_OF_RANGE.
  HResult SetStartPoint(std::int32_t point);
  HResult GetStartPoint(std::int32_t& point) const;

  // Instruments: the collection supplies the programs it has when downloaded to a path.
  HResult ConnectToCollection(const Ref<DirectMusicCollection8>& collection);
  HResult Download(const Ref<DirectMusicAudioPath8>& path);

  // For the performance.
  const PlayContent& content() const { return *content_; }
  // For tools and tests that look inside: the MIDI sequence, or nullptr for other music;
  // the recording, or nullptr for other music.
  const midi::Sequence* sequence() const;
  std::shared_ptr<const wave::WaveSource> wave() const;
  std::int32_t repeats() const { return repeats_.load(std::memory_order_relaxed); }
  std::int32_t start_point() const { return start_point_.load(std::memory_order_relaxed); }
  LoopRegion loop_region() const;
  Ref<DirectMusicCollection8> collection() const;

 private:
  ~DirectMusicSegment8() override;

  std::shared_ptr<const PlayContent> content_;  // never null
  std::atomic<std::int32_t> repeats_{0};
  std::atomic<std::int32_t> start_point_{0};
  // Start in the high half, end in the low: one atomic, so no reader sees half a change.
  std::atomic<std::uint64_t> loop_region_{0};
  mutable std::mutex collection_mutex_;
  Ref<DirectMusicCollection8> collection_;
};

}  // namespace orvan::music
