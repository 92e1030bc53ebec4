// Where the position falls in the piece's beat grid: a MIDI piece's from its time
// signatures (4/4 until the first), a recording's from SetBeatInfo (by default 120 BPM in 4,
// the pace its music time runs at).
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/orvan_music.h"
#include "platform/music/midi/sequence.h"

namespace orvan::engine {

using com::failed;

namespace {

struct GridPosition {
  std::int64_t bar = 1;
  std::int64_t beat = 1;
};

// A signature's beat is its denominator's note: 768 music-time units a quarter.
GridPosition midi_position(const music::midi::Sequence& sequence, std::int32_t position) {
  std::int64_t bars_before = 0;  // whole bars before the signature in force
  std::int32_t since = 0;        // where it took effect
  std::int64_t beat_length = music::midi::kTicksPerQuarter;
  std::int64_t beats_per_bar = 4;
  for (const music::midi::Event& e : sequence.events) {
    if (e.time > position) break;
    if (e.status != music::midi::kMetaStatus || e.data1 != music::midi::kMetaTimeSignature)
      continue;
    const auto data = sequence.payload_of(e);
    if (data.size() < 2 || data[0] == 0 || data[1] > 6) continue;  // no bar we could count
    // A signature belongs on a barline; one inside a bar starts a new bar there.
    const std::int64_t bar_length = beat_length * beats_per_bar;
    bars_before += (e.time - since + bar_length - 1) / bar_length;
    since = e.time;
    beats_per_bar = data[0];
    beat_length = 4 * music::midi::kTicksPerQuarter >> data[1];
  }
  const std::int64_t beats = (position - since) / beat_length;
  return {bars_before + beats / beats_per_bar + 1, beats % beats_per_bar + 1};
}

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
  if (segment->wave() || !segment->sequence()) {
    at = recorded_position(RecordingBeatsPerMinute, RecordingBeatsPerBar, position);
  } else {
    at = midi_position(*segment->sequence(), position);
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
