// The level a channel hands to the device with the system's General MIDI SoundFont: typical
// music near -20 dBFS RMS at master volume 0, no DC offset, and no sample above the
// limiter's ceiling even at +20 dB.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>

#include <nlohmann/json.hpp>

#include "platform/music/client/loader.h"
#include "platform/music/dsp/output_stage.h"
#include "tests/performance/performance_fixture.h"
#include "tests/support/sound_measure.h"

namespace orvan::music::testing {
namespace {

constexpr int kLevelRate = 22050;
constexpr int kSeconds = 20;  // of each file, from its start

// One performance with the system's SoundFont, loaded once for every file.
class LevelPlayer : public Player {
 public:
  LevelPlayer() : Player(nullptr, kLevelRate, "") {}
  ~LevelPlayer() { perf->CloseDown(); }

  // The first kSeconds of `file` at `volume`, then the render stops and dies away.
  std::vector<float> render_file(const std::string& file, std::int32_t volume) {
    Ref<DirectMusicSegment8> segment;
    EXPECT_EQ(loader->LoadSegment(file, segment), com::S_OK) << file;
    if (!segment) return {};
    EXPECT_EQ(perf->SetMasterVolume(volume), com::S_OK);
    play(segment);
    std::vector<float> out = render(std::int64_t{kSeconds} * kLevelRate);
    perf->StopEx(nullptr, 0, 0);
    device->set_capture_enabled(false);
    device->pump(3 * kLevelRate);  // the next file starts from silence
    device->set_capture_enabled(true);
    return out;
  }

  Ref<DirectMusicLoader8> loader = com::make_ref<DirectMusicLoader8>();
};

double dbfs_rms(const std::vector<float>& s) {
  return orvan::testing::to_db(orvan::testing::rms(s, 0, s.size() / 2));
}

double worst_dc(const std::vector<float>& s) {
  double sum[2] = {0, 0};
  for (std::size_t i = 0; i < s.size(); ++i) sum[i % 2] += s[i];
  const double frames = static_cast<double>(s.size() / 2);
  return std::max(std::fabs(sum[0]), std::fabs(sum[1])) / frames;
}

std::vector<std::string> openmsx_files() {
  std::ifstream in(ORVAN_SOURCE_DIR "/tests/data/openmsx_reference.json");
  const nlohmann::json table = nlohmann::json::parse(in);
  std::vector<std::string> files;
  for (const nlohmann::json& entry : table.at("files"))
    files.push_back(table.at("folder").get<std::string>() + "/" +
                    entry.at("file").get<std::string>());
  return files;
}

TEST(OutputLevel, TypicalMusicSitsNearMinus20DbfsWithoutDcAndNeverPassesTheCeiling) {
  const std::string theme = ORVAN_BINARY_DIR "/media/Theme.mid";
  ASSERT_TRUE(std::filesystem::exists(theme)) << "build the theme-mid target first";
  std::vector<std::string> files = openmsx_files();
  if (!std::filesystem::exists(files.front())) GTEST_SKIP() << "openttd-openmsx is not installed";
  files.insert(files.begin(), theme);

  LevelPlayer player;
  ASSERT_EQ(player.status, com::S_OK);
  std::vector<double> levels;
  for (const std::string& file : files) {
    const std::vector<float> out = player.render_file(file, 0);
    ASSERT_FALSE(out.empty()) << file;
    const double level = dbfs_rms(out);
    levels.push_back(level);
    std::printf("  %-32s %6.1f dBFS RMS, peak %6.1f dBFS, DC %.6f\n",
                std::filesystem::path(file).filename().c_str(), level,
                orvan::testing::to_db(orvan::testing::peak(out, 0, out.size() / 2)), worst_dc(out));
    // Quiet pieces (a solo harp) and loud ones exist; none is far off the aim.
    EXPECT_GT(level, -33.0) << file;
    EXPECT_LT(level, -13.0) << file;
    EXPECT_LT(worst_dc(out), 1e-4) << file;
  }
  std::vector<double> sorted = levels;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted[sorted.size() / 2];
  RecordProperty("median_dbfs", std::to_string(median));
  EXPECT_NEAR(median, -20.0, 2.0) << "the median of the files";

  // At +20 dB the limiter holds every sample under -0.3 dBFS.
  const std::vector<float> loud = player.render_file(theme, 2000);
  EXPECT_LE(orvan::testing::peak(loud, 0, loud.size() / 2), dsp::PeakLimiter::kCeiling);
  EXPECT_GT(dbfs_rms(loud), levels.front() + 6.0) << "still much louder than at 0 dB";
}

}  // namespace
}  // namespace orvan::music::testing
