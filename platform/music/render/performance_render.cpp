#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/music/render/performance_core.h"
#include "platform/music/render/playback_shared.h"
#include "platform/music/synth/synth.h"

// Render-thread side of the performance core. Every function here runs on the render
// thread only: no allocation, no waiting, no logging.
namespace orvan::music {

void PerformanceCore::render(float* out, int frames) noexcept {
  if (frames <= 0) return;
  moment_base_ = frames_out_;
  output_origin_ = device_->output_frame();
  apply_commands();
  if (following_ && (!current_play() || !following_->playing.load(std::memory_order_relaxed))) {
    following_ = nullptr;  // the layer, or its leader, stopped: the channel's own tempo again
  }
  block_tempo_ = following_ ? following_->tempo.load(std::memory_order_relaxed)
                            : master_tempo_.load(std::memory_order_relaxed);
  lead_clock_->tempo.store(static_cast<float>(block_tempo_), std::memory_order_relaxed);
  take_master_volume();
  first_render_ = false;
  int done = 0;
  while (done < frames) {
    const int n = std::min(chunk_limit(), frames - done);
    chunk_frame_ = frames_out_ + done;
    synthesize(n);
    if (chain_) chain_->process(dry_left_.data(), dry_right_.data(), n);
    // A stage that went wrong (a filter driven unstable) must not reach the device, where
    // it would also spoil every other channel mixed with this one: the chunk stays silent,
    // and the chain starts afresh so that the next chunk sounds again.
    if (!mix(out + 2 * done, n) && chain_) chain_->reset();
    done += n;
  }
  limiter_->process(out, frames);
  frames_out_ += frames;
  retire_synth_when_silent(frames);
  // A synthesizer ringing out may still play from earlier instruments.
  if (instrument_switches_released_.load(std::memory_order_relaxed) != instrument_switches_ &&
      !retiring_synth_ && synth_->voices_of_earlier_instruments_ended()) {
    instrument_switches_released_.store(instrument_switches_, std::memory_order_release);
  }
}

namespace {

double gain_of(std::int32_t mb) noexcept {
  return std::pow(10.0, mb / 2000.0);
}

}  // namespace

void PerformanceCore::take_master_volume() noexcept {
  const std::uint64_t sets = volume_sets_.load(std::memory_order_acquire);
  if (sets == volume_sets_seen_) return;
  volume_sets_seen_ = sets;
  volume_target_ = gain_of(master_volume_.load(std::memory_order_relaxed));
  volume_step_is_ratio_ = false;
  if (first_render_) {
    // The first period starts at the volume set before it, not with a ramp from the default.
    volume_gain_ = volume_target_;
    volume_ramp_left_ = 0;
    return;
  }
  volume_step_ = (volume_target_ - volume_gain_) / kVolumeRampFrames;
  volume_ramp_left_ = kVolumeRampFrames;
}

void PerformanceCore::begin_fade(const Command& fade) noexcept {
  if (first_render_) volume_gain_ = gain_of(fade.volume_from);
  // Settings made before the fade was asked for are behind it; a later one ends it.
  volume_sets_seen_ = fade.volume_sets;
  volume_target_ = gain_of(fade.volume);
  // Even steps in decibels: the gain is multiplied by the same ratio at every sample.
  volume_step_ = std::pow(volume_target_ / volume_gain_, 1.0 / static_cast<double>(fade.frames));
  volume_step_is_ratio_ = true;
  volume_ramp_left_ = fade.frames;
}

bool PerformanceCore::music_pending() const noexcept {
  return plays_requested_.load(std::memory_order_acquire) != plays_started_ ||
         current_play() != nullptr;
}

void PerformanceCore::synthesize(int frames) noexcept {
  for (auto* plane : {&dry_left_, &dry_right_, &wet_left_, &wet_right_}) {
    std::fill_n(plane->begin(), frames, 0.0f);
  }
  int i = 0;
  while (i < frames) {
    if (grid_left_ == 0) {
      moment_base_ = chunk_frame_ + i;
      block_frame_ = output_origin_ + (chunk_frame_ + i - frames_out_);
      start_queued_if_due();
      tell_lead_clock(block_frame_);
      // Everything due within the next synthesizer block goes in before it is rendered.
      step_channel_ramps();
      if (current_play() && !current_paused_) {
        current_.source->dispatch(synth::kBlockFrames, block_tempo_, *synth_, *this);
        retire_if_ended();
      }
      grid_left_ = synth::kBlockFrames;
    }
    const int n = std::min(grid_left_, frames - i);
    synth_->render(n, dry_left_.data() + i, dry_right_.data() + i, wet_left_.data() + i,
                   wet_right_.data() + i);
    if (retiring_synth_) {
      retiring_synth_->render(n, dry_left_.data() + i, dry_right_.data() + i, wet_left_.data() + i,
                              wet_right_.data() + i);
    }
    grid_left_ -= n;
    i += n;
  }
  synth_->flush();
  if (retiring_synth_) retiring_synth_->flush();
  // A source's own audio enters buffer 0 beside the synthesizer, before the effect chain.
  if (current_play() && !current_paused_) {
    moment_base_ = chunk_frame_;
    current_.source->render(dry_left_.data(), dry_right_.data(), frames, block_tempo_, *this);
    retire_if_ended();
  }
  if (outgoing_.play.source) render_overlaid(outgoing_, frames);
  if (stinger_.play.source) render_overlaid(stinger_, frames);
  publish_position();
}

bool PerformanceCore::mix(float* out, int frames) noexcept {
  const double activate_step = 1.0 / std::max(1.0, kActivateRampSeconds * sample_rate_);
  float check = 0.0f;
  for (int i = 0; i < frames; ++i) {
    if (activate_gain_ < activate_target_) {
      activate_gain_ = std::min(activate_target_, activate_gain_ + activate_step);
    } else if (activate_gain_ > activate_target_) {
      activate_gain_ = std::max(activate_target_, activate_gain_ - activate_step);
    }
    if (volume_ramp_left_ > 0) {
      // The last step lands on the target exactly, whatever the rounding on the way.
      volume_gain_ = --volume_ramp_left_ == 0 ? volume_target_
                     : volume_step_is_ratio_  ? volume_gain_ * volume_step_
                                              : volume_gain_ + volume_step_;
    }
    const auto gain = static_cast<float>(activate_gain_ * volume_gain_);
    const auto k = static_cast<std::size_t>(i);
    float left = dry_left_[k] + wet_left_[k];
    float right = dry_right_[k] + wet_right_[k];
    // NaN and infinity survive any sum, so one test per chunk finds them.
    check += left + right;
    dc_blocker_->process(left, right);
    out[2 * i] = left * gain;
    out[2 * i + 1] = right * gain;
  }
  if (std::isfinite(check)) return true;
  std::fill_n(out, 2 * frames, 0.0f);
  dc_blocker_->reset();
  return false;
}

void PerformanceCore::apply_commands() noexcept {
  while (const Command* next = commands_.peek()) {
    // A chain may only be swapped when the old one has somewhere to go back to.
    if (next->kind == CommandKind::Chain && retired_chains_.full()) break;
    Command c;
    commands_.pop(c);
    switch (c.kind) {
      case CommandKind::Play:
        // A play asked for now replaces any transition under way, and a stinger waiting for
        // a boundary of the piece it replaces.
        drop(queued_);
        drop(stinger_queued_);
        end_overlaid(outgoing_);
        begin_play(c);
        break;
      case CommandKind::Queue:
      case CommandKind::Stinger:
        take_queued(c);
        break;
      case CommandKind::StopSegment:
        stop_transitions(c);
        if (const Play* now = current_play(); now && now->segment == c.target) {
          end_current(DMUS_NOTIFICATION_SEGABORT);
        }
        break;
      case CommandKind::StopState:
        stop_transitions(c);
        if (const Play* now = current_play(); now && now->state == c.target) {
          end_current(DMUS_NOTIFICATION_SEGABORT);
        }
        break;
      case CommandKind::StopAll:
        stop_transitions(c);
        if (current_play()) end_current(DMUS_NOTIFICATION_SEGABORT);
        break;
      case CommandKind::Activate:
        activate_target_ = c.flag ? 1.0 : 0.0;
        break;
      case CommandKind::Chain:
        if (chain_) retired_chains_.push(chain_);
        chain_ = c.chain;
        break;
      case CommandKind::Font:
        synth_->sound_collection(c.font);
        break;
      case CommandKind::Fade:
        begin_fade(c);
        break;
      case CommandKind::Pause:
      case CommandKind::Resume:
        hold_current(c);
        break;
      case CommandKind::ChannelVolume:
        begin_channel_ramp(c);
        break;
    }
  }
  let_go_of_idle_instruments();
}

const PerformanceCore::Play* PerformanceCore::current_play() const noexcept {
  return current_.source && current_.source->active() ? &current_ : nullptr;
}

void PerformanceCore::begin_play(const Command& command) noexcept {
  ++plays_started_;
  if (current_play()) end_current(DMUS_NOTIFICATION_SEGABORT);
  if (command.synth) adopt_synth(command.synth);
  command.play.shared->position.store(command.play.start, std::memory_order_relaxed);
  command.play.shared->started.store(true, std::memory_order_relaxed);
  // The piece's instruments and downloaded collection, or none, before its programs
  // are chosen. A MIDI piece whose SoundFont has none of its presets keeps the instruments
  // sounding now; music that does not sound through the synthesizer needs none.
  struct _fluid_sfont_t* instruments = command.instruments;
  if (!command.play.synthesized) {
    instruments = nullptr;
  } else if (!instruments) {
    instruments = sounding_instruments_;
  }
  sound_instruments(instruments, command.font);
  current_ = command.play;
  current_paused_ = false;
  following_ = command.leader;
  // A layer keeps its leader's tempo from its first block: a block at its own would put it
  // behind or ahead for good.
  if (following_) block_tempo_ = following_->tempo.load(std::memory_order_relaxed);
  current_.source->start(*synth_);
  notify(current_, DMUS_NOTIFICATION_SEGSTART, current_.start);
  publish(MusicEventKind::Started, 0.0);
  // Music time starts with this block even when it begins inside a synthesizer block
  // (a device period that is no multiple of 64): what falls in the rest of that
  // block goes in now and sounds from the next one.
  if (grid_left_ > 0 && current_play()) {
    current_.source->dispatch(grid_left_, master_tempo_.load(std::memory_order_relaxed), *synth_,
                              *this);
    retire_if_ended();
  }
}

void PerformanceCore::adopt_synth(synth::Synth* next) noexcept {
  // The client side hands over no synthesizer while another rings out (performance_voices.cpp).
  synth_->release_all_notes();
  next->sound_fonts(sounding_instruments_, synth_->sounding_collection());
  for (std::size_t ch = 0; ch < channel_ramps_.size(); ++ch) {
    if (channel_ramps_[ch].centibels != 0.0f) {
      next->channel_attenuation(static_cast<int>(ch), channel_ramps_[ch].centibels);
    }
  }
  retiring_synth_ = synth_;
  retiring_silent_frames_ = 0;
  synth_ = next;
}

void PerformanceCore::retire_synth_when_silent(int frames) noexcept {
  if (!retiring_synth_) return;
  if (retiring_synth_->active_voices() > 0) {
    retiring_silent_frames_ = 0;
    return;
  }
  retiring_silent_frames_ += frames;
  if (retiring_silent_frames_ < static_cast<std::int64_t>(kRetiringTailSeconds * sample_rate_)) {
    return;
  }
  // Should the ring be full, the client side still owns it and frees it on closing.
  retired_synths_.push(retiring_synth_);
  retiring_synth_ = nullptr;
}

void PerformanceCore::end_current(std::int32_t option) noexcept {
  const Play play = current_;
  current_ = {};
  current_paused_ = false;
  end_play(play, option);
  // Heard from moment_base_: the start of the render() call for a stop asked for, the
  // synthesizer block for a piece a queued one replaces.
  publish(MusicEventKind::Stopped, 0.0);
}

void PerformanceCore::end_play(const Play& play, std::int32_t option) noexcept {
  const double at = play.source->stop(*synth_);
  const auto position =
      static_cast<std::int32_t>(std::clamp(at, 0.0, static_cast<double>(std::max(0, play.length))));
  play.shared->position.store(position, std::memory_order_relaxed);
  notify(play, option, position);
  play.shared->playing.store(false, std::memory_order_relaxed);
  play.shared->retired.store(true, std::memory_order_release);
}

void PerformanceCore::on_moment(const PlayMoment& moment) noexcept {
  if (moment.kind == MusicEventKind::Looped || moment.kind == MusicEventKind::Ended) {
    loop_or_end_ = moment;
    loop_or_end_told_ = true;
    return;
  }
  publish(moment.kind, moment.at, moment.a, moment.b, moment.sequence);
}

void PerformanceCore::on_queued_piece_started(double at) noexcept {
  publish(MusicEventKind::TransitionDone, at);
}

void PerformanceCore::publish(MusicEventKind kind, double at, std::int32_t a, std::int32_t b,
                              const void* sequence) noexcept {
  if (!music_events_) return;
  const auto frame = moment_base_ + static_cast<std::int64_t>(std::llround(at));
  music_events_->publish({kind, a, b, frame, sequence});
}

void PerformanceCore::on_loop() noexcept {
  notify(current_, DMUS_NOTIFICATION_SEGLOOP, 0);
  // A source that tells no moments (a tracker module) loops at the start of its call, as far
  // as the listeners know, and without a count.
  const bool told = std::exchange(loop_or_end_told_, false);
  publish(MusicEventKind::Looped, told ? loop_or_end_.at : 0.0, told ? loop_or_end_.a : 0);
}

void PerformanceCore::on_end() noexcept {
  const bool told = std::exchange(loop_or_end_told_, false);
  publish(MusicEventKind::Ended, told ? loop_or_end_.at : 0.0);
  const Play& play = current_;
  play.shared->position.store(play.length, std::memory_order_relaxed);
  notify(play, DMUS_NOTIFICATION_SEGEND, play.length);
  play.shared->playing.store(false, std::memory_order_relaxed);
  current_ended_ = true;
}

void PerformanceCore::retire_if_ended() noexcept {
  // Only once the source has returned: the client frees it as soon as the play retires.
  if (!current_ended_) return;
  current_ended_ = false;
  current_.shared->retired.store(true, std::memory_order_release);
  current_ = {};
  let_go_of_idle_instruments();
}

void PerformanceCore::sound_instruments(struct _fluid_sfont_t* instruments,
                                        struct _fluid_sfont_t* collection) noexcept {
  if (instruments != sounding_instruments_) {
    sounding_instruments_ = instruments;
    ++instrument_switches_;
    instrument_switches_made_.store(instrument_switches_, std::memory_order_release);
    instruments_sounding_.store(instruments, std::memory_order_release);
  }
  synth_->sound_fonts(instruments, collection);
}

void PerformanceCore::let_go_of_idle_instruments() noexcept {
  // A play waiting for a boundary starts with nothing playing at the next block: switching
  // away and back in between would only reselect every channel's program.
  if (!sounding_instruments_ || current_play() || queued_.play.source) return;
  sound_instruments(nullptr, synth_->sounding_collection());
}

void PerformanceCore::on_starved(int frames) noexcept {
  starved_frames_.fetch_add(static_cast<std::uint64_t>(frames), std::memory_order_relaxed);
}

void PerformanceCore::publish_position() noexcept {
  const Play* play = current_play();
  if (!play) return;
  play->shared->position.store(static_cast<std::int32_t>(play->source->position(grid_left_)),
                               std::memory_order_relaxed);
}

void PerformanceCore::notify(const Play& play, std::int32_t option,
                             std::int32_t music_time) noexcept {
  if (!notify_segments_.load(std::memory_order_relaxed)) return;
  const PendingNotification pending{play.state, option, music_time,
                                    std::chrono::steady_clock::now()};
  if (!pending_notifications_.push(pending)) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const std::int32_t handle = notification_handle_.load(std::memory_order_relaxed);
  if (events_ && handle != 0) signal_(events_.get(), handle);
}

}  // namespace orvan::music
