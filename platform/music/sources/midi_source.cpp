#include "platform/music/sources/midi_source.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

namespace orvan::music {

namespace {

constexpr std::uint8_t kLoopStartController = 111;

bool is_marker(const midi::Sequence& seq, const midi::Event& e, std::string_view text) {
  if (e.status != midi::kMetaStatus || e.data1 != midi::kMetaMarker) return false;
  const auto bytes = seq.payload_of(e);
  return bytes.size() == text.size() &&
         std::equal(bytes.begin(), bytes.end(), text.begin(), [](std::uint8_t b, char c) {
           return std::tolower(b) == std::tolower(static_cast<unsigned char>(c));
         });
}

LoopRegion marked_loop_of(const midi::Sequence& seq) {
  std::optional<std::int32_t> marker_start, marker_end, controller_start;
  for (const midi::Event& e : seq.events) {
    if (!marker_start && is_marker(seq, e, "loopStart")) marker_start = e.time;
    if (marker_start && !marker_end && is_marker(seq, e, "loopEnd")) marker_end = e.time;
    if (!controller_start && e.is_channel() && e.command() == 0xB0 &&
        e.data1 == kLoopStartController) {
      controller_start = e.time;
    }
  }
  const LoopRegion region = marker_start
                                ? LoopRegion{*marker_start, marker_end.value_or(seq.length)}
                            : controller_start ? LoopRegion{*controller_start, seq.length}
                                               : LoopRegion{};
  return region.start >= 0 && region.start < region.end && region.end <= seq.length ? region
                                                                                    : LoopRegion{};
}

}  // namespace

MidiContent::MidiContent(std::shared_ptr<const midi::Sequence> sequence)
    : sequence_(sequence ? std::move(sequence) : std::make_shared<const midi::Sequence>()),
      marked_loop_(marked_loop_of(*sequence_)),
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
      request_{sequence_.get(),    options.start,    options.repeats, nullptr,
               options.loop.start, options.loop.end, beats_->data(),  beats_->size()},
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
