#include "platform/music/dsp/distortion.h"

#include <algorithm>
#include <cmath>

namespace orvan::music::dsp {
namespace {

// Edge 0 drives the shaper so gently that it is almost linear; Edge 100 drives it about
// 34 dB into saturation. The drive is spread logarithmically, the way hardness is heard.
constexpr double kMinDrive = 0.1;
constexpr double kMaxDrive = 50.0;

}  // namespace

Distortion::Distortion(double sample_rate)
    : ParameterizedEffect(sample_rate), glide_coef_(glide_coef(sample_rate, 0.02)) {
  reset();
}

Distortion::Controls Distortion::controls_of(const DSFXDISTORTION& p) noexcept {
  return {p.Gain, p.Edge, p.PostEQCenterFrequency, p.PostEQBandwidth, p.PreLowpassCutoff};
}

void Distortion::reset() noexcept {
  fetch_target();
  goal_ = now_ = controls_of(target());
  for (auto& s : pre_state_) s = {};
  for (auto& s : post_state_) s = {};
  update_coefficients();
  out_gain_ = db_to_gain(now_.gain_db);
}

void Distortion::update_coefficients() noexcept {
  const double fs = sample_rate();
  pre_ = BiquadCoefs::lowpass(fs, now_.cutoff_hz, 0.70710678);
  post_ = BiquadCoefs::bandpass(fs, now_.center_hz, now_.bandwidth_hz);
  const double drive = kMinDrive * std::pow(kMaxDrive / kMinDrive, now_.edge / 100.0);
  drive_ = static_cast<float>(drive);
  // A full-scale input leaves the shaper at full scale at every Edge, so the output level
  // is set by Gain alone.
  drive_norm_ = 1.0f / soft_clip(drive_);
}

void Distortion::process(float* stereo, int frames) noexcept {
  if (fetch_target()) goal_ = controls_of(target());
  for (int start = 0; start < frames; start += kChunkFrames) {
    const int n = std::min(kChunkFrames, frames - start);
    bool moved = false;
    moved |= glide(now_.gain_db, goal_.gain_db, glide_coef_, 0.01f);
    moved |= glide(now_.edge, goal_.edge, glide_coef_, 0.01f);
    moved |= glide(now_.center_hz, goal_.center_hz, glide_coef_, 0.1f);
    moved |= glide(now_.bandwidth_hz, goal_.bandwidth_hz, glide_coef_, 0.1f);
    moved |= glide(now_.cutoff_hz, goal_.cutoff_hz, glide_coef_, 0.1f);
    if (moved) update_coefficients();

    const float gain_begin = out_gain_;
    const float gain_end = moved ? db_to_gain(now_.gain_db) : out_gain_;
    const float gain_step = (gain_end - gain_begin) / static_cast<float>(n);
    float gain = gain_begin;
    float* frame = stereo + 2 * start;
    for (int i = 0; i < n; ++i, frame += 2) {
      gain += gain_step;
      for (int ch = 0; ch < 2; ++ch) {
        const float x = pre_state_[ch].process(pre_, frame[ch]);
        const float shaped = soft_clip(drive_ * x) * drive_norm_;
        frame[ch] = post_state_[ch].process(post_, shaped) * gain;
      }
    }
    out_gain_ = gain_end;
  }
}

}  // namespace orvan::music::dsp
