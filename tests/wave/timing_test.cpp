// Music time, start points, loops and notifications of recorded music, to the sample.
#include <algorithm>

#include "platform/music/render/playback_shared.h"
#include "platform/music/wave/wave_source.h"
#include "tests/support/sound_measure.h"
#include "tests/wave/wave_fixture.h"

namespace orvan::music::testing {
namespace {

// The first `frames` frames of the 48 kHz music as a file of its own.
std::string excerpt(std::int64_t frames, int copies, const std::string& name) {
  Audio music = read_audio(music_wav(kRate));
  Audio out;
  out.rate = kRate;
  out.channels = 2;
  // Sized first, then filled: GCC 12 misreads an insert into a vector that may still be
  // empty at -O3 and would stop an optimised build.
  const auto first = music.samples.begin() + kRate / 2 * 2;
  const auto count = static_cast<std::size_t>(frames * 2);
  out.samples.resize(count * static_cast<std::size_t>(copies));
  for (int i = 0; i < copies; ++i) {
    std::copy_n(first, count, out.samples.begin() + static_cast<std::ptrdiff_t>(count) * i);
  }
  const std::string path = scratch_dir() + "/" + name + ".wav";
  write_wav(path, out);
  return path;
}

std::vector<std::int32_t> options_of(Player& player) {
  std::vector<std::int32_t> options;
  DMUS_NOTIFICATION_PMSG message;
  bool taken = true;
  while (taken) {
    player.perf->GetNotificationPMSG(message, taken);
    if (taken) options.push_back(message.notificationOption);
  }
  return options;
}

TEST(WaveTiming, LoopOfThreePassesEqualsThreeCopiesSampleForSample) {
  // 0.3 s passes: the loop points fall inside device periods and synthesizer blocks.
  const std::int64_t pass = 14411;
  auto looped = load(excerpt(pass, 1, "pass"));
  auto copies = load(excerpt(pass, 3, "three_passes"));
  ASSERT_TRUE(looped && copies);
  const std::int64_t frames = 3 * pass + 2000;

  Player a;
  ASSERT_EQ(a.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  auto state = a.play(looped, 2);
  const auto out_looped = a.render(frames);
  Player b;
  b.play(copies, 0);
  const auto out_copies = b.render(frames);

  ASSERT_EQ(out_looped.size(), out_copies.size());
  std::int64_t differing = 0;
  for (std::size_t i = 0; i < out_looped.size(); ++i) differing += out_looped[i] != out_copies[i];
  EXPECT_EQ(differing, 0);
  EXPECT_GT(orvan::testing::to_db(orvan::testing::rms(out_looped, 2 * pass, pass)), -40.0);
  EXPECT_FALSE(a.playing(state));
  // Start, two loops, end; and the position rests at the length.
  using V = std::vector<std::int32_t>;
  EXPECT_EQ(options_of(a), (V{DMUS_NOTIFICATION_SEGSTART, DMUS_NOTIFICATION_SEGLOOP,
                              DMUS_NOTIFICATION_SEGLOOP, DMUS_NOTIFICATION_SEGEND}));
  std::int32_t length = 0;
  looped->GetLength(length);
  EXPECT_EQ(length, 461);  // 14411 * 1536 / 48000 = 461.15
  EXPECT_EQ(a.seek(state), length);
}

TEST(WaveTiming, LengthTheFileDoesNotStateIsCountedAndEveryPassPlaysAllOfIt) {
  // A VBR MP3 without the tag that counts its frames (mpg123 guesses from the file size and
  // the first frame's bit rate) and FLAC from a pipe (its header says "length unknown").
  const std::string& wav = music_wav(kRate);
  const std::string flac = scratch_dir() + "/piped.flac";
  must_run("sox " + wav + " -t raw - trim 0 1 | flac -s --force-raw-format --endian=little " +
           "--sign=signed --channels=2 --bps=16 --sample-rate=48000 -c - 2>/dev/null | cat > " +
           flac);
  const std::string mp3 = scratch_dir() + "/untagged.mp3";
  must_run("lame --quiet -t -V 2 " + wav + " " + mp3);
  struct Case {
    std::string path;
    std::int64_t source_frames;  // of the music encoded
    int max_lag;                 // the MP3's encoder delay, which no tag names
    double min_correlation;
  };
  const auto expected = dc_blocked(read_audio(wav).samples, kRate);
  for (const Case& c : {Case{mp3, 3 * kRate, 2000, 0.99}, Case{flac, kRate, 0, 0.9999}}) {
    SCOPED_TRACE(c.path);
    auto segment = load(c.path);
    ASSERT_TRUE(segment && segment->wave());
    const std::int64_t frames = segment->wave()->info().frames;
    std::int32_t length = 0;
    segment->GetLength(length);
    EXPECT_EQ(length, std::llround(static_cast<double>(frames) * 1536 / kRate));
    // The MP3 adds its encoder's delay and padding: less than two MPEG frames.
    EXPECT_GE(frames, c.source_frames);
    EXPECT_LE(frames, c.source_frames + (c.max_lag ? 2 * 1152 : 0));
    Player player;
    ASSERT_EQ(player.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
    auto state = player.play(segment, 2);
    const auto out = player.render(3 * frames + 4800);
    EXPECT_FALSE(player.playing(state));
    using V = std::vector<std::int32_t>;
    EXPECT_EQ(options_of(player), (V{DMUS_NOTIFICATION_SEGSTART, DMUS_NOTIFICATION_SEGLOOP,
                                     DMUS_NOTIFICATION_SEGLOOP, DMUS_NOTIFICATION_SEGEND}));
    // Each pass is the whole music, to its last frame, at the same place in the pass.
    int first_lag = 0;
    for (int pass = 0; pass < 3; ++pass) {
      const std::vector<float> heard(out.begin() + 2 * pass * frames,
                                     out.begin() + 2 * (pass + 1) * frames);
      const Match m = compare(expected, 0, heard, c.source_frames, c.max_lag);
      EXPECT_GE(m.correlation, c.min_correlation) << "pass " << pass;
      if (pass == 0) first_lag = m.lag;
      EXPECT_EQ(m.lag, first_lag) << "pass " << pass;
    }
  }
}

TEST(WaveTiming, StartPointLandsOnTheSampleItNamesAndPositionFollows) {
  const std::string path = music_wav(kRate);
  const Audio input = read_audio(path);
  auto segment = load(path);
  ASSERT_TRUE(segment);
  // 1000 music time = 1000 * 48000 / 1536 = 31250 frames.
  ASSERT_EQ(segment->SetStartPoint(1000), com::S_OK);
  Player player;
  auto state = player.play(segment, 0);
  EXPECT_EQ(player.seek(state), 1000);
  const auto out = player.render(24000);
  const Match m = compare(dc_blocked(input.samples, kRate, 31250), 0, out, 24000, 16);
  EXPECT_EQ(m.lag, 0);
  EXPECT_GT(m.correlation, 0.9999);
  // 24000 frames later: 1000 + 768.
  EXPECT_EQ(player.seek(state), 1768);
  // A start point at or past the length is refused, as for MIDI.
  std::int32_t length = 0;
  segment->GetLength(length);
  EXPECT_EQ(segment->SetStartPoint(length), com::MUSIC_E_START_OUT_OF_RANGE);
}

TEST(WaveTiming, StopAbortsAndReplacingPlayAbortsTheFirst) {
  auto segment = load(music_wav(kRate));
  ASSERT_TRUE(segment);
  Player player;
  ASSERT_EQ(player.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  auto first = player.play(segment, -1);
  player.render(4800);
  auto second = player.play(segment, 0);
  player.render(9600);
  EXPECT_FALSE(player.playing(first));
  EXPECT_TRUE(player.playing(second));
  EXPECT_EQ(player.seek(second), 307);  // 9600 frames = 307.2
  ASSERT_EQ(player.perf->StopEx(segment, 0, 0), com::S_OK);
  const auto after = player.render(4800);
  EXPECT_FALSE(player.playing(second));
  EXPECT_EQ(player.seek(second), 307);
  EXPECT_LT(orvan::testing::to_db(orvan::testing::rms(after, 2400, 2400)), -60.0);
  using V = std::vector<std::int32_t>;
  EXPECT_EQ(options_of(player), (V{DMUS_NOTIFICATION_SEGSTART, DMUS_NOTIFICATION_SEGABORT,
                                   DMUS_NOTIFICATION_SEGSTART, DMUS_NOTIFICATION_SEGABORT}));
}

}  // namespace
}  // namespace orvan::music::testing
