#include "tests/dsp/signal_analysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>

namespace orvan::music::dsp::testing {
namespace {

struct Biquad {
  double b0, b1, b2, a1, a2;
  double z1 = 0, z2 = 0;
  double run(double x) {
    const double y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
  }
};

// Two cascaded second-order sections with the Butterworth pole angles of a fourth order.
Mono butterworth4(const Mono& x, double hz, double rate, bool high) {
  const double w = 2.0 * std::numbers::pi * hz / rate;
  const double c = std::cos(w), s = std::sin(w);
  Mono y = x;
  for (double q : {0.54119610, 1.30656296}) {
    const double alpha = s / (2.0 * q);
    const double a0 = 1.0 + alpha;
    const double k = high ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0;
    Biquad f{k / a0, (high ? -2.0 * k : 2.0 * k) / a0, k / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
    for (float& v : y) v = static_cast<float>(f.run(v));
  }
  return y;
}

}  // namespace

Stereo impulse(int frames, float level) {
  Stereo s(2 * static_cast<size_t>(std::max(frames, 1)), 0.0f);
  std::fill_n(s.begin(), 2, level);
  return s;
}

Stereo sine(double hz, float amplitude, int frames, double rate) {
  Stereo s(2 * static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i)
    s[2 * i] = s[2 * i + 1] =
        amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / rate));
  return s;
}

Stereo noise(int frames, float amplitude, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-amplitude, amplitude);
  Stereo s(2 * static_cast<size_t>(frames));
  for (float& v : s) v = dist(gen);
  return s;
}

Stereo render(Effect& effect, Stereo input, int block) {
  const int frames = static_cast<int>(input.size() / 2);
  for (int start = 0; start < frames; start += block)
    effect.process(input.data() + 2 * start, std::min(block, frames - start));
  return input;
}

Mono channel(const Stereo& stereo, int ch) {
  Mono m(stereo.size() / 2);
  for (size_t i = 0; i < m.size(); ++i) m[i] = stereo[2 * i + static_cast<size_t>(ch)];
  return m;
}

Mono difference(const Mono& a, const Mono& b) {
  Mono d(a.size());
  for (size_t i = 0; i < a.size(); ++i) d[i] = a[i] - b[i];
  return d;
}

Mono slice(const Mono& x, int begin, int end) {
  return Mono(x.begin() + begin, x.begin() + end);
}

double rms(const Mono& x) {
  double sum = 0;
  for (float v : x) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / static_cast<double>(x.size()));
}

double peak(const Mono& x) {
  double p = 0;
  for (float v : x) p = std::max(p, static_cast<double>(std::fabs(v)));
  return p;
}

double gain_db(double ratio) {
  return 20.0 * std::log10(ratio);
}

double amplitude_at(const Mono& x, double hz, double rate) {
  std::complex<double> sum = 0;
  const double w = 2.0 * std::numbers::pi * hz / rate;
  for (size_t i = 0; i < x.size(); ++i)
    sum += static_cast<double>(x[i]) * std::polar(1.0, -w * static_cast<double>(i));
  return 2.0 * std::abs(sum) / static_cast<double>(x.size());
}

double thd(const Mono& x, double fundamental_hz, double rate) {
  double harmonics = 0;
  for (int h = 2; h <= 10 && h * fundamental_hz < rate / 2; ++h)
    harmonics += std::pow(amplitude_at(x, h * fundamental_hz, rate), 2);
  return std::sqrt(harmonics) / amplitude_at(x, fundamental_hz, rate);
}

Mono lowpass(const Mono& x, double hz, double rate) {
  return butterworth4(x, hz, rate, false);
}
Mono highpass(const Mono& x, double hz, double rate) {
  return butterworth4(x, hz, rate, true);
}

double decay_time_60(const Mono& ir, double rate) {
  std::vector<double> energy(ir.size());
  double sum = 0;
  for (size_t i = ir.size(); i-- > 0;) {
    sum += static_cast<double>(ir[i]) * ir[i];
    energy[i] = sum;
  }
  if (sum <= 0) return 0;
  // Least-squares line through the curve (in dB) where it lies between -5 and -35 dB.
  double n = 0, st = 0, sd = 0, stt = 0, std_ = 0;
  for (size_t i = 0; i < energy.size(); ++i) {
    const double db = 10.0 * std::log10(energy[i] / sum + 1e-300);
    if (db > -5.0 || db < -35.0) continue;
    const double t = static_cast<double>(i) / rate;
    n += 1;
    st += t;
    sd += db;
    stt += t * t;
    std_ += t * db;
  }
  const double slope = (n * std_ - st * sd) / (n * stt - st * st);  // dB per second
  return -60.0 / slope;
}

int onset(const Mono& x, float threshold) {
  for (size_t i = 0; i < x.size(); ++i)
    if (std::fabs(x[i]) > threshold) return static_cast<int>(i);
  return -1;
}

double largest_step(const Mono& x, int begin, int end) {
  double step = 0;
  for (int i = std::max(begin, 1); i < end; ++i)
    step = std::max(step, static_cast<double>(std::fabs(x[i] - x[i - 1])));
  return step;
}

}  // namespace orvan::music::dsp::testing
