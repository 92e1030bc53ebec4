// Renders to a WAV file (32-bit float stereo) only when its owner asks: render(n) writes
// exactly n frames, on the calling thread, which is the render thread for the duration.
// Nothing advances between calls, so a program gets exact, repeatable timing: the same
// calls make the same file, byte for byte. Closing the device completes the file's header.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/music/output/output_device.h"
#include "platform/music/output/render_meter.h"

struct sf_private_tag;

namespace orvan::music::output {

class FileRenderDevice final : public OutputDevice {
 public:
  // Frames a WAV file of 32-bit float stereo can hold.
  static constexpr std::int64_t kMaxFrames = (0xFFFFFFFFll - 4096) / 8;

  // Creates (or truncates) the file now: MUSIC_E_DEVICE_FAILED when it cannot be written,
  // E_INVALIDARG for a rate outside kMinSampleRate..kMaxSampleRate.
  static com::HResult open(const std::string& path, int sample_rate,
                           std::unique_ptr<FileRenderDevice>& device);
  ~FileRenderDevice() override;  // stops, then completes the file's header

  // E_POINTER for an empty source, DSERR_INVALIDCALL when already started.
  com::HResult start(RenderSource* source) override;
  // Waits for a render running on another thread to finish.
  void stop() override;

  // Renders exactly `frames` frames now and writes them, in calls of period_frames()
  // frames (the last one may be shorter). DSERR_INVALIDCALL when not started, E_INVALIDARG
  // for a negative count or one that would take the file past kMaxFrames,
  // MUSIC_E_DEVICE_FAILED when a write fails (the disk is full).
  com::HResult render(std::int64_t frames);

  int sample_rate() const override { return sample_rate_; }
  int period_frames() const override { return period_frames_; }
  std::int64_t frames_rendered() const override { return meter_.frames(); }
  float last_period_peak() const override { return meter_.peak(); }
  float last_period_end_peak() const override { return meter_.end_peak(); }
  bool keeps_time() const override { return false; }

 private:
  FileRenderDevice(sf_private_tag* file, int sample_rate);

  sf_private_tag* file_;
  const int sample_rate_;
  const int period_frames_;
  std::mutex render_mutex_;         // held while rendering, so stop() returns after the last
  RenderSource* source_ = nullptr;  // guarded by render_mutex_
  std::vector<float> period_;       // one period, allocated up front
  RenderMeter meter_;
};

}  // namespace orvan::music::output
