// --fx and --fx-param: switching effects on and setting their fields through the engine's
// own methods, so the command line exercises exactly what a client would call. Effects and
// fields are named as in the effect catalogue (platform/music/dsp/effect_catalogue.h).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace orvan::engine {
class OrvanMusic;
}

namespace orvan::tovel_play {

// Checks the names and the EFFECT.FIELD=VALUE settings without touching an engine; on a
// mistake writes one line to `err` and returns false.
bool check_effect_options(const std::vector<std::string>& effects,
                          const std::vector<std::string>& settings, std::ostream& err);

// Switches `effects` on in order, then applies each setting with the engine's parameter
// method for that field. Returns false (after one line on `err`) when a switch-on fails or
// the engine refuses a value; the engine has shown its own message for a refused value.
bool apply_effect_options(engine::OrvanMusic& music, const std::vector<std::string>& effects,
                          const std::vector<std::string>& settings, std::ostream& err);

}  // namespace orvan::tovel_play
