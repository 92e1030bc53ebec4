// The command line of tovel-play: one struct with every option and its default, filled by
// add_options(). A new option goes here and into add_options(); its action into main.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace orvan::tovel_play {

struct Options {
  std::string info_file;  // --info FILE: describe the file as JSON and exit

  // Playing (FILE without --info).
  std::string play_file;                     // FILE
  std::int32_t loops = 0;                    // --loops N
  std::optional<float> tempo;                // --tempo F
  std::optional<std::int32_t> volume;        // --volume MB
  std::optional<std::int32_t> start;         // --start TICKS
  std::string dls_file;                      // --dls FILE
  std::int32_t rate = 48000;                 // --rate HZ
  std::string render_path;                   // --render OUT.wav
  std::string fallback_render_path;          // --fallback-render OUT.wav
  bool quiet = false;                        // --quiet: no progress line
  bool events = false;                       // --events: print each event as it is heard
  std::vector<std::string> effects;          // --fx LIST: switched on in this order
  std::vector<std::string> effect_settings;  // --fx-param EFFECT.FIELD=VALUE, repeatable
};

void add_options(CLI::App& app, Options& options);

}  // namespace orvan::tovel_play
