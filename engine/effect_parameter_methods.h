// The engine's effect methods as data, for programs that name effects and fields in text
// (tovel-play's --fx and --fx-param): which catalogued field each of the 28 parameter
// methods writes, and which method switches each effect on.
#pragma once

#include <span>
#include <string_view>

#include "engine/orvan_music.h"
#include "platform/music/dsp/effect_catalogue.h"

namespace orvan::engine {

struct EffectParameterMethod {
  std::string_view name;  // "SetFX_Rev3D_Density"
  const music::dsp::EffectInfo* effect;
  const music::dsp::FieldInfo* field;
  // Calls the method with `value` as its parameter type (a whole number for an integer
  // field: the caller checks) and returns the method's result.
  com::VariantBool (*call)(OrvanMusic& channel, double value);
};

std::span<const EffectParameterMethod> effect_parameter_methods() noexcept;

// The method that writes `field` of the effect named `effect` ("reverb3d", "DecayTime");
// nullptr when there is none.
const EffectParameterMethod* effect_parameter_method(std::string_view effect,
                                                     std::string_view field) noexcept;

// Calls the switch-on method of a catalogued effect (Effect_DistortionOn for distortion...).
HResult switch_on_effect(OrvanMusic& channel, const music::dsp::EffectInfo& effect);

}  // namespace orvan::engine
