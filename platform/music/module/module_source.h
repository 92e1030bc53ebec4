// One play of a tracker module. A decode thread of its own renders the module with libopenmpt
// into a bounded ring of steps (kStepFrames frames each, with the music time they cover and
// where passes begin and the play ends), a little ahead of the render thread, which only
// copies them into buffer 0. libopenmpt allocates now and then while it plays (when a module
// starts over, for one), so none of it runs on the render thread. Master tempo is the one
// the play opened with (PlayOptions::master_tempo), then the one render() is given, which it
// hands on to the decode thread as a recording does; it is libopenmpt's tempo factor (the
// pitch stays), held within (0, 4].
//
// libopenmpt plays the module round and round (its own repeat, so that a repeat follows the
// pass without a gap and the module's own loops play as written); the decode thread counts
// the passes by the rows it sees and ends the last one where its last row ends.
//
// When the ring is empty, the frames are rendered silent and counted; on a device that keeps
// time the render thread never waits. A device without a clock (a WAV render, a test's pump)
// renders on its own thread, which waits for the decode thread instead.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/music/render/spsc_ring.h"
#include "platform/music/sources/play_source.h"

namespace openmpt {
class module_ext;
namespace ext {
class interactive;
}
}  // namespace openmpt

namespace orvan::music {

class ModuleContent;

class ModuleSource final : public PlaySource {
 public:
  // libopenmpt's largest tempo factor.
  static constexpr double kMaxTempo = 4.0;

  // Client thread: a play of `content` from options.start (rounded down to its row). Starts
  // the decode thread and returns once its first steps are ready.
  static HResult open(const ModuleContent& content, const PlayOptions& options,
                      std::unique_ptr<ModuleSource>& source);
  ~ModuleSource() override;  // client thread: stops the decode thread

  void start(synth::Synth& /*synth*/) noexcept override { begin(); }
  // start() for callers without a synthesizer (the fuzz target, the benchmark).
  void begin() noexcept;
  double stop(synth::Synth& synth) noexcept override;
  bool active() const noexcept override { return active_; }
  void render(float* left, float* right, int frames, double master_tempo,
              PlayListener& listener) noexcept override;
  double position(int ahead) const noexcept override;

 private:
  static constexpr int kStepFrames = 64;
  static constexpr std::uint8_t kLoopMark = 1;  // a pass begins within this step
  static constexpr std::uint8_t kEndMark = 2;   // the play ends after this step
  struct Step {
    std::array<float, kStepFrames> left{}, right{};
    int frames = 0;
    std::uint8_t marks = 0;
    double from = 0.0, to = 0.0;  // music time before and after it
  };

  ModuleSource(const ModuleContent& content, const PlayOptions& options);
  // Decode thread.
  void decode() noexcept;
  void decode_step(Step& step) noexcept;
  // After a step: follows the row the module is on; marks a new pass or the end.
  void follow_row(Step& step) noexcept;
  double decoded_position() const noexcept;
  // Frames until the last pass ends, or -1 while this is not its last row.
  double frames_left_in_last_pass() const noexcept;
  // Render thread, on a device without a clock only.
  bool wait_for_decoder() noexcept;

  // Its own reference: the decode thread may outlive the segment the play belongs to.
  const std::shared_ptr<const ModuleContent> keep_;
  const ModuleContent& content_;
  const int rate_;
  const bool clockless_;
  // Written by render(), read by the decode thread.
  std::atomic<float> master_tempo_;
  std::int32_t start_row_ = 0;
  std::int32_t repeats_ = 0;  // -1: forever
  std::unique_ptr<openmpt::module_ext> module_;
  openmpt::ext::interactive* interactive_ = nullptr;

  // Decode thread.
  std::int32_t repeats_left_ = 0;
  double tempo_ = 1.0;         // the tempo factor set last
  std::size_t row_index_ = 0;  // within the pass
  std::int32_t order_ = 0, row_ = 0;
  double frames_in_row_ = 0.0;
  bool decoded_all_ = false;
  Step scratch_{};

  SpscRing<Step, 256> steps_;
  std::atomic<bool> quit_{false};
  std::atomic<bool> finished_{false};  // the decode thread has pushed its last step
  std::thread thread_;

  // Render thread.
  bool active_ = false;
  int step_done_ = 0;  // frames of the step at the ring's head already rendered
  double position_ = 0.0;
  double frames_since_loop_notice_ = 0.0;
  bool loop_noticed_ = false;
};

}  // namespace orvan::music
