#include "platform/music/dsp/output_stage.h"

#include <algorithm>
#include <cmath>

#include "platform/music/dsp/dsp_math.h"

namespace orvan::music::dsp {

DcBlocker::DcBlocker(double sample_rate) : pole_(std::exp(-2.0 * kPi * kCornerHz / sample_rate)) {}

void DcBlocker::reset() noexcept {
  x1_[0] = x1_[1] = y1_[0] = y1_[1] = 0.0;
}

PeakLimiter::PeakLimiter(double sample_rate)
    : release_(1.0 - std::exp(-1.0 / (kReleaseSeconds * sample_rate))) {}

void PeakLimiter::process(float* stereo, int frames) noexcept {
  for (int i = 0; i < frames; ++i) {
    float* frame = stereo + 2 * i;
    // One gain for both channels, so the stereo image does not move while limiting. It
    // drops at once to what the frame needs and glides back up.
    const double peak = std::max(std::fabs(frame[0]), std::fabs(frame[1]));
    const double needed = peak > kCeiling ? kCeiling / peak : 1.0;
    gain_ = std::min(needed, gain_ + (1.0 - gain_) * release_);
    if (gain_ < 1.0) {
      frame[0] = static_cast<float>(frame[0] * gain_);
      frame[1] = static_cast<float>(frame[1] * gain_);
    }
  }
}

}  // namespace orvan::music::dsp
