// The channel's own SoundFont, and rendering to a file on demand instead of to a device.
#include <algorithm>
#include <string>

#include "engine/orvan_music.h"
#include "platform/music/output/wav_device.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/synth/soundfont_locator.h"

namespace orvan::engine {

using com::failed;
using music::DirectMusicPerformance8;
using music::output::WavDevice;

namespace {

// A name with a NUL in it would reach the file system cut short: a different file.
bool usable_name(const std::string& path) {
  return path.find('\0') == std::string::npos;
}

}  // namespace

HResult OrvanMusic::SetSoundFont(const com::BStr& Filename) {
  const std::string path = Filename.to_utf8();
  if (!usable_name(path)) return com::E_INVALIDARG;
  if (HResult hr = UseSoundFont(path); failed(hr)) return hr;
  SoundFontFile.reset();
  return com::S_OK;
}

HResult OrvanMusic::UseSoundFont(const std::string& path) {
  if (Perf) {
    // The performance reads the file's directory now, so a bad file is refused here.
    if (HResult hr = Perf->SetSoundFont(path); failed(hr)) return hr;
  } else if (!path.empty()) {
    std::string located;
    if (HResult hr = music::synth::locate_soundfont(path, located); failed(hr)) return hr;
  }
  SoundFontPath = path;
  return com::S_OK;
}

HResult OrvanMusic::InitOrvanRender(const com::BStr& Filename, std::int32_t SampleRate) {
  const std::string path = Filename.to_utf8();
  if (!usable_name(path)) return com::E_INVALIDARG;
  // This channel's own render of the same file ends first: a new Init starts the file
  // afresh rather than joining it.
  if (Perf) (void)Perf->CloseDown();
  std::unique_ptr<WavDevice> device;
  if (HResult hr = WavDevice::open_stepped(path, SampleRate, device); failed(hr)) return hr;
  const HResult hr = StartChannel(0, SampleRate, std::move(device));
  if (failed(hr)) CleanupAudio();
  return hr;
}

HResult OrvanMusic::RenderFor(std::int32_t Milliseconds) {
  if (!Perf) return com::E_OBJECT_NOT_SET;
  auto* device = dynamic_cast<WavDevice*>(Perf->core()->device());
  if (!device || !device->stepped()) return com::DSERR_INVALIDCALL;
  if (HResult hr = device->render_milliseconds(Milliseconds); failed(hr)) return hr;
  // Everything heard in what was rendered is on its way before the caller goes on.
  Events.deliver();
  return com::S_OK;
}

}  // namespace orvan::engine
