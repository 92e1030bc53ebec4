// Finds the General MIDI SoundFont a synthesizer downloads its instruments from.
#pragma once

#include <string>

#include "platform/com/status.h"

namespace orvan::music::synth {

// `preferred` (a program's PlatformSettings::soundfont) wins when it names a readable file;
// otherwise the system's default-GM.sf2, FluidR3_GM.sf2, TimGM6mb.sf2, then any other .sf2
// under /usr/share/sounds/sf2 and /usr/share/soundfonts. MUSIC_E_NO_SOUNDFONT when a
// preferred file is unreadable or nothing is found.
com::HResult locate_soundfont(const std::string& preferred, std::string& path);

}  // namespace orvan::music::synth
