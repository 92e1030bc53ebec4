// Process-wide platform settings, chosen by a program before it creates a performance.
// Programs call these; the platform itself reads no configuration of its own.
#pragma once

#include <string>

namespace orvan::music {

enum class OutputKind {
  RealTime,  // SDL2 audio device, paced by the sound card (honours SDL_AUDIODRIVER)
  WavFile,   // rendered to a WAV file as fast as the machine allows
  Manual,    // rendered only when a test pumps frames (see output/manual_device.h)
};

struct PlatformSettings {
  OutputKind output = OutputKind::RealTime;
  std::string wav_path;   // for OutputKind::WavFile
  std::string soundfont;  // empty: the system's General MIDI SoundFont, then known fallbacks
};

void set_platform_settings(const PlatformSettings& settings);
PlatformSettings platform_settings();

}  // namespace orvan::music
