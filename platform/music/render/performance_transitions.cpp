// Render-thread side of transitions and stingers: a play queued for a boundary of the piece
// playing starts on the first synthesizer block after that boundary (so at most one block
// late). A next piece replaces the one playing, which stops there or fades out under it; a
// stinger sounds once over it. What is overlaid (a piece fading out, a stinger) tells its
// listeners nothing: the events are the channel's piece's. No allocation, no waiting.
#include <algorithm>
#include <utility>

#include "platform/music/render/performance_core.h"
#include "platform/music/render/playback_shared.h"
#include "platform/music/synth/synth.h"

namespace orvan::music {

void PerformanceCore::take_queued(const Command& command) noexcept {
  const bool stinger = command.kind == CommandKind::Stinger;
  Command& slot = stinger ? stinger_queued_ : queued_;
  drop(slot);  // a later request replaces the one still waiting
  slot = command;
  if (command.leader) {
    take_follow(command);
    return;
  }
  // Boundaries count from the last frame rendered: one the client saw ahead of the
  // position is not missed because the render thread reached it first.
  (stinger ? stinger_from_ : queued_from_) =
      current_play() ? current_.source->position(grid_left_) : 0.0;
  // With nothing playing there is nothing to wait for.
  if (current_play()) return;
  if (stinger) {
    start_stinger();
  } else {
    start_queued_piece();
  }
}

void PerformanceCore::drop(Command& queued) noexcept {
  if (!queued.play.source) return;
  if (queued.leader) queued.leader->waiting.fetch_sub(1, std::memory_order_relaxed);
  if (queued.synth) retired_synths_.push(queued.synth);  // never sounded
  ++plays_started_;  // settled: it no longer keeps the music pending
  queued.play.shared->playing.store(false, std::memory_order_relaxed);
  queued.play.shared->retired.store(true, std::memory_order_release);
  queued = {};
}

int PerformanceCore::chunk_limit() const noexcept {
  if (!queued_.play.source && !stinger_queued_.play.source &&
      lead_clock_->waiting.load(std::memory_order_relaxed) == 0) {
    return kChunkFrames;
  }
  return grid_left_ > 0 ? grid_left_ : synth::kBlockFrames;
}

bool PerformanceCore::boundary_reached(const Command& queued, double& from,
                                       double to) const noexcept {
  const double last = std::exchange(from, to);
  if (queued.flag) return true;
  // A new pass began (or the position wrapped): its start is on every grid.
  if (to < last) return true;
  const std::int32_t* first = queued.boundaries;
  const std::int32_t* end = first + queued.boundary_count;
  const std::int32_t* next = std::upper_bound(first, end, last);
  return next != end && *next <= to;
}

void PerformanceCore::start_queued_if_due() noexcept {
  if (!queued_.play.source && !stinger_queued_.play.source) return;
  const Play* now = current_play();
  // Before this block dispatches, the position is that of the block's first frame.
  const double at = now ? now->source->position(0) : 0.0;
  if (stinger_queued_.play.source &&
      (!now || boundary_reached(stinger_queued_, stinger_from_, at))) {
    start_stinger();
  }
  if (queued_.play.source && queued_.leader) {
    if (leader_boundary_reached(block_frame_)) start_queued_piece();
  } else if (queued_.play.source && (!now || boundary_reached(queued_, queued_from_, at))) {
    start_queued_piece();
  }
}

void PerformanceCore::start_queued_piece() noexcept {
  const Command next = std::exchange(queued_, Command{});
  if (next.leader) next.leader->waiting.fetch_sub(1, std::memory_order_relaxed);
  if (current_play()) {
    if (next.frames > 0 && !current_.synthesized) {
      end_overlaid(outgoing_);
      outgoing_.play = std::exchange(current_, Play{});
      outgoing_.gain = 1.0;
      outgoing_.step = 1.0 / static_cast<double>(next.frames);
      // Still heard, but no longer the channel's piece: its listeners are told it stopped
      // here, as they are of a piece that stops on the boundary, and nothing of its tail.
      publish(MusicEventKind::Stopped, 0.0);
    } else {
      end_current(DMUS_NOTIFICATION_SEGEND);
    }
  }
  begin_play(next);
  on_queued_piece_started(0.0);
}

void PerformanceCore::start_stinger() noexcept {
  const Command next = std::exchange(stinger_queued_, Command{});
  end_overlaid(stinger_);  // one stinger at a time: the newer one cuts the older
  ++plays_started_;
  next.play.shared->started.store(true, std::memory_order_relaxed);
  stinger_.play = next.play;
  stinger_.gain = 1.0;
  stinger_.step = 0.0;
  stinger_.play.source->start(*synth_);
  notify(stinger_.play, DMUS_NOTIFICATION_SEGSTART, stinger_.play.start);
}

void PerformanceCore::render_overlaid(Overlaid& overlaid, int frames) noexcept {
  std::fill_n(overlaid_left_.begin(), frames, 0.0f);
  std::fill_n(overlaid_right_.begin(), frames, 0.0f);
  overlaid.play.source->render(overlaid_left_.data(), overlaid_right_.data(), frames, block_tempo_,
                               overlaid);
  for (std::size_t i = 0; i < static_cast<std::size_t>(frames); ++i) {
    const auto gain = static_cast<float>(std::max(0.0, overlaid.gain));
    dry_left_[i] += overlaid_left_[i] * gain;
    dry_right_[i] += overlaid_right_[i] * gain;
    overlaid.gain -= overlaid.step;
  }
  if (overlaid.ended || overlaid.gain <= 0.0) end_overlaid(overlaid);
}

void PerformanceCore::end_overlaid(Overlaid& overlaid) noexcept {
  if (!overlaid.play.source) return;
  end_play(overlaid.play, DMUS_NOTIFICATION_SEGEND);
  overlaid.play = {};
  overlaid.ended = false;
}

void PerformanceCore::stop_transitions(const Command& stop) noexcept {
  const auto hit = [&](const Play& play) {
    if (!play.source) return false;
    switch (stop.kind) {
      case CommandKind::StopSegment:
        return play.segment == stop.target;
      case CommandKind::StopState:
        return play.state == stop.target;
      default:
        return true;
    }
  };
  const bool queued_hit = hit(queued_.play);
  if (queued_hit) {
    drop(queued_);
    if (current_play()) end_current(DMUS_NOTIFICATION_SEGABORT);
  }
  const bool all = queued_hit || hit(current_) || stop.kind == CommandKind::StopAll;
  if (all || hit(outgoing_.play)) end_overlaid(outgoing_);
  if (all || hit(stinger_queued_.play)) drop(stinger_queued_);
  if (all || hit(stinger_.play)) end_overlaid(stinger_);
}

}  // namespace orvan::music
