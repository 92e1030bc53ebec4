#include "platform/music/client/segment.h"

#include "platform/music/client/collection.h"
#include "platform/music/sources/midi_source.h"
#include "platform/music/sources/recorded_source.h"

namespace orvan::music {

namespace {

std::shared_ptr<const PlayContent> or_empty(std::shared_ptr<const PlayContent> content) {
  return content ? std::move(content) : std::make_shared<const MidiContent>(nullptr);
}

std::uint64_t packed(LoopRegion region) {
  return (std::uint64_t{static_cast<std::uint32_t>(region.start)} << 32) |
         static_cast<std::uint32_t>(region.end);
}

}  // namespace

DirectMusicSegment8::DirectMusicSegment8(std::shared_ptr<const PlayContent> content)
    : content_(or_empty(std::move(content))), loop_region_(packed(content_->marked_loop())) {}

DirectMusicSegment8::DirectMusicSegment8(std::shared_ptr<const midi::Sequence> sequence)
    : DirectMusicSegment8(std::shared_ptr<const PlayContent>(
          std::make_shared<const MidiContent>(std::move(sequence)))) {}

DirectMusicSegment8::~DirectMusicSegment8() = default;

const midi::Sequence* DirectMusicSegment8::sequence() const {
  const auto* midi = dynamic_cast<const MidiContent*>(content_.get());
  return midi ? midi->sequence().get() : nullptr;
}

std::shared_ptr<const wave::WaveSource> DirectMusicSegment8::wave() const {
  const auto* recorded = dynamic_cast<const RecordedContent*>(content_.get());
  return recorded ? recorded->wave() : nullptr;
}

HResult DirectMusicSegment8::GetLength(std::int32_t& length) const {
  length = content_->length();
  return com::S_OK;
}

HResult DirectMusicSegment8::SetRepeats(std::int32_t repeats) {
  if (repeats < -1) return com::E_INVALIDARG;
  repeats_.store(repeats, std::memory_order_relaxed);
  return com::S_OK;
}

HResult DirectMusicSegment8::GetRepeats(std::int32_t& repeats) const {
  repeats = repeats_.load(std::memory_order_relaxed);
  return com::S_OK;
}

HResult DirectMusicSegment8::SetStartPoint(std::int32_t point) {
  // 0 is the default and always a valid start, even for a segment of no length.
  if (point < 0 || (point > 0 && point >= content_->length())) {
    return com::MUSIC_E_START_OUT_OF_RANGE;
  }
  start_point_.store(point, std::memory_order_relaxed);
  return com::S_OK;
}

HResult DirectMusicSegment8::SetLoopPoints(std::int32_t start, std::int32_t end) {
  const bool whole = start == 0 && end == 0;
  if (!whole && (start < 0 || start >= end || end > content_->length())) return com::E_INVALIDARG;
  if (!whole && !content_->plays_loop_regions()) return com::E_NOTIMPL;
  loop_region_.store(packed({start, end}), std::memory_order_relaxed);
  return com::S_OK;
}

HResult DirectMusicSegment8::GetLoopPoints(std::int32_t& start, std::int32_t& end) const {
  const LoopRegion region = loop_region();
  start = region.start;
  end = region.end;
  return com::S_OK;
}

LoopRegion DirectMusicSegment8::loop_region() const {
  const std::uint64_t both = loop_region_.load(std::memory_order_relaxed);
  return {static_cast<std::int32_t>(static_cast<std::uint32_t>(both >> 32)),
          static_cast<std::int32_t>(static_cast<std::uint32_t>(both))};
}

HResult DirectMusicSegment8::GetStartPoint(std::int32_t& point) const {
  point = start_point_.load(std::memory_order_relaxed);
  return com::S_OK;
}

}  // namespace orvan::music
