// Render-thread side of transitions: a play queued for a boundary of the piece playing
// starts on the first synthesizer block after that boundary (so at most one block late),
// and the piece it replaces stops there or fades out under it. No allocation, no waiting.
#include <algorithm>

#include "platform/music/render/performance_core.h"
#include "platform/music/render/playback_shared.h"
#include "platform/music/synth/synth.h"

namespace orvan::music {

void PerformanceCore::take_queued(const Command& command) noexcept {
  drop_queued();  // a later request replaces the one still waiting
  if (!current_play()) {
    // Nothing to wait for: the piece starts as a plain play would.
    end_outgoing();
    begin_play(command);
    return;
  }
  queued_ = command;
  // Boundaries from the last frame rendered on count: one the client saw ahead of the
  // position is not missed because the render thread reached it first.
  queued_from_ = current_.source->position(grid_left_);
}

void PerformanceCore::drop_queued() noexcept {
  if (!queued_.play.source) return;
  ++plays_started_;  // settled: it no longer keeps the music pending
  queued_.play.shared->playing.store(false, std::memory_order_relaxed);
  queued_.play.shared->retired.store(true, std::memory_order_release);
  queued_ = {};
}

int PerformanceCore::chunk_limit() const noexcept {
  if (!queued_.play.source) return kChunkFrames;
  return grid_left_ > 0 ? grid_left_ : synth::kBlockFrames;
}

bool PerformanceCore::boundary_reached(double from, double to) const noexcept {
  // A new pass began (or the position wrapped): its start is on every grid.
  if (to < from) return true;
  const std::int32_t* first = queued_.boundaries;
  const std::int32_t* last = first + queued_.boundary_count;
  const std::int32_t* next = std::upper_bound(first, last, from);
  return next != last && *next <= to;
}

void PerformanceCore::start_queued_if_due() noexcept {
  if (!queued_.play.source) return;
  if (const Play* now = current_play()) {
    // Before this block dispatches, the position is that of the block's first frame.
    const double at = now->source->position(0);
    const double from = std::exchange(queued_from_, at);
    if (!queued_.flag && !boundary_reached(from, at)) return;
  }
  start_queued_piece();
}

void PerformanceCore::start_queued_piece() noexcept {
  const Command next = queued_;
  queued_ = {};
  if (current_play()) {
    if (next.frames > 0 && !current_.synthesized) {
      end_outgoing();
      outgoing_.play = current_;
      outgoing_.gain = 1.0;
      outgoing_.step = 1.0 / static_cast<double>(next.frames);
      outgoing_.ended = false;
      current_ = {};
    } else {
      end_current(DMUS_NOTIFICATION_SEGEND);
    }
  }
  begin_play(next);
}

void PerformanceCore::render_outgoing(int frames) noexcept {
  std::fill_n(outgoing_left_.begin(), frames, 0.0f);
  std::fill_n(outgoing_right_.begin(), frames, 0.0f);
  outgoing_.play.source->render(outgoing_left_.data(), outgoing_right_.data(), frames, block_tempo_,
                                outgoing_);
  for (std::size_t i = 0; i < static_cast<std::size_t>(frames); ++i) {
    const auto gain = static_cast<float>(std::max(0.0, outgoing_.gain));
    dry_left_[i] += outgoing_left_[i] * gain;
    dry_right_[i] += outgoing_right_[i] * gain;
    outgoing_.gain -= outgoing_.step;
  }
  if (outgoing_.ended || outgoing_.gain <= 0.0) end_outgoing();
}

void PerformanceCore::end_outgoing() noexcept {
  if (!outgoing_.play.source) return;
  end_play(outgoing_.play, DMUS_NOTIFICATION_SEGEND);
  outgoing_.play = {};
  outgoing_.ended = false;
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
    drop_queued();
    if (current_play()) end_current(DMUS_NOTIFICATION_SEGABORT);
  }
  if (queued_hit || hit(outgoing_.play) || hit(current_) || stop.kind == CommandKind::StopAll) {
    end_outgoing();
  }
}

}  // namespace orvan::music
