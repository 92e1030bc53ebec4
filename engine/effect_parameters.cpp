// The 28 effect-parameter methods: each reads its effect's whole record from the platform,
// patches one field and writes the record back.
#include <utility>

#include "engine/orvan_music.h"
#include "platform/ui/message_box.h"

namespace orvan::engine {

using com::call;
using com::failed;
using com::Ref;
using com::VariantBool;
using namespace music;

template <class Fx, class Record, class Field>
HResult OrvanMusic::PatchEffectField(const char* effect_class, const char* interface_id,
                                     Ref<Fx>& object, Record& params, Field Record::*field,
                                     Field value, VariantBool& result) {
  result = com::VARIANT_FALSE;
  const auto steps = [&]() -> HResult {
    // The effect is fetched afresh every time: a reference kept from an earlier call may
    // belong to a chain that has been replaced since.
    Ref<com::Object> found;
    HResult hr =
        call(DSBuffer, &DirectSoundBuffer8::GetObjectInPath, effect_class, 0, interface_id, found);
    if (failed(hr)) return hr;
    Ref<Fx> effect;
    hr = com::query(found, effect);
    if (failed(hr)) return hr;
    object = std::move(effect);
    Record current{};
    hr = call(object, &Fx::GetAllParameters, current);
    if (failed(hr)) return hr;
    params = current;
    params.*field = value;  // as given: the platform judges the range
    return call(object, &Fx::SetAllParameters, std::as_const(params));
  };
  const HResult hr = steps();
  if (failed(hr)) {
    ui::show_message_box(com::describe_status(hr), "", ui::MessageIcon::None);
    return com::S_OK;
  }
  result = com::VARIANT_TRUE;
  return com::S_OK;
}

#define ORVAN_DISTORTION(field)                                                              \
  PatchEffectField(GUID_DSFX_STANDARD_DISTORTION, IID_DirectSoundFXDistortion, FXDistortion, \
                   DistortionParams, &DSFXDISTORTION::field, Value, result)
#define ORVAN_CHORUS(field, value)                                                             \
  PatchEffectField(GUID_DSFX_STANDARD_CHORUS, IID_DirectSoundFXChorus, FXChorus, ChorusParams, \
                   &DSFXCHORUS::field, value, result)
#define ORVAN_WAVES(field)                                                              \
  PatchEffectField(GUID_DSFX_WAVES_REVERB, IID_DirectSoundFXWavesReverb, FXWavesReverb, \
                   WavesReverbParams, &DSFXWAVESREVERB::field, Value, result)
#define ORVAN_I3DL2(field)                                                                   \
  PatchEffectField(GUID_DSFX_STANDARD_I3DL2REVERB, IID_DirectSoundFXI3DL2REVERB, FX3DReverb, \
                   Reverb3DParams, &DSFXI3DL2REVERB::field, Value, result)

HResult OrvanMusic::SetFX_Dist_Gain(float Value, VariantBool& result) {
  return ORVAN_DISTORTION(Gain);
}
HResult OrvanMusic::SetFX_Dist_Edge(float Value, VariantBool& result) {
  return ORVAN_DISTORTION(Edge);
}
HResult OrvanMusic::SetFX_Dist_PostEQBandwidth(float Value, VariantBool& result) {
  return ORVAN_DISTORTION(PostEQBandwidth);
}
HResult OrvanMusic::SetFX_Dist_PostEQCenterFrequency(float Value, VariantBool& result) {
  return ORVAN_DISTORTION(PostEQCenterFrequency);
}
HResult OrvanMusic::SetFX_Dist_PreLowpassCutoff(float Value, VariantBool& result) {
  return ORVAN_DISTORTION(PreLowpassCutoff);
}

HResult OrvanMusic::SetFX_Cho_Feedback(float Value, VariantBool& result) {
  return ORVAN_CHORUS(Feedback, Value);
}
HResult OrvanMusic::SetFX_Cho_Delay(float Value, VariantBool& result) {
  return ORVAN_CHORUS(Delay, Value);
}
HResult OrvanMusic::SetFX_Cho_Depth(float Value, VariantBool& result) {
  return ORVAN_CHORUS(Depth, Value);
}
HResult OrvanMusic::SetFX_Cho_Frequency(float Value, VariantBool& result) {
  return ORVAN_CHORUS(Frequency, Value);
}
HResult OrvanMusic::SetFX_Cho_WetDryMix(float Value, VariantBool& result) {
  return ORVAN_CHORUS(WetDryMix, Value);
}
// The enumerations hold the platform's own codes: they go into the record unchanged.
HResult OrvanMusic::SetFX_Cho_Phase(CONST_OSFX_PHASE Value, VariantBool& result) {
  return ORVAN_CHORUS(Phase, static_cast<std::int32_t>(Value));
}
HResult OrvanMusic::SetFX_Cho_Waveform(CONST_OSFX_WAVE Value, VariantBool& result) {
  return ORVAN_CHORUS(Waveform, static_cast<std::int32_t>(Value));
}

HResult OrvanMusic::SetFX_Rev_Gain(float Value, VariantBool& result) {
  return ORVAN_WAVES(InGain);
}
HResult OrvanMusic::SetFX_Rev_Mix(float Value, VariantBool& result) {
  return ORVAN_WAVES(ReverbMix);
}
HResult OrvanMusic::SetFX_Rev_Time(float Value, VariantBool& result) {
  return ORVAN_WAVES(ReverbTime);
}
HResult OrvanMusic::SetFX_Rev_HighFreqRTRatio(float Value, VariantBool& result) {
  return ORVAN_WAVES(HighFreqRTRatio);
}

HResult OrvanMusic::SetFX_Rev3D_DecayHFRatio(float Value, VariantBool& result) {
  return ORVAN_I3DL2(DecayHFRatio);
}
HResult OrvanMusic::SetFX_Rev3D_DecayTime(float Value, VariantBool& result) {
  return ORVAN_I3DL2(DecayTime);
}
HResult OrvanMusic::SetFX_Rev3D_Density(float Value, VariantBool& result) {
  return ORVAN_I3DL2(Density);
}
HResult OrvanMusic::SetFX_Rev3D_Diffusion(float Value, VariantBool& result) {
  return ORVAN_I3DL2(Diffusion);
}
HResult OrvanMusic::SetFX_Rev3D_HFReference(float Value, VariantBool& result) {
  return ORVAN_I3DL2(HFReference);
}
HResult OrvanMusic::SetFX_Rev3D_ReflectionsDelay(float Value, VariantBool& result) {
  return ORVAN_I3DL2(ReflectionsDelay);
}
HResult OrvanMusic::SetFX_Rev3D_ReverbDelay(float Value, VariantBool& result) {
  return ORVAN_I3DL2(ReverbDelay);
}
HResult OrvanMusic::SetFX_Rev3D_RoomRolloffFactor(float Value, VariantBool& result) {
  return ORVAN_I3DL2(RoomRolloffFactor);
}
HResult OrvanMusic::SetFX_Rev3D_Reflections(std::int32_t Value, VariantBool& result) {
  return ORVAN_I3DL2(Reflections);
}
HResult OrvanMusic::SetFX_Rev3D_Reverb(std::int32_t Value, VariantBool& result) {
  return ORVAN_I3DL2(Reverb);
}
HResult OrvanMusic::SetFX_Rev3D_Room(std::int32_t Value, VariantBool& result) {
  return ORVAN_I3DL2(Room);
}
HResult OrvanMusic::SetFX_Rev3D_RoomHF(std::int32_t Value, VariantBool& result) {
  return ORVAN_I3DL2(RoomHF);
}

#undef ORVAN_DISTORTION
#undef ORVAN_CHORUS
#undef ORVAN_WAVES
#undef ORVAN_I3DL2

}  // namespace orvan::engine
