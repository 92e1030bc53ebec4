// Creation, InitOrvanAudio, CleanupAudio, the notification callback and destruction.
#include <utility>

#include "engine/orvan_music.h"
#include "platform/music/render/performance_core.h"
#include "platform/ui/message_box.h"

namespace orvan::engine {

using com::call;
using com::failed;
using com::Ref;
using namespace music;

OrvanMusic::OrvanMusic() : MaxDLS(kInitialMaxDLS), DLSCollections(kInitialMaxDLS + 1) {}

OrvanMusic::~OrvanMusic() {
  Events.set_handler(nullptr);
  ui::show_message_box(kFarewellText, "", ui::MessageIcon::None);
  // Events first: DestroyEvent waits for a callback in flight, so from here on nothing
  // calls DXCallback, even if someone else still holds the root.
  if (DX) {
    for (const std::int32_t handle : live_events_) (void)DX->DestroyEvent(handle);
  }
  live_events_.clear();
  DX.reset();
  // Then the effect objects and the buffer before the performance they belong to. A
  // performance without CloseDown shuts itself down when its last reference goes.
  FXChorus.reset();
  FXDistortion.reset();
  FXWavesReverb.reset();
  FX3DReverb.reset();
  DSBuffer.reset();
  SegState.reset();
  QueuedFrom.reset();
  Seg.reset();
  Loader.reset();
  ReplacePerf(nullptr);
  DLSCollections.clear();
}

HResult OrvanMusic::EnsureDX() {
  if (DX) return com::S_OK;
  DX = DirectX8::create();
  return DX ? com::S_OK : com::E_OUTOFMEMORY;
}

void OrvanMusic::ReplacePerf(Ref<DirectMusicPerformance8> next) {
  Ref<DirectMusicPerformance8> previous;
  {
    std::lock_guard lock(perf_guard_);
    previous = std::exchange(Perf, std::move(next));
  }
  // `previous` may be the last reference: its shutdown runs here, outside the guard, so a
  // callback waiting on the guard never waits for a performance to close.
}

HResult OrvanMusic::StartChannel(std::int32_t hwnd, std::int32_t SampleRate,
                                 std::unique_ptr<output::OutputDevice> device) {
  HResult hr = EnsureDX();
  if (failed(hr)) return hr;
  Ref<DirectMusicPerformance8> performance;
  hr = DX->DirectMusicPerformanceCreate(performance);
  if (failed(hr)) return hr;
  ReplacePerf(std::move(performance));
  auto ring = std::make_shared<music::MusicEventRing>();
  Perf->core()->set_music_events(ring);
  Events.attach(std::move(ring));
  if (device) Perf->UseOutputDevice(std::move(device));

  hr = EnsureDX();
  if (failed(hr)) return hr;
  Ref<DirectMusicLoader8> loader;
  hr = DX->DirectMusicLoaderCreate(loader);
  if (failed(hr)) return hr;
  Loader = std::move(loader);

  AudioParams.sampleRate = SampleRate;
  AudioParams.validData = DMUS_AUDIOPARAMS_SAMPLERATE;

  {
    const Ref<DirectSound8> no_device;
    hr = call(Perf, &DirectMusicPerformance8::InitAudio, hwnd, DMUS_AUDIOF_ALL, AudioParams,
              no_device, DMUS_APATH_SHARED_STEREOPLUSREVERB, kPerformanceChannels);
    if (failed(hr)) return hr;
  }
  hr = call(Perf, &DirectMusicPerformance8::SetMasterAutoDownload, true);
  if (failed(hr)) return hr;
  hr = call(Perf, &DirectMusicPerformance8::AddNotificationType, DMUS_NOTIFY_ON_SEGMENT);
  if (failed(hr)) return hr;
  if (!SoundFontPath.empty()) {
    hr = call(Perf, &DirectMusicPerformance8::SetSoundFont, SoundFontPath);
    if (failed(hr)) return hr;
  }

  hr = EnsureDX();
  if (failed(hr)) return hr;
  std::int32_t handle = 0;
  hr = DX->CreateEvent(&event_sink_, handle);
  if (failed(hr)) return hr;
  NotifyEvent = handle;
  live_events_.push_back(handle);

  return call(Perf, &DirectMusicPerformance8::SetNotificationHandle, NotifyEvent);
}

HResult OrvanMusic::InitOrvanAudio(const std::int32_t& hwnd, const std::int32_t& SampleRate) {
  if (failed(StartChannel(hwnd, SampleRate, nullptr))) {
    ui::show_message_box(kInitFailedText, kInitFailedCaption, ui::MessageIcon::Information);
    CleanupAudio();
  }
  return com::S_OK;
}

HResult OrvanMusic::CleanupAudio() {
  FXChorus.reset();
  FXDistortion.reset();
  FXWavesReverb.reset();
  FX3DReverb.reset();
  DSBuffer.reset();
  (void)call(Perf, &DirectMusicPerformance8::RemoveNotificationType, DMUS_NOTIFY_ON_SEGMENT);
  // DestroyEvent waits for a callback in flight: after it, no callback reads Perf.
  if (!failed(EnsureDX()) && !failed(DX->DestroyEvent(NotifyEvent))) {
    std::erase(live_events_, NotifyEvent);
  }
  if (Seg) (void)call(Perf, &DirectMusicPerformance8::StopEx, Seg, 0, 0);
  Seg.reset();
  SegState.reset();
  QueuedFrom.reset();
  Loader.reset();
  if (Perf) (void)Perf->CloseDown();
  ReplacePerf(nullptr);
  // What the channel rendered before it closed is still told.
  Events.attach(nullptr);
  return com::S_OK;
}

// Runs on the platform's notification thread.
HResult OrvanMusic::DXCallback(std::int32_t /*eventid*/) {
  bool taken = false;
  HResult hr;
  {
    DMUS_NOTIFICATION_PMSG message;
    std::lock_guard lock(perf_guard_);
    hr = call(Perf, &DirectMusicPerformance8::GetNotificationPMSG, message, taken);
  }
  if (failed(hr)) return hr;
  if (!taken) {
    ui::show_message_box(kNotificationFailedText, kNotificationFailedCaption,
                         ui::MessageIcon::Information);
  }
  return com::S_OK;
}

}  // namespace orvan::engine
