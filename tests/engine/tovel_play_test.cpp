// tovel-play on the engine: renders the demo music into a WAV file we then measure, falls
// back to a WAV file without an audio device, and reports refused options.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/run_command.h"
#include "tests/support/sound_measure.h"
#include "tests/support/wav_file.h"

namespace {

const std::string kPlayer = ORVAN_BINARY_DIR "/bin/tovel-play";
const std::string kTheme = ORVAN_BINARY_DIR "/media/Theme.mid";

using Outcome = orvan::testing::CommandOutcome;

Outcome run(const std::string& command) {
  return orvan::testing::run_command(command);
}

class TovelPlay : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kPlayer)) << "build the tovel-play target first";
    ASSERT_TRUE(std::filesystem::exists(kTheme)) << "build the theme-mid target first";
    dir_ = std::filesystem::temp_directory_path() /
           ("orvan_tovel_play_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::filesystem::path dir_;
};

TEST_F(TovelPlay, RendersTheEndOfTheThemeAndLetsItRingOut) {
  const auto wav_path = dir_ / "end.wav";
  // The last 17504 units: 22.8 quarters, the coda's slower tempo included.
  const Outcome r = run("'" + kPlayer + "' --quiet --render '" + wav_path.string() +
                        "' --start 100000 '" + kTheme + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("wrote " + wav_path.string()), std::string::npos) << r.out;

  const orvan::testing::StereoWav wav = orvan::testing::read_stereo_wav(wav_path);
  EXPECT_EQ(wav.rate, 48000);
  const double seconds = static_cast<double>(wav.frames()) / wav.rate;
  EXPECT_GT(seconds, 12.0);
  EXPECT_LT(seconds, 12.0 + 30.0 + 2.0) << "the tail ends within 30 s of the music's end";

  EXPECT_LT(orvan::testing::peak(wav.samples, 0, wav.frames()), 1.0) << "no clipping";
  EXPECT_GT(orvan::testing::rms(wav.samples, 0, wav.frames()), 0.005) << "music, not silence";
  const std::size_t last_100ms = static_cast<std::size_t>(wav.rate) / 10;
  ASSERT_GT(wav.frames(), last_100ms);
  EXPECT_LT(orvan::testing::rms(wav.samples, wav.frames() - last_100ms, last_100ms), 0.001)
      << "the render ends once the sound has died away";
}

TEST_F(TovelPlay, WithoutAnAudioDeviceSaysSoOnceAndRendersInstead) {
  const auto wav_path = dir_ / "fallback.wav";
  const Outcome r =
      run("SDL_AUDIODRIVER=no-such-driver '" + kPlayer + "' --quiet --fallback-render '" +
          wav_path.string() + "' --start 110000 '" + kTheme + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string said = "no audio device";
  const auto at = r.out.find(said);
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(said, at + 1), std::string::npos) << "said once";
  EXPECT_EQ(r.out.find("ALSA"), std::string::npos) << "no library chatter: " << r.out;
  EXPECT_NE(r.out.find("rendering to " + wav_path.string() + " instead"), std::string::npos)
      << r.out;
  EXPECT_GT(orvan::testing::read_stereo_wav(wav_path).frames(), 48000u);
}

TEST_F(TovelPlay, UnplayableRequestsFailWithOneReason) {
  const Outcome refused = run("'" + kPlayer + "' --quiet --render '" + (dir_ / "x.wav").string() +
                              "' --tempo 0 '" + kTheme + "'");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("--tempo"), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("E_INVALIDARG"), std::string::npos) << refused.out;

  const Outcome missing = run("'" + kPlayer + "' --quiet --render '" + (dir_ / "y.wav").string() +
                              "' '" + (dir_ / "missing.mid").string() + "'");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("missing.mid"), std::string::npos) << missing.out;
  EXPECT_NE(missing.out.find("Couldn't load this file"), std::string::npos) << missing.out;
}

}  // namespace
