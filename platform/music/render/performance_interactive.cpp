#include <algorithm>

#include "platform/music/render/performance_core.h"
#include "platform/music/synth/synth.h"

// Render-thread side of pausing (the play under way stops advancing, and goes on from where
// it was) and of channel volumes. No allocation, no waiting, no logging.
namespace orvan::music {

void PerformanceCore::hold_current(const Command& command) noexcept {
  if (!current_play() || current_.state != command.target) return;
  const bool pause = command.kind == CommandKind::Pause;
  if (pause == current_paused_) return;
  current_paused_ = pause;
  if (pause) {
    synth_->release_all_notes();
  } else {
    current_.source->resume(*synth_);
  }
}

namespace {

// The deepest a glide goes evenly in decibels (-100 dB); silence itself comes at its end.
constexpr float kDeepestRampCentibels = 1000.0f;
constexpr float kSilentCentibels = 1440.0f;

}  // namespace

void PerformanceCore::begin_channel_ramp(const Command& command) noexcept {
  ChannelRamp& ramp = channel_ramps_[static_cast<std::size_t>(command.channel)];
  const float wanted = static_cast<float>(-command.volume) / 10.0f;
  ramp.target = wanted >= kDeepestRampCentibels ? kSilentCentibels : wanted;
  ramp.centibels = std::min(ramp.centibels, kDeepestRampCentibels);
  const float glide_to = std::min(ramp.target, kDeepestRampCentibels);
  ramp.blocks_left =
      std::max<std::int64_t>(1, (command.frames + synth::kBlockFrames - 1) / synth::kBlockFrames);
  ramp.step = (glide_to - ramp.centibels) / static_cast<float>(ramp.blocks_left);
}

void PerformanceCore::step_channel_ramps() noexcept {
  for (std::size_t channel = 0; channel < channel_ramps_.size(); ++channel) {
    ChannelRamp& ramp = channel_ramps_[channel];
    if (ramp.blocks_left == 0) continue;
    // The last step lands on the target exactly, whatever the rounding on the way.
    ramp.centibels = --ramp.blocks_left == 0 ? ramp.target : ramp.centibels + ramp.step;
    synth_->channel_attenuation(static_cast<int>(channel), ramp.centibels);
  }
}

}  // namespace orvan::music
