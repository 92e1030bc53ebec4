// What every output device shares: its period length and the running count and level of
// what it has rendered.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

namespace orvan::music::output {

// The largest power of two of frames that lasts no more than 10 ms: short enough for
// responsive control changes, and a size every audio backend accepts.
inline int period_frames_for(int sample_rate) {
  int frames = 16;
  while (frames * 2 * 100 <= sample_rate) frames *= 2;
  return frames;
}

// Updated by the render thread after each period; read from any thread.
class RenderMeter {
 public:
  // Render thread only.
  void record(const float* interleaved_stereo, int frames) noexcept {
    float peak = 0.0f;
    for (int i = 0; i < frames * 2; ++i) peak = std::max(peak, std::fabs(interleaved_stereo[i]));
    peak_.store(peak, std::memory_order_relaxed);
    frames_.fetch_add(frames, std::memory_order_release);
  }

  std::int64_t frames() const { return frames_.load(std::memory_order_acquire); }
  float peak() const { return peak_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::int64_t> frames_{0};
  std::atomic<float> peak_{0.0f};
};

}  // namespace orvan::music::output
