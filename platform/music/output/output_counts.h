// What a real-time output counts about its device, and how it tells a late period.
#pragma once

#include <cstdint>

namespace orvan::music::output {

struct OutputCounts {
  std::int64_t device_losses = 0;   // times the device went away while open
  std::int64_t device_reopens = 0;  // times a device was opened again after a loss
  std::int64_t late_periods = 0;    // periods rendered after the device needed them
};

// Tells whether a period was rendered in time by the device's clock: a device plays at its
// rate, so once its clock is anchored (at the first request), the n-th frame handed over is
// needed n frames after the anchor. A period handed over after that was late, whether its
// render took too long or the render thread was woken too late; the device ran dry then,
// and its clock starts again from there, so that one slow period counts once and not again
// in every period after it. Requests that come early (a device filling its buffer) are
// slack a later period may use. The first few periods only set the clock: a stream that
// starts playing once its buffer is full asks for them before its clock runs. Render
// thread only.
class LatePeriodMeter {
 public:
  static constexpr int kSettlingPeriods = 4;

  // Forget the clock: the next period anchors it again (a device opened anew).
  void restart() { periods_ = 0; }

  // One period of `frames` at `sample_rate`, asked for at `asked_ns` and handed over at
  // `done_ns` (a steady clock, nanoseconds). True when it was late.
  bool period(std::int64_t asked_ns, std::int64_t done_ns, int frames, int sample_rate) {
    if (periods_ < kSettlingPeriods) {
      ++periods_;
      anchor_ns_ = asked_ns;
      frames_since_anchor_ = frames;
      return false;
    }
    frames_since_anchor_ += frames;
    const double due_ns = static_cast<double>(anchor_ns_) +
                          static_cast<double>(frames_since_anchor_) * 1e9 / sample_rate;
    if (static_cast<double>(done_ns) <= due_ns) return false;
    anchor_ns_ = done_ns;
    frames_since_anchor_ = 0;
    return true;
  }

 private:
  int periods_ = 0;
  std::int64_t anchor_ns_ = 0;
  std::int64_t frames_since_anchor_ = 0;
};

}  // namespace orvan::music::output
