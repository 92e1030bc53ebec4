// Switching effects on and clearing them: the list, the results and the chain the
// platform ends up with.
#include <vector>

#include "tests/engine_effects/engine_effects_fixture.h"

namespace orvan::engine::testing {
namespace {

using namespace music;
using Classes = std::vector<std::string>;

TEST_F(EngineEffects, SwitchedOnEffectsFormTheChainInSlotOrder) {
  init();
  EXPECT_EQ(channel->Effect_DistortionOn(), com::S_OK);
  EXPECT_EQ(channel->Effect_ChorusOn(), com::S_OK);
  EXPECT_EQ(listed(), (Classes{"GUID_DSFX_STANDARD_DISTORTION", "GUID_DSFX_STANDARD_CHORUS"}));
  EXPECT_EQ(channel->EffectResults,
            (std::vector<std::int32_t>{DSFXR_LOCSOFTWARE, DSFXR_LOCSOFTWARE, 0}));
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_DISTORTION", "IID_DirectSoundFXDistortion"), 1);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_CHORUS", "IID_DirectSoundFXChorus"), 1);

  // The same effect again is a second instance of its own.
  EXPECT_EQ(channel->Effect_ChorusOn(), com::S_OK);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_CHORUS", "IID_DirectSoundFXChorus"), 2);
  EXPECT_EQ(channel->EffectResults.size(), 4u);
}

TEST_F(EngineEffects, ClearEmptiesTheChainAndLeavesOldTextsUncounted) {
  init();
  channel->Effect_DistortionOn();
  channel->Effect_ChorusOn();
  EXPECT_EQ(channel->Effect_Clear(), com::S_OK);
  EXPECT_EQ(channel->EffectCount, 0);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_DISTORTION", "IID_DirectSoundFXDistortion"), 0);

  EXPECT_EQ(channel->Effect_ReverbOn(), com::S_OK);
  EXPECT_EQ(listed(), (Classes{"GUID_DSFX_WAVES_REVERB"}));
  EXPECT_EQ(channel->EffectDescs[1].guidDSFXClass, "GUID_DSFX_STANDARD_CHORUS");
  EXPECT_EQ(in_chain("GUID_DSFX_WAVES_REVERB", "IID_DirectSoundFXWavesReverb"), 1);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_CHORUS", "IID_DirectSoundFXChorus"), 0);
  EXPECT_EQ(channel->EffectResults.size(), 2u);
}

TEST_F(EngineEffects, ClearOnAFreshObjectIsQuiet) {
  EXPECT_EQ(channel->Effect_Clear(), com::S_OK);
  EXPECT_EQ(channel->EffectCount, 0);
  EXPECT_TRUE(boxes->texts.empty());
}

TEST_F(EngineEffects, SwitchOnBeforeInitFailsButStaysListed) {
  EXPECT_EQ(channel->Effect_ChorusOn(), com::E_OBJECT_NOT_SET);
  EXPECT_EQ(channel->EffectCount, 1);
  EXPECT_EQ(channel->EffectResults.size(), 2u);
  EXPECT_TRUE(boxes->texts.empty());

  init();
  EXPECT_EQ(channel->Effect_DistortionOn(), com::S_OK);
  EXPECT_EQ(listed(), (Classes{"GUID_DSFX_STANDARD_CHORUS", "GUID_DSFX_STANDARD_DISTORTION"}));
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_CHORUS", "IID_DirectSoundFXChorus"), 1);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_DISTORTION", "IID_DirectSoundFXDistortion"), 1);
}

TEST_F(EngineEffects, TheListOutlivesCleanupAndReturnsWithTheNextSwitchOn) {
  init();
  channel->Effect_DistortionOn();
  EXPECT_EQ(channel->CleanupAudio(), com::S_OK);
  EXPECT_TRUE(channel->DSBuffer.empty());
  EXPECT_EQ(channel->EffectCount, 1);

  init();
  EXPECT_EQ(channel->Effect_ChorusOn(), com::S_OK);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_DISTORTION", "IID_DirectSoundFXDistortion"), 1);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_CHORUS", "IID_DirectSoundFXChorus"), 1);
}

TEST_F(EngineEffects, ARefusedChainStaysListedAndThePathStaysHalted) {
  init();
  // A description the platform does not know, as if an earlier caller had left it.
  channel->EffectDescs[0].guidDSFXClass = "GUID_DSFX_NOT_AN_EFFECT";
  channel->EffectCount = 1;

  EXPECT_EQ(channel->Effect_DistortionOn(), com::REGDB_E_CLASSNOTREG);
  EXPECT_EQ(channel->EffectCount, 2);
  EXPECT_EQ(channel->EffectResults[0], DSFXR_UNKNOWN);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_DISTORTION", "IID_DirectSoundFXDistortion"), 0);
  // No Activate(true) followed, so the buffer still takes a chain without the engine's
  // own deactivation.
  std::int32_t results[1] = {};
  EXPECT_EQ(channel->DSBuffer->SetFX(0, channel->EffectDescs.data(), results), com::S_OK);

  // Every later switch-on sends the refused description again, until a clear.
  EXPECT_EQ(channel->Effect_ChorusOn(), com::REGDB_E_CLASSNOTREG);
  EXPECT_EQ(channel->EffectCount, 3);
  channel->Effect_Clear();
  EXPECT_EQ(channel->Effect_ChorusOn(), com::S_OK);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_CHORUS", "IID_DirectSoundFXChorus"), 1);
}

TEST_F(EngineEffects, AFifthEffectIsRefusedAndChangesNothing) {
  init();
  channel->Effect_DistortionOn();
  channel->Effect_ChorusOn();
  channel->Effect_ReverbOn();
  EXPECT_EQ(channel->Effect_3DReverb_On(), com::S_OK);
  const Classes four = listed();
  const std::vector<std::int32_t> results = channel->EffectResults;

  EXPECT_EQ(channel->Effect_ChorusOn(), com::MUSIC_E_EFFECT_LIST_FULL);
  EXPECT_EQ(listed(), four);
  EXPECT_EQ(channel->EffectResults, results);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_CHORUS", "IID_DirectSoundFXChorus"), 1);
  EXPECT_EQ(in_chain("GUID_DSFX_STANDARD_I3DL2REVERB", "IID_DirectSoundFXI3DL2REVERB"), 1);
}

}  // namespace
}  // namespace orvan::engine::testing
