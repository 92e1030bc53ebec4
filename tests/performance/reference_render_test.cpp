// Real music nobody here wrote, rendered by us and by FluidSynth's own command-line player
// with the same SoundFont: the loudness envelopes must agree in shape and in time.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/music/client/loader.h"
#include "tests/performance/performance_fixture.h"
#include "tests/support/sound_measure.h"
#include "tests/support/wav_file.h"

namespace orvan::music::testing {
namespace {

const std::string kMusicDir = kOpenMsxFolder;

class ReferenceRender : public ::testing::TestWithParam<const char*> {};

TEST_P(ReferenceRender, LoudnessEnvelopeMatchesFluidSynthsOwnPlayer) {
  const std::string file = kMusicDir + GetParam();
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no " << file;
  if (std::system("command -v fluidsynth >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "the fluidsynth program is not installed";
  }
  const std::string reference = (std::filesystem::temp_directory_path() /
                                 ("orvan_reference_" + std::to_string(::getpid()) + ".wav"))
                                    .string();
  const std::string command = "fluidsynth -ni -F '" + reference + "' -r " + std::to_string(kRate) +
                              " '" + kSmallSoundFont + "' '" + file + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<float> theirs = orvan::testing::read_stereo_wav(reference).samples;
  std::filesystem::remove(reference);
  ASSERT_FALSE(theirs.empty());

  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  auto loader = com::make_ref<DirectMusicLoader8>();
  Ref<DirectMusicSegment8> segment;
  ASSERT_EQ(loader->LoadSegment(file, segment), com::S_OK);
  p.play(segment);
  // The first minute carries plenty of structure; all of it would only make the test slow.
  const std::int64_t frames = std::min<std::int64_t>(60 * kRate, theirs.size() / 2);
  const std::vector<float> ours = p.render(frames);
  const std::span<const float> theirs_part(theirs.data(), static_cast<std::size_t>(2 * frames));

  // 10 ms windows every millisecond; lags within +-50 ms.
  const auto a = orvan::testing::rms_envelope(theirs_part, kRate / 100, kRate / 1000);
  const auto b = orvan::testing::rms_envelope(ours, kRate / 100, kRate / 1000);
  const auto best = orvan::testing::best_lag_correlation(a, b, 50);
  RecordProperty("correlation", std::to_string(best.correlation));
  RecordProperty("lag_ms", best.lag);
  std::printf("  %s: correlation %.4f at %+d ms\n", GetParam(), best.correlation, best.lag);
  EXPECT_GE(best.correlation, 0.9);
  EXPECT_LE(std::abs(best.lag), 5);
}

INSTANTIATE_TEST_SUITE_P(Openmsx, ReferenceRender,
                         ::testing::Values("busy_schedule.mid", "chuggachugga.mid",
                                           "5432gone_redfarn.mid"),
                         [](const auto& param_info) {
                           std::string name = param_info.param;
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace orvan::music::testing
