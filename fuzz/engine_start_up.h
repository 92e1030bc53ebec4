// What the targets that drive whole engine channels set up once per process: the manual
// output device (rendered only when a target pumps it), the small General MIDI SoundFont,
// message boxes that show nothing, and the leak suppression those runs need. Include it from
// a target's one source file: it defines the suppression function the leak checker looks up.
#pragma once

#include <memory>
#include <string>

#include "platform/music/client/settings.h"
#include "platform/ui/message_box.h"

namespace orvan::fuzz {

class SilentBoxes final : public ui::MessagePresenter {
 public:
  void present(const std::string&, const std::string&, ui::MessageIcon) override {}
};

// Called from LLVMFuzzerInitialize, before the first channel is made.
inline void start_engine_fuzzing() {
  music::PlatformSettings settings;
  settings.output = music::OutputKind::Manual;
  settings.soundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  music::set_platform_settings(settings);
  ui::set_message_presenter(std::make_shared<SilentBoxes>());
}

}  // namespace orvan::fuzz

// FluidSynth's DLS loader leaks a copied instrument name per load through GLib's allocator
// (see tests/lsan.supp); it would otherwise end every run that loads a collection. And its
// SoundFont loading keeps an allocation of 48 bytes when some damaged SoundFonts fail part
// way through (the fuzzer finds one within seconds); its library is built without frame
// pointers, so the fast unwinder's stack ends inside it and only the library can be named.
// The test suite's leak checks, which play only sound fonts that load, keep no such entry.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libglib-2.0.so\nleak:libfluidsynth.so\n";
}
