#include "tests/support/sound_measure.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvan::testing {

std::vector<float> channel_of(std::span<const float> interleaved, int channel) {
  std::vector<float> out(interleaved.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = interleaved[2 * i + static_cast<std::size_t>(channel)];
  }
  return out;
}

double rms(std::span<const float> interleaved, std::size_t first_frame, std::size_t frames) {
  const std::size_t end = std::min(interleaved.size() / 2, first_frame + frames);
  if (end <= first_frame) return 0.0;
  double sum = 0.0;
  for (std::size_t i = 2 * first_frame; i < 2 * end; ++i)
    sum += double{interleaved[i]} * interleaved[i];
  return std::sqrt(sum / static_cast<double>(2 * (end - first_frame)));
}

double peak(std::span<const float> interleaved, std::size_t first_frame, std::size_t frames) {
  const std::size_t end = std::min(interleaved.size() / 2, first_frame + frames);
  double p = 0.0;
  for (std::size_t i = 2 * first_frame; i < 2 * end; ++i)
    p = std::max(p, double{std::fabs(interleaved[i])});
  return p;
}

double to_db(double linear) {
  return 20.0 * std::log10(std::max(linear, 1e-12));
}

long first_frame_above(std::span<const float> interleaved, float threshold,
                       std::size_t from_frame) {
  for (std::size_t f = from_frame; f < interleaved.size() / 2; ++f) {
    if (std::fabs(interleaved[2 * f]) > threshold ||
        std::fabs(interleaved[2 * f + 1]) > threshold) {
      return static_cast<long>(f);
    }
  }
  return -1;
}

long last_frame_above(std::span<const float> interleaved, float threshold) {
  for (std::size_t f = interleaved.size() / 2; f-- > 0;) {
    if (std::fabs(interleaved[2 * f]) > threshold ||
        std::fabs(interleaved[2 * f + 1]) > threshold) {
      return static_cast<long>(f);
    }
  }
  return -1;
}

double dominant_frequency(std::span<const float> mono, int sample_rate, double low, double high,
                          double step) {
  double best_frequency = low;
  double best_power = -1.0;
  const double n = static_cast<double>(mono.size());
  for (double f = low; f <= high; f += step) {
    double re = 0.0;
    double im = 0.0;
    const double w = 2.0 * std::numbers::pi * f / sample_rate;
    for (std::size_t i = 0; i < mono.size(); ++i) {
      // Hann window: keeps a strong partial from leaking into its neighbours.
      const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / n);
      re += hann * mono[i] * std::cos(w * static_cast<double>(i));
      im -= hann * mono[i] * std::sin(w * static_cast<double>(i));
    }
    const double power = re * re + im * im;
    if (power > best_power) {
      best_power = power;
      best_frequency = f;
    }
  }
  return best_frequency;
}

std::vector<double> rms_envelope(std::span<const float> interleaved, std::size_t window,
                                 std::size_t hop) {
  if (hop == 0) hop = window;
  std::vector<double> env;
  const std::size_t frames = interleaved.size() / 2;
  for (std::size_t f = 0; f + window <= frames; f += hop)
    env.push_back(rms(interleaved, f, window));
  return env;
}

long best_sample_lag(std::span<const float> reference, std::span<const float> heard,
                     std::size_t ref_frame, std::size_t frames, long guess, long radius) {
  double best = INFINITY;
  long best_lag = guess;
  for (long lag = guess - radius; lag <= guess + radius; ++lag) {
    const long at = static_cast<long>(ref_frame) + lag;
    if (at < 0 || static_cast<std::size_t>(at) + frames > heard.size() / 2) continue;
    double sum = 0.0;
    for (std::size_t i = 0; i < frames * 2; ++i) {
      const double d = reference[ref_frame * 2 + i] - heard[static_cast<std::size_t>(at) * 2 + i];
      sum += d * d;
    }
    if (sum < best) {
      best = sum;
      best_lag = lag;
    }
  }
  return best_lag;
}

LagCorrelation best_lag_correlation(std::span<const double> a, std::span<const double> b,
                                    int max_lag) {
  LagCorrelation best{-2.0, 0};
  for (int lag = -max_lag; lag <= max_lag; ++lag) {
    // Pair a[i] with b[i + lag] over the overlap.
    const long begin = std::max(0L, static_cast<long>(-lag));
    const long end = std::min(static_cast<long>(a.size()), static_cast<long>(b.size()) - lag);
    if (end - begin < 2) continue;
    double ma = 0.0, mb = 0.0;
    for (long i = begin; i < end; ++i) {
      ma += a[static_cast<std::size_t>(i)];
      mb += b[static_cast<std::size_t>(i + lag)];
    }
    const double n = static_cast<double>(end - begin);
    ma /= n;
    mb /= n;
    double sab = 0.0, saa = 0.0, sbb = 0.0;
    for (long i = begin; i < end; ++i) {
      const double da = a[static_cast<std::size_t>(i)] - ma;
      const double db = b[static_cast<std::size_t>(i + lag)] - mb;
      sab += da * db;
      saa += da * da;
      sbb += db * db;
    }
    const double r = (saa > 0 && sbb > 0) ? sab / std::sqrt(saa * sbb) : 0.0;
    if (r > best.correlation) best = {r, lag};
  }
  return best;
}

}  // namespace orvan::testing
