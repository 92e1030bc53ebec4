// Late periods are told by the device's clock: a period handed over after the device needed
// it is late once, not in every period after it, and slack a device gained by asking early
// is used.
#include <gtest/gtest.h>

#include "platform/music/output/output_counts.h"

namespace orvan::music::output {
namespace {

constexpr int kRate = 48000;
constexpr int kFrames = 960;  // 20 ms
constexpr std::int64_t kMs = 1000000;

TEST(LatePeriodMeter, CountsAPeriodPastTheDevicesClockOnceAndUsesSlackFromEarlyRequests) {
  LatePeriodMeter meter;
  int late = 0;
  const auto period = [&](std::int64_t asked, std::int64_t took) {
    late += meter.period(asked * kMs, (asked + took) * kMs, kFrames, kRate) ? 1 : 0;
  };
  // While the clock settles, its anchor follows the requests, however late they come.
  for (int i = 0; i < LatePeriodMeter::kSettlingPeriods; ++i) period(i * 30, 25);
  EXPECT_EQ(late, 0);
  // Anchored at 90 ms with four periods handed over (the last due at 110 ms). The device
  // fills its buffer at once: due at 130 and 150 ms, so a 35 ms render is in time.
  period(110, 2);
  period(112, 35);
  EXPECT_EQ(late, 0);
  // That used the slack up: due at 170 ms, done at 171 ms.
  period(150, 21);
  EXPECT_EQ(late, 1);
  // The clock starts again at 171 ms: a request that comes 14 ms after it is in time when
  // handed over by 191 ms; one that comes once the next was due is late, however quick.
  period(185, 5);
  EXPECT_EQ(late, 1);
  period(211, 1);
  EXPECT_EQ(late, 2);
  // A device opened anew settles the clock again, whatever the old one said.
  meter.restart();
  period(1000, 50);
  EXPECT_EQ(late, 2);
}

}  // namespace
}  // namespace orvan::music::output
