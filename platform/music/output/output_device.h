// Audio output devices. A device owns the render thread: once started, it calls its
// source's render() from that thread until stopped. The performance chooses the kind of
// device it opens (from the process-wide platform settings, settings.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/com/status.h"
#include "platform/music/output/output_counts.h"

namespace orvan::music::output {

// The sample rates a device opens at, in Hz.
inline constexpr std::int32_t kMinSampleRate = 11025;
inline constexpr std::int32_t kMaxSampleRate = 96000;

enum class OutputKind {
  RealTime,  // SDL2 audio device, paced by the sound card (honours SDL_AUDIODRIVER)
  WavFile,   // rendered to a WAV file as fast as the machine allows
  Manual,    // rendered only when a test pumps frames (see manual_device.h)
};

// Produces interleaved stereo float frames, every one finite: devices mix sources together
// and pass their output on unchecked. Called on the render thread only: it must not
// allocate, block on a lock a client may hold for long, or log.
class RenderSource {
 public:
  virtual void render(float* interleaved_stereo, int frames) noexcept = 0;
  // Whether there is music to render: a play requested or under way. A device that renders
  // faster than real time waits while there is none, so that what it writes starts with
  // the music, however long the client took to set up. Render thread only.
  virtual bool music_pending() const noexcept { return true; }
  // Where the source renders among those mixed into one output: lower ranks first, so that
  // a source that follows another's clock sees that clock's period before it renders its
  // own. Render thread only.
  virtual int render_rank() const noexcept { return 0; }

 protected:
  ~RenderSource() = default;
};

class OutputDevice {
 public:
  virtual ~OutputDevice() = default;

  // Starts calling source->render(). The source must outlive stop().
  virtual com::HResult start(RenderSource* source) = 0;
  // Returns once the render thread has made its last call. Harmless when not started.
  virtual void stop() = 0;

  virtual int sample_rate() const = 0;
  // Frames per render() call (the last call of a manual pump may be shorter).
  virtual int period_frames() const = 0;
  // Frames rendered so far and the peak magnitude of the last period: what a player needs
  // to tell when a render has died away. Safe to read from any thread.
  virtual std::int64_t frames_rendered() const = 0;
  virtual float last_period_peak() const = 0;
  // The peak magnitude of the last 64 frames of the last period: the level a change has
  // reached by the time its period is handed over.
  virtual float last_period_end_peak() const = 0;
  // True once a device that renders faster than real time has rendered the music and its
  // tail, and waits for more music: the point where a render is complete. Devices that
  // keep time never say so. Safe to read from any thread.
  virtual bool music_done() const { return false; }
  // Whether render() keeps pace with a clock (a sound card). A device that renders as fast
  // as it can has no deadline, so a source may wait there for data it streams.
  virtual bool keeps_time() const { return true; }
  // Device losses, reopens and late periods since the device was opened; a device without
  // a clock of its own never loses anything or runs late. Safe to read from any thread.
  virtual OutputCounts counts() const { return {}; }
  // The output this device's periods are mixed into with other devices' (one identity per
  // output), or nullptr when it plays alone: sources of devices with the same output advance
  // on one sample clock. Safe to read from any thread.
  virtual const void* shared_output() const { return nullptr; }
  // Render thread only, while a period renders: that period's first frame on the shared
  // output's clock (for a device playing alone, on its own).
  virtual std::int64_t output_frame() const noexcept { return frames_rendered(); }
};

// A tail has died away once a period peaks below this (-90 dBFS) ...
inline constexpr float kSilencePeak = 3.1623e-5f;
// ... or at the latest this long after the music's end.
inline constexpr double kLongestTailSeconds = 30.0;

// Opens a device of `kind` at `sample_rate` (`wav_path` names the file of a WavFile device).
// E_INVALIDARG for a rate outside the limits above; DSERR_NODRIVER when the real-time
// output has no device; MUSIC_E_DEVICE_FAILED for a WAV file that cannot be written.
com::HResult open_output_device(OutputKind kind, const std::string& wav_path, int sample_rate,
                                std::unique_ptr<OutputDevice>& device);

}  // namespace orvan::music::output
