#include "platform/music/wave/converters.h"

#include <soundtouch/SoundTouch.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace orvan::music::wave {

namespace {

soxr_t as_soxr(void* p) {
  return static_cast<soxr_t>(p);
}

}  // namespace

Resampler::Resampler(int input_rate, int output_rate) : out_(2 * kPieceFrames) {
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t error = nullptr;
  soxr_ = soxr_create(input_rate, output_rate, 2, &error, &io, &quality, nullptr);
  if (error) soxr_ = nullptr;
}

Resampler::~Resampler() {
  if (soxr_) soxr_delete(as_soxr(soxr_));
}

void Resampler::reset() {
  if (soxr_) soxr_clear(as_soxr(soxr_));
}

void Resampler::process(const float* stereo, std::size_t frames, const FrameSink& sink) {
  if (!soxr_) return;
  while (frames > 0) {
    std::size_t used = 0, made = 0;
    if (soxr_process(as_soxr(soxr_), stereo, frames, &used, out_.data(), kPieceFrames, &made)) {
      return;
    }
    if (made > 0) sink(out_.data(), made);
    stereo += 2 * used;
    frames -= used;
    if (used == 0 && made == 0) return;
  }
}

void Resampler::flush(const FrameSink& sink) {
  if (!soxr_) return;
  for (;;) {
    std::size_t made = 0;
    if (soxr_process(as_soxr(soxr_), nullptr, 0, nullptr, out_.data(), kPieceFrames, &made) ||
        made == 0) {
      return;
    }
    sink(out_.data(), made);
  }
}

Stretcher::Stretcher(int sample_rate)
    : touch_(std::make_unique<soundtouch::SoundTouch>()), out_(2 * kPieceFrames) {
  touch_->setSampleRate(static_cast<unsigned>(sample_rate));
  touch_->setChannels(2);
  touch_->setTempo(1.0);
}

Stretcher::~Stretcher() = default;

void Stretcher::set_tempo(double tempo) {
  tempo_ = tempo;
  touch_->setTempo(tempo);
}

void Stretcher::reset() {
  touch_->clear();
  expected_ = 0.0;
  fed_ = 0;
  taken_ = 0;
}

void Stretcher::put(const float* stereo, std::size_t frames) {
  touch_->putSamples(stereo, static_cast<unsigned>(frames));
  fed_ += frames;
  expected_ += static_cast<double>(frames) / tempo_;
}

void Stretcher::take(const FrameSink& sink) {
  const auto limit = static_cast<std::size_t>(std::llround(expected_));
  while (taken_ < limit) {
    const std::size_t want = std::min(kPieceFrames, limit - taken_);
    const unsigned got = touch_->receiveSamples(out_.data(), static_cast<unsigned>(want));
    if (got == 0) return;
    taken_ += got;
    sink(out_.data(), got);
  }
}

void Stretcher::finish(const FrameSink& sink) {
  if (fed_ > 0) {
    touch_->flush();
    take(sink);
    // What the flush left short (the stretcher's last window) is made up with silence, so
    // that the pass lasts exactly its stretched length.
    const auto limit = static_cast<std::size_t>(std::llround(expected_));
    std::fill(out_.begin(), out_.end(), 0.0f);
    while (taken_ < limit) {
      const std::size_t n = std::min(kPieceFrames, limit - taken_);
      taken_ += n;
      sink(out_.data(), n);
    }
  }
  reset();
}

}  // namespace orvan::music::wave
