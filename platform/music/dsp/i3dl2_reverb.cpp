#include "platform/music/dsp/i3dl2_reverb.h"

#include <algorithm>
#include <cmath>

namespace orvan::music::dsp {
namespace {

constexpr double kMaxReflectionsDelay = 0.3;
constexpr double kMaxReverbDelay = 0.1;

// Reflections after the first: offsets, levels and sides (+1 left, -1 right, 0 both),
// scaled so that together they carry the energy of one reflection at the set level.
constexpr std::array<double, I3dl2Reverb::kReflectionTaps> kTapMs = {0.0,  3.1,  7.3,
                                                                     11.9, 17.3, 23.9};
constexpr std::array<float, I3dl2Reverb::kReflectionTaps> kTapLevel = {0.62f, 0.46f, 0.37f,
                                                                       0.31f, 0.27f, 0.22f};
constexpr std::array<float, I3dl2Reverb::kReflectionTaps> kTapSide = {0, 1, -1, 1, -1, 0};

// The late reverb enters at about the level of a single reflection.
constexpr float kLateScale = 0.5f;

}  // namespace

I3dl2Reverb::I3dl2Reverb(double sample_rate)
    : ParameterizedEffect(sample_rate),
      glide_coef_(glide_coef(sample_rate, 0.03)),
      room_line_(static_cast<int>(
          (kMaxReflectionsDelay + kMaxReverbDelay + kTapMs.back() / 1000.0) * sample_rate + 4)),
      late_(sample_rate),
      fade_frames_(static_cast<int>(0.02 * sample_rate)) {
  reset();
}

I3dl2Reverb::Controls I3dl2Reverb::controls_of(const DSFXI3DL2REVERB& p) noexcept {
  return {static_cast<float>(p.Room),
          static_cast<float>(p.RoomHF),
          std::log(p.DecayTime),
          p.DecayHFRatio,
          static_cast<float>(p.Reflections),
          static_cast<float>(p.Reverb),
          p.Diffusion / 100.0f,
          p.Density / 100.0f,
          std::log(p.HFReference)};
}

I3dl2Reverb::Gains I3dl2Reverb::gains() const noexcept {
  // Room levels join in millibels before conversion, so that Room -10000 silences the whole
  // room effect whatever the relative levels are.
  if (now_.room_mb <= -10000.0f) return {0.0f, 0.0f};
  return {millibels_to_gain(now_.room_mb + now_.reflections_mb),
          millibels_to_gain(now_.room_mb + now_.reverb_mb) * kLateScale};
}

void I3dl2Reverb::update_filters() noexcept {
  const double fs = sample_rate();
  const double hf_ref = std::exp(now_.log_hf_ref);
  room_hf_ = DampingCoefs::for_gain(fs, hf_ref, millibels_to_gain(now_.room_hf_mb));
  const float decay = std::exp(now_.log_decay_s);
  late_.set_shape(now_.density, now_.diffusion);
  late_.set_decay(decay, decay * now_.decay_hf_ratio, static_cast<float>(hf_ref / 2.0));
}

I3dl2Reverb::Delays I3dl2Reverb::delays_of(const DSFXI3DL2REVERB& p) const noexcept {
  const double fs = sample_rate();
  const double first = static_cast<double>(p.ReflectionsDelay) * fs;
  Delays d{};
  for (int t = 0; t < kReflectionTaps; ++t)
    d.taps[t] = static_cast<int>(std::lround(first + kTapMs[t] * fs / 1000.0));
  d.late = static_cast<int>(std::lround(first + static_cast<double>(p.ReverbDelay) * fs));
  return d;
}

void I3dl2Reverb::read_room(const Delays& d, float& early_left, float& early_right,
                            float& late_in) const noexcept {
  early_left = early_right = 0.0f;
  for (int t = 0; t < kReflectionTaps; ++t) {
    const float s = kTapLevel[t] * room_line_.read(d.taps[t]);
    early_left += (1.0f + kTapSide[t]) * s;
    early_right += (1.0f - kTapSide[t]) * s;
  }
  late_in = room_line_.read(d.late);
}

void I3dl2Reverb::reset() noexcept {
  fetch_target();
  goal_ = now_ = controls_of(target());
  room_hf_state_ = {};
  room_line_.clear();
  late_.clear();
  update_filters();
  gains_ = gains();
  delays_ = next_delays_ = delays_of(target());
  fade_left_ = 0;
}

void I3dl2Reverb::process(float* stereo, int frames) noexcept {
  if (fetch_target()) goal_ = controls_of(target());
  for (int start = 0; start < frames; start += kChunkFrames) {
    const int n = std::min(kChunkFrames, frames - start);
    bool gains_moved = glide(now_.room_mb, goal_.room_mb, glide_coef_, 0.5f);
    gains_moved |= glide(now_.reflections_mb, goal_.reflections_mb, glide_coef_, 0.5f);
    gains_moved |= glide(now_.reverb_mb, goal_.reverb_mb, glide_coef_, 0.5f);
    bool filters_moved = glide(now_.room_hf_mb, goal_.room_hf_mb, glide_coef_, 0.5f);
    filters_moved |= glide(now_.log_decay_s, goal_.log_decay_s, glide_coef_, 1e-4f);
    filters_moved |= glide(now_.decay_hf_ratio, goal_.decay_hf_ratio, glide_coef_, 1e-4f);
    filters_moved |= glide(now_.diffusion, goal_.diffusion, glide_coef_, 1e-4f);
    filters_moved |= glide(now_.density, goal_.density, glide_coef_, 1e-4f);
    filters_moved |= glide(now_.log_hf_ref, goal_.log_hf_ref, glide_coef_, 1e-4f);
    if (filters_moved) update_filters();
    if (fade_left_ == 0) {
      const Delays wanted = delays_of(target());
      if (!(wanted == delays_)) {
        next_delays_ = wanted;
        fade_left_ = fade_frames_;
      }
    }

    const Gains end = gains_moved ? gains() : gains_;
    const float inv_n = 1.0f / static_cast<float>(n);
    const float refl_step = (end.reflections - gains_.reflections) * inv_n;
    const float rev_step = (end.reverb - gains_.reverb) * inv_n;
    float refl = gains_.reflections, rev = gains_.reverb;
    float* frame = stereo + 2 * start;
    float early_left[kChunkFrames], early_right[kChunkFrames], late_in[kChunkFrames];
    for (int i = 0; i < n; ++i) {
      room_line_.write(room_hf_state_.process(room_hf_, 0.5f * (frame[2 * i] + frame[2 * i + 1])));
      read_room(delays_, early_left[i], early_right[i], late_in[i]);
      if (fade_left_ > 0) {
        float next_left, next_right, next_late;
        read_room(next_delays_, next_left, next_right, next_late);
        const float w = 1.0f - static_cast<float>(fade_left_) / static_cast<float>(fade_frames_);
        early_left[i] += w * (next_left - early_left[i]);
        early_right[i] += w * (next_right - early_right[i]);
        late_in[i] += w * (next_late - late_in[i]);
        if (--fade_left_ == 0) delays_ = next_delays_;
      }
    }
    float late_left[kChunkFrames], late_right[kChunkFrames];
    late_.process(late_in, late_left, late_right, n);
    for (int i = 0; i < n; ++i, frame += 2) {
      refl += refl_step;
      rev += rev_step;
      frame[0] += refl * early_left[i] + rev * late_left[i];
      frame[1] += refl * early_right[i] + rev * late_right[i];
    }
    gains_ = end;
  }
}

}  // namespace orvan::music::dsp
