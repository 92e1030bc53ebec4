// What a real-time output counts about its device, and how it tells a late period.
#pragma once

#include <cstdint>

namespace orvan::music::output {

struct OutputCounts {
  std::int64_t device_losses = 0;   // times the device went away while open
  std::int64_t device_reopens = 0;  // times a device was opened again after a loss
  std::int64_t late_periods = 0;    // periods rendered after the device needed them
};

// Tells whether a period was rendered in time by the device's clock: the device asks for a
// period once it has room for one, and needs it once what it was handed before has played
// out. Its clock is anchored at the first request and moves on by the frames handed over;
// a request that comes later than that clock says (the device or the machine slipped)
// re-anchors it, so that one slow period is counted once and not again in every period
// after it. Requests that come early (a device filling its buffer) leave the clock alone,
// and what they gain is slack a later period may use. Render thread only.
class LatePeriodMeter {
 public:
  // Forget the clock: the next period anchors it again (a device opened anew).
  void restart() { anchored_ = false; }

  // One period of `frames` at `sample_rate`, asked for at `asked_ns` and handed over at
  // `done_ns` (a steady clock, nanoseconds). True when it was late.
  bool period(std::int64_t asked_ns, std::int64_t done_ns, int frames, int sample_rate) {
    const double ns_per_frame = 1e9 / sample_rate;
    const auto expected =
        anchor_ns_ +
        static_cast<std::int64_t>(static_cast<double>(frames_since_anchor_) * ns_per_frame);
    if (!anchored_ || asked_ns > expected) {
      anchored_ = true;
      anchor_ns_ = asked_ns;
      frames_since_anchor_ = 0;
    }
    frames_since_anchor_ += frames;
    const auto due = anchor_ns_ + static_cast<std::int64_t>(
                                      static_cast<double>(frames_since_anchor_) * ns_per_frame);
    return done_ns > due;
  }

 private:
  bool anchored_ = false;
  std::int64_t anchor_ns_ = 0;
  std::int64_t frames_since_anchor_ = 0;
};

}  // namespace orvan::music::output
