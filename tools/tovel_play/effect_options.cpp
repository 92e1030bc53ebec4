#include "tools/tovel_play/effect_options.h"

#include <charconv>
#include <cmath>
#include <ostream>
#include <string_view>
#include <variant>

#include "engine/orvan_music.h"
#include "platform/com/status.h"

namespace orvan::tovel_play {
namespace {

using com::HResult;
using engine::OrvanMusic;
using FloatMethod = HResult (OrvanMusic::*)(float, com::VariantBool&);
using IntMethod = HResult (OrvanMusic::*)(std::int32_t, com::VariantBool&);
using PhaseMethod = HResult (OrvanMusic::*)(engine::CONST_OSFX_PHASE, com::VariantBool&);
using WaveMethod = HResult (OrvanMusic::*)(engine::CONST_OSFX_WAVE, com::VariantBool&);
using Method = std::variant<FloatMethod, IntMethod, PhaseMethod, WaveMethod>;

struct FieldMethod {
  std::string_view effect;
  std::string_view field;  // as named in the effect's parameter record
  Method method;
};

const FieldMethod kFieldMethods[] = {
    {"distortion", "Gain", &OrvanMusic::SetFX_Dist_Gain},
    {"distortion", "Edge", &OrvanMusic::SetFX_Dist_Edge},
    {"distortion", "PostEQCenterFrequency", &OrvanMusic::SetFX_Dist_PostEQCenterFrequency},
    {"distortion", "PostEQBandwidth", &OrvanMusic::SetFX_Dist_PostEQBandwidth},
    {"distortion", "PreLowpassCutoff", &OrvanMusic::SetFX_Dist_PreLowpassCutoff},
    {"chorus", "WetDryMix", &OrvanMusic::SetFX_Cho_WetDryMix},
    {"chorus", "Depth", &OrvanMusic::SetFX_Cho_Depth},
    {"chorus", "Feedback", &OrvanMusic::SetFX_Cho_Feedback},
    {"chorus", "Frequency", &OrvanMusic::SetFX_Cho_Frequency},
    {"chorus", "Waveform", &OrvanMusic::SetFX_Cho_Waveform},
    {"chorus", "Delay", &OrvanMusic::SetFX_Cho_Delay},
    {"chorus", "Phase", &OrvanMusic::SetFX_Cho_Phase},
    {"reverb", "InGain", &OrvanMusic::SetFX_Rev_Gain},
    {"reverb", "ReverbMix", &OrvanMusic::SetFX_Rev_Mix},
    {"reverb", "ReverbTime", &OrvanMusic::SetFX_Rev_Time},
    {"reverb", "HighFreqRTRatio", &OrvanMusic::SetFX_Rev_HighFreqRTRatio},
    {"reverb3d", "Room", &OrvanMusic::SetFX_Rev3D_Room},
    {"reverb3d", "RoomHF", &OrvanMusic::SetFX_Rev3D_RoomHF},
    {"reverb3d", "RoomRolloffFactor", &OrvanMusic::SetFX_Rev3D_RoomRolloffFactor},
    {"reverb3d", "DecayTime", &OrvanMusic::SetFX_Rev3D_DecayTime},
    {"reverb3d", "DecayHFRatio", &OrvanMusic::SetFX_Rev3D_DecayHFRatio},
    {"reverb3d", "Reflections", &OrvanMusic::SetFX_Rev3D_Reflections},
    {"reverb3d", "ReflectionsDelay", &OrvanMusic::SetFX_Rev3D_ReflectionsDelay},
    {"reverb3d", "Reverb", &OrvanMusic::SetFX_Rev3D_Reverb},
    {"reverb3d", "ReverbDelay", &OrvanMusic::SetFX_Rev3D_ReverbDelay},
    {"reverb3d", "Diffusion", &OrvanMusic::SetFX_Rev3D_Diffusion},
    {"reverb3d", "Density", &OrvanMusic::SetFX_Rev3D_Density},
    {"reverb3d", "HFReference", &OrvanMusic::SetFX_Rev3D_HFReference},
};

struct Setting {
  const FieldMethod* target = nullptr;
  double value = 0.0;
};

bool known_effect(std::string_view name) {
  for (std::string_view known : kEffectNames)
    if (known == name) return true;
  return false;
}

// "reverb3d.DecayTime=2.5" -> the field's method and 2.5; false (with a line) otherwise.
bool parse_setting(std::string_view text, Setting& out, std::ostream& err) {
  const auto dot = text.find('.');
  const auto equals = text.find('=');
  if (dot == std::string_view::npos || equals == std::string_view::npos || equals < dot) {
    err << "tovel-play: --fx-param expects EFFECT.FIELD=VALUE, got '" << text << "'\n";
    return false;
  }
  const std::string_view effect = text.substr(0, dot);
  const std::string_view field = text.substr(dot + 1, equals - dot - 1);
  const std::string_view number = text.substr(equals + 1);
  for (const FieldMethod& f : kFieldMethods)
    if (f.effect == effect && f.field == field) out.target = &f;
  if (!out.target) {
    err << "tovel-play: no effect field '" << effect << "." << field << "'\n";
    return false;
  }
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), out.value);
  if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(out.value)) {
    err << "tovel-play: '" << number << "' is not a number (" << text << ")\n";
    return false;
  }
  const bool integral = !std::holds_alternative<FloatMethod>(out.target->method);
  if (integral && (out.value != std::trunc(out.value) || std::fabs(out.value) > 2147483647.0)) {
    err << "tovel-play: " << effect << "." << field << " takes a whole number, got '" << number
        << "'\n";
    return false;
  }
  return true;
}

com::VariantBool call_setter(OrvanMusic& music, const Setting& s) {
  com::VariantBool result = com::VARIANT_FALSE;
  const auto whole = static_cast<std::int32_t>(s.value);
  std::visit(
      [&](auto method) {
        using M = decltype(method);
        if constexpr (std::is_same_v<M, FloatMethod>)
          (music.*method)(static_cast<float>(s.value), result);
        else if constexpr (std::is_same_v<M, IntMethod>)
          (music.*method)(whole, result);
        else if constexpr (std::is_same_v<M, PhaseMethod>)
          (music.*method)(static_cast<engine::CONST_OSFX_PHASE>(whole), result);
        else
          (music.*method)(static_cast<engine::CONST_OSFX_WAVE>(whole), result);
      },
      s.target->method);
  return result;
}

HResult switch_on(OrvanMusic& music, std::string_view effect) {
  if (effect == "distortion") return music.Effect_DistortionOn();
  if (effect == "chorus") return music.Effect_ChorusOn();
  if (effect == "reverb") return music.Effect_ReverbOn();
  return music.Effect_3DReverb_On();
}

}  // namespace

bool check_effect_options(const std::vector<std::string>& effects,
                          const std::vector<std::string>& settings, std::ostream& err) {
  for (const std::string& effect : effects) {
    if (!known_effect(effect)) {
      err << "tovel-play: unknown effect '" << effect
          << "' (known: distortion, chorus, reverb, reverb3d)\n";
      return false;
    }
  }
  Setting parsed;
  for (const std::string& text : settings)
    if (!parse_setting(text, parsed, err)) return false;
  return true;
}

bool apply_effect_options(OrvanMusic& music, const std::vector<std::string>& effects,
                          const std::vector<std::string>& settings, std::ostream& err) {
  if (!check_effect_options(effects, settings, err)) return false;
  for (const std::string& effect : effects) {
    const HResult hr = switch_on(music, effect);
    if (com::failed(hr)) {
      err << "tovel-play: could not switch on " << effect << ": " << com::describe_status(hr)
          << "\n";
      return false;
    }
  }
  for (const std::string& text : settings) {
    Setting s;
    parse_setting(text, s, err);
    if (call_setter(music, s) != com::VARIANT_TRUE) {
      err << "tovel-play: the engine refused " << text << "\n";
      return false;
    }
  }
  return true;
}

}  // namespace orvan::tovel_play
