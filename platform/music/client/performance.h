// A performance: one synthesizer, one sequencer and one audio output, played by a render
// thread. Every method runs on the client's thread; none of them waits on the render
// thread for longer than a copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/music/types.h"

namespace orvan::music {

class DirectMusicSegment8;
class DirectMusicSegmentState8;
class DirectMusicAudioPath8;
class DirectSound8;
class DirectSoundBuffer8;
class EventHub;
class PerformanceCore;
namespace output {
class OutputDevice;
}

// How far the output has got: what a player needs to tell when a render is over and its
// tail has died away (see output::kSilencePeak and output::kLongestTailSeconds).
struct OutputProgress {
  std::int32_t sample_rate = 0;
  std::int64_t frames_rendered = 0;
  float last_period_peak = 0.0f;  // peak magnitude of the last period handed to the output
  // True once an output that renders faster than real time has rendered the music and its
  // tail; an output that keeps time (a sound card) never says so.
  bool music_done = false;
  // A real-time output's count of the times its device went away, of devices opened again
  // after that, and of periods rendered after the device needed them (heard as a dropout).
  std::int64_t device_losses = 0;
  std::int64_t device_reopens = 0;
  std::int64_t late_periods = 0;
};

class DirectMusicPerformance8 : public com::Object {
 public:
  // `hwnd` is recorded and may be 0; the rate comes from `params` when its validData has
  // DMUS_AUDIOPARAMS_SAMPLERATE (11025..96000 Hz), else 22050 Hz. Only path type
  // DMUS_APATH_SHARED_STEREOPLUSREVERB is supported.
  HResult InitAudio(std::int32_t hwnd, std::int32_t flags, DMUS_AUDIOPARAMS& params,
                    const Ref<DirectSound8>& sound, std::int32_t defaultPathType,
                    std::int32_t channelCount);
  HResult SetMasterAutoDownload(bool enable);
  HResult AddNotificationType(std::int32_t type);
  HResult RemoveNotificationType(std::int32_t type);
  HResult SetNotificationHandle(std::int32_t eventHandle);
  // `taken` is true when a message was taken off the queue, false when it was empty.
  HResult GetNotificationPMSG(DMUS_NOTIFICATION_PMSG& message, bool& taken);

  HResult PlaySegmentEx(const Ref<DirectMusicSegment8>& source, std::int32_t flags,
                        std::int32_t startTime, const Ref<com::Object>& from,
                        const Ref<DirectMusicAudioPath8>& audioPath,
                        Ref<DirectMusicSegmentState8>& state);
  // Stops every state of a segment, or one state; every note is released.
  HResult StopEx(const Ref<com::Object>& objectToStop, std::int32_t stopTime, std::int32_t flags);
  // Either reference may be empty, not both.
  HResult IsPlaying(const Ref<DirectMusicSegment8>& segment,
                    const Ref<DirectMusicSegmentState8>& state, bool& playing);

  // Holds the state's play where it is (notes released) and goes on from there; see
  // PerformanceCore::pause. DSERR_INVALIDCALL for an empty state.
  HResult Pause(const Ref<DirectMusicSegmentState8>& state);
  HResult Resume(const Ref<DirectMusicSegmentState8>& state);
  // Glides MIDI channel `channel` (1..16) to `volume` (-10000..0 hundredths of a dB on top
  // of the music's own, -10000 silent) over `milliseconds` (>= 0); E_INVALIDARG outside.
  HResult SetChannelVolume(std::int32_t channel, std::int32_t volume, std::int32_t milliseconds);

  HResult SetMasterTempo(float tempo);  // 0.01..100
  HResult GetMasterTempo(float& tempo);
  HResult SetMasterVolume(std::int32_t volume);   // hundredths of a dB, -20000..2000; ends a fade
  HResult GetMasterVolume(std::int32_t& volume);  // during a fade, where it goes
  // Glides the master volume from its present value to `volume` over `milliseconds` (>= 0),
  // evenly in decibels, from the next period on. MUSIC_E_NOT_INITIALIZED before InitAudio.
  HResult FadeMasterVolume(std::int32_t volume, std::int32_t milliseconds);
  // The SoundFont whose instruments MIDI segments played from now on use; empty: the one
  // the platform settings choose.
  HResult SetSoundFont(const std::string& path);
  // The next InitAudio opens this device instead of the one the platform settings choose
  // (a file rendered on demand).
  void UseOutputDevice(std::unique_ptr<output::OutputDevice> device);

  HResult GetDefaultAudioPath(Ref<DirectMusicAudioPath8>& path);
  // MUSIC_E_NOT_INITIALIZED while no output is open (before InitAudio, after CloseDown).
  HResult GetOutputProgress(OutputProgress& progress);
  HResult CloseDown();

  // For the root object.
  explicit DirectMusicPerformance8(std::shared_ptr<EventHub> events);
  // For the platform's own objects (paths, buffers, segments downloading instruments).
  PerformanceCore* core() const { return core_.get(); }
  std::int32_t window() const { return hwnd_; }
  bool auto_download() const { return auto_download_; }

 private:
  ~DirectMusicPerformance8() override;  // shuts down as CloseDown does

  std::unique_ptr<PerformanceCore> core_;
  Ref<DirectSoundBuffer8> buffer0_;  // buffer 0 of the default path, made by InitAudio
  std::unique_ptr<output::OutputDevice> next_device_;  // for the next InitAudio, if any
  std::int32_t hwnd_ = 0;
  bool auto_download_ = false;
};

}  // namespace orvan::music
