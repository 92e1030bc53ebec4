// tovel-play: the command-line player. Describes music files (--info) and plays them
// through the engine (FILE), in real time or into a WAV file.
// CLI11's inlined string handling trips GCC's -Wnull-dereference analysis (a false
// positive inside the library), so that one warning is off for this file.
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <CLI/CLI.hpp>
#include <iostream>

#include <unistd.h>

#include "tools/tovel_play/effect_options.h"
#include "tools/tovel_play/engine_play.h"
#include "tools/tovel_play/info_command.h"
#include "tools/tovel_play/options.h"

int main(int argc, char** argv) {
  CLI::App app{
      "tovel-play: describes and plays MIDI, RMID and audio files (WAV, FLAC, Ogg Vorbis, Opus, "
      "MP3) and tracker modules (MOD, XM, S3M, IT...) with the Orvan Music Engine."};
  app.name("tovel-play");
  orvan::tovel_play::Options options;
  orvan::tovel_play::add_options(app, options);
  CLI11_PARSE(app, argc, argv);

  if (!options.info_file.empty()) {
    return orvan::tovel_play::run_info(options.info_file, std::cout, std::cerr);
  }
  if (!options.play_file.empty()) {
    orvan::tovel_play::PlayRequest request;
    request.file = options.play_file;
    request.loops = options.loops;
    request.tempo = options.tempo;
    request.volume = options.volume;
    request.start = options.start;
    request.dls_file = options.dls_file;
    request.soundfont = options.soundfont;
    request.rate = options.rate;
    request.render_path = options.render_path;
    request.fallback_render_path = options.fallback_render_path;
    request.progress = !options.quiet;
    request.progress_terminal = isatty(STDERR_FILENO) != 0;
    request.events = options.events;
    request.effects = options.effects;
    request.effect_settings = options.effect_settings;
    request.then_file = options.then_file;
    request.boundary = orvan::tovel_play::boundary_named(options.at);
    request.fade = options.fade;
    // Mistyped options are reported before any audio starts.
    if (!options.loop.empty()) {
      request.loop.emplace();
      if (!orvan::tovel_play::parse_loop(options.loop, *request.loop, std::cerr)) return 2;
    }
    for (const std::string& text : options.stingers) {
      if (!orvan::tovel_play::parse_stinger(text, request.stingers.emplace_back(), std::cerr))
        return 2;
    }
    if (!orvan::tovel_play::check_effect_options(request.effects, request.effect_settings,
                                                 std::cerr))
      return 2;
    return orvan::tovel_play::run_engine_play(request, std::cout, std::cerr);
  }
  std::cerr << "tovel-play: nothing to do\n" << app.help();
  return 2;
}
