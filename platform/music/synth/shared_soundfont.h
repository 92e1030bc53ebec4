// Keeps each SoundFont's sample data resident once per process.
//
// Every performance has its own FluidSynth synthesizer and loads the SoundFont into it with
// FluidSynth's default loader. That loader takes sample data from FluidSynth's process-wide
// sample cache (guarded by its own mutex, keyed by file name, modification time and sample
// range), so a second synthesizer shares the first one's samples instead of reading them
// again; only the small preset tables are per synthesizer. We do not hand one loaded sfont
// object to several synthesizers: its presets keep unsynchronised counters that voices on
// different render threads would race on.
//
// The cache frees an entry when its last user goes; a keeper synthesizer per file holds the
// samples for the rest of the process, so closing the last performance and opening another
// (as tests and players do) does not read them again.
#pragma once

#include <string>

#include "platform/com/status.h"

namespace orvan::music::synth {

// Loads `path` into the process-wide keeper if it is not there yet. MUSIC_E_SYNTH_FAILED
// when it is no SoundFont or FluidSynth cannot read it. Client threads only.
com::HResult retain_soundfont(const std::string& path);

// Number of distinct SoundFont files held (for tests and benchmarks).
int retained_soundfont_count();

}  // namespace orvan::music::synth
