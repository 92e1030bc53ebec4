// Where the position falls in the piece's beat grid: a MIDI piece's from its time
// signatures (4/4 until the first), a tracker module's from its rows, a recording's from
// SetBeatInfo (by default 120 BPM in 4, the pace its music time runs at).
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/orvan_music.h"
#include "platform/music/midi/beat_grid.h"

namespace orvan::engine {

using com::failed;

namespace {

using music::midi::GridPosition;

GridPosition recorded_position(float beats_per_minute, std::int32_t beats_per_bar,
                               std::int32_t position) {
  // Recorded music time runs at 1536 a second.
  const double seconds = position / 1536.0;
  const auto beats = static_cast<std::int64_t>(std::floor(seconds * beats_per_minute / 60.0));
  return {beats / beats_per_bar + 1, beats % beats_per_bar + 1};
}

std::int32_t clamped(std::int64_t value) {
  return static_cast<std::int32_t>(std::min<std::int64_t>(value, INT32_MAX));
}

}  // namespace

HResult OrvanMusic::SetBeatInfo(float BeatsPerMinute, std::int32_t BeatsPerBar) {
  // The negated test also refuses NaN.
  if (!(BeatsPerMinute >= kMinBeatsPerMinute && BeatsPerMinute <= kMaxBeatsPerMinute) ||
      BeatsPerBar < 1 || BeatsPerBar > kMaxBeatsPerBar) {
    return com::E_INVALIDARG;
  }
  RecordingBeatsPerMinute = BeatsPerMinute;
  RecordingBeatsPerBar = BeatsPerBar;
  return com::S_OK;
}

HResult OrvanMusic::GridPositionNow(std::int32_t& bar, std::int32_t& beat) {
  std::int32_t position = 0;
  if (HResult hr = GetCurrentPosition(position); failed(hr)) return hr;
  const auto& segment = SegState->segment();
  GridPosition at;
  std::int32_t beat_length = 0, beats_per_bar = 0;
  if (segment->content().even_beats(beat_length, beats_per_bar)) {
    const std::int64_t beats = std::max(0, position) / beat_length;
    at = {beats / beats_per_bar + 1, beats % beats_per_bar + 1};
  } else if (segment->wave() || !segment->sequence()) {
    at = recorded_position(RecordingBeatsPerMinute, RecordingBeatsPerBar, position);
  } else {
    at = music::midi::grid_position(*segment->sequence(), position);
  }
  bar = clamped(at.bar);
  beat = clamped(at.beat);
  return com::S_OK;
}

HResult OrvanMusic::GetBar(std::int32_t& result) {
  std::int32_t bar = 0, beat = 0;
  if (HResult hr = GridPositionNow(bar, beat); failed(hr)) return hr;
  result = bar;
  return com::S_OK;
}

HResult OrvanMusic::GetBeat(std::int32_t& result) {
  std::int32_t bar = 0, beat = 0;
  if (HResult hr = GridPositionNow(bar, beat); failed(hr)) return hr;
  result = beat;
  return com::S_OK;
}

}  // namespace orvan::engine
