// Small numeric helpers shared by the effects.
#pragma once

#include <cmath>

namespace orvan::music::dsp {

inline constexpr double kPi = 3.14159265358979323846;

// Frames per control step: glides and filter coefficients advance once per chunk, gains
// ramp sample by sample inside it.
inline constexpr int kChunkFrames = 32;

// Feedback loops decay towards subnormal numbers, which slow the processor down by orders
// of magnitude; anything below -300 dB is inaudible and becomes a true zero instead.
inline float flush_denormal(float x) noexcept {
  return std::fabs(x) < 1e-15f ? 0.0f : x;
}

inline float db_to_gain(double db) noexcept {
  return static_cast<float>(std::pow(10.0, db / 20.0));
}

// Millibels; -10000 mB and below is silence, as the listener model defines it.
inline float millibels_to_gain(double mb) noexcept {
  return mb <= -10000.0 ? 0.0f : static_cast<float>(std::pow(10.0, mb / 2000.0));
}

// Moves `value` a fraction `coef` of the way to `target`; lands on it when close, so a
// finished glide stops costing coefficient updates. Returns whether the value changed.
inline bool glide(float& value, float target, float coef, float snap) noexcept {
  if (value == target) return false;
  const float next = value + coef * (target - value);
  value = std::fabs(target - next) <= snap ? target : next;
  return true;
}

// Per-chunk glide factor for a time constant in seconds.
inline float glide_coef(double sample_rate, double seconds) noexcept {
  return static_cast<float>(1.0 - std::exp(-kChunkFrames / (seconds * sample_rate)));
}

// A soft clipper close to tanh, exact 1 at |x| >= 3, cheap enough to run per sample.
inline float soft_clip(float x) noexcept {
  if (x >= 3.0f) return 1.0f;
  if (x <= -3.0f) return -1.0f;
  const float x2 = x * x;
  return x * (27.0f + x2) / (27.0f + 9.0f * x2);
}

}  // namespace orvan::music::dsp
