#include "platform/music/midi/beat_grid.h"

#include <algorithm>
#include <limits>

namespace orvan::music::midi {
namespace {

// The signature in force from `since` on, and the whole bars before it.
struct Meter {
  std::int64_t bars_before = 0;
  std::int32_t since = 0;
  std::int64_t beat_length = kTicksPerQuarter;
  std::int64_t beats_per_bar = 4;
};

// A usable time signature at `e`, taken into `meter`; false for any other event or for a
// signature no bar could be counted with.
bool take_signature(const Sequence& sequence, const Event& e, Meter& meter) {
  if (e.status != kMetaStatus || e.data1 != kMetaTimeSignature) return false;
  const auto data = sequence.payload_of(e);
  if (data.size() < 2 || data[0] == 0 || data[1] > 6) return false;
  const std::int64_t bar_length = meter.beat_length * meter.beats_per_bar;
  meter.bars_before += (e.time - meter.since + bar_length - 1) / bar_length;
  meter.since = e.time;
  meter.beats_per_bar = data[0];
  meter.beat_length = 4 * kTicksPerQuarter >> data[1];
  return true;
}

std::int32_t clamped(std::int64_t value) {
  return static_cast<std::int32_t>(std::min<std::int64_t>(value, INT32_MAX));
}

}  // namespace

GridPosition grid_position(const Sequence& sequence, std::int32_t position) {
  Meter meter;
  for (const Event& e : sequence.events) {
    if (e.time > position) break;
    take_signature(sequence, e, meter);
  }
  const std::int64_t beats = (position - meter.since) / meter.beat_length;
  return {meter.bars_before + beats / meter.beats_per_bar + 1, beats % meter.beats_per_bar + 1};
}

std::vector<BeatMark> beat_marks(const Sequence& sequence) {
  std::vector<BeatMark> out;
  Meter meter;
  // Beats of the meter in force up to (not including) `until`.
  const auto beats_until = [&](std::int64_t until) {
    for (std::int64_t n = 0;; ++n) {
      const std::int64_t time = meter.since + n * meter.beat_length;
      if (time >= until || out.size() >= kMaxBeatMarks) return;
      out.push_back({static_cast<std::int32_t>(time),
                     clamped(meter.bars_before + n / meter.beats_per_bar + 1),
                     clamped(n % meter.beats_per_bar + 1)});
    }
  };
  for (const Event& e : sequence.events) {
    if (e.time >= sequence.length) break;
    Meter next = meter;
    if (!take_signature(sequence, e, next)) continue;
    beats_until(e.time);
    meter = next;
  }
  beats_until(sequence.length);
  return out;
}

}  // namespace orvan::music::midi
