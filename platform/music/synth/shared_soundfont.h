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
// The cache frees an entry when its last user goes. So that closing the last performance
// and opening another (as tests and players do) does not read the samples again, the first
// synthesizer to close hands its SoundFont over to be kept, unused, for the rest of the
// process. Nothing is loaded for keeping alone: a process with one performance loads its
// SoundFont once.
#pragma once

#include <string>

#include "platform/com/status.h"

struct _fluid_synth_t;

namespace orvan::music::synth {

// S_OK when `path` is a SoundFont file; MUSIC_E_SYNTH_FAILED otherwise. Only a SoundFont
// goes to FluidSynth: its other loaders would try anything else and complain through a log
// the platform does not control. Client threads only.
com::HResult check_soundfont(const std::string& path);

// Called by a synthesizer that is closing, with its SoundFont `font_id` loaded from
// `path`. If no SoundFont from `path` is kept yet, takes that one out of the synthesizer
// and keeps it. The synthesizer must no longer render. Client threads only.
void keep_soundfont(const std::string& path, struct _fluid_synth_t* synth, int font_id);

// Number of distinct SoundFont files kept (for tests and benchmarks).
int kept_soundfont_count();

}  // namespace orvan::music::synth
