// The output's progress, as a player reads it to tell when a render is over.
#include "platform/music/output/output_device.h"
#include "tests/performance/performance_fixture.h"

namespace orvan::music::testing {
namespace {

constexpr int kProgressRate = 32000;

// A record no answer would produce, so that a write shows.
OutputProgress untouched() {
  OutputProgress progress;
  progress.sample_rate = -1;
  progress.frames_rendered = -2;
  progress.last_period_peak = -3.0f;
  progress.music_done = true;
  return progress;
}

void expect_untouched(const OutputProgress& progress) {
  EXPECT_EQ(progress.sample_rate, -1);
  EXPECT_EQ(progress.frames_rendered, -2);
  EXPECT_EQ(progress.last_period_peak, -3.0f);
  EXPECT_TRUE(progress.music_done);
}

TEST(OutputProgress, FollowsTheOpenOutputFrameByFrameAndItsLevel) {
  set_platform_settings({OutputKind::Manual, {}, kSmallSoundFont});
  OutputProgress progress = untouched();
  EXPECT_EQ(com::make_ref<DirectMusicPerformance8>(nullptr)->GetOutputProgress(progress),
            com::MUSIC_E_NOT_INITIALIZED);
  expect_untouched(progress);

  Player player(nullptr, kProgressRate);
  ASSERT_EQ(player.status, com::S_OK);
  ASSERT_EQ(player.perf->GetOutputProgress(progress), com::S_OK);
  EXPECT_EQ(progress.sample_rate, kProgressRate);
  EXPECT_EQ(progress.frames_rendered, 0);
  EXPECT_FALSE(progress.music_done);  // a device that is pumped by hand never says so

  // A note held over the whole render: loud in the last period handed over.
  player.play(SequenceBuilder().note(0, 3 * 768, 60, 127).segment(3 * 768));
  player.render(4801);
  ASSERT_EQ(player.perf->GetOutputProgress(progress), com::S_OK);
  EXPECT_EQ(progress.frames_rendered, 4801);
  EXPECT_GT(progress.last_period_peak, 0.01f);

  // Stopped, the tail dies away below the level that ends a render.
  ASSERT_EQ(player.perf->StopEx(nullptr, 0, 0), com::S_OK);
  player.render(3 * kProgressRate);
  ASSERT_EQ(player.perf->GetOutputProgress(progress), com::S_OK);
  EXPECT_EQ(progress.frames_rendered, 4801 + 3 * kProgressRate);
  EXPECT_LT(progress.last_period_peak, output::kSilencePeak);
  EXPECT_FALSE(progress.music_done);

  ASSERT_EQ(player.perf->CloseDown(), com::S_OK);
  progress = untouched();
  EXPECT_EQ(player.perf->GetOutputProgress(progress), com::MUSIC_E_NOT_INITIALIZED);
  expect_untouched(progress);
}

}  // namespace
}  // namespace orvan::music::testing
