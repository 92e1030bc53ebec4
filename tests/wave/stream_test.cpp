// Tempo, resampled loops, a stalled decoder, damaged files and channel layouts.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "platform/music/render/performance_core.h"
#include "platform/music/wave/converters.h"
#include "platform/music/wave/wave_stream.h"
#include "tests/support/sound_measure.h"
#include "tests/support/tone_analysis.h"
#include "tests/support/wav_file.h"
#include "tests/wave/wave_fixture.h"

namespace orvan::music::testing {
namespace {

using orvan::testing::channel_of;
using orvan::testing::dominant_frequency;
using orvan::testing::rms;
using orvan::testing::to_db;

// What a stream delivers, split into its passes, read on this thread as a render thread would.
std::vector<std::vector<float>> passes_of(wave::WaveStream& stream) {
  std::vector<std::vector<float>> passes(1);
  std::vector<float> left(4096), right(4096);
  for (;;) {
    const wave::Span* span = stream.peek_span();
    if (!span) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    const wave::Span s = *span;
    stream.pop_span();
    if (s.marks & wave::kEndMark) return passes;
    if (s.marks & wave::kLoopMark) passes.emplace_back();
    std::fill_n(left.begin(), s.frames, 0.0f);
    std::fill_n(right.begin(), s.frames, 0.0f);
    stream.mix_frames(left.data(), right.data(), s.frames, 1.0f);
    for (int i = 0; i < s.frames; ++i) {
      passes.back().push_back(left[static_cast<std::size_t>(i)]);
      passes.back().push_back(right[static_cast<std::size_t>(i)]);
    }
  }
}

TEST(WaveStream, EveryResampledPassIsTheFirstAgainAndAsLongAsItsSource) {
  // 0.3 s of 44.1 kHz music converted to 48 kHz, three passes.
  Audio music = read_audio(music_wav(44100));
  Audio clip{44100, 2, {}};
  clip.samples.assign(music.samples.begin() + 44100, music.samples.begin() + 44100 + 2 * 13230);
  const std::string path = scratch_dir() + "/clip_44k.wav";
  write_wav(path, clip);
  auto segment = load(path);
  ASSERT_TRUE(segment);
  std::atomic<float> tempo{1.0f};
  std::unique_ptr<wave::WaveStream> stream;
  wave::WaveStream::Options options;
  options.output_rate = kRate;
  options.master_tempo = &tempo;
  options.repeats = 2;
  ASSERT_EQ(wave::WaveStream::open(segment->wave(), options, stream), com::S_OK);
  const auto passes = passes_of(*stream);
  ASSERT_EQ(passes.size(), 3u);
  // 13230 frames at 44.1 kHz last 14400 frames at 48 kHz.
  EXPECT_EQ(passes[0].size(), 2u * 14400u);
  EXPECT_EQ(passes[1], passes[0]);
  EXPECT_EQ(passes[2], passes[0]);
}

TEST(WaveStream, TempoShortensThePlayAndKeepsThePitch) {
  const std::string path = scratch_dir() + "/tone.wav";
  must_run("sox -n -r 48000 -c 2 -b 16 " + path + " synth 2 sine 1000 vol 0.3");
  auto segment = load(path);
  ASSERT_TRUE(segment);
  Player player;
  ASSERT_EQ(player.perf->SetMasterTempo(1.25f), com::S_OK);
  auto state = player.play(segment, 0);
  const auto half = player.render(kRate / 2);
  // Half a second at 1.25 is 0.625 s of the tone: music time 960.
  EXPECT_NEAR(player.seek(state), 960, 8);
  const auto rest = player.render(kRate * 2);
  std::vector<float> out(half);
  out.insert(out.end(), rest.begin(), rest.end());
  EXPECT_FALSE(player.playing(state));
  // Two seconds of tone last 1.6 s: 76800 frames.
  const long last = orvan::testing::last_frame_above(out, 0.05f);
  EXPECT_NEAR(static_cast<double>(last), 76800.0, 768.0);
  const auto mono = channel_of(std::span<const float>(out).subspan(2 * 9600, 2 * 48000), 0);
  EXPECT_NEAR(dominant_frequency(mono, kRate, 900, 1100, 1), 1000.0, 10.0);
}

// Largest difference between neighbouring samples of either channel, from frame `from`.
float largest_step(const std::vector<float>& stereo, std::size_t from) {
  float largest = 0.0f;
  for (std::size_t i = 2 * from + 2; i < stereo.size(); ++i) {
    largest = std::max(largest, std::abs(stereo[i] - stereo[i - 2]));
  }
  return largest;
}

TEST(WaveStream, TempoReturningToOneLeavesNoSeam) {
  // A steady 0.5 tone at 44.1 kHz while master tempo switches between 1.0 and two other
  // tempi every half second: the stretched signal joins the plain one without a step
  // larger than the tone's own.
  const std::string path = scratch_dir() + "/steady.wav";
  must_run("sox -n -r 44100 -c 2 -b 16 " + path + " synth 8 sine 440 vol 0.5");
  auto segment = load(path);
  ASSERT_TRUE(segment);
  Player player;
  auto state = player.play(segment, 0);
  std::vector<float> out = player.render(kRate / 2);
  const float own = largest_step(out, kRate / 100);
  ASSERT_GT(own, 0.02f);  // 0.5 * 2 pi * 440 / 48000 = 0.029
  for (float tempo : {1.02f, 1.0f, 0.9f, 1.0f, 1.02f, 1.0f, 0.9f, 1.0f}) {
    ASSERT_EQ(player.perf->SetMasterTempo(tempo), com::S_OK);
    const auto more = player.render(kRate / 2);
    out.insert(out.end(), more.begin(), more.end());
  }
  EXPECT_TRUE(player.playing(state));
  EXPECT_LE(largest_step(out, kRate / 100), own * 1.5f);
}

TEST(WaveStream, StalledDecoderGivesCountedSilenceAndPlayResumes) {
  auto segment = load(music_wav(kRate));
  ASSERT_TRUE(segment);
  Player player;
  auto state = player.play(segment, 0);
  player.render(4800);
  wave::set_decoders_stalled_for_testing(true);
  // The render thread keeps rendering: what was decoded ahead, then silence.
  const auto stalled = player.render(kRate);
  const std::uint64_t silent = player.perf->core()->wave_silent_frames();
  const auto ahead = static_cast<std::uint64_t>(wave::kAheadSeconds * kRate + wave::kPieceFrames);
  EXPECT_GE(silent, static_cast<std::uint64_t>(kRate) - ahead);
  EXPECT_LE(silent, static_cast<std::uint64_t>(kRate));
  EXPECT_LT(to_db(rms(stalled, kRate - kRate / 4, kRate / 4)), -80.0);
  EXPECT_TRUE(player.playing(state));
  wave::set_decoders_stalled_for_testing(false);
  const auto resumed = player.render(kRate / 2);
  EXPECT_GT(to_db(rms(resumed, 0, kRate / 2)), -40.0);
  EXPECT_EQ(player.perf->core()->wave_silent_frames(), silent);
}

// Plays `segment` with three repeats for as long as `input` lasts: its first second is
// `input`'s, and the play ends before the file's declared end, at once and without its
// repeats, its last sound between those fractions of `input`.
void expect_cut_short(Player& player, const Ref<DirectMusicSegment8>& segment, const Audio& input,
                      double earliest, double latest) {
  auto state = player.play(segment, 3);
  const auto out = player.render(input.frames());
  const Match m = compare(dc_blocked(input.samples, kRate), 0, out, kRate, 2);
  EXPECT_EQ(m.lag, 0);
  EXPECT_GT(m.correlation, 0.9999);
  EXPECT_FALSE(player.playing(state));
  const auto last = static_cast<double>(orvan::testing::last_frame_above(out, 0.001f));
  EXPECT_GE(last, earliest * static_cast<double>(input.frames()));
  EXPECT_LT(last, latest * static_cast<double>(input.frames()));
}

TEST(WaveStream, DamagedFilePlaysUpToTheDamageAndEndsWithItsNotice) {
  const std::string& wav = music_wav(kRate);
  const Audio input = read_audio(wav);
  const std::string flac = scratch_dir() + "/damaged.flac";
  must_run("flac -s -f -o " + flac + " " + wav);
  const auto size = std::filesystem::file_size(flac);
  std::filesystem::resize_file(flac, size / 2);
  auto segment = load(flac);
  ASSERT_TRUE(segment);
  Player player;
  ASSERT_EQ(player.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  expect_cut_short(player, segment, input, 0.0, 0.75);
  std::vector<std::int32_t> options;
  DMUS_NOTIFICATION_PMSG message;
  for (bool taken = true; taken;) {
    player.perf->GetNotificationPMSG(message, taken);
    if (taken) options.push_back(message.notificationOption);
  }
  EXPECT_EQ(options,
            (std::vector<std::int32_t>{DMUS_NOTIFICATION_SEGSTART, DMUS_NOTIFICATION_SEGEND}));
}

// A client's stream read in place, over a file's bytes: reads from byte `trouble_at` on fail,
// or block until let through.
class TroubledBytes final : public wave::ByteStore {
 public:
  enum class Trouble { Fails, Blocks };
  TroubledBytes(const std::string& path, Trouble trouble)
      : trouble_(trouble), bytes_(orvan::testing::file_bytes(std::filesystem::path(path))) {}
  std::int64_t trouble_at = std::numeric_limits<std::int64_t>::max();
  mutable std::atomic<bool> blocking{false};  // a read is held at the trouble now

  void let_through() {
    std::lock_guard lock(mutex_);
    released_ = true;
    wake_.notify_all();
  }
  std::int64_t size() const noexcept override { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t read_at(void* out, std::int64_t count, std::int64_t offset) const noexcept override {
    if (offset + count > trouble_at) {
      if (trouble_ == Trouble::Fails) return -1;
      std::unique_lock lock(mutex_);
      blocking = true;
      wake_.wait(lock, [&] { return released_; });
      blocking = false;
    }
    count = std::clamp<std::int64_t>(size() - offset, 0, count);
    std::memcpy(out, bytes_.data() + offset, static_cast<std::size_t>(count));
    return count;
  }

 private:
  const Trouble trouble_;
  const std::string bytes_;
  mutable std::mutex mutex_;
  mutable std::condition_variable wake_;
  bool released_ = false;
};

TEST(WaveStream, AStreamThatFailsOrBlocksWhilePlayingEndsOrStarvesOnlyThatPlay) {
  const std::string& wav = music_wav(kRate);
  const Audio input = read_audio(wav);
  const auto load_in_place = [](std::shared_ptr<const wave::ByteStore> bytes) {
    Ref<DirectMusicSegment8> segment;
    EXPECT_EQ(com::make_ref<DirectMusicLoader8>()->LoadRecording(std::move(bytes), segment),
              com::S_OK);
    return segment;
  };
  // Fails from 1.5 s of its 3 on: the play ends there.
  {
    auto bytes = std::make_shared<TroubledBytes>(wav, TroubledBytes::Trouble::Fails);
    const Ref<DirectMusicSegment8> segment = load_in_place(bytes);
    ASSERT_TRUE(segment);
    bytes->trouble_at = bytes->size() / 2;
    Player player;
    expect_cut_short(player, segment, input, 0.4, 0.6);
  }
  // Blocks at 1 s, on the real-time device: that play renders counted silence while the read
  // waits and plays on once it returns; a play from a file beside it is not held up.
  auto bytes = std::make_shared<TroubledBytes>(wav, TroubledBytes::Trouble::Blocks);
  const Ref<DirectMusicSegment8> segment = load_in_place(bytes);
  ASSERT_TRUE(segment);
  bytes->trouble_at = bytes->size() / 3;
  setenv("SDL_AUDIODRIVER", "dummy", 1);  // paced like a sound card, needing none
  const auto realtime = [] {
    auto perf = com::make_ref<DirectMusicPerformance8>(nullptr);
    EXPECT_EQ(init_audio(*perf, kRate, kSmallSoundFont, OutputKind::RealTime), com::S_OK);
    return perf;
  };
  const auto blocked = realtime(), beside = realtime();
  const struct LetThrough {
    TroubledBytes& bytes;
    ~LetThrough() { bytes.let_through(); }  // before the plays stop, whatever failed
  } let_through{*bytes};
  Ref<DirectMusicSegmentState8> state, other;
  ASSERT_EQ(blocked->PlaySegmentEx(segment, 0, 0, nullptr, nullptr, state), com::S_OK);
  ASSERT_EQ(beside->PlaySegmentEx(load(wav), 0, 0, nullptr, nullptr, other), com::S_OK);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_TRUE(bytes->blocking);
  const std::uint64_t silent = blocked->core()->wave_silent_frames();
  EXPECT_GT(silent, static_cast<std::uint64_t>(kRate / 2));
  EXPECT_EQ(beside->core()->wave_silent_frames(), 0u);
  bytes->let_through();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the decoder catches up
  const std::uint64_t caught_up = blocked->core()->wave_silent_frames();
  EXPECT_LT(caught_up - silent, static_cast<std::uint64_t>(kRate / 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(blocked->core()->wave_silent_frames(), caught_up);
  bool playing = false;
  EXPECT_EQ(blocked->IsPlaying(nullptr, state, playing), com::S_OK);
  EXPECT_TRUE(playing);
  blocked->CloseDown();
  beside->CloseDown();
  unsetenv("SDL_AUDIODRIVER");
}

// Amplitude of `hz` in a mono signal: the Hann window's single-bin level is a quarter of it.
double amplitude(const std::vector<float>& mono, double hz) {
  return 4.0 * orvan::test::tone_level(mono, kRate, hz);
}

bool all_finite(const std::vector<float>& samples) {
  return std::all_of(samples.begin(), samples.end(), [](float s) { return std::isfinite(s); });
}

TEST(WaveStream, NonFiniteDecodedSamplesBecomeSilenceOneByOne) {
  // A float WAV of a steady tone with every 100th sample not a number or infinite: the
  // tone plays on, 1 % of its samples missing (-0.09 dB).
  Audio tone{kRate, 2, {}};
  for (int i = 0; i < kRate; ++i) {
    const float s = 0.3f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * i / kRate));
    tone.samples.push_back(s);
    tone.samples.push_back(s);
  }
  for (std::size_t i = 0; i < tone.samples.size(); i += 100) {
    tone.samples[i] = i % 300 == 0 ? std::numeric_limits<float>::quiet_NaN()
                                   : std::numeric_limits<float>::infinity() * (i % 200 ? 1 : -1);
  }
  const std::string path = scratch_dir() + "/holes.wav";
  write_wav(path, tone, true);
  {
    Player player;
    player.play(load(path), 0);
    const auto out = player.render(kRate);
    ASSERT_TRUE(all_finite(out));
    const auto left = channel_of(std::span<const float>(out).subspan(2 * 4800, 2 * 38400), 0);
    EXPECT_NEAR(to_db(amplitude(left, 440)), to_db(0.3), 0.2);
  }
  // An MP3 whose damaged frame makes the decoder use memory it never wrote (found by the
  // fuzz target). glibc's allocator is asked to fill new blocks with a pattern that reads
  // as infinities there, so that the fault shows on every run (a sanitizer's allocator
  // ignores the request). What decodes around the damage still plays.
  mallopt(M_PERTURB, 1);
  {
    Player player;
    player.play(load(std::string(ORVAN_SOURCE_DIR) + "/fuzz/seeds/wave_loader/damaged_frame.mp3"),
                0);
    const auto out = player.render(kRate / 10);
    mallopt(M_PERTURB, 0);
    ASSERT_TRUE(all_finite(out));
    EXPECT_GT(orvan::testing::peak(out, 0, kRate / 10), 1e-3);
  }
  mallopt(M_PERTURB, 0);
}

TEST(WaveStream, MonoPlaysCentredAndSurroundFoldsDownToStereo) {
  const std::string mono = scratch_dir() + "/mono.wav";
  must_run("sox -n -r 48000 -c 1 -b 16 " + mono + " synth 1 sine 500 vol 0.2");
  // 5.1 in WAV order: L 300, R 500, C 700, LFE 900, BL 1100, BR 1300 Hz, each at 0.1.
  const std::string surround = scratch_dir() + "/surround.wav";
  must_run("sox -n -r 48000 -c 6 -b 16 " + surround +
           " synth 1 sine 300 sine 500 sine 700 sine 900 sine 1100 sine 1300 vol 0.1");
  {
    Player player;
    player.play(load(mono), 0);
    const auto out = player.render(kRate / 2);
    const auto left = channel_of(out, 0), right = channel_of(out, 1);
    double widest = 0.0;
    for (std::size_t i = 0; i < left.size(); ++i) {
      widest = std::max(widest, static_cast<double>(std::abs(left[i] - right[i])));
    }
    EXPECT_LT(widest, 1e-5);
    EXPECT_NEAR(to_db(amplitude(left, 500)), to_db(0.2), 0.1);
  }
  Player player;
  player.play(load(surround), 0);
  const auto out = player.render(kRate / 2);
  const auto left = channel_of(out, 0), right = channel_of(out, 1);
  const double full = to_db(0.1), minus3 = to_db(0.1 * std::sqrt(0.5));
  EXPECT_NEAR(to_db(amplitude(left, 300)), full, 0.1);
  EXPECT_NEAR(to_db(amplitude(right, 500)), full, 0.1);
  EXPECT_NEAR(to_db(amplitude(left, 700)), minus3, 0.1);
  EXPECT_NEAR(to_db(amplitude(right, 700)), minus3, 0.1);
  EXPECT_NEAR(to_db(amplitude(left, 1100)), minus3, 0.1);
  EXPECT_NEAR(to_db(amplitude(right, 1300)), minus3, 0.1);
  EXPECT_LT(amplitude(left, 900) + amplitude(right, 900), 1e-3);  // LFE left out
  EXPECT_LT(amplitude(right, 300) + amplitude(left, 500), 1e-3);  // sides stay apart
}

}  // namespace
}  // namespace orvan::music::testing
