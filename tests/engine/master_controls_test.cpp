// Master tempo and volume: per channel, passed straight to the platform, heard in the sound.
#include "tests/engine/engine_fixture.h"

namespace orvan::engine::testing {
namespace {

TEST_F(EngineTest, FreshChannelsReportThePlatformDefaultsAndStayIndependent) {
  auto first = make_initialised_channel();
  auto second = make_initialised_channel();
  float tempo = 0.0f;
  std::int32_t volume = 1;
  EXPECT_EQ(first->GetMasterTempo(tempo), com::S_OK);
  EXPECT_EQ(tempo, 1.0f);
  EXPECT_EQ(first->GetMasterVolume(volume), com::S_OK);
  EXPECT_EQ(volume, 0);

  // Passed by reference, the inputs are only read: the caller's variables keep their values.
  std::int32_t quieter = -1500;
  float faster = 1.5f;
  EXPECT_EQ(first->SetMasterVolume(quieter), com::S_OK);
  EXPECT_EQ(first->SetMasterTempo(faster), com::S_OK);
  EXPECT_EQ(quieter, -1500);
  EXPECT_EQ(faster, 1.5f);
  EXPECT_EQ(first->GetMasterVolume(volume), com::S_OK);
  EXPECT_EQ(volume, -1500);
  EXPECT_EQ(first->GetMasterTempo(tempo), com::S_OK);
  EXPECT_EQ(tempo, 1.5f);

  EXPECT_EQ(second->GetMasterVolume(volume), com::S_OK);
  EXPECT_EQ(volume, 0);
  EXPECT_EQ(second->GetMasterTempo(tempo), com::S_OK);
  EXPECT_EQ(tempo, 1.0f);
  first->CleanupAudio();
  second->CleanupAudio();
}

TEST_F(EngineTest, RefusedValuesFailWithThePlatformStatusAndChangeNothing) {
  auto channel = make_initialised_channel();
  for (const float tempo : {0.0f, -1.0f, 100.5f, std::nanf("")}) {
    EXPECT_EQ(channel->SetMasterTempo(tempo), com::E_INVALIDARG) << tempo;
  }
  for (const std::int32_t volume : {-20001, 2001, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(channel->SetMasterVolume(volume), com::E_INVALIDARG) << volume;
  }
  float tempo = 0.0f;
  std::int32_t volume = 1;
  channel->GetMasterTempo(tempo);
  channel->GetMasterVolume(volume);
  EXPECT_EQ(tempo, 1.0f);
  EXPECT_EQ(volume, 0);
  EXPECT_TRUE(boxes_->boxes().empty());
  channel->CleanupAudio();
}

TEST_F(EngineTest, MasterControlsWithoutAPerformanceFail) {
  auto channel = com::make_ref<Channel>();
  const float tempo = 1.0f;
  const std::int32_t volume = 0;
  float tempo_out = 9.0f;
  std::int32_t volume_out = 9;
  EXPECT_EQ(channel->SetMasterTempo(tempo), com::E_OBJECT_NOT_SET);
  EXPECT_EQ(channel->SetMasterVolume(volume), com::E_OBJECT_NOT_SET);
  EXPECT_EQ(channel->GetMasterTempo(tempo_out), com::E_OBJECT_NOT_SET);
  EXPECT_EQ(channel->GetMasterVolume(volume_out), com::E_OBJECT_NOT_SET);
  EXPECT_EQ(tempo_out, 9.0f);
  EXPECT_EQ(volume_out, 9);
  EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(EngineTest, VolumeChangesTheLevel) {
  auto channel = make_initialised_channel();
  channel->Music_Load(bstr(organ_));
  channel->Music_Play();
  pump_seconds(0.5);  // past the attack
  const double full = pump_seconds(0.5);
  ASSERT_GT(full, 0.005);

  const std::int32_t minus_20_db = -2000;
  channel->SetMasterVolume(minus_20_db);
  pump_seconds(0.05);  // the ramp
  const double quiet = pump_seconds(0.5);
  EXPECT_NEAR(quiet / full, 0.1, 0.03);

  const std::int32_t minus_6_db = -600;
  channel->SetMasterVolume(minus_6_db);
  pump_seconds(0.05);
  EXPECT_NEAR(pump_seconds(0.5) / full, 0.501, 0.08);
  channel->CleanupAudio();
}

TEST_F(EngineTest, TempoChangesHowFastThePositionMoves) {
  auto channel = make_initialised_channel();
  channel->Music_Load(bstr(piano_));
  const float twice = 2.0f;
  channel->SetMasterTempo(twice);
  channel->Music_Play();
  pump_seconds(1.0);
  std::int32_t position = 0;
  channel->GetCurrentPosition(position);
  EXPECT_NEAR(position, 2 * 1536, 200);
  channel->CleanupAudio();
}

}  // namespace
}  // namespace orvan::engine::testing
