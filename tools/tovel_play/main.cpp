// tovel-play: the command-line player. For now it describes music files (--info).
// CLI11's inlined string handling trips GCC's -Wnull-dereference analysis (a false
// positive inside the library), so that one warning is off for this file.
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <CLI/CLI.hpp>
#include <iostream>

#include "tools/tovel_play/info_command.h"
#include "tools/tovel_play/options.h"

int main(int argc, char** argv) {
  CLI::App app{"tovel-play: reads MIDI and RMID files with the Orvan music platform."};
  app.name("tovel-play");
  orvan::tovel_play::Options options;
  orvan::tovel_play::add_options(app, options);
  CLI11_PARSE(app, argc, argv);

  if (!options.info_file.empty()) {
    return orvan::tovel_play::run_info(options.info_file, std::cout, std::cerr);
  }
  std::cerr << "tovel-play: nothing to do\n" << app.help();
  return 2;
}
