// The 28 parameter methods: read the platform's record, patch one field, write it back;
// every failure becomes one message box and a false result.
#include <cmath>
#include <cstring>

#include "engine/effect_parameter_methods.h"
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

TEST_F(EngineEffects, ARefusedValueShowsThePlatformsReasonAndChangesNothing) {
  init();
  channel->Effect_ReverbOn();
  com::VariantBool result = com::VARIANT_TRUE;
  EXPECT_EQ(channel->SetFX_Rev_Time(5000.0f, result), com::S_OK);  // above 3000 ms
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

// The documented class and interface texts of each record's effect, and the engine's
// record member that mirrors what it last wrote.
struct Addressed {
  const char* effect_class;
  const char* interface_id;
};
Addressed address_of(const DSFXDISTORTION*) {
  return {"GUID_DSFX_STANDARD_DISTORTION", "IID_DirectSoundFXDistortion"};
}
Addressed address_of(const DSFXCHORUS*) {
  return {"GUID_DSFX_STANDARD_CHORUS", "IID_DirectSoundFXChorus"};
}
Addressed address_of(const DSFXWAVESREVERB*) {
  return {"GUID_DSFX_WAVES_REVERB", "IID_DirectSoundFXWavesReverb"};
}
Addressed address_of(const DSFXI3DL2REVERB*) {
  return {"GUID_DSFX_STANDARD_I3DL2REVERB", "IID_DirectSoundFXI3DL2REVERB"};
}
const DSFXDISTORTION& member_of(Channel& c, const DSFXDISTORTION*) {
  return c.DistortionParams;
}
const DSFXCHORUS& member_of(Channel& c, const DSFXCHORUS*) {
  return c.ChorusParams;
}
const DSFXWAVESREVERB& member_of(Channel& c, const DSFXWAVESREVERB*) {
  return c.WavesReverbParams;
}
const DSFXI3DL2REVERB& member_of(Channel& c, const DSFXI3DL2REVERB*) {
  return c.Reverb3DParams;
}

class EveryParameterMethod : public EngineEffects {
 protected:
  // Calls `method` and checks, bit for bit, that the platform's record is the one before
  // the call with `field` set to `value` and nothing else changed, and that the engine's
  // record member holds the same.
  template <class Record, class Field, class Method>
  void expect_writes_only(const char* name, Method method, Field Record::*field, Field value) {
    const Addressed at = address_of(static_cast<const Record*>(nullptr));
    const auto read = [&] {
      return platform_params<DirectSoundFX8<Record>, Record>(at.effect_class, at.interface_id);
    };
    Record expected = read();
    ASSERT_NE(expected.*field, value) << name << ": the value must differ from the field's";
    expected.*field = value;
    com::VariantBool result = com::VARIANT_FALSE;
    EXPECT_EQ(method(*channel, result), com::S_OK) << name;
    EXPECT_EQ(result, com::VARIANT_TRUE) << name;
    const Record now = read();
    EXPECT_EQ(std::memcmp(&now, &expected, sizeof expected), 0) << name;
    const Record& member = member_of(*channel, static_cast<const Record*>(nullptr));
    EXPECT_EQ(std::memcmp(&member, &expected, sizeof expected), 0) << name;
  }
};

// One line per method: the method, the record and field it must write, and a value that
// is in range, not the field's default, and unlike the other fields' values.
#define ORVAN_EXPECT_WRITES(method, Record, field, value)                                          \
  expect_writes_only(                                                                              \
      #method, [](Channel& c, com::VariantBool& r) { return c.method(value, r); }, &Record::field, \
      static_cast<decltype(Record::field)>(value))

TEST_F(EveryParameterMethod, WritesExactlyItsOwnField) {
  init();
  channel->Effect_DistortionOn();
  channel->Effect_ChorusOn();
  channel->Effect_ReverbOn();
  channel->Effect_3DReverb_On();

  ORVAN_EXPECT_WRITES(SetFX_Dist_Gain, DSFXDISTORTION, Gain, -31.25f);
  ORVAN_EXPECT_WRITES(SetFX_Dist_Edge, DSFXDISTORTION, Edge, 42.5f);
  ORVAN_EXPECT_WRITES(SetFX_Dist_PostEQCenterFrequency, DSFXDISTORTION, PostEQCenterFrequency,
                      1234.5f);
  ORVAN_EXPECT_WRITES(SetFX_Dist_PostEQBandwidth, DSFXDISTORTION, PostEQBandwidth, 3456.5f);
  ORVAN_EXPECT_WRITES(SetFX_Dist_PreLowpassCutoff, DSFXDISTORTION, PreLowpassCutoff, 5678.5f);

  ORVAN_EXPECT_WRITES(SetFX_Cho_WetDryMix, DSFXCHORUS, WetDryMix, 61.5f);
  ORVAN_EXPECT_WRITES(SetFX_Cho_Depth, DSFXCHORUS, Depth, 72.25f);
  ORVAN_EXPECT_WRITES(SetFX_Cho_Feedback, DSFXCHORUS, Feedback, -45.75f);
  ORVAN_EXPECT_WRITES(SetFX_Cho_Frequency, DSFXCHORUS, Frequency, 7.125f);
  ORVAN_EXPECT_WRITES(SetFX_Cho_Waveform, DSFXCHORUS, Waveform, OSFX_WAVE_TRIANGLE);
  ORVAN_EXPECT_WRITES(SetFX_Cho_Delay, DSFXCHORUS, Delay, 13.5f);
  ORVAN_EXPECT_WRITES(SetFX_Cho_Phase, DSFXCHORUS, Phase, OSFX_PHASE_NEG_90);

  ORVAN_EXPECT_WRITES(SetFX_Rev_Gain, DSFXWAVESREVERB, InGain, -12.5f);
  ORVAN_EXPECT_WRITES(SetFX_Rev_Mix, DSFXWAVESREVERB, ReverbMix, -24.75f);
  ORVAN_EXPECT_WRITES(SetFX_Rev_Time, DSFXWAVESREVERB, ReverbTime, 2345.5f);
  ORVAN_EXPECT_WRITES(SetFX_Rev_HighFreqRTRatio, DSFXWAVESREVERB, HighFreqRTRatio, 0.625f);

  ORVAN_EXPECT_WRITES(SetFX_Rev3D_Room, DSFXI3DL2REVERB, Room, -501);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_RoomHF, DSFXI3DL2REVERB, RoomHF, -702);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_RoomRolloffFactor, DSFXI3DL2REVERB, RoomRolloffFactor, 2.5f);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_DecayTime, DSFXI3DL2REVERB, DecayTime, 3.75f);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_DecayHFRatio, DSFXI3DL2REVERB, DecayHFRatio, 1.375f);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_Reflections, DSFXI3DL2REVERB, Reflections, -1203);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_ReflectionsDelay, DSFXI3DL2REVERB, ReflectionsDelay, 0.125f);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_Reverb, DSFXI3DL2REVERB, Reverb, 1504);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_ReverbDelay, DSFXI3DL2REVERB, ReverbDelay, 0.0625f);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_Diffusion, DSFXI3DL2REVERB, Diffusion, 33.5f);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_Density, DSFXI3DL2REVERB, Density, 66.25f);
  ORVAN_EXPECT_WRITES(SetFX_Rev3D_HFReference, DSFXI3DL2REVERB, HFReference, 7500.5f);
  EXPECT_TRUE(boxes->texts.empty());
}

#undef ORVAN_EXPECT_WRITES

// tovel-play sets fields by name through the engine's method table: every catalogued field
// has its method there, and calling it through the table writes that field alone.
TEST_F(EngineEffects, TheMethodTableReachesEveryCataloguedFieldThroughItsOwnMethod) {
  init();
  channel->Effect_DistortionOn();
  channel->Effect_ChorusOn();
  channel->Effect_ReverbOn();
  channel->Effect_3DReverb_On();
  std::size_t reached = 0;
  const auto check = [&]<class Record>(Record*) {
    const dsp::EffectInfo& effect = dsp::effect_of<Record>;
    const Addressed at = address_of(static_cast<const Record*>(nullptr));
    for (const dsp::FieldInfo& field : effect.fields) {
      const EffectParameterMethod* method = effect_parameter_method(effect.name, field.name);
      ASSERT_NE(method, nullptr) << effect.name << "." << field.name;
      // A value inside the range, away from the default, whole for an integer field.
      double value = field.min + 0.3 * (field.max - field.min);
      if (field.type == dsp::FieldType::integer) value = std::round(value);
      Record expected =
          platform_params<DirectSoundFX8<Record>, Record>(at.effect_class, at.interface_id);
      ASSERT_NE(dsp::read_field(&expected, field), static_cast<float>(value)) << field.name;
      dsp::write_field(&expected, field, value);
      EXPECT_EQ(method->call(*channel, value), com::VARIANT_TRUE) << method->name;
      const Record now =
          platform_params<DirectSoundFX8<Record>, Record>(at.effect_class, at.interface_id);
      EXPECT_EQ(std::memcmp(&now, &expected, sizeof expected), 0) << method->name;
      ++reached;
    }
  };
  check(static_cast<DSFXDISTORTION*>(nullptr));
  check(static_cast<DSFXCHORUS*>(nullptr));
  check(static_cast<DSFXWAVESREVERB*>(nullptr));
  check(static_cast<DSFXI3DL2REVERB*>(nullptr));
  EXPECT_EQ(reached, 28u);
  EXPECT_EQ(effect_parameter_methods().size(), 28u);
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
