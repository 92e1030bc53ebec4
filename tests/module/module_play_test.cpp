// Tracker modules through the engine: modules the test writes itself (XM, one looping sine),
// loaded from disk by content, played on the manual device and measured.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <span>
#include <string>

#include "platform/music/client/loader.h"
#include "tests/performance/performance_fixture.h"
#include "tests/support/sound_measure.h"
#include "tests/support/xm_writer.h"

namespace orvan::music::testing {
namespace {

using orvan::testing::xm_note;
using orvan::testing::XmCell;
using orvan::testing::XmModule;

// Speed 6 at 125 BPM: a row lasts 0.12 s, 5760 frames at 48 kHz.
constexpr int kRowFrames = 5760;
constexpr std::uint8_t kLow = xm_note(5, 0);   // C-5, 522.7 Hz with the 32-sample sine
constexpr std::uint8_t kHigh = xm_note(6, 0);  // an octave above
// Well above the output stage's DC blocker settling after the sine stops (2e-3), well below
// the sine (0.15).
constexpr float kHeard = 0.01f;

// 16 rows: the low note from row 0, the high one from row 8, both held.
XmModule two_notes() {
  XmModule module;
  module.patterns[0].cells.resize(16);
  module.patterns[0].cells[0] = {XmCell{kLow, 1}};
  module.patterns[0].cells[8] = {XmCell{kHigh, 1}};
  return module;
}

Ref<DirectMusicSegment8> load_module(const XmModule& module) {
  const std::string path = ::testing::TempDir() + "module_test_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".xm";
  orvan::testing::save_xm(module, path);
  auto loader = com::make_ref<DirectMusicLoader8>();
  Ref<DirectMusicSegment8> segment;
  EXPECT_EQ(loader->LoadSegment(path, segment), com::S_OK);
  std::remove(path.c_str());
  return segment;
}

double pitch_of(const std::vector<float>& stereo, std::int64_t from, std::int64_t frames) {
  const auto left = orvan::testing::channel_of(stereo, 0);
  const std::span<const float> part(left.data() + from, static_cast<std::size_t>(frames));
  return orvan::testing::dominant_frequency(part, kRate, 300.0, 1500.0, 0.5);
}

// The frames a play sounds before it ends (its last frame above the threshold, plus one).
double sounding_frames(const std::vector<float>& stereo) {
  return static_cast<double>(orvan::testing::last_frame_above(stereo, kHeard) + 1);
}

TEST(ModulePlay, LengthStartPointAndRepeatsFollowTheRows) {
  Player player;
  ASSERT_EQ(player.status, com::S_OK);
  const XmModule module = two_notes();
  const auto segment = load_module(module);
  ASSERT_TRUE(segment);
  std::int32_t length = 0;
  ASSERT_EQ(segment->GetLength(length), com::S_OK);
  EXPECT_EQ(length, 16 * 768 / 4);  // 16 rows at 4 rows per beat

  // One pass sounds its 16 rows, the low note first and the high one from row 8.
  auto state = player.play(segment, 0);
  const auto once = player.render(18 * kRowFrames);
  EXPECT_NEAR(sounding_frames(once), 16 * kRowFrames, 64);
  EXPECT_NEAR(pitch_of(once, kRowFrames, 4 * kRowFrames), xm_frequency(module, kLow), 2.0);
  EXPECT_NEAR(pitch_of(once, 9 * kRowFrames, 4 * kRowFrames), xm_frequency(module, kHigh), 2.0);
  EXPECT_FALSE(player.playing(state));
  EXPECT_EQ(player.seek(state), length);

  // Three passes are three copies of the one.
  state = player.play(segment, 2);
  const auto thrice = player.render(50 * kRowFrames);
  EXPECT_NEAR(sounding_frames(thrice), 48 * kRowFrames, 3 * 64);
  for (int pass = 1; pass < 3; ++pass) {
    // Away from the pass boundary, where the next pass's first note takes over the last.
    const std::int64_t from = pass * 16 * kRowFrames + kRowFrames;
    double worst = 0.0;
    for (std::int64_t i = 0; i < 14 * kRowFrames; ++i) {
      const auto k = static_cast<std::size_t>(2 * (kRowFrames + i));
      const auto j = static_cast<std::size_t>(2 * (from + i));
      worst = std::max(worst, static_cast<double>(std::fabs(thrice[j] - once[k])));
    }
    EXPECT_LT(worst, 1e-4) << "pass " << pass + 1;
  }

  // A start point on row 10 plays the high note at once, for the 6 rows left.
  ASSERT_EQ(segment->SetStartPoint(10 * 768 / 4), com::S_OK);
  state = player.play(segment, 0);
  EXPECT_EQ(player.seek(state), 10 * 768 / 4);
  const auto late = player.render(8 * kRowFrames);
  EXPECT_NEAR(pitch_of(late, 0, 4 * kRowFrames), xm_frequency(module, kHigh), 2.0);
  EXPECT_NEAR(sounding_frames(late), 6 * kRowFrames, 64);
}

TEST(ModulePlay, MasterTempoShortensThePassAndKeepsThePitch) {
  Player player;
  ASSERT_EQ(player.status, com::S_OK);
  const XmModule module = two_notes();
  const auto segment = load_module(module);
  ASSERT_TRUE(segment);
  ASSERT_EQ(player.perf->SetMasterTempo(1.25f), com::S_OK);
  player.play(segment, 0);
  const auto fast = player.render(18 * kRowFrames);
  EXPECT_NEAR(sounding_frames(fast), 0.8 * 16 * kRowFrames, 0.01 * 0.8 * 16 * kRowFrames);
  const double low = xm_frequency(module, kLow);
  EXPECT_NEAR(pitch_of(fast, kRowFrames, 4 * kRowFrames), low, 0.01 * low);
}

TEST(ModulePlay, PatternLoopPlaysAsWritten) {
  Player player;
  ASSERT_EQ(player.status, com::S_OK);
  // Rows 0 to 3 played three times (loop start on row 0, "loop back twice" on row 3), then
  // rows 4 to 7, where the high note begins.
  XmModule module;
  module.patterns[0].rows = 8;
  module.patterns[0].cells.resize(8);
  module.patterns[0].cells[0] = {XmCell{kLow, 1}, XmCell{0, 0, 0x0E, 0x60}};
  module.patterns[0].cells[3] = {XmCell{}, XmCell{0, 0, 0x0E, 0x62}};
  module.patterns[0].cells[4] = {XmCell{kHigh, 1}};
  const auto segment = load_module(module);
  ASSERT_TRUE(segment);
  std::int32_t length = 0;
  ASSERT_EQ(segment->GetLength(length), com::S_OK);
  EXPECT_EQ(length, 16 * 768 / 4);
  auto state = player.play(segment, 0);
  const auto sound = player.render(18 * kRowFrames);
  EXPECT_NEAR(sounding_frames(sound), 16 * kRowFrames, 64);
  // Still the low note after the first four rows; the high one only after the third time.
  EXPECT_NEAR(pitch_of(sound, 5 * kRowFrames, 2 * kRowFrames), xm_frequency(module, kLow), 2.0);
  EXPECT_NEAR(pitch_of(sound, 13 * kRowFrames, 2 * kRowFrames), xm_frequency(module, kHigh), 2.0);
  EXPECT_EQ(player.seek(state), length);

  // A start point on the sixth row played (row 1, the loop's second time round) goes round
  // once more, as the music does from there: the high note 7 rows later, 11 rows in all.
  ASSERT_EQ(segment->SetStartPoint(5 * 768 / 4), com::S_OK);
  state = player.play(segment, 0);
  const auto late = player.render(14 * kRowFrames);
  EXPECT_NEAR(pitch_of(late, 5 * kRowFrames, 2 * kRowFrames), xm_frequency(module, kLow), 2.0);
  EXPECT_NEAR(pitch_of(late, 8 * kRowFrames, 2 * kRowFrames), xm_frequency(module, kHigh), 2.0);
  EXPECT_NEAR(sounding_frames(late), 11 * kRowFrames, 64);
  EXPECT_EQ(player.seek(state), length);
}

}  // namespace
}  // namespace orvan::music::testing
