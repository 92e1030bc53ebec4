// The render thread's side of a wave play: copies the stream's frames into buffer 0, follows
// its spans for the position, and tells the performance where passes begin, where the play
// ends and where the file's cue points are, each at the frame of the call that plays it, as
// the sequencer does for MIDI. Render thread only, apart from construction and the counters.
//
// When the stream has nothing ready, the frames are rendered silent and counted; on a device
// that keeps time the render thread never waits. A device that renders as fast as it can (a
// WAV file, a test's pump) has no deadline to miss, so there the player waits for the
// decoder instead, unless the decoder is stalled on purpose (a test's hook).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/music/render/sequencer.h"
#include "platform/music/wave/wave_stream.h"

namespace orvan::music {

class WavePlayer {
 public:
  explicit WavePlayer(int sample_rate) : sample_rate_(sample_rate) {}

  void set_waits_for_decoder(bool waits) { waits_for_decoder_ = waits; }

  // Render thread only.
  void start(const PlayRequest& request) noexcept;
  // Ends the play; returns the music time it stopped at.
  double stop() noexcept;
  // Adds `frames` frames of the play to left and right, giving notice of loops (coalesced
  // as the sequencer does), of the end and of cue points (as markers of the request's
  // sequence, whose events are the cue points in order), each as a moment `at` frames into
  // this call.
  void mix(float* left, float* right, int frames, SequencerListener& listener) noexcept;
  bool active() const noexcept { return active_; }
  const PlayRequest& request() const noexcept { return request_; }
  // Music time of the next frame to be rendered, within the current pass.
  double position() const noexcept;

  // Any thread: frames rendered silent because the decoder had nothing ready.
  std::uint64_t silent_frames() const noexcept {
    return silent_frames_.load(std::memory_order_relaxed);
  }

 private:
  bool wait_for_decoder() noexcept;
  // The first cue point at or after source frame `frame`.
  std::size_t cue_from(double frame) const noexcept;
  // Tells each cue point not yet told before source frame `until`; `from` is the source frame
  // played `done` frames into this call, `step` source frames per output frame.
  void tell_cues(double from, double until, double step, int done,
                 SequencerListener& listener) noexcept;

  const int sample_rate_;
  bool waits_for_decoder_ = false;
  bool active_ = false;
  PlayRequest request_{};
  wave::Span span_{};
  std::int32_t span_left_ = 0;
  std::int32_t span_done_ = 0;
  double frames_since_loop_notice_ = 0.0;
  bool loop_noticed_ = false;
  std::size_t next_cue_ = 0;  // in request_.wave->source().info().cues
  std::atomic<std::uint64_t> silent_frames_{0};
};

}  // namespace orvan::music
