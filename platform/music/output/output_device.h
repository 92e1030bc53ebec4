// Audio output devices. A device owns the render thread: once started, it calls its
// source's render() from that thread until stopped. Which device a performance gets is a
// process-wide platform setting (settings.h).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/com/status.h"

namespace orvan::music::output {

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
};

// A tail has died away once a period peaks below this (-90 dBFS) ...
inline constexpr float kSilencePeak = 3.1623e-5f;
// ... or at the latest this long after the music's end.
inline constexpr double kLongestTailSeconds = 30.0;

// Opens the device the platform settings name at `sample_rate`. DSERR_NODRIVER when the
// real-time output has no device; MUSIC_E_DEVICE_FAILED for a WAV file that cannot be
// written.
com::HResult open_output_device(int sample_rate, std::unique_ptr<OutputDevice>& device);

}  // namespace orvan::music::output
