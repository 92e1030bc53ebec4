// MIDI as a play source: the sequence's events go to the synthesizer at their sample, on the
// grid of its blocks; the synthesizer's output is the music, so render() adds nothing.
#pragma once

#include <memory>
#include <vector>

#include "platform/music/midi/sequence.h"
#include "platform/music/render/sequencer.h"
#include "platform/music/sources/play_source.h"

namespace orvan::music {

class MidiContent final : public PlayContent {
 public:
  explicit MidiContent(std::shared_ptr<const midi::Sequence> sequence);

  std::int32_t length() const noexcept override { return sequence_->length; }
  double seconds_at(double music_time) const noexcept override {
    return sequence_->tempo.seconds_at(music_time);
  }
  HResult open(const PlayOptions& options, std::unique_ptr<PlaySource>& source) const override;
  const midi::Sequence* instrument_events() const noexcept override { return sequence_.get(); }
  const midi::Sequence* marker_events() const noexcept override { return sequence_.get(); }
  // Marker events "loopStart" and "loopEnd" (in any case; without an end, the end of the
  // piece), or else the first controller 111 (a loop from it to the end).
  LoopRegion marked_loop() const noexcept override { return marked_loop_; }
  const std::shared_ptr<const midi::Sequence>& sequence() const { return sequence_; }

 private:
  std::shared_ptr<const midi::Sequence> sequence_;  // never null
  LoopRegion marked_loop_;
  // Its beats, worked out once when the piece is loaded.
  std::shared_ptr<const std::vector<midi::BeatMark>> beats_;
};

class MidiSource final : public PlaySource, private SequencerListener {
 public:
  MidiSource(std::shared_ptr<const midi::Sequence> sequence,
             std::shared_ptr<const std::vector<midi::BeatMark>> beats, const PlayOptions& options);

  void start(synth::Synth& synth) noexcept override;
  double stop(synth::Synth& synth) noexcept override { return sequencer_.stop(synth); }
  bool active() const noexcept override { return sequencer_.active(); }
  void resume(synth::Synth& synth) noexcept override { sequencer_.restore_channels(synth); }
  void dispatch(double frames, double master_tempo, synth::Synth& synth,
                PlayListener& listener) noexcept override;
  double position(int ahead) const noexcept override;

 private:
  void on_loop(const PlayRequest& request) noexcept override;
  void on_end(const PlayRequest& request) noexcept override;
  void on_moment(const PlayMoment& moment) noexcept override;

  std::shared_ptr<const midi::Sequence> sequence_;
  std::shared_ptr<const std::vector<midi::BeatMark>> beats_;
  PlayRequest request_;
  Sequencer sequencer_;
  PlayListener* listener_ = nullptr;  // during dispatch()
};

}  // namespace orvan::music
