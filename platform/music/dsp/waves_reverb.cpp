#include "platform/music/dsp/waves_reverb.h"

#include <algorithm>
#include <cmath>

namespace orvan::music::dsp {
namespace {

// Above this the tail decays at the high-frequency rate; placed high so that the whole
// musical range below it keeps ReverbTime even at the darkest ratio.
constexpr float kCrossoverHz = 4000.0f;

// Makes a fully wet impulse response start near the input's level.
constexpr float kWetScale = 0.7f;

}  // namespace

WavesReverb::WavesReverb(double sample_rate)
    : ParameterizedEffect(sample_rate),
      glide_coef_(glide_coef(sample_rate, 0.03)),
      late_(sample_rate) {
  reset();
}

// Decay times glide on a log scale, so a change from 0.1 s to 3 s sounds even.
WavesReverb::Controls WavesReverb::controls_of(const DSFXWAVESREVERB& p) noexcept {
  return {p.InGain, p.ReverbMix, std::log(p.ReverbTime / 1000.0f), p.HighFreqRTRatio};
}

void WavesReverb::update_decay() noexcept {
  const float time = std::exp(now_.log_time_s);
  late_.set_decay(time, time * now_.hf_ratio, kCrossoverHz);
}

void WavesReverb::levels(float& wet, float& dry) const noexcept {
  const float in = db_to_gain(now_.in_gain_db);
  const float mix = db_to_gain(now_.mix_db);
  wet = in * mix * kWetScale;
  dry = in * std::sqrt(std::max(0.0f, 1.0f - mix * mix));
}

void WavesReverb::reset() noexcept {
  fetch_target();
  goal_ = now_ = controls_of(target());
  late_.clear();
  update_decay();
  levels(wet_, dry_);
}

void WavesReverb::process(float* stereo, int frames) noexcept {
  if (fetch_target()) goal_ = controls_of(target());
  for (int start = 0; start < frames; start += kChunkFrames) {
    const int n = std::min(kChunkFrames, frames - start);
    bool level_moved = glide(now_.in_gain_db, goal_.in_gain_db, glide_coef_, 0.01f);
    level_moved |= glide(now_.mix_db, goal_.mix_db, glide_coef_, 0.01f);
    bool decay_moved = glide(now_.log_time_s, goal_.log_time_s, glide_coef_, 1e-4f);
    decay_moved |= glide(now_.hf_ratio, goal_.hf_ratio, glide_coef_, 1e-5f);
    if (decay_moved) update_decay();

    float wet_end = wet_, dry_end = dry_;
    if (level_moved) levels(wet_end, dry_end);
    const float inv_n = 1.0f / static_cast<float>(n);
    const float wet_step = (wet_end - wet_) * inv_n, dry_step = (dry_end - dry_) * inv_n;
    float wet = wet_, dry = dry_;
    float* frame = stereo + 2 * start;
    float mono[kChunkFrames], left[kChunkFrames], right[kChunkFrames];
    for (int i = 0; i < n; ++i) mono[i] = 0.5f * (frame[2 * i] + frame[2 * i + 1]);
    late_.process(mono, left, right, n);
    for (int i = 0; i < n; ++i, frame += 2) {
      wet += wet_step;
      dry += dry_step;
      frame[0] = dry * frame[0] + wet * left[i];
      frame[1] = dry * frame[1] + wet * right[i];
    }
    wet_ = wet_end;
    dry_ = dry_end;
  }
}

}  // namespace orvan::music::dsp
