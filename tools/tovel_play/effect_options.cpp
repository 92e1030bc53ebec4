#include "tools/tovel_play/effect_options.h"

#include <charconv>
#include <cmath>
#include <ostream>
#include <string_view>

#include "engine/effect_parameter_methods.h"
#include "orvan/status.h"

namespace orvan::tovel_play {
namespace {

using engine::EffectParameterMethod;
using engine::OrvanMusic;
namespace dsp = music::dsp;

struct Setting {
  const EffectParameterMethod* target = nullptr;
  double value = 0.0;
};

// "distortion, chorus, reverb, reverb3d"
void list_effects(std::ostream& out) {
  const char* separator = "";
  for (const dsp::EffectInfo* effect : dsp::kEffects) {
    out << separator << effect->name;
    separator = ", ";
  }
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
  out.target = engine::effect_parameter_method(effect, field);
  if (!out.target) {
    err << "tovel-play: no effect field '" << effect << "." << field << "'\n";
    return false;
  }
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), out.value);
  if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(out.value)) {
    err << "tovel-play: '" << number << "' is not a number (" << text << ")\n";
    return false;
  }
  const bool integral = out.target->field->type == dsp::FieldType::integer;
  if (integral && (out.value != std::trunc(out.value) || std::fabs(out.value) > 2147483647.0)) {
    err << "tovel-play: " << effect << "." << field << " takes a whole number, got '" << number
        << "'\n";
    return false;
  }
  return true;
}

}  // namespace

bool check_effect_options(const std::vector<std::string>& effects,
                          const std::vector<std::string>& settings, std::ostream& err) {
  for (const std::string& effect : effects) {
    if (!dsp::effect_named(effect)) {
      err << "tovel-play: unknown effect '" << effect << "' (known: ";
      list_effects(err);
      err << ")\n";
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
    const HRESULT hr = engine::switch_on_effect(music, *dsp::effect_named(effect));
    if (FAILED(hr)) {
      char fallback[ORVAN_STATUS_FALLBACK_SIZE];
      err << "tovel-play: could not switch on " << effect << ": "
          << orvan_status_describe(hr, fallback) << "\n";
      return false;
    }
  }
  for (const std::string& text : settings) {
    Setting s;
    parse_setting(text, s, err);
    if (s.target->call(music, s.value) != com::VARIANT_TRUE) {
      err << "tovel-play: the engine refused " << text << "\n";
      return false;
    }
  }
  return true;
}

}  // namespace orvan::tovel_play
