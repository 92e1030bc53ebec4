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

// The methods come from ORVAN_EFFECT_PARAMETER_METHODS (engine/generated/, made from the
// interface's description): each one's name, the type of its value, the record it patches and
// the field written. The enumerations hold the platform's own codes: they go into the record
// unchanged.

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
