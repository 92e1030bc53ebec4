#include "platform/music/client/performance.h"

#include <cmath>

#include "platform/music/client/audio_path.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/output/output_device.h"
#include "platform/music/render/performance_core.h"

namespace orvan::music {
namespace {

constexpr std::int32_t kDefaultSampleRate = 22050;

}  // namespace

DirectMusicPerformance8::DirectMusicPerformance8(std::shared_ptr<EventHub> events)
    : core_(std::make_unique<PerformanceCore>(std::move(events))) {}

DirectMusicPerformance8::~DirectMusicPerformance8() {
  CloseDown();
}

HResult DirectMusicPerformance8::InitAudio(std::int32_t hwnd, std::int32_t /*flags*/,
                                           DMUS_AUDIOPARAMS& params,
                                           const Ref<DirectSound8>& /*sound*/,
                                           std::int32_t defaultPathType,
                                           std::int32_t channelCount) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  if (core_->audio_running()) return com::MUSIC_E_ALREADY_INITIALIZED;
  if (defaultPathType != DMUS_APATH_SHARED_STEREOPLUSREVERB) {
    return com::MUSIC_E_UNSUPPORTED_PATH_TYPE;
  }
  if (channelCount < 0) return com::E_INVALIDARG;
  std::int32_t rate = kDefaultSampleRate;
  if (params.validData & DMUS_AUDIOPARAMS_SAMPLERATE) {
    if (params.sampleRate < output::kMinSampleRate || params.sampleRate > output::kMaxSampleRate) {
      return com::E_INVALIDARG;
    }
    rate = params.sampleRate;
  }
  if (HResult hr = core_->start_audio(rate, std::move(next_device_)); com::failed(hr)) return hr;
  hwnd_ = hwnd;
  // Report the rate actually used back to the caller, as the platform documents.
  params.sampleRate = core_->sample_rate();
  buffer0_ = com::make_ref<DirectSoundBuffer8>(core_.get());
  return com::S_OK;
}

HResult DirectMusicPerformance8::SetMasterAutoDownload(bool enable) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  auto_download_ = enable;
  return com::S_OK;
}

HResult DirectMusicPerformance8::AddNotificationType(std::int32_t type) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  if (type != DMUS_NOTIFY_ON_SEGMENT) return com::E_INVALIDARG;
  core_->enable_segment_notifications(true);
  return com::S_OK;
}

HResult DirectMusicPerformance8::RemoveNotificationType(std::int32_t type) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  if (type != DMUS_NOTIFY_ON_SEGMENT) return com::E_INVALIDARG;
  core_->enable_segment_notifications(false);
  return com::S_OK;
}

HResult DirectMusicPerformance8::SetNotificationHandle(std::int32_t eventHandle) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  core_->set_notification_handle(eventHandle);
  return com::S_OK;
}

HResult DirectMusicPerformance8::GetNotificationPMSG(DMUS_NOTIFICATION_PMSG& message, bool& taken) {
  taken = false;
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  taken = core_->take_notification(message);
  return taken ? com::S_OK : com::S_FALSE;
}

HResult DirectMusicPerformance8::PlaySegmentEx(const Ref<DirectMusicSegment8>& source,
                                               std::int32_t /*flags*/, std::int32_t /*startTime*/,
                                               const Ref<com::Object>& /*from*/,
                                               const Ref<DirectMusicAudioPath8>& audioPath,
                                               Ref<DirectMusicSegmentState8>& state) {
  if (!source) return com::E_POINTER;
  if (audioPath && audioPath->core() != core_.get()) return com::E_INVALIDARG;
  // Every play is primary and starts at the next block: the one playing is replaced.
  return core_->play(source, state);
}

HResult DirectMusicPerformance8::StopEx(const Ref<com::Object>& objectToStop,
                                        std::int32_t /*stopTime*/, std::int32_t /*flags*/) {
  if (!objectToStop) return core_->stop_everything();
  if (auto* segment = dynamic_cast<DirectMusicSegment8*>(objectToStop.get())) {
    return core_->stop_segment(segment);
  }
  if (auto* state = dynamic_cast<DirectMusicSegmentState8*>(objectToStop.get())) {
    return core_->stop_state(state);
  }
  if (auto* path = dynamic_cast<DirectMusicAudioPath8*>(objectToStop.get())) {
    if (path->core() != core_.get()) return com::E_INVALIDARG;
    return core_->stop_everything();
  }
  return com::E_INVALIDARG;
}

HResult DirectMusicPerformance8::IsPlaying(const Ref<DirectMusicSegment8>& segment,
                                           const Ref<DirectMusicSegmentState8>& state,
                                           bool& playing) {
  playing = false;
  if (!segment && !state) return com::E_POINTER;
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  playing = core_->is_playing(segment.get(), state.get());
  return com::S_OK;
}

HResult DirectMusicPerformance8::SetMasterTempo(float tempo) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  // The negated test also refuses NaN.
  if (!(tempo >= kMinMasterTempo && tempo <= kMaxMasterTempo)) return com::E_INVALIDARG;
  core_->set_master_tempo(tempo);
  return com::S_OK;
}

HResult DirectMusicPerformance8::GetMasterTempo(float& tempo) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  tempo = core_->master_tempo();
  return com::S_OK;
}

HResult DirectMusicPerformance8::SetMasterVolume(std::int32_t volume) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  if (volume < kMinMasterVolume || volume > kMaxMasterVolume) return com::E_INVALIDARG;
  core_->set_master_volume(volume);
  return com::S_OK;
}

HResult DirectMusicPerformance8::GetMasterVolume(std::int32_t& volume) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  volume = core_->master_volume();
  return com::S_OK;
}

HResult DirectMusicPerformance8::FadeMasterVolume(std::int32_t volume, std::int32_t milliseconds) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  if (volume < kMinMasterVolume || volume > kMaxMasterVolume || milliseconds < 0) {
    return com::E_INVALIDARG;
  }
  const std::int64_t frames = static_cast<std::int64_t>(milliseconds) * core_->sample_rate() / 1000;
  return core_->fade_master_volume(volume, frames);
}

HResult DirectMusicPerformance8::Pause(const Ref<DirectMusicSegmentState8>& state) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  return core_->pause(state.get());
}

HResult DirectMusicPerformance8::Resume(const Ref<DirectMusicSegmentState8>& state) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  return core_->resume(state.get());
}

HResult DirectMusicPerformance8::SetChannelVolume(std::int32_t channel, std::int32_t volume,
                                                  std::int32_t milliseconds) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  if (channel < 1 || channel > 16 || volume < -10000 || volume > 0 || milliseconds < 0) {
    return com::E_INVALIDARG;
  }
  const std::int64_t frames = static_cast<std::int64_t>(milliseconds) * core_->sample_rate() / 1000;
  return core_->ramp_channel_volume(channel - 1, volume, frames);
}

HResult DirectMusicPerformance8::SetSoundFont(const std::string& path) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  return core_->set_soundfont(path);
}

void DirectMusicPerformance8::UseOutputDevice(std::unique_ptr<output::OutputDevice> device) {
  next_device_ = std::move(device);
}

HResult DirectMusicPerformance8::GetDefaultAudioPath(Ref<DirectMusicAudioPath8>& path) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  if (!core_->audio_running()) return com::MUSIC_E_NOT_INITIALIZED;
  // A fresh path object each time: it holds the performance, which must not hold it back.
  path = com::make_ref<DirectMusicAudioPath8>(Ref<com::Object>::share(this), core_.get(), buffer0_);
  return com::S_OK;
}

HResult DirectMusicPerformance8::GetOutputProgress(OutputProgress& progress) {
  const output::OutputDevice* device = core_->device();
  if (!device) return com::MUSIC_E_NOT_INITIALIZED;
  progress.sample_rate = device->sample_rate();
  progress.frames_rendered = device->frames_rendered();
  progress.last_period_peak = device->last_period_peak();
  progress.music_done = device->music_done();
  const output::OutputCounts counts = device->counts();
  progress.device_losses = counts.device_losses;
  progress.device_reopens = counts.device_reopens;
  progress.late_periods = counts.late_periods;
  return com::S_OK;
}

HResult DirectMusicPerformance8::CloseDown() {
  core_->close();
  if (buffer0_) {
    buffer0_->detach_core();
    buffer0_.reset();
  }
  return com::S_OK;
}

}  // namespace orvan::music
