#include "tools/tovel_play/options.h"

// CLI11's inlined string handling trips GCC's -Wnull-dereference analysis (a false
// positive inside the library), so that one warning is off for this file.
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <CLI/CLI.hpp>

namespace orvan::tovel_play {

void add_options(CLI::App& app, Options& options) {
  app.add_option("--info", options.info_file,
                 "Print one JSON object describing the MIDI or RMID file FILE on stdout: "
                 "format, tracks, division, length (music time, 768 per quarter note), "
                 "seconds (real time of the length at master tempo 1.0), tempo_changes, "
                 "events and the tempo map. Exit status 0; if the file cannot be read, one "
                 "line on stderr names it and the reason, and the exit status is 1.")
      ->option_text("FILE");
}

}  // namespace orvan::tovel_play
