// tovel-play's --fx and --fx-param: effects switched on through the engine change the
// rendered sound, and refused or mistyped settings end the program with a message.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_command.h"
#include "tests/support/smf_writer.h"
#include "tests/support/wav_file.h"

namespace {

const std::string kPlayer = ORVAN_BINARY_DIR "/bin/tovel-play";

using Outcome = orvan::testing::CommandOutcome;

// Runs the player with `args`.
Outcome run(const std::string& args) {
  return orvan::testing::run_command("'" + kPlayer + "' " + args);
}

// Energy of the samples of a WAV file. Files end when the sound has died away, so their
// lengths differ: energy compares them where a mean would not.
double wav_energy(const std::filesystem::path& path) {
  double sum = 0;
  for (const float v : orvan::testing::read_stereo_wav(path).samples) sum += double{v} * v;
  return sum;
}

class TovelPlayEffects : public ::testing::Test {
 protected:
  TovelPlayEffects() {
    std::filesystem::create_directories(dir_);
    // One second of a held organ chord, with as little reverb send as the instrument allows.
    orvan::test::SmfWriter smf(0, 480);
    smf.add_track()
        .program_change(0, 0, 16)
        .controller(0, 0, 91, 0)
        .controller(0, 0, 93, 0)
        .note_on(0, 0, 60, 100)
        .note_on(0, 0, 67, 100)
        .note_off(960, 0, 60)
        .note_off(0, 0, 67)
        .end_of_track(0);
    smf.write_file(midi_.string());
  }
  ~TovelPlayEffects() override { std::filesystem::remove_all(dir_); }

  Outcome render(const std::string& name, const std::string& effect_args) {
    // Appended piece by piece: GCC 12 at -O3 misreads a chain of + that starts with a
    // one-character literal as an overlapping copy (-Wrestrict).
    std::string args = "'";
    args.append(midi_.string()).append("' --quiet --render '");
    args.append((dir_ / name).string()).append("' ").append(effect_args);
    return run(args);
  }

  std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() /
      ("tovel_play_fx_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::path midi_ = dir_ / "chord.mid";
};

TEST_F(TovelPlayEffects, EffectsSwitchedOnShapeTheRenderedSound) {
  const Outcome plain = render("plain.wav", "");
  ASSERT_EQ(plain.status, 0) << plain.out;
  const Outcome quiet = render("quiet.wav",
                               "--fx chorus,distortion --fx-param distortion.Gain=-60 "
                               "--fx-param distortion.Edge=0 --fx-param chorus.Phase=1");
  ASSERT_EQ(quiet.status, 0) << quiet.out;
  const double drop =
      10.0 * std::log10(wav_energy(dir_ / "quiet.wav") / wav_energy(dir_ / "plain.wav"));
  // Only the dry music runs through the chain; what the default SoundFont's organ sends to
  // the synthesizer's reverb by itself (buffer 1) stays, so the drop is far from 60 dB.
  EXPECT_LT(drop, -8.0);
}

TEST_F(TovelPlayEffects, RefusedAndMistypedSettingsStopTheProgram) {
  Outcome refused = render("x.wav", "--fx chorus --fx-param chorus.Phase=7");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("The parameter is incorrect."), std::string::npos) << refused.out;

  Outcome not_on = render("x.wav", "--fx reverb --fx-param chorus.Depth=5");
  EXPECT_EQ(not_on.status, 1);

  for (const char* mistyped :
       {"--fx flanger", "--fx-param chorus.Phase=2.5", "--fx-param chorus.Colour=1",
        "--fx-param chorus.Depth=much", "--fx-param Depth=5"}) {
    const Outcome o = render("x.wav", mistyped);
    EXPECT_EQ(o.status, 2) << mistyped << ": " << o.out;
    EXPECT_NE(o.out.find("tovel-play:"), std::string::npos) << mistyped;
  }
}

}  // namespace
