// The last stages of a channel's render chain. The SoundFont's samples carry a small DC
// offset that would otherwise reach the device, and a loud passage at +20 dB master volume
// would otherwise clip it. The DC blocker runs on the mix before the master gains (so a
// path faded to nothing is exactly silent), the limiter after them.
#pragma once

namespace orvan::music::dsp {

// A one-pole high-pass far below anything audible.
class DcBlocker {
 public:
  // The -3 dB corner: 20 Hz loses 0.3 dB, 40 Hz less than 0.1 dB.
  static constexpr double kCornerHz = 5.0;

  explicit DcBlocker(double sample_rate);

  // Render thread only: one stereo frame in place. The input must be finite.
  void process(float& left, float& right) noexcept {
    left = static_cast<float>(step(0, left));
    right = static_cast<float>(step(1, right));
  }
  void reset() noexcept;

 private:
  double step(int ch, double x) noexcept {
    // A zero at DC, the pole just inside it.
    const double y = x - x1_[ch] + pole_ * y1_[ch];
    x1_[ch] = x;
    y1_[ch] = y > -1e-20 && y < 1e-20 ? 0.0 : y;
    return y;
  }

  double pole_;
  double x1_[2] = {0, 0};
  double y1_[2] = {0, 0};
};

// A stereo-linked peak limiter with an instant attack: no sample leaves it above kCeiling.
// At ordinary levels its gain stays at 1 and it changes nothing.
class PeakLimiter {
 public:
  // Just under -0.3 dBFS (0.96605).
  static constexpr float kCeiling = 0.966f;
  // How fast the gain returns to unity once a peak has passed.
  static constexpr double kReleaseSeconds = 0.08;

  explicit PeakLimiter(double sample_rate);

  // Render thread only: interleaved stereo in place. The input must be finite.
  void process(float* stereo, int frames) noexcept;
  void reset() noexcept { gain_ = 1.0; }

  // The gain after the last frame (1: not limiting).
  double gain() const noexcept { return gain_; }

 private:
  double release_;
  double gain_ = 1.0;
};

}  // namespace orvan::music::dsp
