// Every effect at the edges of its ranges: finite, bounded output; clean silence; no
// subnormal tails; parameter changes that glide instead of clicking.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <typeinfo>

#include "platform/music/dsp/chorus.h"
#include "platform/music/dsp/distortion.h"
#include "platform/music/dsp/i3dl2_reverb.h"
#include "platform/music/dsp/waves_reverb.h"
#include "tests/dsp/documented_effects.h"
#include "tests/dsp/signal_analysis.h"

namespace orvan::music::dsp::testing {
namespace {

bool all_finite_within(const Stereo& s, double bound) {
  for (float v : s)
    if (!std::isfinite(v) || std::fabs(v) > bound) return false;
  return true;
}

bool no_subnormals(const Stereo& s) {
  for (float v : s)
    if (std::fpclassify(v) == FP_SUBNORMAL) return false;
  return true;
}

// Loud noise, then silence, for each field at its documented minimum and maximum.
template <class Effect, class Record>
void check_extremes(double rate) {
  Stereo input = noise(static_cast<int>(0.5 * rate), 1.0f);
  input.resize(static_cast<size_t>(2 * rate), 0.0f);
  for (const DocumentedField<Record>& f : documented_fields<Record>()) {
    for (double value : {f.min, f.max}) {
      Effect effect(rate);
      Record r = default_record<Record>();
      f.write(r, value);
      ASSERT_NE(effect.set_params(r), RangeCheck::refused);
      // Once from the defaults (the change glides mid-sound), once from a clean start.
      EXPECT_TRUE(all_finite_within(render(effect, input), 40.0)) << f.name << " = " << value;
      effect.reset();
      EXPECT_TRUE(all_finite_within(render(effect, input), 40.0)) << f.name << " = " << value;
    }
  }
}

TEST(EffectRobustness, ExtremesOfEveryRangeStayFiniteAndBounded) {
  for (double rate : {11025.0, 22050.0, 48000.0, 96000.0}) {
    check_extremes<Distortion, DSFXDISTORTION>(rate);
    check_extremes<Chorus, DSFXCHORUS>(rate);
    check_extremes<WavesReverb, DSFXWAVESREVERB>(rate);
    check_extremes<I3dl2Reverb, DSFXI3DL2REVERB>(rate);
  }
}

// A new effect plays its defaults without anyone setting them, so they must suit every
// rate the platform accepts (distortion's 8 kHz low-pass is above Nyquist at 11025 Hz).
TEST(EffectRobustness, NewEffectsAreStableAtEveryRateFromTheirFirstBlock) {
  for (double rate : {11025.0, 12000.0, 22050.0, 48000.0, 96000.0}) {
    Stereo input = noise(static_cast<int>(0.5 * rate), 1.0f);
    input.resize(static_cast<size_t>(2 * rate), 0.0f);
    std::unique_ptr<Effect> effects[] = {
        std::make_unique<Distortion>(rate), std::make_unique<Chorus>(rate),
        std::make_unique<WavesReverb>(rate), std::make_unique<I3dl2Reverb>(rate)};
    for (auto& owned : effects) {
      Effect& effect = *owned;
      const Stereo out = render(effect, input);
      EXPECT_TRUE(all_finite_within(out, 40.0)) << typeid(effect).name() << " at " << rate;
      // Still working, not stuck at zero.
      EXPECT_GT(peak(channel(out, 0)), 1e-3) << typeid(effect).name() << " at " << rate;
    }
  }
}

TEST(EffectRobustness, SilenceStaysSilentAndTailsNeverTurnSubnormal) {
  std::unique_ptr<Effect> effects[] = {
      std::make_unique<Distortion>(kRate), std::make_unique<Chorus>(kRate),
      std::make_unique<WavesReverb>(kRate), std::make_unique<I3dl2Reverb>(kRate)};
  // The longest tails each effect can make.
  auto* chorus = static_cast<Chorus*>(effects[1].get());
  DSFXCHORUS c = chorus->params();
  c.Feedback = 99.0f;
  c.Delay = 0.0f;
  chorus->set_params(c);
  auto* waves = static_cast<WavesReverb*>(effects[2].get());
  DSFXWAVESREVERB w = waves->params();
  w.ReverbTime = 3000.0f;
  w.HighFreqRTRatio = 0.999f;
  waves->set_params(w);

  for (auto& effect : effects) {
    effect->reset();
    EXPECT_EQ(peak(channel(render(*effect, Stereo(96000, 0.0f)), 0)), 0.0);
    // 40 s lets a 3 s reverb fall 800 dB: far past where floats turn subnormal.
    const Stereo tail = render(*effect, impulse(40 * 48000));
    EXPECT_TRUE(no_subnormals(tail));
    EXPECT_EQ(peak(slice(channel(tail, 0), 39 * 48000, 40 * 48000)), 0.0);
  }
}

// A sudden parameter change during a steady low tone: the largest step between samples
// must stay close to the tone's own, where a jump would show as a spike.
template <class Effect, class Record, class Change>
double click_ratio(const Record& start, Change change) {
  Effect effect(kRate);
  effect.set_params(start);
  effect.reset();
  Stereo s = sine(100.0, 0.5f, 48000);
  effect.process(s.data(), 24000);
  Record next = start;
  change(next);
  effect.set_params(next);
  effect.process(s.data() + 48000, 24000);
  const Mono left = channel(s, 0);
  return largest_step(left, 24000, 24480) / largest_step(left, 12000, 24000);
}

TEST(EffectRobustness, ParameterChangesGlideWithoutClicks) {
  DSFXDISTORTION d = default_record<DSFXDISTORTION>();
  d.PostEQBandwidth = 8000.0f;
  d.PostEQCenterFrequency = 100.0f;
  d.Gain = 0.0f;
  EXPECT_LT((click_ratio<Distortion>(d, [](auto& p) { p.Gain = -60.0f; })), 1.2);
  EXPECT_LT((click_ratio<Distortion>(d, [](auto& p) { p.Edge = 100.0f; })), 3.0);

  const DSFXCHORUS c = default_record<DSFXCHORUS>();
  EXPECT_LT((click_ratio<Chorus>(c, [](auto& p) { p.Delay = 1.0f; })), 1.5);
  EXPECT_LT((click_ratio<Chorus>(c, [](auto& p) { p.Phase = 0; })), 1.5);
  EXPECT_LT((click_ratio<Chorus>(c, [](auto& p) { p.Waveform = 0; })), 1.5);

  DSFXI3DL2REVERB r = default_record<DSFXI3DL2REVERB>();
  r.Room = 0;
  EXPECT_LT((click_ratio<I3dl2Reverb>(r, [](auto& p) { p.Reverb = 2000; })), 1.5);
  EXPECT_LT((click_ratio<I3dl2Reverb>(r, [](auto& p) { p.ReflectionsDelay = 0.3f; })), 1.5);
}

}  // namespace
}  // namespace orvan::music::dsp::testing
