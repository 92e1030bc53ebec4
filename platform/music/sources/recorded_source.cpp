#include "platform/music/sources/recorded_source.h"

#include <algorithm>
#include <cmath>

#include "platform/music/wave/wave_source.h"
#include "platform/music/wave/wave_stream.h"

namespace orvan::music {

namespace {

std::shared_ptr<const midi::Sequence> outline_of(const wave::WaveSource* wave) {
  auto sequence = std::make_shared<midi::Sequence>();
  if (!wave) return sequence;
  sequence->length = wave->info().length;
  for (const wave::CuePoint& cue : wave->info().cues) {
    midi::Event marker;
    const double time = std::round(wave->music_time_at(static_cast<double>(cue.frame)));
    marker.time = static_cast<std::int32_t>(std::min(time, static_cast<double>(sequence->length)));
    marker.status = midi::kMetaStatus;
    marker.data1 = midi::kMetaMarker;
    marker.payload_offset = static_cast<std::uint32_t>(sequence->payload.size());
    marker.payload_size = static_cast<std::uint32_t>(cue.name.size());
    sequence->payload.insert(sequence->payload.end(), cue.name.begin(), cue.name.end());
    sequence->events.push_back(marker);
  }
  return sequence;
}

}  // namespace

RecordedContent::RecordedContent(std::shared_ptr<const wave::WaveSource> wave)
    : wave_(std::move(wave)), outline_(outline_of(wave_.get())) {}

HResult RecordedContent::open(const PlayOptions& options,
                              std::unique_ptr<PlaySource>& source) const {
  if (!wave_) return com::E_POINTER;
  wave::WaveStream::Options stream_options;
  stream_options.output_rate = options.output_rate;
  auto tempo = std::make_unique<std::atomic<float>>(options.master_tempo);
  stream_options.master_tempo = tempo.get();
  stream_options.start_frame = wave_->frame_at(options.start);
  stream_options.repeats = options.repeats;
  if (options.loop.end > 0) {
    // The file's own loop is kept to its exact frames; music time is coarser than a frame.
    const wave::WaveInfo& info = wave_->info();
    const bool marked = options.loop == marked_loop();
    stream_options.loop_start_frame =
        marked ? info.loop_start_frame : wave_->frame_at(options.loop.start);
    stream_options.loop_end_frame =
        marked ? info.loop_end_frame : wave_->frame_at(options.loop.end);
  }
  std::unique_ptr<wave::WaveStream> stream;
  if (HResult hr = wave::WaveStream::open(wave_, stream_options, stream); com::failed(hr)) {
    return hr;
  }
  source = std::make_unique<RecordedSource>(std::move(tempo), std::move(stream), outline_, options);
  return com::S_OK;
}

LoopRegion RecordedContent::marked_loop() const noexcept {
  if (!wave_ || wave_->info().loop_end_frame <= 0) return {};
  const wave::WaveInfo& info = wave_->info();
  const auto at = [&](std::int64_t frame) {
    return std::clamp(
        static_cast<std::int32_t>(std::llround(wave_->music_time_at(static_cast<double>(frame)))),
        0, info.length);
  };
  const LoopRegion region{at(info.loop_start_frame), at(info.loop_end_frame)};
  return region.start < region.end ? region : LoopRegion{};
}

RecordedSource::RecordedSource(std::unique_ptr<std::atomic<float>> tempo,
                               std::unique_ptr<wave::WaveStream> stream,
                               std::shared_ptr<const midi::Sequence> outline,
                               const PlayOptions& options)
    : tempo_(std::move(tempo)),
      stream_(std::move(stream)),
      outline_(std::move(outline)),
      request_{outline_.get(), options.start,      options.repeats,
               stream_.get(),  options.loop.start, options.loop.end},
      player_(options.output_rate) {
  player_.set_waits_for_decoder(options.clockless);
}

RecordedSource::~RecordedSource() = default;

void RecordedSource::start(synth::Synth& /*synth*/) noexcept {
  player_.start(request_);
}

double RecordedSource::stop(synth::Synth& /*synth*/) noexcept {
  return player_.stop();
}

void RecordedSource::render(float* left, float* right, int frames, double master_tempo,
                            PlayListener& listener) noexcept {
  tempo_->store(static_cast<float>(master_tempo), std::memory_order_relaxed);
  listener_ = &listener;
  const std::uint64_t silent = player_.silent_frames();
  player_.mix(left, right, frames, *this);
  if (const std::uint64_t now = player_.silent_frames(); now != silent) {
    listener.on_starved(static_cast<int>(now - silent));
  }
  listener_ = nullptr;
}

double RecordedSource::position(int /*ahead*/) const noexcept {
  return player_.position();
}

void RecordedSource::on_loop(const PlayRequest& /*request*/) noexcept {
  listener_->on_loop();
}

void RecordedSource::on_end(const PlayRequest& /*request*/) noexcept {
  listener_->on_end();
}

void RecordedSource::on_moment(const PlayMoment& moment) noexcept {
  listener_->on_moment(moment);
}

}  // namespace orvan::music
