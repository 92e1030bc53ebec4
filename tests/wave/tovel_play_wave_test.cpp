// The command-line player with recordings: --info describes them, and a render holds them.
#include <nlohmann/json.hpp>

#include "tests/support/run_command.h"
#include "tests/wave/wave_fixture.h"

namespace orvan::music::testing {
namespace {

const std::string kPlayer = ORVAN_BINARY_DIR "/bin/tovel-play";

TEST(TovelPlayWave, InfoDescribesAndRenderPlaysAnEncodedFile) {
  const std::string& wav = music_wav(44100);
  const std::string flac = scratch_dir() + "/cli.flac";
  must_run("flac -s -f -o " + flac + " " + wav);

  const auto info = orvan::testing::run_command(kPlayer + " --info " + flac);
  ASSERT_EQ(info.status, 0) << info.out;
  const auto json = nlohmann::json::parse(info.out);
  EXPECT_EQ(json["format"], "flac");
  EXPECT_EQ(json["codec"], "flac");
  EXPECT_EQ(json["sample_rate"], 44100);
  EXPECT_EQ(json["channels"], 2);
  EXPECT_EQ(json["frames"], 132300);
  EXPECT_DOUBLE_EQ(json["seconds"].get<double>(), 3.0);
  EXPECT_EQ(json["length"], 4608);

  const std::string text = scratch_dir() + "/cli.txt";
  must_run("echo not music > " + text);
  const auto refused = orvan::testing::run_command(kPlayer + " --info " + text);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("MUSIC_E_UNSUPPORTED_FORMAT"), std::string::npos) << refused.out;

  // Rendered at 44.1 kHz with two repeats from 1 s: two seconds, then three more passes.
  const std::string out = scratch_dir() + "/cli_render.wav";
  const auto render = orvan::testing::run_command(kPlayer + " --quiet --rate 44100 --loops 1 " +
                                                  "--start 1536 --render " + out + " " + flac);
  ASSERT_EQ(render.status, 0) << render.out;
  const Audio rendered = read_audio(out);
  const Audio input = read_audio(wav);
  ASSERT_EQ(rendered.rate, 44100);
  EXPECT_GE(rendered.frames(), 5 * 44100);
  const Match first =
      compare(dc_blocked(input.samples, 44100, 44100), 0, rendered.samples, 2 * 44100, 4);
  EXPECT_EQ(first.lag, 0);
  EXPECT_GT(first.correlation, 0.9999);
  // The repeat from 0, once the output stage's DC blocker has settled on it (a quarter second).
  const std::int64_t settled = 2 * 44100 + 11025;
  const std::vector<float> tail(rendered.samples.begin() + 2 * settled, rendered.samples.end());
  const Match repeat = compare(dc_blocked(input.samples, 44100), 11025, tail, 2 * 44100, 4);
  EXPECT_EQ(repeat.lag, 0);
  EXPECT_GT(repeat.correlation, 0.9999);
}

}  // namespace
}  // namespace orvan::music::testing
