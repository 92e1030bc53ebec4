// Playing, stopping, seeking and the playback queries, measured on the rendered sound.
#include "tests/engine/engine_fixture.h"

namespace orvan::engine::testing {
namespace {

// At 120 beats per minute one second is two quarters of 768 units. A play starts at the
// next block, so a position may lag by one block.
constexpr std::int32_t kUnitsPerSecond = 1536;
constexpr std::int32_t kTolerance = 100;

TEST_F(EngineTest, PlayAndStopWithoutMusicDoNothing) {
  auto channel = make_initialised_channel();
  EXPECT_EQ(channel->Music_Play(), com::S_OK);
  EXPECT_EQ(channel->Music_Stop(), com::S_OK);
  EXPECT_FALSE(channel->SegState);
  EXPECT_LT(pump_seconds(0.5), 1e-5) << "silence, give or take the synthesizer's noise floor";
  EXPECT_TRUE(boxes_->boxes().empty());
  channel->CleanupAudio();
}

TEST_F(EngineTest, QueriesFailUntilSomethingIsLoadedAndPlayed) {
  auto channel = make_initialised_channel();
  std::int32_t value = 42;
  EXPECT_EQ(channel->GetLengh(value), com::E_OBJECT_NOT_SET);
  EXPECT_EQ(channel->GetCurrentPosition(value), com::E_OBJECT_NOT_SET);
  EXPECT_EQ(channel->GetRepeats(value), com::E_OBJECT_NOT_SET);
  const std::int32_t pos = 0;
  EXPECT_TRUE(com::failed(channel->SetPosition(pos)));
  com::VariantBool playing = 3;
  EXPECT_TRUE(com::failed(channel->IsPlaying(playing))) << "segment and state both empty";
  EXPECT_EQ(value, 42) << "out-values are written only on success";
  EXPECT_EQ(playing, 3);

  channel->Music_Load(bstr(piano_));
  EXPECT_EQ(channel->GetLengh(value), com::S_OK);
  EXPECT_EQ(channel->GetCurrentPosition(value), com::E_OBJECT_NOT_SET);
  EXPECT_EQ(channel->IsPlaying(playing), com::S_OK);
  EXPECT_EQ(playing, com::VARIANT_FALSE);
  EXPECT_TRUE(boxes_->boxes().empty());
  channel->CleanupAudio();
}

TEST_F(EngineTest, PositionAdvancesWithRenderedFramesAndHoldsAfterStop) {
  auto channel = make_initialised_channel();
  channel->Music_Load(bstr(piano_));
  EXPECT_EQ(channel->Music_Play(), com::S_OK);
  std::int32_t repeats = -7;
  EXPECT_EQ(channel->GetRepeats(repeats), com::S_OK);
  EXPECT_EQ(repeats, 0) << "nLoop omitted plays once";

  EXPECT_GT(pump_seconds(1.0), 0.005);
  std::int32_t position = 0;
  ASSERT_EQ(channel->GetCurrentPosition(position), com::S_OK);
  EXPECT_NEAR(position, kUnitsPerSecond, kTolerance);
  pump_seconds(1.0);
  ASSERT_EQ(channel->GetCurrentPosition(position), com::S_OK);
  EXPECT_NEAR(position, 2 * kUnitsPerSecond, kTolerance);
  com::VariantBool playing = 0;
  EXPECT_EQ(channel->IsPlaying(playing), com::S_OK);
  EXPECT_EQ(playing, com::VARIANT_TRUE);

  EXPECT_EQ(channel->Music_Stop(), com::S_OK);
  pump_seconds(1.0);  // let the release die away
  EXPECT_LT(pump_seconds(0.5), 0.001);
  std::int32_t after_stop = 0;
  ASSERT_EQ(channel->GetCurrentPosition(after_stop), com::S_OK);
  EXPECT_NEAR(after_stop, position, kTolerance);
  EXPECT_EQ(channel->IsPlaying(playing), com::S_OK);
  EXPECT_EQ(playing, com::VARIANT_FALSE);
  channel->CleanupAudio();
}

TEST_F(EngineTest, SetPositionPlaysFromThereWithTheLastRepeatCountAndStaysForLaterPlays) {
  auto channel = make_initialised_channel();
  channel->Music_Load(bstr(piano_));
  const std::int32_t loops = 2;
  channel->Music_Play(loops);
  pump_seconds(0.5);
  channel->Music_Stop();
  pump_seconds(0.5);

  const std::int32_t target = 8 * 768;  // half way
  EXPECT_EQ(channel->SetPosition(target), com::S_OK);
  std::int32_t repeats = 0;
  EXPECT_EQ(channel->GetRepeats(repeats), com::S_OK);
  EXPECT_EQ(repeats, 2);
  EXPECT_GT(pump_seconds(0.5), 0.005) << "a stopped channel starts playing";
  std::int32_t position = 0;
  EXPECT_EQ(channel->GetCurrentPosition(position), com::S_OK);
  EXPECT_NEAR(position, target + kUnitsPerSecond / 2, kTolerance);

  channel->Music_Stop();
  channel->Music_Play(loops);
  pump_seconds(0.25);
  EXPECT_EQ(channel->GetCurrentPosition(position), com::S_OK);
  EXPECT_NEAR(position, target + kUnitsPerSecond / 4, kTolerance) << "the start point stays";
  channel->CleanupAudio();
}

TEST_F(EngineTest, SetPositionOutsideTheMusicFailsAndLeavesItStopped) {
  auto channel = make_initialised_channel();
  channel->Music_Load(bstr(piano_));
  channel->Music_Play();
  pump_seconds(0.25);
  auto* state = channel->SegState.get();
  const std::int32_t beyond = 100 * 768;
  EXPECT_EQ(channel->SetPosition(beyond), com::MUSIC_E_START_OUT_OF_RANGE);
  EXPECT_EQ(channel->SegState.get(), state) << "a failed seek keeps the state";
  pump_seconds(1.0);
  EXPECT_LT(pump_seconds(0.5), 0.001) << "the stop step stays done";
  EXPECT_TRUE(boxes_->boxes().empty());
  channel->CleanupAudio();
}

TEST_F(EngineTest, LoadingWhilePlayingStopsNothing) {
  auto channel = make_initialised_channel();
  channel->Music_Load(bstr(organ_));
  channel->Music_Play();
  const double before = pump_seconds(0.5);
  ASSERT_GT(before, 0.005);

  channel->Music_Load(bstr(piano_));
  EXPECT_NEAR(pump_seconds(0.5), before, before * 0.3) << "the organ plays on";
  // Stop addresses the new segment, which is not playing: the organ still sounds.
  EXPECT_EQ(channel->Music_Stop(), com::S_OK);
  EXPECT_NEAR(pump_seconds(0.5), before, before * 0.3);
  channel->CleanupAudio();
}

TEST_F(EngineTest, RepeatsLoopTheMusic) {
  auto channel = make_initialised_channel();
  channel->Music_Load(bstr(organ_));  // 4 seconds long
  const std::int32_t loops = 1;
  channel->Music_Play(loops);
  pump_seconds(5.0);
  std::int32_t position = 0;
  EXPECT_EQ(channel->GetCurrentPosition(position), com::S_OK);
  EXPECT_NEAR(position, kUnitsPerSecond, kTolerance) << "one second into the second pass";
  EXPECT_GT(pump_seconds(0.5), 0.005);
  channel->CleanupAudio();
}

}  // namespace
}  // namespace orvan::engine::testing
