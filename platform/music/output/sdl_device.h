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
#pragma once

#include <cstdint>
#include <memory>

#include "platform/music/output/output_device.h"
#include "platform/music/output/render_meter.h"

namespace orvan::music::output {

class SdlDevice final : public OutputDevice {
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

  // For the shared SDL device's callback (render thread only): renders one period of at
  // most period_frames() frames of this device's source into `out`.
  void render_period(float* out, int frames) noexcept;

 private:
  SdlDevice(std::uint32_t sdl_id, int slot, int sample_rate, int period_frames);

  const std::uint32_t sdl_id_;  // the shared SDL device, open as long as this one is
  const int slot_;
  const int sample_rate_;
  const int period_frames_;
  RenderSource* source_ = nullptr;  // changed only with SDL's device lock held
  RenderMeter meter_;
};

}  // namespace orvan::music::output
