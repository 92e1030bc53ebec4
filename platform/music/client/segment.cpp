#include "platform/music/client/segment.h"

#include "platform/music/client/collection.h"
#include "platform/music/wave/wave_source.h"

namespace orvan::music {

namespace {

// A wave segment's events: none, and the audio's length.
std::shared_ptr<const midi::Sequence> length_only(const wave::WaveSource* wave) {
  auto sequence = std::make_shared<midi::Sequence>();
  if (wave) sequence->length = wave->info().length;
  return sequence;
}

std::shared_ptr<const midi::Sequence> or_empty(std::shared_ptr<const midi::Sequence> sequence) {
  return sequence ? std::move(sequence) : std::make_shared<const midi::Sequence>();
}

}  // namespace

DirectMusicSegment8::DirectMusicSegment8(std::shared_ptr<const midi::Sequence> sequence)
    : sequence_(or_empty(std::move(sequence))) {}

DirectMusicSegment8::DirectMusicSegment8(Recorded, std::shared_ptr<const wave::WaveSource> wave)
    : sequence_(length_only(wave.get())), wave_(std::move(wave)) {}

DirectMusicSegment8::~DirectMusicSegment8() = default;

HResult DirectMusicSegment8::GetLength(std::int32_t& length) const {
  length = sequence_->length;
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
  if (point < 0 || (point > 0 && point >= sequence_->length)) {
    return com::MUSIC_E_START_OUT_OF_RANGE;
  }
  start_point_.store(point, std::memory_order_relaxed);
  return com::S_OK;
}

HResult DirectMusicSegment8::GetStartPoint(std::int32_t& point) const {
  point = start_point_.load(std::memory_order_relaxed);
  return com::S_OK;
}

}  // namespace orvan::music
