#include "platform/music/client/segment_state.h"

#include "platform/music/client/segment.h"
#include "platform/music/render/playback_shared.h"

namespace orvan::music {

DirectMusicSegmentState8::DirectMusicSegmentState8(Ref<DirectMusicSegment8> segment,
                                                   std::int32_t repeats,
                                                   std::shared_ptr<PlaybackShared> shared)
    : segment_(std::move(segment)), repeats_(repeats), shared_(std::move(shared)) {}

DirectMusicSegmentState8::~DirectMusicSegmentState8() = default;

HResult DirectMusicSegmentState8::GetSeek(std::int32_t& position) const {
  position = shared_->position.load(std::memory_order_relaxed);
  return com::S_OK;
}

HResult DirectMusicSegmentState8::GetRepeats(std::int32_t& repeats) const {
  repeats = repeats_;
  return com::S_OK;
}

}  // namespace orvan::music
