// Render sources whose output a test can predict sample by sample.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "platform/music/output/output_device.h"

namespace orvan::music::output::testing {

// A sine of `hz` at `amplitude` on the left and its negation on the right, continuous
// across calls; records how many frames every call asked for.
class SineSource final : public RenderSource {
 public:
  SineSource(double hz, int sample_rate, float amplitude = 0.5f)
      : step_(2.0 * std::numbers::pi * hz / sample_rate), amplitude_(amplitude) {
    call_sizes.reserve(4096);
  }

  void render(float* out, int frames) noexcept override {
    for (int i = 0; i < frames; ++i) {
      const float v = expected(frame_ + i);
      out[2 * i] = v;
      out[2 * i + 1] = -v;
    }
    frame_ += frames;
    if (call_sizes.size() < call_sizes.capacity()) call_sizes.push_back(frames);
    calls.fetch_add(1);
  }

  float expected(std::int64_t frame) const {
    return amplitude_ * static_cast<float>(std::sin(step_ * static_cast<double>(frame)));
  }

  std::vector<int> call_sizes;  // read only once rendering has stopped
  std::atomic<int> calls{0};

 private:
  double step_;
  float amplitude_;
  std::int64_t frame_ = 0;
};

// `value` on the left, `-value` on the right.
class ConstantSource final : public RenderSource {
 public:
  explicit ConstantSource(float value) : value_(value) {}
  void render(float* out, int frames) noexcept override {
    for (int i = 0; i < frames; ++i) {
      out[2 * i] = value_;
      out[2 * i + 1] = -value_;
    }
    calls.fetch_add(1);
  }
  std::atomic<int> calls{0};

 private:
  float value_;
};

}  // namespace orvan::music::output::testing
