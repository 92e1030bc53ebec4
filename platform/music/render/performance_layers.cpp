// Render-thread side of layers: a channel tells its clock (where each of its synthesizer
// blocks fell on the shared output, and its piece's position there) and a layer queued on
// another channel starts on the first of its own blocks at or after the leader's block that
// reached the boundary. Both render on one output clock and the leader renders first in
// every period, so the layer lands in the same block as the boundary and cannot drift.
// No allocation, no waiting, no logging.
#include <algorithm>

#include "platform/music/render/performance_core.h"

namespace orvan::music {

void PerformanceCore::tell_lead_clock(std::int64_t frame) noexcept {
  const Play* now = current_play();
  lead_clock_->playing.store(now != nullptr, std::memory_order_relaxed);
  if (now && !current_paused_) lead_clock_->record(frame, now->source->position(0));
}

void PerformanceCore::take_follow(const Command& command) noexcept {
  // The leader's blocks of this very period (it renders first) are still ahead of this
  // channel: look from the first of them, counting from the leader's position before it.
  const LeadClock& lead = *command.leader;
  lead.waiting.fetch_add(1, std::memory_order_relaxed);  // until it starts or is dropped
  const std::uint64_t written = lead.written.load(std::memory_order_acquire);
  const std::uint64_t oldest = written > LeadClock::kBlocks ? written - LeadClock::kBlocks : 0;
  std::uint64_t from = written;
  while (from > oldest && lead.blocks[(from - 1) % LeadClock::kBlocks].frame.load(
                              std::memory_order_relaxed) >= output_origin_) {
    --from;
  }
  lead_seen_ = from;
  queued_from_ =
      from > oldest
          ? lead.blocks[(from - 1) % LeadClock::kBlocks].position.load(std::memory_order_relaxed)
          : 0.0;
}

bool PerformanceCore::leader_boundary_reached(std::int64_t frame) noexcept {
  const LeadClock& lead = *queued_.leader;
  // Nothing plays there: nothing to wait for.
  if (queued_.flag || !lead.playing.load(std::memory_order_relaxed)) return true;
  const std::uint64_t written = lead.written.load(std::memory_order_acquire);
  lead_seen_ =
      std::max(lead_seen_, written > LeadClock::kBlocks ? written - LeadClock::kBlocks : 0);
  while (lead_seen_ < written) {
    const LeadClock::Block& block = lead.blocks[lead_seen_ % LeadClock::kBlocks];
    if (block.frame.load(std::memory_order_relaxed) > frame) return false;
    ++lead_seen_;
    if (boundary_reached(queued_, queued_from_, block.position.load(std::memory_order_relaxed))) {
      return true;
    }
  }
  return false;
}

}  // namespace orvan::music
