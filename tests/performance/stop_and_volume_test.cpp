// Stopping, master volume and independence of performances, measured on the output.
#include <cmath>

#include "platform/music/synth/synth.h"
#include "tests/performance/performance_fixture.h"
#include "tests/support/sound_measure.h"

namespace orvan::music::testing {
namespace {

using orvan::testing::peak;
using orvan::testing::rms;
using orvan::testing::to_db;

// Held organ chords on two channels, one with the sustain pedal down: they would sound
// for ever if a stop did not release them.
Ref<DirectMusicSegment8> held_chords() {
  return SequenceBuilder()
      .program(0, 19)
      .program(0, 48, 1)
      .cc(0, 64, 127, 1)
      .note(0, 7000, 48, 110)
      .note(0, 7000, 55, 110)
      .note(0, 100, 60, 110, 1)  // released by the player, held by the pedal
      .segment(7680);
}

TEST(PerformanceStop, StopExReleasesEveryNoteWithoutAClick) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  auto segment = held_chords();
  auto state = p.play(segment);
  const auto before = p.render(kRate / 2);
  ASSERT_GT(to_db(rms(before, kRate / 4, kRate / 4)), -40.0);

  ASSERT_EQ(p.perf->StopEx(segment, 0, 0), com::S_OK);
  EXPECT_FALSE(p.playing(state));
  const auto after = p.render(kRate * 2);
  // The release begins at once and has not cut the sound to nothing in one step: the
  // first millisecond after the stop is still close to the level before it.
  EXPECT_GT(to_db(rms(after, 0, kRate / 1000)), to_db(rms(before, kRate / 4, kRate / 4)) - 12.0);
  // Within the instruments' release (and the reverb's tail) the output is silent: more
  // than 48 dB below the music before the stop.
  EXPECT_LT(to_db(peak(after, kRate * 3 / 2, kRate / 2)),
            to_db(rms(before, kRate / 4, kRate / 4)) - 48.0);
  // The position of the stopped state stays where it stopped.
  EXPECT_EQ(p.seek(state), 768);  // half a second at 120 BPM
}

TEST(PerformanceStop, StopByStateAndByNothingStopWhatPlays) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  auto segment = held_chords();
  auto state = p.play(segment);
  p.render(kRate / 4);
  ASSERT_EQ(p.perf->StopEx(state, 0, 0), com::S_OK);
  p.render(kRate * 2);
  EXPECT_LT(to_db(peak(p.render(kRate / 4), 0, kRate / 4)), -80.0);

  auto again = p.play(segment);
  p.render(kRate / 4);
  ASSERT_EQ(p.perf->StopEx(nullptr, 0, 0), com::S_OK);
  EXPECT_FALSE(p.playing(again));
  p.render(kRate * 2);
  EXPECT_LT(to_db(peak(p.render(kRate / 4), 0, kRate / 4)), -80.0);
}

TEST(PerformanceStop, ANewPlayReplacesTheOneSounding) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  auto organ = held_chords();
  auto first = p.play(organ);
  p.render(kRate / 4);
  auto quiet = SequenceBuilder().segment(7680);  // plays nothing
  auto second = p.play(quiet);
  EXPECT_FALSE(p.playing(first));
  EXPECT_TRUE(p.playing(second));
  p.render(kRate * 2);
  EXPECT_LT(to_db(peak(p.render(kRate / 4), 0, kRate / 4)), -80.0);
  bool by_segment = false;
  ASSERT_EQ(p.perf->IsPlaying(quiet, nullptr, by_segment), com::S_OK);
  EXPECT_TRUE(by_segment);
  ASSERT_EQ(p.perf->IsPlaying(organ, nullptr, by_segment), com::S_OK);
  EXPECT_FALSE(by_segment);
}

// Steady level of a held organ chord, rendered after the attack.
double steady_level_db(Player& p) {
  p.play(held_chords());
  p.render(kRate / 2);
  return to_db(rms(p.render(kRate / 2), 0, kRate / 2));
}

TEST(PerformanceVolume, MinusSixHundredIsMinusSixDecibels) {
  Player full;
  Player reduced;
  ASSERT_EQ(reduced.perf->SetMasterVolume(-600), com::S_OK);
  EXPECT_NEAR(steady_level_db(reduced) - steady_level_db(full), -6.0, 0.1);
}

TEST(PerformanceVolume, TwoPerformancesKeepTheirOwnVolume) {
  Player a;
  Player b;
  ASSERT_EQ(a.status, com::S_OK);
  ASSERT_EQ(b.status, com::S_OK);
  ASSERT_EQ(a.perf->SetMasterVolume(-1200), com::S_OK);
  ASSERT_EQ(b.perf->SetMasterVolume(0), com::S_OK);
  a.play(held_chords());
  b.play(held_chords());
  // Rendered interleaved, as two channels of one program would be.
  std::vector<float> out_a, out_b;
  for (int i = 0; i < 8; ++i) {
    a.device->clear_capture();
    a.device->pump(kRate / 8);
    out_a.insert(out_a.end(), a.device->capture().begin(), a.device->capture().end());
    b.device->clear_capture();
    b.device->pump(kRate / 8);
    out_b.insert(out_b.end(), b.device->capture().begin(), b.device->capture().end());
  }
  std::int32_t volume = 0;
  ASSERT_EQ(a.perf->GetMasterVolume(volume), com::S_OK);
  EXPECT_EQ(volume, -1200);
  EXPECT_NEAR(to_db(rms(out_a, kRate / 2, kRate / 2)) - to_db(rms(out_b, kRate / 2, kRate / 2)),
              -12.0, 0.1);
}

// Two performances render the same music; one has its volume turned down 40 dB. Frame by
// frame, the ratio of their outputs is the gain the change applied.
TEST(PerformanceVolume, AVolumeChangeGlidesAndIsCompleteOneBlockIntoTheNextPeriod) {
  Player reference, turned;
  ASSERT_EQ(reference.status, com::S_OK);
  ASSERT_EQ(turned.status, com::S_OK);
  reference.play(held_chords());
  turned.play(held_chords());
  reference.render(kRate / 2);
  turned.render(kRate / 2);
  ASSERT_EQ(turned.perf->SetMasterVolume(-4000), com::S_OK);
  const int frames = turned.device->period_frames();
  const auto ref = reference.render(frames);
  const auto out = turned.render(frames);
  double previous = 1.0;
  int measured = 0;
  for (int i = 0; i < frames; ++i) {
    const auto k = static_cast<std::size_t>(2 * i);
    if (std::fabs(ref[k]) < 1e-3f) continue;
    const double gain = out[k] / ref[k];
    ++measured;
    if (i < synth::kBlockFrames) {
      // A glide down, not a step: it starts near the old gain and never rises.
      if (i == 0) {
        EXPECT_GT(gain, 0.95);
      }
      EXPECT_LE(gain, previous + 1e-3) << "frame " << i;
      previous = gain;
    } else {
      EXPECT_NEAR(gain, 0.01, 1e-4) << "frame " << i;
    }
  }
  EXPECT_GT(measured, frames / 2);
}

TEST(PerformanceVolume, PathDeactivationFadesToSilenceAndBack) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  p.play(held_chords());
  p.render(kRate / 2);
  Ref<DirectMusicAudioPath8> path;
  ASSERT_EQ(p.perf->GetDefaultAudioPath(path), com::S_OK);
  ASSERT_EQ(path->Activate(false), com::S_OK);
  const auto off = p.render(kRate / 10);
  // A short ramp (a few milliseconds), then nothing.
  EXPECT_GT(to_db(rms(off, 0, 48)), -40.0);
  EXPECT_LT(to_db(peak(off, kRate / 100, kRate / 20)), -120.0);
  ASSERT_EQ(path->Activate(true), com::S_OK);
  const auto on = p.render(kRate / 10);
  EXPECT_LT(to_db(rms(on, 0, 16)), to_db(rms(on, kRate / 20, 256)) - 10.0);
  EXPECT_GT(to_db(rms(on, kRate / 20, kRate / 20)), -40.0);
}

}  // namespace
}  // namespace orvan::music::testing
