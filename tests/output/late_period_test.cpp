// Late periods are told by the device's clock: a render that outlasts its period is late
// once, not in every period after it, and slack a device gained by asking early is used.
#include <gtest/gtest.h>

#include "platform/music/output/output_counts.h"

namespace orvan::music::output {
namespace {

constexpr int kRate = 48000;
constexpr int kFrames = 960;                // 20 ms
constexpr std::int64_t kPeriod = 20000000;  // ns
constexpr std::int64_t kMs = 1000000;

TEST(LatePeriodMeter, CountsARenderPastTheDevicesNeedOnceAndUsesSlackFromEarlyRequests) {
  LatePeriodMeter meter;
  int late = 0;
  const auto period = [&](std::int64_t asked, std::int64_t took) {
    late += meter.period(asked, asked + took, kFrames, kRate) ? 1 : 0;
  };
  // The device fills its buffer with two requests at once, then asks once a period.
  period(0, 2 * kMs);
  period(2 * kMs, 2 * kMs);
  EXPECT_EQ(late, 0);
  // Asked at 20 ms with two periods handed over: due at 60 ms, so 35 ms of render is in time.
  period(kPeriod, 35 * kMs);
  EXPECT_EQ(late, 0);
  // That used the slack up: from here a render longer than its period is late.
  period(55 * kMs, 19 * kMs);  // done at 74 ms, due at 80 ms
  EXPECT_EQ(late, 0);
  period(80 * kMs, 25 * kMs);  // done at 105 ms, due at 100 ms
  EXPECT_EQ(late, 1);
  // The device waited for it: the next request comes late, but its render is in time.
  period(105 * kMs, 5 * kMs);
  period(125 * kMs, 5 * kMs);
  EXPECT_EQ(late, 1);
  // A device opened anew anchors the clock again, whatever the old one said.
  meter.restart();
  period(10 * kMs, 15 * kMs);
  EXPECT_EQ(late, 1);
  period(10 * kMs + kPeriod, 21 * kMs);
  EXPECT_EQ(late, 2);
}

}  // namespace
}  // namespace orvan::music::output
