// Renders to a WAV file (32-bit float stereo), in one of two ways:
//
// - open(): as fast as the machine allows. The render thread is the device's own; it runs
//   from start() until stop() and writes each period to the file itself, holding no lock
//   a client waits on. Time in the file is the music's, not the wall clock's: the thread
//   renders only while its source has music pending, then the tail until it dies away
//   (kSilencePeak, at most kLongestTailSeconds), and otherwise waits. So a file starts with
//   the music and two renders of the same requests are the same file, however fast the
//   client made them. A WAV file cannot grow past 4 GiB, so the thread stops writing at
//   that size and sleeps until it is stopped.
// - open_stepped(): only when its owner asks. render(n) writes exactly n frames on the
//   calling thread, which is the render thread for the duration; nothing advances between
//   calls, so the same calls make the same file, byte for byte. A stepped device opened on
//   a file another stepped device of the process is writing (the same file, at the same
//   rate) joins that render instead of starting the file afresh: one file, the periods of
//   every joined source mixed (lower render ranks first), advanced by render() on any of
//   them, for all of them. The file is complete once the last of them closes.
//
// Closing the device completes the file's header.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/music/output/output_device.h"
#include "platform/music/output/render_meter.h"

struct sf_private_tag;

namespace orvan::music::output {

class WavDevice final : public OutputDevice {
 public:
  // Frames a WAV file of 32-bit float stereo can hold.
  static constexpr std::int64_t kMaxFrames = (0xFFFFFFFFll - 4096) / 8;

  // Both create (or truncate) the file now: MUSIC_E_DEVICE_FAILED when it cannot be
  // written, E_INVALIDARG for a rate outside kMinSampleRate..kMaxSampleRate.
  // `max_frames` (at most kMaxFrames) is where the file ends whatever happens.
  static com::HResult open(const std::string& path, int sample_rate,
                           std::unique_ptr<OutputDevice>& device,
                           std::int64_t max_frames = kMaxFrames);
  // DSERR_INVALIDCALL when the file is being rendered at another rate, or by as many
  // sources as one render mixes.
  static com::HResult open_stepped(const std::string& path, int sample_rate,
                                   std::unique_ptr<WavDevice>& device);
  // Sources one stepped render mixes at most.
  static constexpr int kMaxJoined = 16;
  ~WavDevice() override;  // stops, then completes the file's header

  // E_POINTER for an empty source, DSERR_INVALIDCALL when already started.
  com::HResult start(RenderSource* source) override;
  // Ends the device's own thread, or waits for a render() on another thread to finish.
  void stop() override;

  // Stepped devices: renders exactly `frames` frames now and writes them, in calls of
  // period_frames() frames (the last one may be shorter). DSERR_INVALIDCALL when not
  // started or not stepped, E_INVALIDARG for a negative count or one that would take the
  // file past kMaxFrames, MUSIC_E_DEVICE_FAILED when a write fails (the disk is full).
  com::HResult render(std::int64_t frames);
  // Stepped devices: renders `milliseconds` (>= 0) more of the file: after calls totalling
  // T ms, on any of the devices joined in it, the file holds floor(T * rate / 1000) frames.
  com::HResult render_milliseconds(std::int64_t milliseconds);
  bool stepped() const { return stepped_; }

  int sample_rate() const override { return sample_rate_; }
  int period_frames() const override { return period_frames_; }
  std::int64_t frames_rendered() const override { return meter().frames(); }
  float last_period_peak() const override { return meter().peak(); }
  float last_period_end_peak() const override { return meter().end_peak(); }
  // A stepped device: the file's render, which devices joined in it share.
  const void* shared_output() const override;
  std::int64_t output_frame() const noexcept override { return meter().frames(); }

  // True when a write failed (disk full) or the file reached its largest size; the own
  // thread then renders no more and sleeps until stopped.
  bool write_stopped() const { return write_stopped_.load(std::memory_order_acquire); }

  bool keeps_time() const override { return false; }
  // The own thread has rendered the music and its tail; a stepped device never says so:
  // its owner decides where the file ends.
  bool music_done() const override { return phase_.load(std::memory_order_acquire) == Phase::Done; }

 private:
  struct SteppedFile;
  WavDevice(sf_private_tag* file, int sample_rate, std::int64_t max_frames, bool stepped);
  const RenderMeter& meter() const { return stepped_file_ ? stepped_meter() : meter_; }
  const RenderMeter& stepped_meter() const;
  // Stepped: renders `frames` of every joined source with the file's lock held.
  com::HResult render_stepped_locked(std::int64_t frames);
  static com::HResult create(const std::string& path, int sample_rate, std::int64_t max_frames,
                             bool stepped, std::unique_ptr<WavDevice>& device);
  enum class Phase { Waiting, Music, Tail, Done };

  void run();  // render thread only
  // Render thread only: what the next period is for, or false to wait for music.
  bool next_period_wanted();
  // Render thread only: renders `frames` (at most one period) and writes them; false when
  // the write failed.
  bool write_period(int frames);

  sf_private_tag* file_;
  const int sample_rate_;
  const int period_frames_;
  const std::int64_t max_frames_;
  const bool stepped_;
  std::vector<float> period_;  // one period, allocated up front

  // Guards stopping_ and the own thread's start and end; a stepped render holds it
  // throughout, so that stop() returns after the last period.
  std::mutex mutex_;
  std::condition_variable stop_requested_;
  bool stopping_ = false;
  std::atomic<bool> stop_flag_{false};
  std::atomic<bool> write_stopped_{false};
  std::atomic<Phase> phase_{Phase::Waiting};
  std::int64_t tail_started_at_ = 0;  // render thread only
  // Own thread: set before the thread starts, cleared after it ends. Stepped: guarded by
  // mutex_.
  RenderSource* source_ = nullptr;
  std::thread thread_;
  RenderMeter meter_;
  // Stepped: the file and the sources rendering into it, shared by the devices joined in it
  // (file_ is then that file's, not this device's own).
  std::shared_ptr<SteppedFile> stepped_file_;
};

}  // namespace orvan::music::output
