#include "tools/tovel_play/options.h"

// CLI11's inlined string handling trips GCC's -Wnull-dereference analysis (a false
// positive inside the library), so that one warning is off for this file.
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <ostream>

#include "orvan/tovel.h"

namespace orvan::tovel_play {

namespace {

struct BoundaryName {
  const char* name;
  OrvanBoundary value;
};
constexpr BoundaryName kBoundaries[] = {
    {"beat", OBND_BEAT}, {"bar", OBND_BAR}, {"end", OBND_END}, {"marker", OBND_MARKER}};

// The whole of `text` as a number, or false.
template <typename Number>
bool whole_number(std::string_view text, Number& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool parse_loop(std::string_view text, LoopRegion& region, std::ostream& err) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos || !whole_number(text.substr(0, colon), region.start) ||
      !whole_number(text.substr(colon + 1), region.end)) {
    err << "tovel-play: --loop expects START:END in music time, got '" << text << "'\n";
    return false;
  }
  return true;
}

bool parse_stinger(std::string_view text, Stinger& stinger, std::ostream& err) {
  // The last '@': a file name may hold one, the time cannot.
  const auto at = text.rfind('@');
  if (at == std::string_view::npos || at == 0 ||
      !whole_number(text.substr(at + 1), stinger.seconds) || !std::isfinite(stinger.seconds) ||
      stinger.seconds < 0.0) {
    err << "tovel-play: --stinger expects FILE@SECONDS, got '" << text << "'\n";
    return false;
  }
  stinger.file = text.substr(0, at);
  return true;
}

std::int32_t boundary_named(std::string_view name) {
  for (const BoundaryName& b : kBoundaries)
    if (name == b.name) return b.value;
  return OBND_IMMEDIATE;
}

void add_options(CLI::App& app, Options& options) {
  app.add_option(
         "--info", options.info_file,
         "Print one JSON object describing the MIDI or RMID file FILE on stdout: "
         "format, tracks, division, length (music time, 768 per quarter note), "
         "seconds (real time of the length at master tempo 1.0), tempo_changes, "
         "events and the tempo map. An audio file is described by its format, codec, rate, "
         "channels, frames, seconds and length; a tracker module by its format, title, "
         "channels, orders, patterns, rows_per_beat, rows, seconds and length "
         "(768 per beat of rows_per_beat rows). Exit status 0; if the file cannot be read, one "
         "line on stderr names it and the reason, and the exit status is 1.")
      ->option_text("FILE");

  app.add_option("file", options.play_file,
                 "Play the music file FILE (MIDI, audio or tracker module) through one engine "
                 "object, with a progress "
                 "line (position / length in music time, and in seconds) on stderr. The music "
                 "plays to its end and its tail dies away; Ctrl-C stops it.")
      ->option_text("FILE");
  app.add_option("--loops", options.loops,
                 "Repetitions after the first pass (default 0; -1 repeats until Ctrl-C).")
      ->option_text("N");
  app.add_option("--tempo", options.tempo, "Master tempo factor, 0.01 to 100 (default 1.0).")
      ->option_text("F");
  app.add_option("--volume", options.volume,
                 "Master volume in hundredths of a decibel, -20000 to 2000 (default 0).")
      ->option_text("MB");
  app.add_option("--start", options.start,
                 "Start at this music time (768 per quarter note) instead of the beginning.")
      ->option_text("TICKS");
  app.add_option("--dls", options.dls_file,
                 "Load the DLS instrument collection FILE into slot 0 and apply it to the music "
                 "once it is loaded: its instruments play the programs it has, General MIDI "
                 "the rest. A file that cannot be loaded as a collection is named with the "
                 "reason, and the exit status is 1.")
      ->option_text("FILE");
  app.add_option("--rate", options.rate,
                 "Output sample rate in Hz, 11025 to 96000 (default 48000).")
      ->option_text("HZ");
  app.add_option("--render", options.render_path,
                 "Render to the WAV file OUT.wav as fast as the machine allows instead of "
                 "playing. The render ends when the music has ended and the output has fallen "
                 "below -90 dBFS, or 30 s after the music's end.")
      ->option_text("OUT.wav");
  app.add_option("--fallback-render", options.fallback_render_path,
                 "When there is no audio device, say so in one line and render to OUT.wav "
                 "instead (as --render does) rather than failing.")
      ->option_text("OUT.wav");
  app.add_flag("--quiet", options.quiet, "No progress line.");
  app.add_flag("--events", options.events,
               "Print each event (start, beat, marker, loop, end) with its frame and time as it "
               "is heard or rendered.");
  app.add_option("--fx", options.effects,
                 "Switch effects on before playing, in the order given (comma-separated): "
                 "distortion, chorus, reverb (waves reverb), reverb3d (I3DL2 reverb).")
      ->delimiter(',')
      // One value per occurrence: without this, a vector option would also take the file.
      ->allow_extra_args(false)
      ->option_text("LIST");
  app.add_option("--fx-param", options.effect_settings,
                 "Set one effect field through the engine, after --fx, e.g. "
                 "reverb3d.DecayTime=2.5, chorus.Phase=3, distortion.Gain=-20; fields are "
                 "named as in the effect's parameter record. Repeatable. A value the engine "
                 "refuses prints its message and the exit status is 1.")
      ->allow_extra_args(false)
      ->option_text("EFFECT.FIELD=VALUE");
  app.add_option("--soundfont", options.soundfont,
                 "Play MIDI with the instruments of the SoundFont FILE (SF2 or SF3) instead of "
                 "the system's General MIDI SoundFont.")
      ->option_text("FILE");
  app.add_option("--loop", options.loop,
                 "Loop the region START:END (music time): the music plays from its start, "
                 "repeats the region --loops times, then plays on to its end.")
      ->option_text("START:END");
  app.add_option("--then", options.then_file,
                 "Queue FILE to follow the music on the first --at boundary, the music fading "
                 "out over --fade from there.")
      ->option_text("FILE");
  std::vector<std::string> boundaries;
  for (const BoundaryName& b : kBoundaries) boundaries.emplace_back(b.name);
  app.add_option("--at", options.at,
                 "Where --then and --stinger start: the next beat, bar, end of the pass or "
                 "loop, or marker (default bar).")
      ->check(CLI::IsMember(boundaries))
      ->option_text("beat|bar|end|marker");
  app.add_option("--fade", options.fade,
                 "Milliseconds over which the music fades out when --then starts (default 0: "
                 "it stops on the boundary, its tails ringing out).")
      ->option_text("MS");
  app.add_option("--stinger", options.stingers,
                 "Play FILE once over the music, queued SECONDS into the output for the next "
                 "--at boundary. Repeatable.")
      ->allow_extra_args(false)
      ->option_text("FILE@SECONDS");
}

}  // namespace orvan::tovel_play
