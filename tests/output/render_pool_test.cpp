// The output's second render thread: every channel renders its own period exactly once per
// call, into its own buffer, and with two threads the helper takes every other channel.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/music/output/render_pool.h"

namespace orvan::music::output {
namespace {

// A channel whose period is its number and the count of periods it rendered so far.
class NumberedChannel final : public PeriodRenderer {
 public:
  explicit NumberedChannel(float number) : number_(number) {}
  void render_period(float* out, int frames) noexcept override {
    ++periods;
    thread = std::this_thread::get_id();
    for (int i = 0; i < frames * 2; ++i) out[i] = number_ + static_cast<float>(periods);
  }
  int periods = 0;
  std::thread::id thread;

 private:
  const float number_;
};

TEST(RenderPool, EveryChannelRendersOncePerPeriodIntoItsOwnBufferOnOneThreadOrTwo) {
  EXPECT_EQ(RenderPool::threads_for(0, 1), 1);
  EXPECT_EQ(RenderPool::threads_for(0, 8), 2);
  EXPECT_EQ(RenderPool::threads_for(1, 8), 1);
  EXPECT_EQ(RenderPool::threads_for(3, 2), 2);

  constexpr int kChannels = 5, kFrames = 64;
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    std::vector<NumberedChannel> channels;
    for (int c = 0; c < kChannels; ++c) channels.emplace_back(100.0f * static_cast<float>(c));
    std::array<PeriodRenderer*, kChannels> renderers{};
    std::vector<std::vector<float>> buffers(kChannels, std::vector<float>(kFrames * 2));
    std::array<float*, kChannels> into{};
    for (int c = 0; c < kChannels; ++c) {
      renderers[static_cast<std::size_t>(c)] = &channels[static_cast<std::size_t>(c)];
      into[static_cast<std::size_t>(c)] = buffers[static_cast<std::size_t>(c)].data();
    }
    RenderPool pool;
    pool.start(threads);
    for (int period = 1; period <= 3; ++period) {
      pool.render(renderers.data(), into.data(), kChannels, kFrames);
      for (int c = 0; c < kChannels; ++c) {
        const auto& channel = channels[static_cast<std::size_t>(c)];
        EXPECT_EQ(channel.periods, period);
        EXPECT_EQ(buffers[static_cast<std::size_t>(c)].back(),
                  100.0f * static_cast<float>(c) + static_cast<float>(period));
      }
    }
    // Channels 0, 2, 4 on the caller; 1 and 3 on the helper when there is one.
    const auto here = std::this_thread::get_id();
    EXPECT_EQ(channels[0].thread, here);
    EXPECT_EQ(channels[2].thread, here);
    EXPECT_EQ(channels[1].thread == here, threads == 1);
    EXPECT_EQ(channels[3].thread, channels[1].thread);
    // A pool started again does the jobs handed to it from then on, none of those before;
    // one channel needs no helper.
    pool.stop();
    pool.start(threads);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a stray job would be done
    EXPECT_EQ(channels[1].periods, 3);
    pool.render(renderers.data(), into.data(), 1, kFrames);
    EXPECT_EQ(channels[0].periods, 4);
    EXPECT_EQ(channels[1].periods, 3);
    pool.render(renderers.data(), into.data(), 2, kFrames);
    EXPECT_EQ(channels[1].periods, 4);
  }
}

}  // namespace
}  // namespace orvan::music::output
