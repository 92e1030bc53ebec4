// The loop a recording marks itself, the way game music tools write it: Vorbis comments
// LOOPSTART with LOOPLENGTH or LOOPEND (in FLAC, Ogg Vorbis and Opus files), each a count of
// samples or a time HH:MM:SS.mmm. A WAV file's sampler chunk is read through libsndfile
// beside this (wave_source.cpp). Client thread, at load.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/music/wave/wave_source.h"

namespace orvan::music::wave {

// Source frames start <= f < end; end 0: no loop.
struct FrameLoop {
  std::int64_t start = 0;
  std::int64_t end = 0;
};

// The "NAME=value" comments of a FLAC file's comment block or an Ogg stream's comment
// header (Vorbis or Opus), read from `file` (its offset is not used). Empty when the file
// has none or they cannot be read; never reads more than a bounded amount.
std::vector<std::string> read_vorbis_comments(const FileCursor& file, std::string_view container);

// The loop the comments mark in a file of `frames` frames at `rate` Hz: LOOPSTART with
// LOOPLENGTH or LOOPEND (exclusive), or LOOPSTART alone (to the end); names in any case. An
// end past the last frame is the last frame; a loop that ends where it starts is none.
FrameLoop loop_from_comments(const std::vector<std::string>& comments, int rate,
                             std::int64_t frames);

}  // namespace orvan::music::wave
