// tovel-play --render on real music: the file starts with the music (the first note sounds
// within one synthesizer block of its time in the MIDI file, also from a --start point),
// rendering the same file twice with the same options writes the same bytes, and Theme.mid
// sounds at two rates as it did when the whole SoundFont was loaded at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>
#include <nlohmann/json.hpp>

#include "tests/support/run_command.h"
#include "tests/support/smf_writer.h"
#include "tests/support/sound_measure.h"
#include "tests/support/wav_file.h"

namespace {

using orvan::testing::file_bytes;
using orvan::testing::first_frame_above;

const std::string kPlayer = ORVAN_BINARY_DIR "/bin/tovel-play";
const std::string kMusicDir = orvan::testing::kOpenMsxFolder;
constexpr int kBlockFrames = 64;
// Below -100 dBFS: the first sample of a note's attack, not a level that takes the
// instrument's attack time to reach. Before the music the output is exactly zero.
constexpr float kOnsetLevel = 1e-5f;

// The first sounding note of each openmsx file, in seconds, from the reference table that
// mido computed (tests/data).
double reference_first_note(const std::string& file) {
  std::ifstream in(ORVAN_SOURCE_DIR "/tests/data/openmsx_reference.json");
  const nlohmann::json table = nlohmann::json::parse(in);
  for (const nlohmann::json& entry : table.at("files"))
    if (entry.at("file") == file) return entry.at("first_note_seconds").get<double>();
  ADD_FAILURE() << file << " is not in the reference table";
  return 0.0;
}

class TovelPlayRenderStart : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kPlayer)) << "build the tovel-play target first";
    dir_ = std::filesystem::temp_directory_path() /
           ("orvan_render_start_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Renders `midi` with `options`; the bytes of the WAV file.
  std::string render(const std::string& midi, const std::string& options) {
    const auto wav = dir_ / "out.wav";
    std::filesystem::remove(wav);
    const auto outcome = orvan::testing::run_command(
        "'" + kPlayer + "' --quiet --render '" + wav.string() + "' " + options + " '" + midi + "'");
    EXPECT_EQ(outcome.status, 0) << options << " " << midi << "\n" << outcome.out;
    return file_bytes(wav);
  }
  // The interleaved stereo samples of the last render.
  std::vector<float> samples() const {
    return orvan::testing::read_stereo_wav(dir_ / "out.wav").samples;
  }

  std::filesystem::path dir_;
};

TEST_F(TovelPlayRenderStart, FirstNoteOfRealMusicSoundsOnTimeAndRepeatRendersAreIdentical) {
  // Files whose first note comes at 0 and later; played eight times as fast, so that a
  // render of a whole file costs little.
  constexpr double kTempo = 8.0;
  const char* files[] = {"5432gone_redfarn.mid", "moo_redfarn.mid", "train_filled_with_cash.mid",
                         "tttheme2.mid"};
  for (const int rate : {48000, 22050}) {
    for (const char* name : files) {
      const std::string path = kMusicDir + name;
      if (!std::filesystem::exists(path)) GTEST_SKIP() << "no " << path;
      const std::string options =
          "--rate " + std::to_string(rate) + " --tempo " + std::to_string(kTempo);
      const std::string first = render(path, options);
      const std::vector<float> rendered = samples();
      ASSERT_FALSE(rendered.empty()) << name;
      const double expected = reference_first_note(name) / kTempo * rate;
      const long onset = first_frame_above(rendered, kOnsetLevel);
      // The synthesizer starts a note at the block holding its sample, so it may sound up
      // to one block early; the attack's first sample comes within one more block.
      EXPECT_GE(onset, expected - kBlockFrames) << name << " at " << rate << " Hz";
      EXPECT_LE(onset, expected + kBlockFrames) << name << " at " << rate << " Hz";
      if (rate == 48000 && name == files[1]) {
        EXPECT_TRUE(render(path, options) == first) << name << ": a second render differs";
      }
    }
  }
  // With effects and a start point too.
  const std::string path = kMusicDir + files[0];
  const std::string options = "--tempo 8 --start 20000 --fx chorus,reverb3d";
  const std::string first = render(path, options);
  EXPECT_TRUE(render(path, options) == first) << "a second render with effects differs";
}

TEST_F(TovelPlayRenderStart, RenderFromAStartPointBeginsWithTheNoteThere) {
  // Notes one second apart at 120 BPM (768 music ticks per quarter, 1536 per second).
  orvan::test::SmfWriter smf(0, 480);
  smf.add_track()
      .note_on(0, 0, 60, 100)
      .note_off(240, 0, 60)
      .note_on(720, 0, 67, 100)
      .note_off(240, 0, 67)
      .note_on(720, 0, 72, 100)
      .note_off(240, 0, 72)
      .end_of_track(0);
  const std::string midi = (dir_ / "three.mid").string();
  smf.write_file(midi);
  for (const int rate : {48000, 11025}) {
    const std::string at_rate = "--rate " + std::to_string(rate);
    render(midi, at_rate);
    const std::vector<float> whole = samples();
    EXPECT_GE(first_frame_above(whole, kOnsetLevel), 0);
    EXPECT_LE(first_frame_above(whole, kOnsetLevel), kBlockFrames) << rate;
    // From the second note: it sounds at once, and the render is a second shorter.
    render(midi, at_rate + " --start 1536");
    const std::vector<float> later = samples();
    const long onset = first_frame_above(later, kOnsetLevel);
    EXPECT_GE(onset, 0) << rate;
    EXPECT_LE(onset, kBlockFrames) << rate;
    const double shorter = static_cast<double>(whole.size() - later.size()) / 2.0 / rate;
    EXPECT_NEAR(shorter, 1.0, 0.02) << rate;
  }
}

TEST_F(TovelPlayRenderStart, ProgressIntoALogIsWholeLinesNotCarriageReturns) {
  const std::string theme = ORVAN_BINARY_DIR "/media/Theme.mid";
  ASSERT_TRUE(std::filesystem::exists(theme)) << "build the theme-mid target first";
  // stderr is a pipe here, as in a log; the whole piece renders in a few seconds.
  const auto outcome = orvan::testing::run_command(
      "'" + kPlayer + "' --render '" + (dir_ / "log.wav").string() + "' '" + theme + "'");
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_EQ(outcome.out.find('\r'), std::string::npos) << "no redraws in a log";
  std::size_t progress_lines = 0;
  for (std::size_t at = 0; (at = outcome.out.find(" s \n", at)) != std::string::npos; ++at)
    ++progress_lines;
  // The first line, one every 5 seconds of rendering at most, and the last one.
  EXPECT_GE(progress_lines, 2u) << outcome.out;
  EXPECT_LE(progress_lines, 12u) << outcome.out;
  EXPECT_NE(outcome.out.find("117504 / 117504"), std::string::npos) << "the end is shown";
}

// The RMS of every 0.1 s window of Theme.mid, rendered before instruments were downloaded
// by use (tests/data), against a render now. FluidSynth keeps each sample's guard words when
// it loads samples one by one, so a voice that plays to its sample's end plays a few
// silent frames more: single samples differ by less than 2e-5, and so may a window's RMS.
// A preset or a zone missing from a download would change windows by far more.
TEST_F(TovelPlayRenderStart, ThemeSoundsAsBeforeInstrumentsWereDownloadedByUse) {
  if (!std::filesystem::exists(orvan::testing::kLargeSoundFont)) {
    GTEST_SKIP() << "the references were made with FluidR3";
  }
  for (int rate : {48000, 44100}) {
    SCOPED_TRACE(rate);
    // The values after "rate RATE", up to the next rate's line.
    std::ifstream in(ORVAN_SOURCE_DIR "/tests/data/theme_window_rms.txt");
    std::vector<double> before;
    bool ours = false;
    for (std::string word; in >> word;) {
      if (word == "#") {
        std::getline(in, word);
      } else if (word == "rate") {
        in >> word;
        ours = word == std::to_string(rate);
      } else if (ours) {
        before.push_back(std::stod(word));
      }
    }
    render(ORVAN_BINARY_DIR "/media/Theme.mid", "--rate " + std::to_string(rate));
    const std::vector<float> now = samples();
    const std::size_t window = static_cast<std::size_t>(rate / 10);
    ASSERT_EQ(now.size() / 2 / window, before.size());
    double worst = 0.0;
    for (std::size_t w = 0; w < before.size(); ++w) {
      worst = std::max(worst, std::abs(orvan::testing::rms(now, w * window, window) - before[w]));
    }
    EXPECT_LT(worst, 2e-5);
  }
}

}  // namespace
