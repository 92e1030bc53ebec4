// The cue points a WAV file marks: its `cue ` chunk, named by the `labl` entries of a
// `LIST`/`adtl` chunk where it has them. Client thread, at load.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/music/wave/wave_source.h"

namespace orvan::music::wave {

// At most this many cue points are kept; a chunk that counts more is read up to here.
inline constexpr std::size_t kMostCuePoints = 1024;
// A label longer than this is cut: it names a marker, it is no document.
inline constexpr std::size_t kLongestCueName = 1024;

// The cue points of the RIFF WAVE file `file` (its offset is not used) with frames from 0 to
// `frames`, sorted by frame (points at one frame in the chunk's order). A point's frame is its
// sample offset in the data chunk; a later point (in this or another cue chunk) with an
// identifier already seen is left out;
// a name is the first `labl` text for the point's identifier, up to its first NUL, or empty.
// Anything that runs past its chunk or the file is left out and the rest still read: the
// result is empty for a file that is not RIFF WAVE or has no cue chunk, never an error.
std::vector<CuePoint> read_wav_cue_points(const FileCursor& file, std::int64_t frames);

}  // namespace orvan::music::wave
