// Real-time output through SDL2: float stereo at the performance's rate, a period of at
// most about 10 ms. SDL's own SDL_AUDIODRIVER is honoured, so `dummy` gives a real-time
// paced device on machines without sound hardware. SDL's audio callback thread is the
// render thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/music/output/output_device.h"
#include "platform/music/output/render_meter.h"

namespace orvan::music::output {

class SdlDevice final : public OutputDevice {
 public:
  // DSERR_NODRIVER when SDL has no audio driver or no device to open.
  static com::HResult open(int sample_rate, std::unique_ptr<OutputDevice>& device);
  ~SdlDevice() override;

  com::HResult start(RenderSource* source) override;
  void stop() override;

  int sample_rate() const override { return sample_rate_; }
  int period_frames() const override { return period_frames_; }
  std::int64_t frames_rendered() const override { return meter_.frames(); }
  float last_period_peak() const override { return meter_.peak(); }

 private:
  explicit SdlDevice(int sample_rate);
  // Render thread only (SDL's audio thread).
  static void fill(void* self, std::uint8_t* stream, int bytes) noexcept;

  std::uint32_t device_id_ = 0;  // 0 until opened
  const int sample_rate_;
  int period_frames_;
  std::atomic<RenderSource*> source_{nullptr};
  RenderMeter meter_;
};

}  // namespace orvan::music::output
