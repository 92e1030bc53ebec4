// Reverbs judged by their impulse responses: decay times, onsets and levels.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/music/dsp/i3dl2_reverb.h"
#include "platform/music/dsp/waves_reverb.h"
#include "tests/dsp/signal_analysis.h"

namespace orvan::music::dsp::testing {
namespace {

Mono waves_response(float reverb_ms, float hf_ratio, double seconds) {
  WavesReverb reverb(kRate);
  DSFXWAVESREVERB p = reverb.params();
  p.ReverbTime = reverb_ms;
  p.HighFreqRTRatio = hf_ratio;
  EXPECT_EQ(reverb.set_params(p), RangeCheck::accepted);
  reverb.reset();
  return channel(render(reverb, impulse(static_cast<int>(seconds * kRate))), 0);
}

// The room effect alone: the impulse response with the direct sound taken out.
Mono room_response(const DSFXI3DL2REVERB& p, double seconds) {
  I3dl2Reverb reverb(kRate);
  EXPECT_NE(reverb.set_params(p), RangeCheck::refused);
  reverb.reset();
  const Stereo in = impulse(static_cast<int>(seconds * kRate));
  return difference(channel(render(reverb, in), 0), channel(in, 0));
}

DSFXI3DL2REVERB late_only(float decay_s) {
  DSFXI3DL2REVERB p = default_record<DSFXI3DL2REVERB>();
  p.Room = 0;
  p.RoomHF = 0;
  p.Reflections = -10000;
  p.Reverb = 0;
  p.DecayTime = decay_s;
  p.DecayHFRatio = 1.0f;
  return p;
}

TEST(WavesReverb, LowFrequenciesDecayInReverbTimeAcrossTheRange) {
  for (float ms : {250.0f, 1000.0f, 3000.0f}) {
    // The darkest ratio (the default) must not shorten the low-frequency decay.
    for (float ratio : {0.001f, 0.5f}) {
      const Mono ir = waves_response(ms, ratio, 1.5 * ms / 1000.0 + 0.3);
      const double t60 = decay_time_60(lowpass(ir, 300.0));
      EXPECT_NEAR(t60, ms / 1000.0, 0.15 * ms / 1000.0) << ms << " ms, ratio " << ratio;
    }
  }
}

TEST(WavesReverb, HighFrequenciesDecayFasterByTheRatio) {
  for (float ratio : {0.25f, 0.5f}) {
    const Mono ir = waves_response(2000.0f, ratio, 3.0);
    const double t60 = decay_time_60(highpass(ir, 14000.0));
    EXPECT_NEAR(t60, 2.0 * ratio, 0.2 * 2.0 * ratio) << "ratio " << ratio;
  }
}

TEST(WavesReverb, MixAndInputGainSetTheWetAndDryLevels) {
  WavesReverb reverb(kRate);
  DSFXWAVESREVERB p = reverb.params();
  p.ReverbMix = -96.0f;  // practically dry
  reverb.set_params(p);
  reverb.reset();
  const Stereo in = sine(500.0, 0.5f, 24000);
  const Mono dry_out = channel(render(reverb, in), 0);
  EXPECT_LT(rms(difference(dry_out, channel(in, 0))), 1e-3 * rms(channel(in, 0)));

  p.InGain = -20.0f;
  reverb.set_params(p);
  reverb.reset();
  const Mono quiet = channel(render(reverb, in), 0);
  EXPECT_NEAR(gain_db(rms(quiet) / rms(channel(in, 0))), -20.0, 0.1);

  // Fully wet: the input itself is gone, only the reverberated sound is left, and its
  // energy arrives spread over time rather than as the impulse.
  p = default_record<DSFXWAVESREVERB>();
  reverb.set_params(p);
  reverb.reset();
  const Mono wet = channel(render(reverb, impulse(48000)), 0);
  EXPECT_LT(std::fabs(wet[0]), 0.5f);
  EXPECT_GT(rms(slice(wet, 4800, 24000)), 1e-3);
}

TEST(I3dl2Reverb, LateDecayFollowsDecayTimeAcrossTheRange) {
  for (float seconds : {0.1f, 0.3f, 1.49f, 5.0f, 20.0f}) {
    const Mono ir = room_response(late_only(seconds), 1.2 * seconds + 0.3);
    EXPECT_NEAR(decay_time_60(ir), seconds, 0.15 * seconds) << seconds << " s";
  }
}

TEST(I3dl2Reverb, HighFrequenciesDecayByDecayHFRatio) {
  DSFXI3DL2REVERB p = late_only(2.0f);
  p.DecayHFRatio = 0.4f;
  p.HFReference = 4000.0f;
  const Mono ir = room_response(p, 3.0);
  const double low = decay_time_60(lowpass(ir, 300.0));
  const double high = decay_time_60(highpass(ir, 12000.0));
  EXPECT_NEAR(low, 2.0, 0.3);
  EXPECT_NEAR(high / low, 0.4, 0.1);
}

TEST(I3dl2Reverb, FirstReflectionArrivesAtReflectionsDelayAndLateReverbAfterReverbDelay) {
  DSFXI3DL2REVERB p = default_record<DSFXI3DL2REVERB>();
  p.Room = 0;
  p.Reflections = 0;
  p.ReflectionsDelay = 0.05f;  // 2400 frames
  EXPECT_EQ(onset(room_response(p, 0.2), 1e-6f), 2400);

  p.Reflections = -10000;
  p.ReverbDelay = 0.02f;  // late reverb 960 frames after the first reflection
  EXPECT_EQ(onset(room_response(p, 0.2), 1e-6f), 3360);
}

// Sparse echoes make a spiky response (a high fourth moment); dense ones approach noise.
double kurtosis(const Mono& x) {
  double m2 = 0, m4 = 0;
  for (float v : x) {
    const double s = double{v} * v;
    m2 += s;
    m4 += s * s;
  }
  const auto n = static_cast<double>(x.size());
  return (m4 / n) / ((m2 / n) * (m2 / n));
}

TEST(I3dl2Reverb, DiffusionRaisesTheEchoDensity) {
  DSFXI3DL2REVERB p = late_only(1.0f);
  p.ReflectionsDelay = 0.0f;
  p.ReverbDelay = 0.0f;
  p.Diffusion = 0.0f;
  const double sparse = kurtosis(slice(room_response(p, 0.05), 0, 2400));
  p.Diffusion = 100.0f;
  const double dense = kurtosis(slice(room_response(p, 0.05), 0, 2400));
  EXPECT_GT(sparse, 10.0 * dense);
  EXPECT_LT(dense, 30.0);
}

TEST(I3dl2Reverb, SilentRoomLeavesOnlyTheDirectSound) {
  DSFXI3DL2REVERB p = default_record<DSFXI3DL2REVERB>();
  p.Room = -10000;
  p.Reflections = 1000;
  p.Reverb = 2000;
  I3dl2Reverb reverb(kRate);
  reverb.set_params(p);
  reverb.reset();
  const Stereo in = noise(24000, 0.5f);
  EXPECT_EQ(render(reverb, in), in);
}

TEST(I3dl2Reverb, RoomAndRoomHFScaleTheWholeRoomEffect) {
  DSFXI3DL2REVERB p = default_record<DSFXI3DL2REVERB>();
  p.Room = 0;
  p.RoomHF = 0;
  const double loud = rms(room_response(p, 1.0));
  p.Room = -2000;  // -20 dB
  EXPECT_NEAR(gain_db(rms(room_response(p, 1.0)) / loud), -20.0, 0.5);

  p.Room = 0;
  p.RoomHF = -2000;
  const Mono dark = room_response(p, 1.0);
  p.RoomHF = 0;
  const Mono bright = room_response(p, 1.0);
  const double hf_drop = gain_db(rms(highpass(dark, 8000.0)) / rms(highpass(bright, 8000.0)));
  const double lf_drop = gain_db(rms(lowpass(dark, 200.0)) / rms(lowpass(bright, 200.0)));
  EXPECT_LT(hf_drop, -12.0);
  EXPECT_GT(lf_drop, -1.0);
}

}  // namespace
}  // namespace orvan::music::dsp::testing
