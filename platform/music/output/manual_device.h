// An output device that renders only when a test asks it to, on the test's own thread:
// pump(n) renders exactly n frames, so tests are deterministic and need no sound card.
//
// Tests reach the manual device of a performance that an engine object created
// internally through the process-wide registry below, in the order the devices opened.
// A pointer from the registry stays valid until the device's owner closes it (the
// performance shuts down); use it on the thread that drives the engine.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/music/output/output_device.h"
#include "platform/music/output/render_meter.h"

namespace orvan::music::output {

class ManualDevice final : public OutputDevice {
 public:
  // `period_frames` 0 picks the same period the real-time device would use.
  explicit ManualDevice(int sample_rate, int period_frames = 0);
  ~ManualDevice() override;

  // E_POINTER for an empty source, DSERR_INVALIDCALL when already started.
  com::HResult start(RenderSource* source) override;
  // Waits for a pump running on another thread to finish.
  void stop() override;

  int sample_rate() const override { return sample_rate_; }
  int period_frames() const override { return period_frames_; }
  std::int64_t frames_rendered() const override { return meter_.frames(); }
  float last_period_peak() const override { return meter_.peak(); }
  float last_period_end_peak() const override { return meter_.end_peak(); }
  bool keeps_time() const override { return false; }

  // Renders exactly `frames` frames now on the calling thread, which is the render thread
  // for the duration, in calls of period_frames() frames (the last one may be shorter).
  // DSERR_INVALIDCALL when not started, E_INVALIDARG for a negative count.
  com::HResult pump(std::int64_t frames);

  // Interleaved stereo of every frame pumped since the last clear_capture(), while capture
  // is on (the default). Long renders that only need the meter can switch it off.
  const std::vector<float>& capture() const { return capture_; }
  std::int64_t captured_frames() const { return static_cast<std::int64_t>(capture_.size() / 2); }
  void clear_capture() { capture_.clear(); }
  void set_capture_enabled(bool enabled) { capture_enabled_ = enabled; }

 private:
  const int sample_rate_;
  const int period_frames_;
  std::mutex pump_mutex_;           // held while pumping, so stop() returns after the last render
  RenderSource* source_ = nullptr;  // guarded by pump_mutex_
  std::vector<float> period_;       // one period, allocated up front
  std::vector<float> capture_;
  bool capture_enabled_ = true;
  RenderMeter meter_;
};

// The manual devices open now, in opening order; nullptr for an index out of range.
ManualDevice* manual_device(int index);
int manual_device_count();
// The most recently opened manual device still open, or nullptr.
ManualDevice* last_manual_device();

}  // namespace orvan::music::output
