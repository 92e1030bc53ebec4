// One playing (or played) instance of a segment.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/music/types.h"

namespace orvan::music {

class DirectMusicSegment8;
struct PlaybackShared;  // state the render thread publishes for this instance

class DirectMusicSegmentState8 : public com::Object {
 public:
  // Music time of what is being rendered within the current pass, 0 to length; keeps
  // answering after the instance stopped.
  HResult GetSeek(std::int32_t& position) const;
  HResult GetRepeats(std::int32_t& repeats) const;

  // For the performance.
  DirectMusicSegmentState8(Ref<DirectMusicSegment8> segment, std::int32_t repeats,
                           std::shared_ptr<PlaybackShared> shared);
  const Ref<DirectMusicSegment8>& segment() const { return segment_; }
  const std::shared_ptr<PlaybackShared>& shared() const { return shared_; }

 private:
  ~DirectMusicSegmentState8() override;

  Ref<DirectMusicSegment8> segment_;
  std::int32_t repeats_;
  std::shared_ptr<PlaybackShared> shared_;
};

}  // namespace orvan::music
