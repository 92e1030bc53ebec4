// Distortion: a low-pass before the shaper, a waveshaper whose hardness follows Edge,
// a band-pass tone filter after it, and an output gain.
#pragma once

#include "platform/music/dsp/filters.h"
#include "platform/music/dsp/parameterized_effect.h"

namespace orvan::music::dsp {

class Distortion final : public ParameterizedEffect<DSFXDISTORTION> {
 public:
  explicit Distortion(double sample_rate);

  void process(float* stereo, int frames) noexcept override;  // render thread only
  void reset() noexcept override;

 private:
  struct Controls {
    float gain_db, edge, center_hz, bandwidth_hz, cutoff_hz;
  };
  static Controls controls_of(const DSFXDISTORTION& p) noexcept;
  void update_coefficients() noexcept;

  Controls now_{}, goal_{};
  float glide_coef_;
  BiquadCoefs pre_{}, post_{};
  BiquadState pre_state_[2], post_state_[2];
  float drive_ = 1.0f, drive_norm_ = 1.0f;
  float out_gain_ = 1.0f;  // gain reached at the end of the last chunk
};

template <>
struct EffectFor<DSFXDISTORTION> {
  using type = Distortion;
};

}  // namespace orvan::music::dsp
