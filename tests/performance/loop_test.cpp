// Repeats: gapless passes that sound alike, and the channel state each pass starts from.
#include "tests/performance/performance_fixture.h"
#include "tests/support/sound_measure.h"

namespace orvan::music::testing {
namespace {

using orvan::testing::rms;
using orvan::testing::to_db;

// One pass of two seconds (96000 frames, a whole number of synthesizer blocks). The
// reverb send is off so that no tail of one pass reaches into the next; the program and
// volume changes mid-pass must be undone when the next pass begins.
Ref<DirectMusicSegment8> two_second_phrase() {
  return SequenceBuilder()
      .cc(0, 91, 0)
      .note(0, 300, 60, 110)
      .note(384, 300, 64, 110)
      .program(768, 40)  // violin from here on, in this pass only
      .cc(768, 7, 70)
      .note(768, 300, 67, 110)
      .note(1536, 300, 72, 110)
      .segment(3072);
}

TEST(PerformanceLoop, SecondPassRendersLikeTheFirst) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  auto state = p.play(two_second_phrase(), 1);
  const std::int64_t pass = frame_of_tick(3072);
  const auto out = p.render(pass * 2 + kRate);
  ASSERT_GT(to_db(rms(out, 0, pass)), -55.0);

  const std::vector<float> first(out.begin(), out.begin() + 2 * pass);
  const std::vector<float> second(out.begin() + 2 * pass, out.begin() + 4 * pass);
  std::vector<float> difference(first.size());
  for (std::size_t i = 0; i < first.size(); ++i) difference[i] = first[i] - second[i];
  // The passes match to far below audibility: same program, same volume, same timing.
  // (What is left is the first pass's last release, 90 dB down, running into the second.)
  EXPECT_LT(to_db(rms(difference, 0, pass)) - to_db(rms(first, 0, pass)), -65.0);
  // Nothing after the second pass: the repeat count was honoured.
  EXPECT_LT(to_db(rms(out, 2 * pass + kRate / 2, kRate / 2)), -80.0);
  EXPECT_FALSE(p.playing(state));
}

TEST(PerformanceLoop, NotesSoundingAtTheLoopPointAreReleased) {
  // An organ note (it never decays by itself) held past the end of the segment.
  auto segment = SequenceBuilder().cc(0, 91, 0).program(0, 19).event(0, 0x90, 48, 110).segment(768);
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  p.play(segment, 0);
  const auto out = p.render(kRate * 2);
  ASSERT_GT(to_db(rms(out, 0, kRate / 4)), -40.0);
  // Half a second after the end it has died away with its release.
  EXPECT_LT(to_db(rms(out, kRate, kRate / 4)), -70.0);
}

TEST(PerformanceLoop, ForeverKeepsLoopingAndSeekStaysWithinThePass) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  auto segment = SequenceBuilder().note(0, 200, 60, 110).segment(768);  // half a second
  auto state = p.play(segment, -1);
  for (int i = 0; i < 9; ++i) {
    p.render(kRate / 3);
    const std::int32_t position = p.seek(state);
    EXPECT_GE(position, 0);
    EXPECT_LE(position, 768);
  }
  EXPECT_TRUE(p.playing(state));
  std::int32_t repeats = 0;
  ASSERT_EQ(state->GetRepeats(repeats), com::S_OK);
  EXPECT_EQ(repeats, -1);
  // Still sounding after many passes: each pass plays its note.
  const auto late = p.render(kRate / 2);
  EXPECT_GT(to_db(rms(late, 0, kRate / 2)), -50.0);
}

}  // namespace
}  // namespace orvan::music::testing
