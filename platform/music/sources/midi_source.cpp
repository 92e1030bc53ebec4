#include "platform/music/sources/midi_source.h"

#include <algorithm>

namespace orvan::music {

MidiContent::MidiContent(std::shared_ptr<const midi::Sequence> sequence)
    : sequence_(sequence ? std::move(sequence) : std::make_shared<const midi::Sequence>()),
      beats_(std::make_shared<const std::vector<midi::BeatMark>>(midi::beat_marks(*sequence_))) {}

HResult MidiContent::open(const PlayOptions& options, std::unique_ptr<PlaySource>& source) const {
  source = std::make_unique<MidiSource>(sequence_, beats_, options);
  return com::S_OK;
}

MidiSource::MidiSource(std::shared_ptr<const midi::Sequence> sequence,
                       std::shared_ptr<const std::vector<midi::BeatMark>> beats,
                       const PlayOptions& options)
    : sequence_(std::move(sequence)),
      beats_(std::move(beats)),
      request_{sequence_.get(), options.start,  options.repeats,
               nullptr,         beats_->data(), beats_->size()},
      sequencer_(options.output_rate, options.meter) {}

void MidiSource::start(synth::Synth& synth) noexcept {
  sequencer_.start(request_, synth);
}

void MidiSource::dispatch(double frames, double master_tempo, synth::Synth& synth,
                          PlayListener& listener) noexcept {
  listener_ = &listener;
  sequencer_.advance(frames, master_tempo, synth, *this);
  listener_ = nullptr;
}

double MidiSource::position(int ahead) const noexcept {
  // The sequencer runs ahead to the end of the current synthesizer block; the position
  // answered is that of the last frame rendered.
  const double length = std::max(0, sequence_->length);
  return std::clamp(sequencer_.position_before(ahead), 0.0, length);
}

void MidiSource::on_loop(const PlayRequest& /*request*/) noexcept {
  listener_->on_loop();
}

void MidiSource::on_end(const PlayRequest& /*request*/) noexcept {
  listener_->on_end();
}

void MidiSource::on_moment(const PlayMoment& moment) noexcept {
  listener_->on_moment(moment);
}

}  // namespace orvan::music
