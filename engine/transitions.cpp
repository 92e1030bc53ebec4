// Music_PlayNext and PlayStinger: a piece loaded now and queued to start on a boundary of the
// piece playing, which the render thread finds in the list of music times handed over with it;
// Music_PlayWith: the loaded piece queued on a boundary of the piece another channel plays.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/component/interface/orvan_music_description.h"
#include "engine/orvan_music.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/render/playback_shared.h"

namespace orvan::engine {

using com::failed;

namespace {

// Collects the grid's times after `after` and below `until`, at most `limit` of them.
class GridTimes {
 public:
  GridTimes(std::int32_t after, std::size_t limit) : after_(after), limit_(limit) {}

  // Every `step` from `since` (a whole number of music time units, or a fraction for a
  // recording's grid) below `until`.
  void span(double since, double until, double step) {
    if (step <= 0.0) return;
    // The first multiple past `after`, without walking the ones before it.
    double k = std::max(0.0, std::floor((after_ - since) / step) + 1.0);
    for (double t = since + k * step; t < until && times_.size() < limit_; t = since + ++k * step) {
      const auto time = static_cast<std::int32_t>(std::llround(t));
      if (time > after_) times_.push_back(time);
    }
  }
  void add(std::int32_t time) {
    if (time > after_ && times_.size() < limit_) times_.push_back(time);
  }
  std::vector<std::int32_t> take() { return std::move(times_); }

 private:
  std::int32_t after_;
  std::size_t limit_;
  std::vector<std::int32_t> times_;
};

bool is_boundary(std::string_view name, std::int32_t value) {
  for (std::size_t i = 0; i < interface_description::kBoundary.count; ++i) {
    const auto& constant = interface_description::kBoundary.constants[i];
    if (constant.name == name) return constant.value == value;
  }
  return false;
}

// A signature's grid, as GetBar counts it: each signature starts a new bar.
void midi_grid(const music::midi::Sequence& sequence, bool bars, GridTimes& times) {
  double since = 0;
  double beat_length = music::midi::kTicksPerQuarter;
  double beats_per_bar = 4;
  const double end = std::max(0, sequence.length);
  for (const music::midi::Event& e : sequence.events) {
    if (e.time >= end) break;
    if (e.status != music::midi::kMetaStatus || e.data1 != music::midi::kMetaTimeSignature)
      continue;
    const auto data = sequence.payload_of(e);
    if (data.size() < 2 || data[0] == 0 || data[1] > 6) continue;
    times.span(since, e.time, bars ? beat_length * beats_per_bar : beat_length);
    since = e.time;
    beats_per_bar = data[0];
    beat_length = 4 * music::midi::kTicksPerQuarter >> data[1];
  }
  times.span(since, end, bars ? beat_length * beats_per_bar : beat_length);
}

bool is_any_boundary(std::int32_t value) {
  for (std::size_t i = 0; i < interface_description::kBoundary.count; ++i) {
    if (interface_description::kBoundary.constants[i].value == value) return true;
  }
  return false;
}

}  // namespace

std::vector<std::int32_t> OrvanMusic::BoundaryTimes(const music::DirectMusicSegment8& segment,
                                                    std::int32_t boundary,
                                                    std::int32_t after) const {
  constexpr std::uint8_t kMetaCuePoint = 0x07;
  GridTimes times(after, kMaxQueuedBoundaries);
  const bool bars = is_boundary("OBND_BAR", boundary);
  const music::midi::Sequence* sequence = segment.wave() ? nullptr : segment.sequence();
  std::int32_t length = 0;
  segment.GetLength(length);
  std::int32_t beat_length = 0, beats_per_bar = 0;
  if (bars || is_boundary("OBND_BEAT", boundary)) {
    if (segment.content().even_beats(beat_length, beats_per_bar)) {
      times.span(0.0, length, bars ? beat_length * beats_per_bar : beat_length);
    } else if (sequence) {
      midi_grid(*sequence, bars, times);
    } else {
      // Recorded music time runs at 1536 a second.
      const double beat = 1536.0 * 60.0 / RecordingBeatsPerMinute;
      times.span(0.0, length, bars ? beat * RecordingBeatsPerBar : beat);
    }
  } else if (const music::midi::Sequence* markers = segment.content().marker_events();
             is_boundary("OBND_MARKER", boundary) && markers) {
    // A recording's cue points are its markers.
    for (const music::midi::Event& e : markers->events) {
      if (e.time >= length) break;
      if (e.status == music::midi::kMetaStatus &&
          (e.data1 == music::midi::kMetaMarker || e.data1 == kMetaCuePoint)) {
        times.add(e.time);
      }
    }
  }
  return times.take();
}

HResult OrvanMusic::SoundingBoundaries(std::int32_t Boundary,
                                       com::Ref<music::DirectMusicSegmentState8>& playing,
                                       bool& sounding, std::vector<std::int32_t>& boundaries) {
  // A piece queued by Music_PlayNext waits for the one it replaces until it has started.
  const bool queued_waits =
      QueuedFrom && !(SegState && SegState->shared()->started.load(std::memory_order_relaxed));
  playing = queued_waits ? QueuedFrom : SegState;
  sounding = false;
  if (playing) {
    if (HResult hr = Perf->IsPlaying(nullptr, playing, sounding); failed(hr)) return hr;
  }
  if (!sounding) return com::S_OK;
  std::int32_t position = 0, length = 0;
  if (HResult hr = playing->GetSeek(position); failed(hr)) return hr;
  if (HResult hr = playing->segment()->GetLength(length); failed(hr)) return hr;
  boundaries = BoundaryTimes(*playing->segment(), Boundary, position);
  if (boundaries.empty() || boundaries.back() < length) boundaries.push_back(length);
  return com::S_OK;
}

HResult OrvanMusic::QueueOnBoundary(const com::BStr& Filename, std::int32_t Boundary,
                                    std::int32_t FadeMilliseconds, bool stinger) {
  if (!is_any_boundary(Boundary) || FadeMilliseconds < 0) return com::E_INVALIDARG;
  const std::string path = Filename.to_utf8();
  // A name with a NUL in it would reach the file system cut short: a different file.
  if (path.find('\0') != std::string::npos) return com::E_INVALIDARG;
  if (!Perf || !Loader) return com::E_OBJECT_NOT_SET;
  com::Ref<music::DirectMusicSegment8> next;
  if (HResult hr = Loader->LoadSegment(path, next); failed(hr)) return hr;
  Events.keep(next);  // its markers are told by name once it plays

  if (QueuedFrom && SegState->shared()->started.load(std::memory_order_relaxed)) {
    QueuedFrom.reset();  // replaced: let its piece go
  }
  com::Ref<music::DirectMusicSegmentState8> playing;
  bool sounding = false;
  music::PerformanceCore::QueuedStart queued;
  queued.secondary = stinger;
  if (HResult hr = SoundingBoundaries(Boundary, playing, sounding, queued.boundaries); failed(hr))
    return hr;
  if (sounding) {
    queued.immediate = is_boundary("OBND_IMMEDIATE", Boundary);
    queued.fade_frames =
        static_cast<std::int64_t>(FadeMilliseconds) * Perf->core()->sample_rate() / 1000;
  }
  com::Ref<music::DirectMusicSegmentState8> state;
  if (HResult hr = Perf->core()->play(next, state, &queued); failed(hr)) return hr;
  if (stinger) return com::S_OK;  // the piece playing stays the channel's
  QueuedFrom = sounding ? std::move(playing) : com::Ref<music::DirectMusicSegmentState8>{};
  Seg = std::move(next);
  SegState = std::move(state);
  return com::S_OK;
}

HResult OrvanMusic::Music_PlayNext(const com::BStr& Filename, std::int32_t Boundary,
                                   std::int32_t FadeMilliseconds) {
  return QueueOnBoundary(Filename, Boundary, FadeMilliseconds, false);
}

HResult OrvanMusic::PlayStinger(const com::BStr& Filename, std::int32_t Boundary) {
  return QueueOnBoundary(Filename, Boundary, 0, true);
}

HResult OrvanMusic::Music_PlayWith(OrvanMusic* Leader, std::int32_t Boundary) {
  if (!Leader) return com::E_POINTER;
  if (Leader == this || !is_any_boundary(Boundary)) return com::E_INVALIDARG;
  if (!Seg) return com::S_OK;
  // A layer is only in step with its leader when both advance on one sample clock.
  if (!Perf || !Leader->Perf || !Perf->core()->shares_output_with(*Leader->Perf->core())) {
    return com::DSERR_INVALIDCALL;
  }
  com::Ref<music::DirectMusicSegmentState8> playing;
  bool sounding = false;
  music::PerformanceCore::QueuedStart queued;
  if (HResult hr = Leader->SoundingBoundaries(Boundary, playing, sounding, queued.boundaries);
      failed(hr)) {
    return hr;
  }
  queued.leader = Leader->Perf->core()->lead_clock();
  queued.immediate = !sounding || is_boundary("OBND_IMMEDIATE", Boundary);
  Perf->core()->render_after(*Leader->Perf->core());
  com::Ref<music::DirectMusicSegmentState8> state;
  if (HResult hr = Perf->core()->play(Seg, state, &queued); failed(hr)) return hr;
  // What this channel plays goes on until the layer takes over, as a queued piece's does.
  QueuedFrom = std::move(SegState);
  SegState = std::move(state);
  return com::S_OK;
}

}  // namespace orvan::engine
