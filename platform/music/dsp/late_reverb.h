// The late reverberation both reverbs share: input diffusion, then a feedback delay
// network of eight lines mixed by an orthogonal matrix.
//
// Each line's loop gain is set from its own length, so every mode loses 60 dB in the
// decay time. A shelving filter in each loop makes the gain differ below and above a
// crossover frequency: low frequencies decay in `low_decay_s`, high ones in `high_decay_s`.
#pragma once

#include <array>

#include "platform/music/dsp/delay_line.h"
#include "platform/music/dsp/dsp_math.h"
#include "platform/music/dsp/filters.h"

namespace orvan::music::dsp {

class LateReverb {
 public:
  static constexpr int kLines = 8;
  static constexpr int kDiffusers = 4;

  explicit LateReverb(double sample_rate);

  // Render thread (or before processing starts). density and diffusion are 0..1: density
  // scales the line lengths (more, closer modes), diffusion the echo density of the input.
  void set_shape(float density, float diffusion) noexcept;
  void set_decay(float low_decay_s, float high_decay_s, float crossover_hz) noexcept;
  void clear() noexcept;

  // Render thread only: n <= kChunkFrames mono input samples in, a decorrelated stereo
  // pair out. Lines are never shorter than a chunk, so a whole chunk runs through the
  // network at once, each step over every frame of it, which the compiler vectorises.
  void process(const float* in, float* out_left, float* out_right, int n) noexcept;

 private:
  void update_loop_gains() noexcept;

  double sample_rate_;
  std::array<DelayLine, kLines> lines_;
  // Whole frames: interpolating between samples would damp the highs on every pass. A
  // density glide moves them a frame or so per chunk, which the dense tail hides.
  std::array<int, kLines> length_{};
  std::array<float, kLines> low_gain_{}, high_gain_{};
  std::array<OnePoleState, kLines> shelf_state_{};
  OnePoleCoefs shelf_{};

  std::array<DelayLine, kDiffusers> diffusers_;
  std::array<int, kDiffusers> diffuser_length_{};
  float diffuser_gain_ = 0.0f;

  float low_decay_s_ = 1.0f, high_decay_s_ = 1.0f;
  bool gains_stale_ = true;
};

}  // namespace orvan::music::dsp
