// Filters the effects are built from. Coefficients are computed on the render thread once
// per chunk while a parameter glides, so their design functions stay allocation-free.
#pragma once

#include <cmath>

#include "platform/music/dsp/dsp_math.h"

namespace orvan::music::dsp {

struct BiquadCoefs {
  float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;

  // Second-order low-pass (Butterworth at q = 1/sqrt 2).
  static BiquadCoefs lowpass(double sample_rate, double hz, double q) noexcept {
    const double w = angular(sample_rate, hz);
    const double alpha = std::sin(w) / (2.0 * q);
    const double c = std::cos(w);
    const double a0 = 1.0 + alpha;
    return make((1.0 - c) / 2.0 / a0, (1.0 - c) / a0, (1.0 - c) / 2.0 / a0, -2.0 * c / a0,
                (1.0 - alpha) / a0);
  }

  // Band-pass with 0 dB at the centre and the given -3 dB bandwidth in Hz.
  static BiquadCoefs bandpass(double sample_rate, double center_hz, double bandwidth_hz) noexcept {
    const double w = angular(sample_rate, center_hz);
    const double q = center_hz / std::fmax(bandwidth_hz, 1.0);
    const double alpha = std::sin(w) / (2.0 * q);
    const double a0 = 1.0 + alpha;
    return make(alpha / a0, 0.0, -alpha / a0, -2.0 * std::cos(w) / a0, (1.0 - alpha) / a0);
  }

 private:
  // These designs are stable only strictly between 0 Hz and Nyquist (a frequency above it
  // turns the poles outwards), so a frequency outside is held just inside.
  static double angular(double sample_rate, double hz) noexcept {
    const double w = 2.0 * kPi * hz / sample_rate;
    return std::fmin(std::fmax(w, 1e-4), 0.98 * kPi);
  }
  static BiquadCoefs make(double b0, double b1, double b2, double a1, double a2) noexcept {
    return {static_cast<float>(b0), static_cast<float>(b1), static_cast<float>(b2),
            static_cast<float>(a1), static_cast<float>(a2)};
  }
};

// Transposed direct form II: one state pair per channel.
struct BiquadState {
  float z1 = 0, z2 = 0;

  float process(const BiquadCoefs& c, float x) noexcept {
    const float y = c.b0 * x + z1;
    z1 = flush_denormal(c.b1 * x - c.a1 * y + z2);
    z2 = flush_denormal(c.b2 * x - c.a2 * y);
    return y;
  }
};

// First-order low-pass by the bilinear transform: unity at DC, zero at Nyquist.
struct OnePoleCoefs {
  float k = 1, a1 = 0;  // y = k (x + x[-1]) - a1 y[-1]

  static OnePoleCoefs lowpass(double sample_rate, double hz) noexcept {
    const double t = std::tan(kPi * hz / sample_rate);
    return {static_cast<float>(t / (1.0 + t)), static_cast<float>((t - 1.0) / (t + 1.0))};
  }
};

struct OnePoleState {
  float x1 = 0, y1 = 0;

  float process(const OnePoleCoefs& c, float x) noexcept {
    const float y = flush_denormal(c.k * (x + x1) - c.a1 * y1);
    x1 = x;
    y1 = y;
    return y;
  }
};

// y = b x + a y[-1]: a low-pass whose gain is 1 at DC and `gain_at_ref` at `ref_hz`
// (0 < gain_at_ref <= 1), used where a level is specified at one high frequency.
struct DampingCoefs {
  float b = 1, a = 0;

  static DampingCoefs for_gain(double sample_rate, double ref_hz, double gain_at_ref) noexcept {
    if (gain_at_ref >= 1.0) return {};
    const double g = std::fmax(gain_at_ref, 1e-4);
    const double c = std::cos(2.0 * kPi * std::fmin(ref_hz, 0.49 * sample_rate) / sample_rate);
    // |b / (1 - a e^-jw)| = g with b = 1 - a gives a quadratic in a; take its root in [0, 1).
    const double g2 = g * g;
    const double qa = 1.0 - g2;
    const double qb = 2.0 * g2 * c - 2.0;
    const double qc = 1.0 - g2;
    const double a = (-qb - std::sqrt(std::fmax(qb * qb - 4.0 * qa * qc, 0.0))) / (2.0 * qa);
    return {static_cast<float>(1.0 - a), static_cast<float>(a)};
  }
};

struct DampingState {
  float y1 = 0;

  float process(const DampingCoefs& c, float x) noexcept {
    y1 = flush_denormal(c.b * x + c.a * y1);
    return y1;
  }
};

}  // namespace orvan::music::dsp
