// A stage of the render chain that produces NaN: the channel goes silent for that chunk and
// sounds again by itself, the device never sees a non-finite sample, and another channel
// renders exactly as it would alone.
#include <atomic>
#include <cmath>
#include <limits>

#include "platform/music/render/performance_core.h"
#include "tests/performance/performance_fixture.h"
#include "tests/support/sound_measure.h"

namespace orvan::music::testing {
namespace {

using orvan::testing::rms;
using orvan::testing::to_db;

// Writes one NaN into the music for its first `bad_chunks` calls, then passes it through.
class NanChain final : public EffectChain {
 public:
  explicit NanChain(int bad_chunks) : bad_left_(bad_chunks) {}
  void process(float* left, float* /*right*/, int frames) noexcept override {
    if (bad_left_ > 0 && frames > 0) {
      --bad_left_;
      left[frames / 2] = std::numeric_limits<float>::quiet_NaN();
    }
  }
  void reset() noexcept override { resets.fetch_add(1); }

  std::atomic<int> resets{0};

 private:
  int bad_left_;
};

Ref<DirectMusicSegment8> chord() {
  return SequenceBuilder()
      .program(0, 0)
      .note(0, 7000, 60, 110)
      .note(0, 7000, 64, 110)
      .note(0, 7000, 67, 110)
      .segment(7680);
}

bool all_finite(const std::vector<float>& s) {
  for (float v : s)
    if (!std::isfinite(v)) return false;
  return true;
}

TEST(NonFiniteOutput, ABrokenStageSilencesItsChannelBrieflyAndSparesTheOthers) {
  Player broken, other, alone;
  ASSERT_EQ(broken.status, com::S_OK);
  ASSERT_EQ(other.status, com::S_OK);
  ASSERT_EQ(alone.status, com::S_OK);
  auto chain = std::make_unique<NanChain>(3);
  NanChain* nan_chain = chain.get();
  ASSERT_EQ(broken.perf->core()->replace_effect_chain(std::move(chain)), com::S_OK);
  broken.play(chord());
  other.play(chord());
  alone.play(chord());

  // Rendered in turns, as a shared device would; `alone` is rendered on its own.
  std::vector<float> from_broken, from_other;
  const int period = broken.device->period_frames();
  for (int i = 0; i < kRate / 2 / period; ++i) {
    const auto a = broken.render(period);
    const auto b = other.render(period);
    from_broken.insert(from_broken.end(), a.begin(), a.end());
    from_other.insert(from_other.end(), b.begin(), b.end());
  }
  const std::vector<float> reference =
      alone.render(static_cast<std::int64_t>(from_other.size() / 2));

  EXPECT_TRUE(all_finite(from_broken));
  EXPECT_EQ(nan_chain->resets.load(), 3) << "the chain starts afresh after each bad chunk";
  // Silent while the stage is broken, sounding again once it is not.
  EXPECT_EQ(orvan::testing::peak(from_broken, 0, static_cast<std::size_t>(period)), 0.0);
  const std::size_t frames = from_broken.size() / 2;
  EXPECT_GT(to_db(rms(from_broken, frames - kRate / 10, kRate / 10)), -40.0);
  EXPECT_NEAR(to_db(rms(from_broken, frames - kRate / 10, kRate / 10)),
              to_db(rms(reference, frames - kRate / 10, kRate / 10)), 1.0);
  // The other channel is untouched, sample for sample.
  EXPECT_TRUE(from_other == reference);
}

}  // namespace
}  // namespace orvan::music::testing
