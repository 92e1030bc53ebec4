// `tovel-play FILE`: plays a file through one OrvanMusic object with the members a client
// program has, with a progress line; or renders it to a WAV file as fast as the machine
// allows (InitOrvanRender and RenderFor).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "tools/tovel_play/options.h"

namespace orvan::tovel_play {

struct PlayRequest {
  std::string file;
  std::int32_t loops = 0;              // repetitions after the first pass; -1 forever
  std::optional<float> tempo;          // master tempo factor
  std::optional<std::int32_t> volume;  // master volume, hundredths of a dB
  std::optional<std::int32_t> start;   // music time to start from
  std::string dls_file;                // non-empty: a collection for slot 0, applied
  std::string soundfont;               // non-empty: the channel's SoundFont
  std::int32_t rate = 48000;
  std::string render_path;                   // non-empty: render to this WAV file instead
  std::string fallback_render_path;          // non-empty: render here when there is no audio device
  bool progress = true;                      // the progress line on stderr
  bool progress_terminal = true;             // stderr is a terminal: redraw the line in place
  bool events = false;                       // each event on `out` as it is heard
  std::vector<std::string> effects;          // switched on in order before playing
  std::vector<std::string> effect_settings;  // EFFECT.FIELD=VALUE, applied after them
  std::optional<LoopRegion> loop;
  std::string then_file;      // non-empty: queued to follow on `boundary`
  std::int32_t boundary = 0;  // an OrvanBoundary, for the next piece and the stingers
  std::int32_t fade = 0;      // milliseconds the music fades out over when `then_file` starts
  std::vector<Stinger> stingers;
};

// Returns the process exit status: 0 when the music played to its end (or was interrupted
// by the user), 1 when it could not be played. Diagnostics go to `err`, one line each; the
// WAV file written, if any, is named on `out`.
int run_engine_play(const PlayRequest& request, std::ostream& out, std::ostream& err);

}  // namespace orvan::tovel_play
