#include "platform/music/dsp/late_reverb.h"

#include <algorithm>
#include <cmath>

namespace orvan::music::dsp {
namespace {

// Mutually prime-ish lengths between 20 and 50 ms: their echoes do not line up, and the
// longest keeps the density of modes high enough for a smooth tail.
constexpr std::array<double, LateReverb::kLines> kLineMs = {21.3, 24.7, 28.9, 31.1,
                                                            35.9, 39.7, 43.3, 47.9};
constexpr std::array<double, LateReverb::kDiffusers> kDiffuserMs = {2.13, 1.61, 1.19, 0.83};
// Density 0 shortens the lines to this share of their full length.
constexpr double kShortestShare = 0.35;
constexpr float kMaxDiffuserGain = 0.7f;

// The two outputs read the lines through two orthogonal sign patterns, so left and right
// are decorrelated; the input pattern overlaps both, so the reverb starts at once.
constexpr std::array<float, LateReverb::kLines> kInputSigns = {1, 1, 1, -1, 1, -1, -1, 1};
constexpr std::array<float, LateReverb::kLines> kLeftSigns = {1, 1, -1, -1, 1, 1, -1, -1};
constexpr std::array<float, LateReverb::kLines> kRightSigns = {1, -1, -1, 1, 1, -1, -1, 1};

}  // namespace

LateReverb::LateReverb(double sample_rate) : sample_rate_(sample_rate) {
  for (int i = 0; i < kLines; ++i)
    lines_[i] = DelayLine(static_cast<int>(kLineMs[i] * sample_rate / 1000.0) + 4);
  for (int i = 0; i < kDiffusers; ++i) {
    // At least a chunk, so that a whole chunk can pass through each all-pass at once.
    diffuser_length_[i] =
        std::max(kChunkFrames, static_cast<int>(kDiffuserMs[i] * sample_rate / 1000.0));
    diffusers_[i] = DelayLine(diffuser_length_[i] + 2);
  }
  set_shape(1.0f, 1.0f);
  set_decay(1.0f, 1.0f, 5000.0f);
}

void LateReverb::set_shape(float density, float diffusion) noexcept {
  const double share = kShortestShare + (1.0 - kShortestShare) * std::clamp(density, 0.0f, 1.0f);
  for (int i = 0; i < kLines; ++i)
    length_[i] = std::max(
        kChunkFrames, static_cast<int>(std::lround(kLineMs[i] * share * sample_rate_ / 1000.0)));
  diffuser_gain_ = kMaxDiffuserGain * std::clamp(diffusion, 0.0f, 1.0f);
  gains_stale_ = true;
}

void LateReverb::set_decay(float low_decay_s, float high_decay_s, float crossover_hz) noexcept {
  low_decay_s_ = low_decay_s;
  high_decay_s_ = high_decay_s;
  shelf_ = OnePoleCoefs::lowpass(
      sample_rate_, std::clamp(static_cast<double>(crossover_hz), 10.0, 0.45 * sample_rate_));
  update_loop_gains();
}

void LateReverb::update_loop_gains() noexcept {
  // A pass through a line of m frames must lose 60 dB * m / (decay * rate).
  constexpr double kLn1000 = 6.907755278982137;
  const double low_rate = -kLn1000 / (low_decay_s_ * sample_rate_);
  const double high_rate = -kLn1000 / (high_decay_s_ * sample_rate_);
  for (int i = 0; i < kLines; ++i) {
    low_gain_[i] = static_cast<float>(std::exp(low_rate * length_[i]));
    high_gain_[i] = static_cast<float>(std::exp(high_rate * length_[i]));
  }
  gains_stale_ = false;
}

void LateReverb::clear() noexcept {
  for (DelayLine& line : lines_) line.clear();
  for (DelayLine& line : diffusers_) line.clear();
  shelf_state_.fill({});
}

void LateReverb::process(const float* in, float* out_left, float* out_right, int n) noexcept {
  // Every line and all-pass is at least a chunk long, so a whole chunk is read from them
  // before any of it is written back. Loops over kChunkFrames (the frames past n are
  // zeros and never written back) have a fixed count, which the compiler vectorises.
  // Shape and decay often change together while parameters glide: one update serves both.
  if (gains_stale_) update_loop_gains();
  float x[kChunkFrames] = {};
  std::copy_n(in, n, x);

  // Series all-passes smear the input into many small echoes before it enters the loop.
  for (int d = 0; d < kDiffusers; ++d) {
    float delayed[kChunkFrames] = {}, w[kChunkFrames];
    diffusers_[d].read_block(diffuser_length_[d], delayed, n);
    for (int k = 0; k < kChunkFrames; ++k) {
      w[k] = flush_denormal(x[k] + diffuser_gain_ * delayed[k]);
      x[k] = delayed[k] - diffuser_gain_ * w[k];
    }
    diffusers_[d].write_block(w, n);
  }

  float v[kLines][kChunkFrames] = {};
  for (int i = 0; i < kLines; ++i) lines_[i].read_block(length_[i], v[i], n);

  // Shelf: high_gain everywhere, plus (low - high) below the crossover. Frames outside,
  // lines inside: the eight filter recursions run side by side.
  std::array<float, kLines> x1, y1, high, low_extra;
  for (int i = 0; i < kLines; ++i) {
    x1[i] = shelf_state_[i].x1;
    y1[i] = shelf_state_[i].y1;
    high[i] = high_gain_[i];
    low_extra[i] = low_gain_[i] - high_gain_[i];
  }
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < kLines; ++i) {
      const float s = v[i][k];
      const float low = flush_denormal(shelf_.k * (s + x1[i]) - shelf_.a1 * y1[i]);
      x1[i] = s;
      y1[i] = low;
      v[i][k] = high[i] * s + low_extra[i] * low;
    }
  }
  for (int i = 0; i < kLines; ++i) shelf_state_[i] = {x1[i], y1[i]};

  // Orthogonal mixing: a fast Walsh-Hadamard transform per frame, scaled by 1/sqrt(8).
  for (int span = 1; span < kLines; span *= 2)
    for (int i = 0; i < kLines; i += 2 * span)
      for (int j = i; j < i + span; ++j)
        for (int k = 0; k < kChunkFrames; ++k) {
          const float a = v[j][k], b = v[j + span][k];
          v[j][k] = a + b;
          v[j + span][k] = a - b;
        }

  constexpr float kScale = 0.35355339f;
  float left[kChunkFrames] = {}, right[kChunkFrames] = {};
  for (int i = 0; i < kLines; ++i) {
    const float in_sign = kInputSigns[i] / kScale;
    for (int k = 0; k < kChunkFrames; ++k) {
      const float w = flush_denormal(kScale * (v[i][k] + in_sign * x[k]));
      v[i][k] = w;
      left[k] += kLeftSigns[i] * w;
      right[k] += kRightSigns[i] * w;
    }
    lines_[i].write_block(v[i], n);
  }
  for (int k = 0; k < n; ++k) {
    out_left[k] = kScale * left[k];
    out_right[k] = kScale * right[k];
  }
}

}  // namespace orvan::music::dsp
