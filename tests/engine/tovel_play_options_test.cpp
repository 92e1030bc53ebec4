// tovel-play's options take exactly their documented values wherever they stand: each one
// written before the file and after it gives the same render, byte for byte, and one that
// shapes the sound gives another render than the plain one.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/dls_writer.h"
#include "tests/support/run_command.h"
#include "tests/support/smf_writer.h"
#include "tests/support/wav_file.h"

namespace {

using orvan::testing::file_bytes;

const std::string kPlayer = ORVAN_BINARY_DIR "/bin/tovel-play";

std::string quoted(const std::filesystem::path& path) {
  std::string text = "'";  // appended, not "'" + ...: GCC 12 -O3 warns of a false overlap
  return text.append(path.string()).append("'");
}

struct OptionCase {
  std::string name;
  std::string args;    // the option and its values; {DIR} is the test folder
  bool shapes_sound;   // the render differs from the plain one
  bool names_output;   // the option itself says where the WAV file goes
  std::string prefix;  // environment for the command
};

class TovelPlayOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kPlayer)) << "build the tovel-play target first";
    dir_ = std::filesystem::temp_directory_path() /
           ("orvan_tovel_play_options_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    // Two short notes, one second apart at the file's 120 BPM: enough for --start, --tempo
    // and --loops to change what is rendered.
    orvan::test::SmfWriter smf(0, 480);
    smf.add_track()
        .program_change(0, 0, 0)
        .note_on(0, 0, 69, 100)
        .note_off(240, 0, 69)
        .note_on(720, 0, 72, 100)
        .note_off(240, 0, 72)
        .end_of_track(0);
    smf.write_file(midi_().string());
    ASSERT_TRUE(
        orvan::test::save_bytes((dir_ / "sine.dls").string(),
                                orvan::test::write_dls(orvan::test::sine_and_square_collection())));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::filesystem::path midi_() const { return dir_ / "two.mid"; }

  // Runs the player with `option` before or after the file; returns the bytes it wrote.
  std::string render(const OptionCase& c, bool before, const std::string& wav_name) {
    std::string option = c.args;
    for (std::size_t at; (at = option.find("{DIR}")) != std::string::npos;)
      option.replace(at, 5, dir_.string());
    const auto wav = dir_ / wav_name;
    std::filesystem::remove(wav);
    std::string fixed = "--quiet";
    if (!c.names_output) fixed += " --render " + quoted(wav);
    const std::string file = quoted(midi_());
    const std::string args =
        before ? fixed + " " + option + " " + file : fixed + " " + file + " " + option;
    const auto outcome = orvan::testing::run_command(c.prefix + "'" + kPlayer + "' " + args);
    EXPECT_EQ(outcome.status, 0) << c.name << (before ? " before" : " after")
                                 << " the file: " << args << "\n"
                                 << outcome.out;
    return file_bytes(c.names_output ? dir_ / "named.wav" : wav);
  }

  std::filesystem::path dir_;
};

TEST_F(TovelPlayOptions, EveryOptionTakesItsValuesBeforeOrAfterTheFile) {
  const std::vector<OptionCase> cases = {
      {"--loops", "--loops 1", true, false, ""},
      {"--tempo", "--tempo 2", true, false, ""},
      {"--volume", "--volume -600", true, false, ""},
      {"--start", "--start 1536", true, false, ""},
      {"--rate", "--rate 22050", true, false, ""},
      {"--render", "--render '{DIR}/named.wav'", false, true, ""},
      {"--fallback-render", "--fallback-render '{DIR}/named.wav'", false, true,
       "SDL_AUDIODRIVER=no-such-driver "},
      {"--quiet", "--quiet", false, false, ""},
      {"--dls", "--dls '{DIR}/sine.dls'", true, false, ""},
      {"--soundfont", std::string("--soundfont ") + orvan::testing::kSmallSoundFont, true, false,
       ""},
      {"--fx", "--fx reverb", true, false, ""},
      {"--fx=", "--fx=chorus,reverb", true, false, ""},
      {"--fx-param", "--fx reverb --fx-param reverb.ReverbMix=-10", true, false, ""},
      {"--fx-param=", "--fx=reverb --fx-param=reverb.ReverbTime=100", true, false, ""},
  };
  const OptionCase plain{"plain", "", false, false, ""};
  const std::string reference = render(plain, true, "plain.wav");
  ASSERT_GT(reference.size(), 44u);
  for (const OptionCase& c : cases) {
    const std::string before = render(c, true, "before.wav");
    const std::string after = render(c, false, "after.wav");
    ASSERT_GT(before.size(), 44u) << c.name;
    EXPECT_TRUE(before == after) << c.name << ": the render depends on where the option stands";
    EXPECT_EQ(before != reference, c.shapes_sound) << c.name;
  }
}

// The interactive-music options reach their members: each call either succeeds or is
// reported by the option and the member that refused it; a malformed value is refused
// before any audio starts, naming the option.
TEST_F(TovelPlayOptions, InteractiveOptionsCallTheirMembersAndMalformedValuesAreRefused) {
  const std::string file = quoted(midi_());
  const std::string wav = quoted(dir_ / "interactive.wav");
  const std::string player = "'" + kPlayer + "' --quiet --render " + wav + " ";
  struct Call {
    std::string args;
    std::string member;
  };
  const std::vector<Call> calls = {
      {"--loop 0:768 --loops 1", "--loop: SetLoopRegion"},
      {"--then " + file + " --at beat --fade 500", "--then: Music_PlayNext"},
      {"--stinger " + file + "@0.5 --at end", "--stinger " + midi_().string() + ": PlayStinger"},
  };
  for (const Call& c : calls) {
    const auto outcome = orvan::testing::run_command(player + c.args + " " + file);
    if (outcome.status == 0) continue;
    EXPECT_EQ(outcome.status, 1) << c.args << "\n" << outcome.out;
    EXPECT_NE(outcome.out.find("tovel-play: " + c.member + ": "), std::string::npos)
        << c.args << "\n"
        << outcome.out;
  }

  const std::vector<Call> malformed = {
      {"--loop 768", "--loop"},
      {"--loop 0:x", "--loop"},
      {"--stinger " + file, "--stinger"},
      {"--stinger " + file + "@-1", "--stinger"},
      {"--at never --then " + file, "--at"},
  };
  for (const Call& c : malformed) {
    std::filesystem::remove(dir_ / "interactive.wav");
    const auto outcome = orvan::testing::run_command(player + c.args + " " + file);
    EXPECT_NE(outcome.status, 0) << c.args;
    EXPECT_NE(outcome.status, 1) << c.args << ": taken for a refusal by the engine";
    EXPECT_NE(outcome.out.find(c.member), std::string::npos) << c.args << "\n" << outcome.out;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "interactive.wav")) << c.args;
  }
}

}  // namespace
