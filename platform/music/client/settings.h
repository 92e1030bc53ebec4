// Process-wide platform settings, chosen by a program before it creates a performance.
// Programs call these; the platform itself reads no configuration of its own.
#pragma once

#include <string>

#include "platform/music/output/output_device.h"

namespace orvan::music {

using output::OutputKind;

struct PlatformSettings {
  OutputKind output = OutputKind::RealTime;  // the device every new performance opens
  std::string wav_path;                      // for OutputKind::WavFile
  std::string soundfont;  // empty: the system's General MIDI SoundFont, then known fallbacks
};

void set_platform_settings(const PlatformSettings& settings);
PlatformSettings platform_settings();

}  // namespace orvan::music
