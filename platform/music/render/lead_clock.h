// What a channel's render side tells the channels that follow it (layers): where each of its
// synthesizer blocks fell on the output they share, the position of its piece there, and the
// master tempo it played at. Written by the leader's render thread, read by its followers'
// render threads, which render after it in every period (OutputDevice::shared_output(),
// RenderSource::render_rank()). A render-side object: the leader's core owns it and every
// follower's core holds it until closed, so neither render side holds a client object.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace orvan::music {

struct LeadClock {
  // Blocks remembered: more than a period of the largest device period holds.
  static constexpr std::size_t kBlocks = 512;

  struct Block {
    std::atomic<std::int64_t> frame{0};  // on the shared output
    std::atomic<double> position{0.0};   // music time of the piece playing at the block's start
  };

  // Render thread of the leader only.
  void record(std::int64_t frame, double position) noexcept {
    const std::uint64_t n = written.load(std::memory_order_relaxed);
    Block& block = blocks[n % kBlocks];
    block.frame.store(frame, std::memory_order_relaxed);
    block.position.store(position, std::memory_order_relaxed);
    written.store(n + 1, std::memory_order_release);
  }

  std::array<Block, kBlocks> blocks{};
  std::atomic<std::uint64_t> written{0};  // blocks recorded so far
  // The master tempo of the leader's last period (read by a recording's decode thread too).
  std::atomic<float> tempo{1.0f};
  // A piece plays on the leader: false once it stops, ends or the leader closes.
  std::atomic<bool> playing{false};
  // Layers waiting for a boundary of the leader's piece. While there are any, the leader
  // renders block by block: a recording or a module adds its frames once per render, after
  // the synthesizer, and would otherwise tell every block of a period the position of the
  // period's start, putting the layer up to a period late.
  mutable std::atomic<int> waiting{0};
};

}  // namespace orvan::music
