// tovel-play on the engine: renders the demo music into a WAV file we then measure, falls
// back to a WAV file without an audio device, and reports refused options.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/run_command.h"

namespace {

const std::string kPlayer = ORVAN_BINARY_DIR "/bin/tovel-play";
const std::string kTheme = ORVAN_BINARY_DIR "/media/Theme.mid";

using Outcome = orvan::testing::CommandOutcome;

Outcome run(const std::string& command) {
  return orvan::testing::run_command(command);
}

struct Wav {
  int channels = 0;
  int rate = 0;
  std::vector<float> samples;  // interleaved
};

// Reads the 32-bit float WAV files the platform writes.
bool read_float_wav(const std::filesystem::path& path, Wav& wav) {
  std::error_code error;
  const auto file_size = std::filesystem::file_size(path, error);
  if (error) return false;
  std::string bytes(file_size, '\0');
  std::ifstream in(path, std::ios::binary);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
    return false;
  auto u32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
  };
  auto u16 = [&](std::size_t at) {
    std::uint16_t v = 0;
    std::memcpy(&v, bytes.data() + at, 2);
    return v;
  };
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    const std::string id = bytes.substr(at, 4);
    const std::size_t size = u32(at + 4);
    const std::size_t body = at + 8;
    if (body + size > bytes.size()) return false;
    if (id == "fmt ") {
      wav.channels = u16(body + 2);
      wav.rate = static_cast<int>(u32(body + 4));
      if (u16(body + 14) != 32) return false;
    } else if (id == "data") {
      wav.samples.resize(size / sizeof(float));
      std::memcpy(wav.samples.data(), bytes.data() + body, wav.samples.size() * sizeof(float));
      return wav.channels > 0;
    }
    at = body + size + (size & 1);
  }
  return false;
}

double rms(const std::vector<float>& s, std::size_t first, std::size_t end) {
  double sum = 0.0;
  for (std::size_t i = first; i < end; ++i) sum += static_cast<double>(s[i]) * s[i];
  return end > first ? std::sqrt(sum / static_cast<double>(end - first)) : 0.0;
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

  Wav wav;
  ASSERT_TRUE(read_float_wav(wav_path, wav));
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.rate, 48000);
  const double seconds = static_cast<double>(wav.samples.size()) / 2.0 / wav.rate;
  EXPECT_GT(seconds, 12.0);
  EXPECT_LT(seconds, 12.0 + 30.0 + 2.0) << "the tail ends within 30 s of the music's end";

  float peak = 0.0f;
  for (float s : wav.samples) peak = std::max(peak, std::fabs(s));
  EXPECT_LT(peak, 1.0f) << "no clipping";
  EXPECT_GT(rms(wav.samples, 0, wav.samples.size()), 0.005) << "music, not silence";
  const std::size_t last_100ms = 2 * static_cast<std::size_t>(wav.rate) / 10;
  EXPECT_LT(rms(wav.samples, wav.samples.size() - last_100ms, wav.samples.size()), 0.001)
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
  Wav wav;
  ASSERT_TRUE(read_float_wav(wav_path, wav));
  EXPECT_GT(wav.samples.size(), 2u * 48000u);
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
