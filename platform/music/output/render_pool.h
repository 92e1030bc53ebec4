// A second render thread for the channels of the one real-time output. Channels render in
// turn on SDL's audio thread; with two cores, half of each period's channels render on a
// helper thread at the same time, so twice as many busy channels keep up. Each channel
// renders the same period into a buffer of its own, and the owner mixes them in slot order,
// so the output is the same sum, sample for sample, whichever thread rendered what.
//
// Handing a period over and waiting for it take no lock and allocate nothing: the job is
// published with an atomic counter, and each side sleeps on an atomic (a futex) when it has
// nothing to do, so the wait for the helper's half lasts as long as that half renders.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace orvan::music::output {

// What the pool renders: one channel's next period. Render threads only.
class PeriodRenderer {
 public:
  virtual void render_period(float* out, int frames) noexcept = 0;

 protected:
  ~PeriodRenderer() = default;
};

class RenderPool {
 public:
  // Render threads a pool uses on a machine with `cores` cores, when `wanted` asks for at
  // most that many (0: as many as the cores allow); never more than two.
  static int threads_for(int wanted, unsigned cores);

  RenderPool() = default;
  ~RenderPool() { stop(); }
  RenderPool(const RenderPool&) = delete;
  RenderPool& operator=(const RenderPool&) = delete;

  // Not on the render thread: starts the helper thread when `threads` is 2 (1: every
  // channel renders on the caller's thread). stop() ends it; neither while render() runs.
  void start(int threads);
  void stop();

  // Render thread: renders `count` devices' next `frames` frames, device i into into[i]
  // (each holding `frames` stereo frames), on this thread and the helper's.
  void render(PeriodRenderer* const* devices, float* const* into, int count, int frames) noexcept;

 private:
  void help(std::uint32_t seen);  // the helper thread, from the job after `seen`
  void render_share(int first) noexcept;

  std::thread helper_;
  // The job: written by the render thread before it publishes `job_`, read by the helper
  // after it sees the new value.
  PeriodRenderer* const* devices_ = nullptr;
  float* const* into_ = nullptr;
  int count_ = 0;
  int frames_ = 0;
  std::atomic<std::uint32_t> job_{0};   // the render thread counts jobs handed over
  std::atomic<std::uint32_t> done_{0};  // the helper: the last job it finished
  std::atomic<bool> quit_{false};
};

}  // namespace orvan::music::output
