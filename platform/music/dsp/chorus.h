// Chorus: one delay line per channel whose length an LFO sweeps around Delay by Depth
// percent of it; the right LFO runs Phase ahead of the left; Feedback recirculates the
// delayed signal, WetDryMix blends it with the input.
#pragma once

#include "platform/music/dsp/delay_line.h"
#include "platform/music/dsp/parameterized_effect.h"

namespace orvan::music::dsp {

class Chorus final : public ParameterizedEffect<DSFXCHORUS> {
 public:
  explicit Chorus(double sample_rate);

  void process(float* stereo, int frames) noexcept override;  // render thread only
  void reset() noexcept override;

 private:
  struct Controls {
    float mix, depth, feedback, frequency, sine_share, delay_ms, phase_deg;
  };
  static Controls controls_of(const DSFXCHORUS& p) noexcept;
  float lfo(double phase) const noexcept;
  float delay_frames(double phase) const noexcept;

  Controls now_{}, goal_{};
  float glide_coef_;
  float delay_glide_coef_;
  double lfo_phase_ = 0.0;  // cycles, [0, 1), of the left channel
  float max_delay_frames_;
  DelayLine lines_[2];
  float delay_now_[2] = {0, 0};  // delay reached at the end of the last chunk
};

template <>
struct EffectFor<DSFXCHORUS> {
  using type = Chorus;
};

}  // namespace orvan::music::dsp
