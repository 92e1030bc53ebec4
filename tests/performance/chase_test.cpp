// Starting part-way: what came before the start point is in force, and no note from
// before it sounds.
#include "tests/performance/performance_fixture.h"
#include "tests/support/sound_measure.h"

namespace orvan::music::testing {
namespace {

using orvan::testing::channel_of;
using orvan::testing::rms;
using orvan::testing::to_db;

// Renders `segment` from `start` and returns a quarter second beginning with the note at
// tick 3072.
std::vector<float> note_at_3072(const Ref<DirectMusicSegment8>& segment, std::int32_t start) {
  Player p;
  EXPECT_EQ(p.status, com::S_OK);
  EXPECT_EQ(segment->SetStartPoint(start), com::S_OK);
  p.play(segment);
  const auto out = p.render(frame_of_tick(3072 - start) + kRate / 4);
  return {out.end() - 2 * (kRate / 4), out.end()};
}

std::vector<float> difference(const std::vector<float>& a, const std::vector<float>& b) {
  std::vector<float> d(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) d[i] = a[i] - b[i];
  return d;
}

TEST(PerformanceChase, StateBeforeTheStartPointIsInForce) {
  // Program, volume, pan, bend range (RPN 0) and a bend, all before 1536; a note at 3072.
  auto shaped = SequenceBuilder()
                    .cc(0, 91, 0)
                    .program(100, 73)  // flute
                    .cc(200, 7, 60)
                    .cc(300, 10, 20)
                    .cc(400, 101, 0)
                    .cc(401, 100, 0)
                    .cc(402, 6, 12)
                    .cc(403, 38, 0)
                    .event(500, 0xE0, 0, 96)  // bend up half of 12 semitones
                    .note(3072, 384, 60, 110)
                    .segment(4608);
  const auto from_zero = note_at_3072(shaped, 0);
  const auto from_1536 = note_at_3072(shaped, 1536);
  ASSERT_GT(to_db(rms(from_zero, 0, kRate / 4)), -50.0);
  // Same sound whether the state was played through or chased.
  EXPECT_LT(to_db(rms(difference(from_zero, from_1536), 0, kRate / 4)) -
                to_db(rms(from_zero, 0, kRate / 4)),
            -60.0);

  // And it is not the default sound: the bend moved middle C (262 Hz) up six semitones.
  const auto left = channel_of(from_1536, 0);
  const double f = orvan::testing::dominant_frequency(left, kRate, 200.0, 450.0, 1.0);
  EXPECT_NEAR(f, 370.0, 6.0);
}

TEST(PerformanceChase, NotesBeforeTheStartPointDoNotSound) {
  // A long organ note from tick 0 to 3000; starting at 1536 must not start it.
  auto segment = SequenceBuilder().cc(0, 91, 0).program(0, 19).note(0, 3000, 48, 110).segment(4608);
  ASSERT_EQ(segment->SetStartPoint(1536), com::S_OK);
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  auto state = p.play(segment);
  EXPECT_EQ(p.seek(state), 1536);
  const auto out = p.render(kRate / 2);
  EXPECT_LT(to_db(rms(out, 0, kRate / 2)), -100.0);
}

TEST(PerformanceChase, TempoBeforeTheStartPointSetsTheSpeed) {
  // 60 BPM from tick 0: from 1536 the note at 3072 is two seconds away, not one.
  auto segment = SequenceBuilder().tempo(0, 1000000).note(3072, 300, 60, 110).segment(4608);
  ASSERT_EQ(segment->SetStartPoint(1536), com::S_OK);
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  p.play(segment);
  const auto out = p.render(kRate * 3);
  EXPECT_LT(to_db(rms(out, 0, kRate * 19 / 10)), -100.0);
  EXPECT_GT(to_db(rms(out, kRate * 2, kRate / 4)), -50.0);
}

}  // namespace
}  // namespace orvan::music::testing
