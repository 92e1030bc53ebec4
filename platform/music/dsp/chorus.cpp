#include "platform/music/dsp/chorus.h"

#include <algorithm>
#include <cmath>

#include "platform/music/dsp/dsp_math.h"

namespace orvan::music::dsp {
namespace {

constexpr double kMaxDelayMs = 20.0;
constexpr double kMaxDepth = 1.0;  // a sweep of Delay +- 100 %

}  // namespace

Chorus::Chorus(double sample_rate)
    : ParameterizedEffect(sample_rate),
      glide_coef_(glide_coef(sample_rate, 0.02)),
      delay_glide_coef_(glide_coef(sample_rate, 0.15)),
      max_delay_frames_(
          static_cast<float>(kMaxDelayMs * (1.0 + kMaxDepth) * sample_rate / 1000.0)) {
  for (DelayLine& line : lines_) line = DelayLine(static_cast<int>(max_delay_frames_) + 4);
  reset();
}

Chorus::Controls Chorus::controls_of(const DSFXCHORUS& p) noexcept {
  return {p.WetDryMix / 100.0f,
          p.Depth / 100.0f,
          p.Feedback / 100.0f,
          p.Frequency,
          p.Waveform == 0 ? 0.0f : 1.0f,
          p.Delay,
          static_cast<float>((p.Phase - 2) * 90)};
}

void Chorus::reset() noexcept {
  fetch_target();
  goal_ = now_ = controls_of(target());
  lfo_phase_ = 0.0;
  for (DelayLine& line : lines_) line.clear();
  delay_now_[0] = delay_frames(lfo_phase_);
  delay_now_[1] = delay_frames(lfo_phase_ + now_.phase_deg / 360.0);
}

// The LFO in [-1, 1]. Triangle and sine share their peaks (a quarter cycle in), and the
// waveform switch cross-fades between them so that it does not click.
float Chorus::lfo(double phase) const noexcept {
  phase -= std::floor(phase);
  const auto sine = static_cast<float>(std::sin(2.0 * kPi * phase));
  double shifted = phase + 0.75;
  shifted -= std::floor(shifted);
  const auto triangle = static_cast<float>(4.0 * std::fabs(shifted - 0.5) - 1.0);
  return triangle + now_.sine_share * (sine - triangle);
}

float Chorus::delay_frames(double phase) const noexcept {
  const double center = now_.delay_ms * sample_rate() / 1000.0;
  const double d = center * (1.0 + now_.depth * lfo(phase));
  // At least one frame, so that feedback always goes through a real delay.
  return static_cast<float>(std::clamp(d, 1.0, static_cast<double>(max_delay_frames_)));
}

void Chorus::process(float* stereo, int frames) noexcept {
  if (fetch_target()) goal_ = controls_of(target());
  for (int start = 0; start < frames; start += kChunkFrames) {
    const int n = std::min(kChunkFrames, frames - start);
    glide(now_.mix, goal_.mix, glide_coef_, 1e-4f);
    glide(now_.depth, goal_.depth, glide_coef_, 1e-4f);
    glide(now_.feedback, goal_.feedback, glide_coef_, 1e-4f);
    glide(now_.frequency, goal_.frequency, glide_coef_, 1e-4f);
    glide(now_.sine_share, goal_.sine_share, glide_coef_, 1e-3f);
    // A delay sweep bends the pitch; a slower glide keeps the bend small.
    glide(now_.delay_ms, goal_.delay_ms, delay_glide_coef_, 1e-3f);
    glide(now_.phase_deg, goal_.phase_deg, glide_coef_, 0.01f);

    // The LFO moves slowly (10 Hz at most), so a straight line across one chunk follows
    // it closely and saves two sines per frame.
    lfo_phase_ += static_cast<double>(now_.frequency) * n / sample_rate();
    lfo_phase_ -= std::floor(lfo_phase_);
    const float end_delay[2] = {delay_frames(lfo_phase_),
                                delay_frames(lfo_phase_ + now_.phase_deg / 360.0)};
    const float inv_n = 1.0f / static_cast<float>(n);
    const float mix = now_.mix;
    const float feedback = now_.feedback;
    for (int ch = 0; ch < 2; ++ch) {
      DelayLine& line = lines_[ch];
      const float step = (end_delay[ch] - delay_now_[ch]) * inv_n;
      float delay = delay_now_[ch];
      float* sample = stereo + 2 * start + ch;
      for (int i = 0; i < n; ++i, sample += 2) {
        delay += step;
        const float x = *sample;
        // Read before writing: the delay counts from the previous input sample.
        const float wet = line.read_fractional(delay - 1.0f);
        line.write(flush_denormal(x + feedback * wet));
        *sample = x + mix * (wet - x);
      }
      delay_now_[ch] = end_delay[ch];
    }
  }
}

}  // namespace orvan::music::dsp
