// The 28 parameter methods: read the platform's record, patch one field, write
// it back; every failure becomes one message box and a false result.
#include <cstring>

#include "platform/com/status.h"
#include "tests/engine_effects/engine_effects_fixture.h"

namespace orvan::engine::testing {
namespace {

using namespace music;

TEST_F(EngineEffects, ParameterMethodsWithoutAnEffectShowOneBoxAndReturnFalse) {
  init();
  com::VariantBool result = com::VARIANT_TRUE;
  EXPECT_EQ(channel->SetFX_Dist_Gain(-20.0f, result), com::S_OK);
  EXPECT_EQ(result, com::VARIANT_FALSE);
  ASSERT_EQ(boxes->texts.size(), 1u);
  EXPECT_EQ(boxes->texts[0], com::describe_status(com::E_OBJECT_NOT_SET));

  // An effect that is not in the chain: the platform's own failure is shown.
  channel->Effect_DistortionOn();
  EXPECT_EQ(channel->SetFX_Cho_Depth(50.0f, result), com::S_OK);
  EXPECT_EQ(result, com::VARIANT_FALSE);
  ASSERT_EQ(boxes->texts.size(), 2u);
  EXPECT_EQ(boxes->texts[1], com::describe_status(com::MUSIC_E_OBJECT_NOT_FOUND));
}

TEST_F(EngineEffects, PatchingOneFieldKeepsTheOthersAsThePlatformHasThem) {
  init();
  channel->Effect_DistortionOn();
  com::VariantBool result = com::VARIANT_FALSE;
  EXPECT_EQ(channel->SetFX_Dist_Edge(40.0f, result), com::S_OK);
  EXPECT_EQ(channel->SetFX_Dist_PreLowpassCutoff(3000.0f, result), com::S_OK);
  EXPECT_EQ(channel->SetFX_Dist_Gain(-20.0f, result), com::S_OK);
  EXPECT_EQ(result, com::VARIANT_TRUE);

  const DSFXDISTORTION expected{-20.0f, 40.0f, 2400.0f, 2400.0f, 3000.0f};
  const auto now = platform_params<DirectSoundFXDistortion8, DSFXDISTORTION>(
      "GUID_DSFX_STANDARD_DISTORTION", "IID_DirectSoundFXDistortion");
  EXPECT_EQ(std::memcmp(&now, &expected, sizeof expected), 0);
  EXPECT_EQ(std::memcmp(&channel->DistortionParams, &expected, sizeof expected), 0);
  EXPECT_TRUE(boxes->texts.empty());
}

TEST_F(EngineEffects, ARefusedValueShowsThePlatformsReasonAndChangesNothing) {
  init();
  channel->Effect_ReverbOn();
  com::VariantBool result = com::VARIANT_TRUE;
  EXPECT_EQ(channel->SetFX_Rev_Time(5000.0f, result),
            com::S_OK);  // above 3000 ms
  EXPECT_EQ(result, com::VARIANT_FALSE);
  ASSERT_EQ(boxes->texts.size(), 1u);
  EXPECT_EQ(boxes->texts[0], com::describe_status(com::E_INVALIDARG));
  // The record member holds what was prepared; the platform kept its own.
  EXPECT_EQ(channel->WavesReverbParams.ReverbTime, 5000.0f);
  EXPECT_EQ((platform_params<DirectSoundFXWavesReverb8, DSFXWAVESREVERB>(
                 "GUID_DSFX_WAVES_REVERB", "IID_DirectSoundFXWavesReverb")
                 .ReverbTime),
            1000.0f);
}

TEST_F(EngineEffects, TheFirstOfTwoChorusesIsTheOneAddressed) {
  init();
  channel->Effect_ChorusOn();
  channel->Effect_DistortionOn();
  channel->Effect_ChorusOn();
  com::VariantBool result = com::VARIANT_FALSE;
  EXPECT_EQ(channel->SetFX_Cho_Depth(77.0f, result), com::S_OK);
  EXPECT_EQ(result, com::VARIANT_TRUE);
  EXPECT_EQ((platform_params<DirectSoundFXChorus8, DSFXCHORUS>("GUID_DSFX_STANDARD_CHORUS",
                                                               "IID_DirectSoundFXChorus", 0)
                 .Depth),
            77.0f);
  EXPECT_EQ((platform_params<DirectSoundFXChorus8, DSFXCHORUS>("GUID_DSFX_STANDARD_CHORUS",
                                                               "IID_DirectSoundFXChorus", 1)
                 .Depth),
            10.0f);
}

TEST_F(EngineEffects, EnumerationsAndIntegersGoIntoTheRecordUnchanged) {
  init();
  channel->Effect_ChorusOn();
  channel->Effect_3DReverb_On();
  com::VariantBool result = com::VARIANT_FALSE;
  channel->SetFX_Cho_Phase(OSFX_PHASE_90, result);
  channel->SetFX_Cho_Waveform(OSFX_WAVE_TRIANGLE, result);
  channel->SetFX_Rev3D_Room(-500, result);
  channel->SetFX_Rev3D_RoomRolloffFactor(2.5f, result);
  EXPECT_EQ(result, com::VARIANT_TRUE);
  const auto chorus = platform_params<DirectSoundFXChorus8, DSFXCHORUS>("GUID_DSFX_STANDARD_CHORUS",
                                                                        "IID_DirectSoundFXChorus");
  EXPECT_EQ(chorus.Phase, 3);
  EXPECT_EQ(chorus.Waveform, 0);
  const auto room = platform_params<DirectSoundFXI3DL2Reverb8, DSFXI3DL2REVERB>(
      "GUID_DSFX_STANDARD_I3DL2REVERB", "IID_DirectSoundFXI3DL2REVERB");
  EXPECT_EQ(room.Room, -500);
  EXPECT_EQ(room.RoomRolloffFactor, 2.5f);
  EXPECT_TRUE(boxes->texts.empty());
}

TEST_F(EngineEffects, AfterClearTheEffectIsGoneButItsMemberStays) {
  init();
  channel->Effect_ChorusOn();
  com::VariantBool result = com::VARIANT_FALSE;
  channel->SetFX_Cho_Delay(5.0f, result);
  const com::Ref<DirectSoundFXChorus8> before = channel->FXChorus;
  ASSERT_FALSE(before.empty());
  channel->Effect_Clear();
  EXPECT_EQ(channel->SetFX_Cho_Delay(6.0f, result), com::S_OK);
  EXPECT_EQ(result, com::VARIANT_FALSE);
  EXPECT_EQ(boxes->texts.size(), 1u);
  EXPECT_TRUE(channel->FXChorus == before);
  EXPECT_EQ(channel->ChorusParams.Delay, 5.0f);
}

}  // namespace
}  // namespace orvan::engine::testing
