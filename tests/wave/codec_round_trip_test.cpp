// Real music through each codec and back: what the engine plays matches what was encoded.
#include <cmath>
#include <cstdio>

#include "platform/music/wave/wave_source.h"
#include "tests/support/sound_measure.h"
#include "tests/wave/wave_fixture.h"

namespace orvan::music::testing {
namespace {

struct Codec {
  const char* name;
  const char* command;  // {in} and {out} are replaced
  const char* extension;
  double min_correlation;
  int max_lag;
};

std::string encoded(const Codec& codec, const std::string& wav) {
  std::string out = scratch_dir() + "/music_" + codec.name + "." + codec.extension;
  std::string command = codec.command;
  command.replace(command.find("{in}"), 4, wav);
  command.replace(command.find("{out}"), 5, out);
  must_run(command);
  return out;
}

TEST(WaveRoundTrip, EveryCodecPlaysWhatWentIn) {
  const Codec codecs[] = {
      {"wav", "cp {in} {out}", "bin", 0.9999, 4},
      {"flac", "flac -s -f -o {out} {in}", "flac", 0.9999, 4},
      {"vorbis", "oggenc -Q -q 6 -o {out} {in}", "ogg", 0.99, 2000},
      {"opus", "opusenc --quiet --bitrate 160 {in} {out}", "opus", 0.99, 2000},
      {"mp3", "lame --quiet -b 256 {in} {out}", "mp3", 0.99, 2000},
  };
  const std::string& wav = music_wav(kRate);
  const Audio input = read_audio(wav);
  ASSERT_EQ(input.rate, kRate);
  const auto expected = dc_blocked(input.samples, kRate);
  ASSERT_GT(orvan::testing::to_db(orvan::testing::rms(input.samples, 0, input.frames())), -40.0);
  for (const Codec& codec : codecs) {
    SCOPED_TRACE(codec.name);
    // Each file is named so that its extension says nothing: content decides.
    auto segment = load(encoded(codec, wav));
    ASSERT_TRUE(segment);
    ASSERT_TRUE(segment->wave());
    std::int32_t length = 0;
    segment->GetLength(length);
    // 3 s at 1,536 a second.
    EXPECT_NEAR(length, 4608, codec.max_lag > 4 ? 4 : 0);
    Player player;
    const auto out = play_and_render(player, segment, 0, input.frames());
    const Match m = compare(expected, 0, out, input.frames(), codec.max_lag);
    std::printf("%-6s correlation %.6f, level %+.3f dB, lag %d\n", codec.name, m.correlation,
                m.level_db, m.lag);
    EXPECT_GE(m.correlation, codec.min_correlation);
    if (codec.max_lag <= 4) {
      EXPECT_EQ(m.lag, 0);
      EXPECT_LT(std::abs(m.level_db), 0.1);
    } else {
      EXPECT_LT(std::abs(m.level_db), 1.0);
    }
  }
}

TEST(WaveRoundTrip, ResampledPlayMatchesAHighQualityReference) {
  const std::string& wav = music_wav(44100);
  const std::string reference = scratch_dir() + "/reference_48k.wav";
  must_run("sox " + wav + " -r 48000 -b 32 -e float " + reference + " rate -v");
  const Audio converted = read_audio(reference);
  const auto expected = dc_blocked(converted.samples, kRate);
  auto segment = load(wav);
  ASSERT_TRUE(segment);
  Player player;
  const auto out = play_and_render(player, segment, 0, converted.frames());
  const Match m = compare(expected, 0, out, converted.frames(), 8);
  EXPECT_EQ(m.lag, 0);
  EXPECT_GE(m.correlation, 0.9999);
  EXPECT_LT(std::abs(m.level_db), 0.1);
}

TEST(WaveRoundTrip, MasterVolumeAppliesToRecordedMusic) {
  const Audio input = read_audio(music_wav(kRate));
  auto segment = load(music_wav(kRate));
  ASSERT_TRUE(segment);
  Player player;
  ASSERT_EQ(player.perf->SetMasterVolume(-600), com::S_OK);
  const auto out = play_and_render(player, segment, 0, input.frames());
  const Match m = compare(dc_blocked(input.samples, kRate), 0, out, input.frames(), 2);
  EXPECT_EQ(m.lag, 0);
  EXPECT_GT(m.correlation, 0.9999);
  EXPECT_NEAR(m.level_db, -6.0, 0.1);
}

}  // namespace
}  // namespace orvan::music::testing
