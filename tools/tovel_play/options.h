// The command line of tovel-play: one struct with every option and its default, filled by
// add_options(). A new option goes here and into add_options(); its action into main.cpp.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
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
  std::string soundfont;                     // --soundfont FILE
  std::int32_t rate = 48000;                 // --rate HZ
  std::string render_path;                   // --render OUT.wav
  std::string fallback_render_path;          // --fallback-render OUT.wav
  bool quiet = false;                        // --quiet: no progress line
  bool events = false;                       // --events: print each event as it is heard
  std::vector<std::string> effects;          // --fx LIST: switched on in this order
  std::vector<std::string> effect_settings;  // --fx-param EFFECT.FIELD=VALUE, repeatable
  std::string loop;                          // --loop START:END
  std::string then_file;                     // --then FILE
  std::string at = "bar";                    // --at beat|bar|end|marker
  std::int32_t fade = 0;                     // --fade MS
  std::vector<std::string> stingers;         // --stinger FILE@SECONDS, repeatable
};

void add_options(CLI::App& app, Options& options);

// The loop region START:END in music time.
struct LoopRegion {
  std::int32_t start = 0;
  std::int32_t end = 0;
};

// A stinger and the time of the music (seconds from the first sample) to queue it at.
struct Stinger {
  std::string file;
  double seconds = 0.0;
};

// Parse --loop and --stinger values; on a mistake write one line to `err` and return false.
bool parse_loop(std::string_view text, LoopRegion& region, std::ostream& err);
bool parse_stinger(std::string_view text, Stinger& stinger, std::ostream& err);

// The interface's boundary value for an --at name ("beat" ...), checked by add_options().
std::int32_t boundary_named(std::string_view name);

}  // namespace orvan::tovel_play
