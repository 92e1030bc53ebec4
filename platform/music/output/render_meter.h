// What every output device shares: its period length and the running count and level of
// what it has rendered.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

namespace orvan::music::output {

// The largest power of two of frames that lasts no more than 25 ms (1024 at 44.1 and 48 kHz):
// a control change still reaches the output within about a fiftieth of a second, while
// the render thread wakes and the synthesizer is entered seldom enough that their fixed
// cost per period stays small. At 256 frames, playback cost about 1.4 times FluidSynth's
// own player's CPU; at 1024, about the same.
inline int period_frames_for(int sample_rate) {
  int frames = 16;
  while (frames * 2 * 40 <= sample_rate) frames *= 2;
  return frames;
}

// Updated by the render thread after each period; read from any thread.
class RenderMeter {
 public:
  static constexpr int kEndFrames = 64;

  // Render thread only.
  void record(const float* interleaved_stereo, int frames) noexcept {
    const int end_from = std::max(0, frames - kEndFrames);
    float peak = 0.0f;
    for (int i = 0; i < end_from * 2; ++i) peak = std::max(peak, std::fabs(interleaved_stereo[i]));
    float end_peak = 0.0f;
    for (int i = end_from * 2; i < frames * 2; ++i) {
      end_peak = std::max(end_peak, std::fabs(interleaved_stereo[i]));
    }
    peak_.store(std::max(peak, end_peak), std::memory_order_relaxed);
    end_peak_.store(end_peak, std::memory_order_relaxed);
    frames_.fetch_add(frames, std::memory_order_release);
  }

  std::int64_t frames() const { return frames_.load(std::memory_order_acquire); }
  float peak() const { return peak_.load(std::memory_order_relaxed); }
  float end_peak() const { return end_peak_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::int64_t> frames_{0};
  std::atomic<float> peak_{0.0f};
  std::atomic<float> end_peak_{0.0f};
};

}  // namespace orvan::music::output
