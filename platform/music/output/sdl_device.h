// Real-time output through SDL2: float stereo, a period of at most 25 ms
// (period_frames_for). SDL's own SDL_AUDIODRIVER is honoured, so `dummy` gives a real-time
// paced device on machines without sound hardware.
//
// Every SdlDevice of the process plays through one SDL device, which mixes the devices
// that are started. Many drivers (dummy, a bare ALSA card) open only one device at a time,
// and two channels in one process must both sound. The SDL device runs at the rate of the
// first SdlDevice opened while none was open; a later one opened at another rate reports
// the shared rate from sample_rate(), and its source must render at that rate. SDL's
// audio callback thread is the render thread of every SdlDevice.
//
// When the SDL device goes away (the audio server stops or restarts, a card is unplugged),
// a thread of the output's own renders every started SdlDevice by the wall clock into
// nothing, so that positions, notifications and loops go on as if it were there, and opens
// the default device again in the background (shared_sdl_output.h). Music does not wait
// for the device: what is heard once it is back is where the music is by then.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/music/output/output_device.h"
#include "platform/music/output/render_meter.h"
#include "platform/music/output/render_pool.h"

namespace orvan::music::output {

// Threads the real-time output renders its channels on, from its next opening: 0 (the
// default) as many as the machine's cores allow, at most 2 (render_pool.h); 1 renders every
// channel on SDL's audio thread. For benchmarks that compare the two.
void set_render_threads(int threads);

class SdlDevice final : public OutputDevice, public PeriodRenderer {
 public:
  // SdlDevices that can be open at once.
  static constexpr int kMaxOpen = 16;

  // DSERR_NODRIVER when SDL has no audio driver or no device to open;
  // MUSIC_E_DEVICE_FAILED when kMaxOpen devices are open already.
  static com::HResult open(int sample_rate, std::unique_ptr<OutputDevice>& device);
  ~SdlDevice() override;

  // E_POINTER for an empty source, DSERR_INVALIDCALL when already started.
  com::HResult start(RenderSource* source) override;
  void stop() override;

  int sample_rate() const override { return sample_rate_; }
  int period_frames() const override { return period_frames_; }
  std::int64_t frames_rendered() const override { return meter_.frames(); }
  float last_period_peak() const override { return meter_.peak(); }
  float last_period_end_peak() const override { return meter_.end_peak(); }
  // Losses, reopens and late periods of the shared SDL device since this one was opened.
  OutputCounts counts() const override;
  // Every SdlDevice of the process plays through the one shared device, on its clock.
  const void* shared_output() const override;
  std::int64_t output_frame() const noexcept override;

  // For the shared SDL device's callback (render thread only): renders one period of at
  // most period_frames() frames of this device's source into `out`.
  void render_period(float* out, int frames) noexcept override;
  // Render thread only: the source's render_rank().
  int render_rank() const noexcept { return source_->render_rank(); }

 private:
  SdlDevice(int slot, int sample_rate, int period_frames, OutputCounts counts_at_open);

  const int slot_;
  const int sample_rate_;
  const int period_frames_;
  const OutputCounts counts_at_open_;
  RenderSource* source_ = nullptr;  // changed only with the shared output's render lock held
  RenderMeter meter_;
};

}  // namespace orvan::music::output
