// The listener-model reverb: the direct sound passes unchanged; the room effect adds early
// reflections (from ReflectionsDelay) and a late reverb (ReverbDelay after the first
// reflection). Room and RoomHF (at HFReference) scale the whole room effect; Reflections
// and Reverb are relative to it. DecayTime is the late reverb's -60 dB time, which above
// HFReference shrinks by DecayHFRatio; Diffusion sets its echo density, Density its modal
// density. RoomRolloffFactor is accepted and kept, but this path has no source distance for
// it to act on.
#pragma once

#include <array>

#include "platform/music/dsp/delay_line.h"
#include "platform/music/dsp/filters.h"
#include "platform/music/dsp/late_reverb.h"
#include "platform/music/dsp/parameterized_effect.h"

namespace orvan::music::dsp {

class I3dl2Reverb final : public ParameterizedEffect<DSFXI3DL2REVERB> {
 public:
  static constexpr int kReflectionTaps = 6;

  explicit I3dl2Reverb(double sample_rate);

  void process(float* stereo, int frames) noexcept override;  // render thread only
  void reset() noexcept override;

 private:
  struct Controls {
    float room_mb, room_hf_mb, log_decay_s, decay_hf_ratio, reflections_mb;
    float reverb_mb, diffusion, density, log_hf_ref;
  };
  // Where the reflection taps and the late reverb's feed read the room line, in frames
  // after the direct sound.
  struct Delays {
    std::array<int, kReflectionTaps> taps;
    int late;
    bool operator==(const Delays&) const = default;
  };
  struct Gains {
    float reflections, reverb;
  };
  static Controls controls_of(const DSFXI3DL2REVERB& p) noexcept;
  Delays delays_of(const DSFXI3DL2REVERB& p) const noexcept;
  void update_filters() noexcept;
  Gains gains() const noexcept;
  void read_room(const Delays& d, float& early_left, float& early_right,
                 float& late_in) const noexcept;

  Controls now_{}, goal_{};
  float glide_coef_;
  DampingCoefs room_hf_{};
  DampingState room_hf_state_{};
  DelayLine room_line_;  // the damped room input, for reflection taps and the late feed
  LateReverb late_;
  Gains gains_{};  // reached at the end of the last chunk
  // A delay change cross-fades from the old reading points to the new ones; sweeping them
  // instead would bend the pitch of the whole room effect.
  Delays delays_{}, next_delays_{};
  int fade_frames_;
  int fade_left_ = 0;
};

template <>
struct EffectFor<DSFXI3DL2REVERB> {
  using type = I3dl2Reverb;
};

}  // namespace orvan::music::dsp
