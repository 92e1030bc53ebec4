// The command line of tovel-play: one struct with every option and its default, filled by
// add_options(). A new option goes here and into add_options(); its action into main.cpp.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace orvan::tovel_play {

struct Options {
  std::string info_file;  // --info FILE: describe the file as JSON and exit
};

void add_options(CLI::App& app, Options& options);

}  // namespace orvan::tovel_play
