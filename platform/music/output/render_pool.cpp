#include "platform/music/output/render_pool.h"

#include <algorithm>

namespace orvan::music::output {

int RenderPool::threads_for(int wanted, unsigned cores) {
  const int allowed = std::clamp(static_cast<int>(cores), 1, 2);
  return wanted <= 0 ? allowed : std::min(wanted, allowed);
}

void RenderPool::start(int threads) {
  stop();
  if (threads < 2) return;
  quit_.store(false, std::memory_order_relaxed);
  // The jobs counted so far (those of an earlier start and its stop included) are not the
  // new helper's to do.
  helper_ = std::thread(&RenderPool::help, this, job_.load(std::memory_order_relaxed));
}

void RenderPool::stop() {
  if (!helper_.joinable()) return;
  quit_.store(true, std::memory_order_relaxed);
  job_.fetch_add(1, std::memory_order_release);
  job_.notify_one();
  helper_.join();
}

void RenderPool::render_share(int first) noexcept {
  // Every other device: a period's channels are alike enough that alternating splits the
  // work evenly without measuring it.
  for (int i = first; i < count_; i += 2) devices_[i]->render_period(into_[i], frames_);
}

void RenderPool::render(PeriodRenderer* const* devices, float* const* into, int count,
                        int frames) noexcept {
  devices_ = devices;
  into_ = into;
  count_ = count;
  frames_ = frames;
  if (!helper_.joinable() || count < 2) {
    render_share(0);
    if (count > 1) render_share(1);
    return;
  }
  const std::uint32_t job = job_.fetch_add(1, std::memory_order_release) + 1;
  job_.notify_one();
  render_share(0);
  for (std::uint32_t seen = done_.load(std::memory_order_acquire); seen != job;
       seen = done_.load(std::memory_order_acquire)) {
    done_.wait(seen, std::memory_order_acquire);
  }
}

void RenderPool::help(std::uint32_t seen) {
  for (;;) {
    job_.wait(seen, std::memory_order_acquire);
    seen = job_.load(std::memory_order_acquire);
    if (quit_.load(std::memory_order_relaxed)) return;
    render_share(1);
    done_.store(seen, std::memory_order_release);
    done_.notify_one();
  }
}

}  // namespace orvan::music::output
