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
//
// A segment can be far shorter than a synthesizer block (a few ticks at a tempo of 1 us per
// quarter, and a master tempo of 100): hundreds of millions of passes may fall in one block.
// Passes that would begin and end inside the frames an advance still has to cover are
// counted, not played (their notes would start and stop at one instant): the repeat count
// and the position come out as if each had been played, and an advance begins at most a
// few passes whatever the tempo, the length or the repeat count.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/music/midi/beat_grid.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/sources/play_source.h"

namespace orvan::music {

namespace synth {
class Synth;
}
namespace wave {
class WaveStream;
}

// What one play of a segment covers: its events (for recorded music, none; only the length),
// where it starts and how often it repeats.
struct PlayRequest {
  const midi::Sequence* sequence = nullptr;
  std::int32_t start = 0;
  std::int32_t repeats = 0;  // -1: forever
  // A wave segment's play: the stream the wave player reads instead of sequencing events
  // (owned by the client side until the play retires).
  wave::WaveStream* wave = nullptr;
  // The region repeats go back over: a pass that has repeats left ends at loop_end and the
  // next begins at loop_start; the last pass plays on to the end. loop_end 0: the whole
  // piece, every repeat from 0.
  std::int32_t loop_start = 0;
  std::int32_t loop_end = 0;
  // The beats of one pass (owned by the client side, like the sequence), told to the
  // listener as they are reached; none for recorded music.
  const midi::BeatMark* beats = nullptr;
  std::size_t beat_count = 0;
};

// Told about pass boundaries while advancing. Render thread only. Loops are coalesced: no
// on_loop within kLoopNoticeSpacing of rendered time after the last one of the same play,
// so a segment that loops faster than that cannot flood a notification queue. Every pass
// still counts.
class SequencerListener {
 public:
  virtual void on_loop(const PlayRequest& request) noexcept = 0;
  virtual void on_end(const PlayRequest& request) noexcept = 0;
  // Beats, markers and cue points as they are reached, and each loop and end just before
  // on_loop and on_end are called.
  virtual void on_moment(const PlayMoment& /*moment*/) noexcept {}

 protected:
  ~SequencerListener() = default;
};

// The most work one advance did, for tests and benchmarks (readable from any thread).
struct SequencerLoad {
  std::uint64_t passes = 0;  // passes begun (each releases every note and resets the channels)
  std::uint64_t events = 0;  // events dispatched, chased ones included
};

// The busiest advance of every sequencer of one performance: written by the render thread,
// read by any.
struct SequencerMeter {
  std::atomic<std::uint64_t> passes{0};
  std::atomic<std::uint64_t> events{0};

  void record(std::uint64_t advance_passes, std::uint64_t advance_events) noexcept {
    if (advance_passes > passes.load(std::memory_order_relaxed)) {
      passes.store(advance_passes, std::memory_order_relaxed);
    }
    if (advance_events > events.load(std::memory_order_relaxed)) {
      events.store(advance_events, std::memory_order_relaxed);
    }
  }
  SequencerLoad load() const noexcept {
    return {passes.load(std::memory_order_relaxed), events.load(std::memory_order_relaxed)};
  }
};

class Sequencer {
 public:
  // Seconds of rendered time within which further loops of one play are coalesced into
  // the loop notice already given: at most 64 a second, so that loop notices alone fill at
  // most half of a 256-message queue within its 2-second lifetime.
  static constexpr double kLoopNoticeSpacing = 1.0 / 64.0;

  // `meter`, if given, records the busiest advance.
  Sequencer(int sample_rate, SequencerMeter* meter) : sample_rate_(sample_rate), meter_(meter) {}

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

  // Render thread only. Resets the channels and replays everything dispatched so far in this
  // pass that shapes the sound (start points' chase, without moving or timing anything).
  void restore_channels(synth::Synth& synth) noexcept;

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
  // Where the pass under way ends: the loop end while repeats are left, else the length.
  std::int32_t pass_end() const noexcept;
  // The request's loop region covers the whole piece (today's plain repeats).
  bool loops_whole_piece() const noexcept;
  void dispatch(const midi::Event& e, synth::Synth& synth) noexcept;
  // `left`: the frames the advance still has to cover after the pass that just ended.
  void end_of_pass(double& left, synth::Synth& synth, SequencerListener& listener) noexcept;
  // `at`: frames of the current advance covered when the last pass ends.
  void finish(double at, synth::Synth& synth, SequencerListener& listener) noexcept;
  // Frames of the current advance covered when the play reaches `tick` of the current pass,
  // with `left` frames of the advance still to cover from where it is now.
  double offset_of(double tick, double left) const noexcept;
  // Tells the beats before `tick` (and at it, when `including`) not told yet.
  void tell_beats(double tick, bool including, double left, SequencerListener& listener) noexcept;
  // `at`: frames of the current advance already covered.
  void notice_loop(double at, SequencerListener& listener) noexcept;
  // Frames one whole repeat (from the loop start to the loop end) takes at the current
  // master tempo.
  double pass_frames() noexcept;
  double tick_at(double elapsed) const noexcept;
  double elapsed_at(double tick) const noexcept;
  void reanchor(double tick) noexcept;

  int sample_rate_;
  SequencerMeter* meter_;
  bool active_ = false;
  PlayRequest request_{};
  double position_ = 0.0;
  double anchor_tick_ = 0.0;
  double elapsed_ = 0.0;  // frames since the anchor
  double master_tempo_ = 1.0;
  std::size_t next_ = 0;
  std::size_t next_beat_ = 0;
  std::uint32_t usec_per_quarter_ = midi::kDefaultTempo;
  std::int32_t repeats_left_ = 0;
  // The request's loop region, made whole-piece (0, length) where it asks for none.
  std::int32_t loop_start_ = 0;
  std::int32_t loop_end_ = 0;
  // A whole pass from 0 lasts pass_tempo_sum_ / 768 microseconds at master tempo 1: the sum
  // over its tempo spans of ticks x microseconds per quarter (below 2^56, exact in 64 bits).
  std::int64_t pass_tempo_sum_ = -1;  // -1: not worked out yet
  // Frames from this play's last loop notice to the start of the current advance.
  double frames_since_loop_notice_ = 0.0;
  bool loop_noticed_ = false;    // this play gave a loop notice already
  double advance_frames_ = 0.0;  // the frames the current advance covers
  std::uint64_t advance_passes_ = 0;
  std::uint64_t advance_events_ = 0;
};

}  // namespace orvan::music
