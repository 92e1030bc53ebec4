// The 28 effect-parameter methods: each reads its effect's whole record from the platform,
// patches one field and writes the record back. They are made, with the table that names
// them, from one list.
#include <cstddef>
#include <type_traits>
#include <utility>

#include "engine/effect_parameter_methods.h"
#include "platform/ui/message_box.h"

namespace orvan::engine {

using com::call;
using com::failed;
using com::Ref;
using com::VariantBool;
using namespace music;

// Each method: its name, the type of its value, the record it patches and the field written.
// The enumerations hold the platform's own codes: they go into the record unchanged.
#define ORVAN_EFFECT_PARAMETER_METHODS(X)                                           \
  X(SetFX_Dist_Gain, float, DSFXDISTORTION, Gain)                                   \
  X(SetFX_Dist_Edge, float, DSFXDISTORTION, Edge)                                   \
  X(SetFX_Dist_PostEQCenterFrequency, float, DSFXDISTORTION, PostEQCenterFrequency) \
  X(SetFX_Dist_PostEQBandwidth, float, DSFXDISTORTION, PostEQBandwidth)             \
  X(SetFX_Dist_PreLowpassCutoff, float, DSFXDISTORTION, PreLowpassCutoff)           \
  X(SetFX_Cho_WetDryMix, float, DSFXCHORUS, WetDryMix)                              \
  X(SetFX_Cho_Depth, float, DSFXCHORUS, Depth)                                      \
  X(SetFX_Cho_Feedback, float, DSFXCHORUS, Feedback)                                \
  X(SetFX_Cho_Frequency, float, DSFXCHORUS, Frequency)                              \
  X(SetFX_Cho_Waveform, CONST_OSFX_WAVE, DSFXCHORUS, Waveform)                      \
  X(SetFX_Cho_Delay, float, DSFXCHORUS, Delay)                                      \
  X(SetFX_Cho_Phase, CONST_OSFX_PHASE, DSFXCHORUS, Phase)                           \
  X(SetFX_Rev_Gain, float, DSFXWAVESREVERB, InGain)                                 \
  X(SetFX_Rev_Mix, float, DSFXWAVESREVERB, ReverbMix)                               \
  X(SetFX_Rev_Time, float, DSFXWAVESREVERB, ReverbTime)                             \
  X(SetFX_Rev_HighFreqRTRatio, float, DSFXWAVESREVERB, HighFreqRTRatio)             \
  X(SetFX_Rev3D_Room, std::int32_t, DSFXI3DL2REVERB, Room)                          \
  X(SetFX_Rev3D_RoomHF, std::int32_t, DSFXI3DL2REVERB, RoomHF)                      \
  X(SetFX_Rev3D_RoomRolloffFactor, float, DSFXI3DL2REVERB, RoomRolloffFactor)       \
  X(SetFX_Rev3D_DecayTime, float, DSFXI3DL2REVERB, DecayTime)                       \
  X(SetFX_Rev3D_DecayHFRatio, float, DSFXI3DL2REVERB, DecayHFRatio)                 \
  X(SetFX_Rev3D_Reflections, std::int32_t, DSFXI3DL2REVERB, Reflections)            \
  X(SetFX_Rev3D_ReflectionsDelay, float, DSFXI3DL2REVERB, ReflectionsDelay)         \
  X(SetFX_Rev3D_Reverb, std::int32_t, DSFXI3DL2REVERB, Reverb)                      \
  X(SetFX_Rev3D_ReverbDelay, float, DSFXI3DL2REVERB, ReverbDelay)                   \
  X(SetFX_Rev3D_Diffusion, float, DSFXI3DL2REVERB, Diffusion)                       \
  X(SetFX_Rev3D_Density, float, DSFXI3DL2REVERB, Density)                           \
  X(SetFX_Rev3D_HFReference, float, DSFXI3DL2REVERB, HFReference)

namespace {

// Fetches the first effect of the record's class afresh into `object`, copies its
// parameters into `params`, overwrites one field and writes the record back.
template <class Record, class Field>
HResult patch(const Ref<DirectSoundBuffer8>& buffer, Ref<DirectSoundFX8<Record>>& object,
              Record& params, Field Record::*field, Field value) {
  using Fx = DirectSoundFX8<Record>;
  const dsp::EffectInfo& effect = dsp::effect_of<Record>;
  // The effect is fetched afresh every time: a reference kept from an earlier call may
  // belong to a chain that has been replaced since.
  Ref<com::Object> found;
  HResult hr = call(buffer, &DirectSoundBuffer8::GetObjectInPath, effect.class_text, 0,
                    effect.interface_text, found);
  if (failed(hr)) return hr;
  Ref<Fx> fx;
  hr = com::query(found, fx);
  if (failed(hr)) return hr;
  object = std::move(fx);
  Record current{};
  hr = call(object, &Fx::GetAllParameters, current);
  if (failed(hr)) return hr;
  params = current;
  params.*field = value;  // as given: the platform judges the range
  return call(object, &Fx::SetAllParameters, std::as_const(params));
}

// The catalogue's entry for a field the list names, checked against the record at compile
// time: a name, offset or type that disagrees does not build.
template <class Record>
consteval const dsp::FieldInfo* catalogued_field(std::string_view name, std::size_t offset,
                                                 bool is_float) {
  for (const dsp::FieldInfo& f : dsp::effect_of<Record>.fields) {
    if (f.name != name) continue;
    if (f.offset != offset || is_float != (f.type == dsp::FieldType::real))
      throw "the field does not match the effect catalogue";
    return &f;
  }
  throw "the field is not in the effect catalogue";
}

template <class Value>
Value value_as(double value) {
  if constexpr (std::is_same_v<Value, float>)
    return static_cast<float>(value);
  else
    return static_cast<Value>(static_cast<std::int32_t>(value));
}

}  // namespace

template <class Record, class Field>
HResult OrvanMusic::PatchEffectField(Field Record::*field, Field value, VariantBool& result) {
  result = com::VARIANT_FALSE;
  HResult hr;
  if constexpr (std::is_same_v<Record, DSFXDISTORTION>)
    hr = patch(DSBuffer, FXDistortion, DistortionParams, field, value);
  else if constexpr (std::is_same_v<Record, DSFXCHORUS>)
    hr = patch(DSBuffer, FXChorus, ChorusParams, field, value);
  else if constexpr (std::is_same_v<Record, DSFXWAVESREVERB>)
    hr = patch(DSBuffer, FXWavesReverb, WavesReverbParams, field, value);
  else
    hr = patch(DSBuffer, FX3DReverb, Reverb3DParams, field, value);
  if (failed(hr)) {
    ui::show_message_box(com::describe_status(hr), "", ui::MessageIcon::None);
    return com::S_OK;
  }
  result = com::VARIANT_TRUE;
  return com::S_OK;
}

#define ORVAN_DEFINE_METHOD(method, Value, Record, field)                                         \
  HResult OrvanMusic::method(Value value, VariantBool& result) {                                  \
    return PatchEffectField(&Record::field, static_cast<decltype(Record::field)>(value), result); \
  }
ORVAN_EFFECT_PARAMETER_METHODS(ORVAN_DEFINE_METHOD)
#undef ORVAN_DEFINE_METHOD

namespace {

#define ORVAN_TABLE_ENTRY(method, Value, Record, field)                      \
  {#method, &dsp::effect_of<Record>,                                         \
   catalogued_field<Record>(#field, offsetof(Record, field),                 \
                            std::is_same_v<decltype(Record::field), float>), \
   [](OrvanMusic& channel, double value) {                                   \
     VariantBool result = com::VARIANT_FALSE;                                \
     channel.method(value_as<Value>(value), result);                         \
     return result;                                                          \
   }},
const EffectParameterMethod kMethods[] = {ORVAN_EFFECT_PARAMETER_METHODS(ORVAN_TABLE_ENTRY)};
#undef ORVAN_TABLE_ENTRY

}  // namespace

#undef ORVAN_EFFECT_PARAMETER_METHODS

std::span<const EffectParameterMethod> effect_parameter_methods() noexcept {
  return kMethods;
}

const EffectParameterMethod* effect_parameter_method(std::string_view effect,
                                                     std::string_view field) noexcept {
  for (const EffectParameterMethod& m : kMethods)
    if (m.effect->name == effect && m.field->name == field) return &m;
  return nullptr;
}

}  // namespace orvan::engine
