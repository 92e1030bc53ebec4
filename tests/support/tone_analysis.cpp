#include "tests/support/tone_analysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvan::test {

double tone_level(std::span<const float> mono, int sample_rate, double hz) {
  if (mono.size() < 2) return 0.0;
  double re = 0.0, im = 0.0;
  const double n = static_cast<double>(mono.size());
  for (std::size_t i = 0; i < mono.size(); ++i) {
    const double t = static_cast<double>(i);
    const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * t / (n - 1));
    const double phase = 2.0 * std::numbers::pi * hz * t / sample_rate;
    re += w * mono[i] * std::cos(phase);
    im += w * mono[i] * std::sin(phase);
  }
  return std::sqrt(re * re + im * im) / n;
}

ToneProfile profile_tone(std::span<const float> mono, int sample_rate, double fundamental_hz) {
  ToneProfile tone;
  tone.fundamental = tone_level(mono, sample_rate, fundamental_hz);
  const auto db = [&](double v) { return 20.0 * std::log10(v / tone.fundamental + 1e-12); };
  double strongest = 0.0;
  for (int k = 2; k <= 8; ++k) {
    strongest = std::max(strongest, tone_level(mono, sample_rate, fundamental_hz * k));
  }
  tone.strongest_overtone_db = db(strongest);
  tone.second_db = db(tone_level(mono, sample_rate, fundamental_hz * 2));
  tone.third_db = db(tone_level(mono, sample_rate, fundamental_hz * 3));
  return tone;
}

}  // namespace orvan::test
