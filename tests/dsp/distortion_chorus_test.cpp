// Distortion and chorus judged on sine responses: harmonics, levels, and the delay
// modulation the chorus puts on a steady tone.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "platform/music/dsp/chorus.h"
#include "platform/music/dsp/distortion.h"
#include "tests/dsp/signal_analysis.h"

namespace orvan::music::dsp::testing {
namespace {

// Steady-state output of the distortion for a 1 kHz sine (the first 0.1 s dropped).
Mono distort(const DSFXDISTORTION& p, float amplitude = 0.5f, double hz = 1000.0) {
  Distortion effect(kRate);
  EXPECT_EQ(effect.set_params(p), RangeCheck::accepted);
  effect.reset();
  const Mono out = channel(render(effect, sine(hz, amplitude, 28800)), 0);
  return slice(out, 4800, 28800);
}

DSFXDISTORTION wide_open() {
  DSFXDISTORTION p = default_record<DSFXDISTORTION>();
  p.PostEQCenterFrequency = 2000.0f;
  p.PostEQBandwidth = 8000.0f;
  return p;
}

TEST(Distortion, HarmonicsRiseWithEdge) {
  DSFXDISTORTION p = wide_open();
  double previous = -1.0;
  for (float edge : {0.0f, 25.0f, 50.0f, 75.0f, 100.0f}) {
    p.Edge = edge;
    const double distortion = thd(distort(p), 1000.0);
    EXPECT_GT(distortion, previous) << "Edge " << edge;
    previous = distortion;
    if (edge == 0.0f) {
      EXPECT_LT(distortion, 0.01);
    }
  }
  EXPECT_GT(previous, 0.2);
}

TEST(Distortion, LevelFollowsGain) {
  DSFXDISTORTION p = wide_open();
  p.Gain = -10.0f;
  const double loud = rms(distort(p));
  p.Gain = -30.0f;
  EXPECT_NEAR(gain_db(rms(distort(p)) / loud), -20.0, 0.05);
}

TEST(Distortion, FiltersShapeTheTone) {
  DSFXDISTORTION p = wide_open();
  p.Edge = 0.0f;
  const double open = amplitude_at(distort(p, 0.5f, 4000.0), 4000.0);
  p.PreLowpassCutoff = 500.0f;
  EXPECT_LT(gain_db(amplitude_at(distort(p, 0.5f, 4000.0), 4000.0) / open), -30.0);

  // The band filter after the shaper passes its centre and cuts far from it.
  p = wide_open();
  p.Edge = 0.0f;
  p.PostEQCenterFrequency = 1000.0f;
  p.PostEQBandwidth = 200.0f;
  const double centre = amplitude_at(distort(p, 0.5f, 1000.0), 1000.0);
  const double away = amplitude_at(distort(p, 0.5f, 4000.0), 4000.0);
  EXPECT_GT(gain_db(centre / away), 20.0);
}

// The chorus delay, frame by frame, recovered from the phase of a delayed steady tone.
struct DelayTrack {
  std::vector<double> left_ms, right_ms;  // one value per carrier period
};

constexpr double kCarrierHz = 375.0;  // 128 frames per period
constexpr int kPeriod = 128;

std::vector<double> track_delay(const Mono& out) {
  std::vector<double> ms;
  double unwrapped = 0.0, last = 0.0;
  for (size_t start = 0; start + kPeriod <= out.size(); start += kPeriod) {
    std::complex<double> sum = 0;
    for (int i = 0; i < kPeriod; ++i) {
      const double phase = 2.0 * std::numbers::pi * static_cast<double>(start + i) / kPeriod;
      sum += static_cast<double>(out[start + i]) * std::polar(1.0, -phase);
    }
    // A delay d turns sin(wt) into sin(w(t - d)): the bin's phase falls by w d.
    const double angle = -std::arg(sum * std::complex<double>(0, 1));
    double step = angle - last;
    while (step > std::numbers::pi) step -= 2 * std::numbers::pi;
    while (step < -std::numbers::pi) step += 2 * std::numbers::pi;
    unwrapped += step;
    last = angle;
    ms.push_back(unwrapped / (2 * std::numbers::pi * kCarrierHz) * 1000.0);
  }
  return ms;
}

DelayTrack chorus_delays(const DSFXCHORUS& p, double seconds) {
  Chorus chorus(kRate);
  EXPECT_EQ(chorus.set_params(p), RangeCheck::accepted);
  chorus.reset();
  const Stereo out = render(chorus, sine(kCarrierHz, 0.5f, static_cast<int>(seconds * kRate)));
  return {track_delay(channel(out, 0)), track_delay(channel(out, 1))};
}

// Strength and phase (degrees) of the component at `hz` in a track sampled per period.
std::complex<double> component(const std::vector<double>& track, double hz) {
  std::complex<double> sum = 0;
  const double rate = kRate / kPeriod;
  for (size_t i = 0; i < track.size(); ++i)
    sum += track[i] * std::polar(1.0, -2 * std::numbers::pi * hz * static_cast<double>(i) / rate);
  return sum * 2.0 / static_cast<double>(track.size());
}

DSFXCHORUS fully_wet() {
  DSFXCHORUS p = default_record<DSFXCHORUS>();
  p.WetDryMix = 100.0f;
  p.Feedback = 0.0f;
  p.Frequency = 2.0f;  // whole LFO cycles in whole seconds
  return p;
}

TEST(Chorus, DelaySweepsAtFrequencyWithTheSetDepth) {
  for (float depth : {10.0f, 50.0f}) {
    DSFXCHORUS p = fully_wet();
    p.Depth = depth;
    const DelayTrack track = chorus_delays(p, 4.0);
    const double swing = depth / 100.0 * p.Delay;  // ms either side of Delay
    EXPECT_NEAR(std::abs(component(track.left_ms, 2.0)), swing, 0.05 * swing) << depth;
    // Nothing at neighbouring rates: the sweep really runs at Frequency.
    EXPECT_LT(std::abs(component(track.left_ms, 1.5)), 0.05 * swing);
    EXPECT_LT(std::abs(component(track.left_ms, 3.0)), 0.05 * swing);
  }
}

TEST(Chorus, PhaseOffsetsTheRightSweep) {
  const double expected_degrees[] = {-180, -90, 0, 90, 180};
  for (int phase = 0; phase <= 4; ++phase) {
    DSFXCHORUS p = fully_wet();
    p.Phase = phase;
    const DelayTrack track = chorus_delays(p, 2.0);
    const double measured =
        std::arg(component(track.right_ms, 2.0) / component(track.left_ms, 2.0)) * 180 /
        std::numbers::pi;
    const double error = std::remainder(measured - expected_degrees[phase], 360.0);
    EXPECT_NEAR(error, 0.0, 3.0) << "Phase " << phase << " measured " << measured;
  }
}

TEST(Chorus, TriangleSweepsLinearly) {
  DSFXCHORUS p = fully_wet();
  p.Waveform = 0;
  p.Depth = 50.0f;
  const DelayTrack track = chorus_delays(p, 2.0);
  // A triangle's third harmonic is 1/9 of its fundamental; a sine has none.
  const double ratio =
      std::abs(component(track.left_ms, 6.0)) / std::abs(component(track.left_ms, 2.0));
  EXPECT_NEAR(ratio, 1.0 / 9.0, 0.02);
}

TEST(Chorus, DryMixPassesTheInputUntouched) {
  DSFXCHORUS p = default_record<DSFXCHORUS>();
  p.WetDryMix = 0.0f;
  p.Feedback = 99.0f;
  Chorus chorus(kRate);
  chorus.set_params(p);
  chorus.reset();
  const Stereo in = noise(24000, 0.5f);
  EXPECT_EQ(render(chorus, in), in);
}

TEST(Chorus, FeedbackAddsRecirculatedEchoes) {
  DSFXCHORUS p = fully_wet();
  p.Depth = 0.0f;
  p.Delay = 10.0f;  // 480 frames
  p.Feedback = -50.0f;
  Chorus chorus(kRate);
  chorus.set_params(p);
  chorus.reset();
  const Mono out = channel(render(chorus, impulse(2000)), 0);
  EXPECT_NEAR(out[480], 1.0f, 1e-5f);
  EXPECT_NEAR(out[960], -0.5f, 1e-5f);
  EXPECT_NEAR(out[1440], 0.25f, 1e-5f);
}

}  // namespace
}  // namespace orvan::music::dsp::testing
