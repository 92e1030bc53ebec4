// `tovel-play --info FILE`: what the MIDI reader or the audio decoder makes of a file, as JSON.
#pragma once

#include <iosfwd>
#include <string>

namespace orvan::tovel_play {

// Writes the JSON object to `out` and returns 0, or one line to `err` and returns 1.
int run_info(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace orvan::tovel_play
