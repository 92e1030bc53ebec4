// Plays one segment's events into the synthesizer on a sample clock. Render thread only,
// apart from construction.
//
// The position is a double in music time; each output frame moves it by
//   768 * 1e6 * master tempo / (microseconds per quarter * sample rate)
// ticks. It is computed from a whole count of frames since an anchor (the pass start, the
// last tempo event or master tempo change), multiplying before dividing, so that round
// timings land exactly: a pass of 96000 frames loops at frame 96000, not one block early
// for a rounding error. Changes of either tempo re-anchor, so the position never jumps. Every pass
// begins from a clean channel state: the notes still sounding are released, the channels reset, and
// (for a start point p > 0) everything before p that shapes the sound is replayed without its
// notes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/music/midi/sequence.h"

namespace orvan::music {

namespace synth {
class Synth;
}
class DirectMusicSegmentState8;
struct PlaybackShared;

struct PlayRequest {
  const midi::Sequence* sequence = nullptr;
  PlaybackShared* shared = nullptr;
  DirectMusicSegmentState8* state = nullptr;  // identity only; kept alive by the client
  const void* segment = nullptr;              // identity only
  std::int32_t start = 0;
  std::int32_t repeats = 0;  // -1: forever
};

// Told about pass boundaries while advancing. Render thread only.
class SequencerListener {
 public:
  virtual void on_loop(const PlayRequest& request) noexcept = 0;
  virtual void on_end(const PlayRequest& request) noexcept = 0;

 protected:
  ~SequencerListener() = default;
};

class Sequencer {
 public:
  explicit Sequencer(int sample_rate) : sample_rate_(sample_rate) {}

  // Render thread only. Begins `request` at its start point: releases what sounds, resets
  // the channels and chases the state before the start point.
  void start(const PlayRequest& request, synth::Synth& synth) noexcept;
  // Render thread only. Ends the current play, releasing every note. Returns the position
  // it stopped at.
  double stop(synth::Synth& synth) noexcept;
  // Render thread only. Moves `frames` frames ahead, dispatching every event those frames
  // reach and looping or ending at the segment's end.
  void advance(double frames, double master_tempo, synth::Synth& synth,
               SequencerListener& listener) noexcept;

  bool active() const noexcept { return active_; }
  const PlayRequest& request() const noexcept { return request_; }
  double position() const noexcept { return position_; }
  // The position `frames` frames before the current one, not reaching back past the last
  // anchor (pass start, tempo change).
  double position_before(double frames) const noexcept {
    return std::max(anchor_tick_, tick_at(elapsed_ - frames));
  }

 private:
  void begin_pass(std::int32_t from, synth::Synth& synth) noexcept;
  void dispatch(const midi::Event& e, synth::Synth& synth) noexcept;
  void end_of_pass(synth::Synth& synth, SequencerListener& listener) noexcept;
  double tick_at(double elapsed) const noexcept;
  double elapsed_at(double tick) const noexcept;
  void reanchor(double tick) noexcept;

  int sample_rate_;
  bool active_ = false;
  PlayRequest request_{};
  double position_ = 0.0;
  double anchor_tick_ = 0.0;
  double elapsed_ = 0.0;  // frames since the anchor
  double master_tempo_ = 1.0;
  std::size_t next_ = 0;
  std::uint32_t usec_per_quarter_ = midi::kDefaultTempo;
  std::int32_t repeats_left_ = 0;
};

}  // namespace orvan::music
