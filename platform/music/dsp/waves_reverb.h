// A music reverb: InGain before it, ReverbTime the low-frequency -60 dB decay, high
// frequencies decaying in ReverbTime x HighFreqRTRatio, ReverbMix the wet level in dB
// (0 dB fully wet, the dry share falling as the wet one rises, at equal power).
#pragma once

#include "platform/music/dsp/late_reverb.h"
#include "platform/music/dsp/parameterized_effect.h"

namespace orvan::music::dsp {

class WavesReverb final : public ParameterizedEffect<DSFXWAVESREVERB> {
 public:
  explicit WavesReverb(double sample_rate);

  void process(float* stereo, int frames) noexcept override;  // render thread only
  void reset() noexcept override;

 private:
  struct Controls {
    float in_gain_db, mix_db, log_time_s, hf_ratio;
  };
  static Controls controls_of(const DSFXWAVESREVERB& p) noexcept;
  void update_decay() noexcept;
  // The dry and wet gains the level controls ask for now.
  void levels(float& wet, float& dry) const noexcept;

  Controls now_{}, goal_{};
  float glide_coef_;
  LateReverb late_;
  float wet_ = 1.0f, dry_ = 0.0f;  // reached at the end of the last chunk
};

template <>
struct EffectFor<DSFXWAVESREVERB> {
  using type = WavesReverb;
};

}  // namespace orvan::music::dsp
