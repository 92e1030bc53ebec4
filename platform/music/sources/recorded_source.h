// Recorded music as a play source: a decode thread (wave::WaveStream) prepares the device's
// frames ahead of the render thread; render() copies them into buffer 0 through the wave
// player, which follows the stream's spans for the position, loops, cue points and the end.
#pragma once

#include <memory>

#include "platform/music/midi/sequence.h"
#include "platform/music/sources/play_source.h"
#include "platform/music/wave/wave_player.h"

namespace orvan::music {

namespace wave {
class WaveSource;
class WaveStream;
}  // namespace wave

class RecordedContent final : public PlayContent {
 public:
  // `wave` may be null: music of no length.
  explicit RecordedContent(std::shared_ptr<const wave::WaveSource> wave);

  std::int32_t length() const noexcept override { return outline_->length; }
  // A recording keeps one tempo, the one its music time is counted in.
  double seconds_at(double music_time) const noexcept override {
    return outline_->tempo.seconds_at(music_time);
  }
  // Starts the decode thread and waits for its first audio: call outside any lock.
  HResult open(const PlayOptions& options, std::unique_ptr<PlaySource>& source) const override;
  LoopRegion marked_loop() const noexcept override;
  const midi::Sequence* marker_events() const noexcept override { return outline_.get(); }
  const std::shared_ptr<const wave::WaveSource>& wave() const { return wave_; }

 private:
  std::shared_ptr<const wave::WaveSource> wave_;
  // The length in music time, as the wave player reads it, and the file's cue points as
  // marker events in the order of WaveInfo::cues (at the music time nearest each), which
  // name the player's Marker moments and give the marker boundaries of a transition.
  std::shared_ptr<const midi::Sequence> outline_;
};

class RecordedSource final : public PlaySource, private SequencerListener {
 public:
  // `tempo` is the one the stream's decode thread reads (WaveStream::Options::master_tempo).
  RecordedSource(std::unique_ptr<std::atomic<float>> tempo,
                 std::unique_ptr<wave::WaveStream> stream,
                 std::shared_ptr<const midi::Sequence> outline, const PlayOptions& options);
  ~RecordedSource() override;  // stops the decode thread

  void start(synth::Synth& synth) noexcept override;
  double stop(synth::Synth& synth) noexcept override;
  bool active() const noexcept override { return player_.active(); }
  void render(float* left, float* right, int frames, double master_tempo,
              PlayListener& listener) noexcept override;
  double position(int ahead) const noexcept override;

 private:
  void on_loop(const PlayRequest& request) noexcept override;
  void on_end(const PlayRequest& request) noexcept override;
  void on_moment(const PlayMoment& moment) noexcept override;

  // The master tempo render() hands on to the decode thread; declared first, so that it
  // outlives the stream and its thread.
  std::unique_ptr<std::atomic<float>> tempo_;
  std::unique_ptr<wave::WaveStream> stream_;
  std::shared_ptr<const midi::Sequence> outline_;
  PlayRequest request_;
  WavePlayer player_;
  PlayListener* listener_ = nullptr;  // during render()
};

}  // namespace orvan::music
