// Where events land in the rendered sound, and how fast music time moves.
#include <cmath>

#include "platform/music/synth/synth.h"
#include "tests/performance/performance_fixture.h"
#include "tests/support/sound_measure.h"

namespace orvan::music::testing {
namespace {

using orvan::testing::first_frame_above;
using orvan::testing::rms;

// A note's first audible frame falls in the synthesizer block that holds its event's
// frame (the bound documented with the synthesizer): the same note placed anywhere starts
// the same distance after the start of that block.
TEST(PerformanceTiming, OnsetLandsInTheBlockHoldingItsFrame) {
  long first_offset = -1;
  for (std::int32_t tick : {0, 37, 1000, 1539, 2305}) {
    SCOPED_TRACE(tick);
    Player p;
    ASSERT_EQ(p.status, com::S_OK);
    auto segment = SequenceBuilder().note(tick, 384, 60, 127).segment(tick + 768);
    p.play(segment);
    const auto out = p.render(frame_of_tick(tick) + 4096);
    const long onset = first_frame_above(out, 1e-6f);
    const std::int64_t block = frame_of_tick(tick) / synth::kBlockFrames * synth::kBlockFrames;
    const long offset = onset - static_cast<long>(block);
    if (first_offset < 0) first_offset = offset;
    EXPECT_EQ(offset, first_offset);
    EXPECT_GE(offset, 0);
    EXPECT_LT(offset, synth::kBlockFrames);
  }
}

TEST(PerformanceTiming, DoubleMasterTempoHalvesTheTimeToAnEvent) {
  auto segment = SequenceBuilder().note(3840, 384, 64, 127).segment(4608);  // 2.5 s at 1.0
  long onsets[2] = {};
  for (int i = 0; i < 2; ++i) {
    Player p;
    ASSERT_EQ(p.status, com::S_OK);
    ASSERT_EQ(p.perf->SetMasterTempo(i == 0 ? 1.0f : 2.0f), com::S_OK);
    p.play(segment);
    onsets[i] = first_frame_above(p.render(kRate * 3), 1e-6f);
  }
  // Both onsets carry the same lead-in of the sample; the time to the event halves.
  EXPECT_NEAR(static_cast<double>(onsets[0] - onsets[1]), 1.25 * kRate, synth::kBlockFrames);
}

TEST(PerformanceTiming, TempoEventsAndMasterTempoChangeSpeedWithoutJumps) {
  // 60 BPM from tick 768: the second beat takes a second, not half of one. Compared with
  // the same note at a known time, so the sample's own lead-in cancels.
  auto reference = SequenceBuilder().note(1536, 200, 67, 127).segment(2304);  // 1 s
  auto slowed = SequenceBuilder().tempo(768, 1000000).note(1536, 200, 67, 127).segment(2304);
  long onsets[2] = {};
  for (int i = 0; i < 2; ++i) {
    Player p;
    ASSERT_EQ(p.status, com::S_OK);
    p.play(i == 0 ? reference : slowed);
    onsets[i] = first_frame_above(p.render(kRate * 2), 1e-6f);
  }
  EXPECT_NEAR(static_cast<double>(onsets[1] - onsets[0]), 0.5 * kRate, synth::kBlockFrames);

  // Halving the tempo mid-way keeps the position and slows it from there on.
  Player q;
  auto long_segment = SequenceBuilder().segment(768 * 20);
  auto s = q.play(long_segment);
  q.render(kRate);  // one second: 1536 ticks
  EXPECT_NEAR(q.seek(s), 1536, 1);
  ASSERT_EQ(q.perf->SetMasterTempo(0.5f), com::S_OK);
  q.render(kRate);
  EXPECT_NEAR(q.seek(s), 1536 + 768, 1);
}

TEST(PerformanceTiming, SeekFollowsRenderedFramesAndStaysAfterTheEnd) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  auto segment = SequenceBuilder().note(0, 768, 60).segment(1536);  // one second
  auto state = p.play(segment);
  EXPECT_EQ(p.seek(state), 0);
  p.render(kRate / 4);
  EXPECT_NEAR(p.seek(state), 384, 1);
  p.render(kRate / 2);
  EXPECT_NEAR(p.seek(state), 1152, 1);
  EXPECT_TRUE(p.playing(state));
  p.render(kRate / 2);
  EXPECT_FALSE(p.playing(state));
  EXPECT_EQ(p.seek(state), 1536);

  // To the frame, also when a render stops inside a synthesizer block: 100 frames are
  // 3.2 ticks at 120 BPM, 4.1 would be the end of the block.
  auto again = p.play(segment);
  p.render(100);
  EXPECT_EQ(p.seek(again), 3);
  p.render(1000);
  EXPECT_EQ(p.seek(again), 35);  // 1100 frames
}

TEST(PerformanceTiming, SilentWithoutMusicAndAudibleWithIt) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  // The reverb keeps a tiny offset against denormals; nothing near audible.
  EXPECT_LT(orvan::testing::to_db(rms(p.render(kRate / 2), 0, kRate / 2)), -120.0);
  p.play(SequenceBuilder().note(0, 768, 60, 110).segment(768));
  EXPECT_GT(orvan::testing::to_db(rms(p.render(kRate / 2), 0, kRate / 2)), -50.0);
}

}  // namespace
}  // namespace orvan::music::testing
