// The engine on a real desktop audio server (a private PipeWire with PulseAudio emulation
// and a null sink, see private_audio_server.h), recorded where a listener would hear it:
// what plays is what an offline render holds, a play is heard soon after it is asked for,
// and music comes back by itself after the server is killed and started again.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/orvan_music.h"
#include "platform/music/output/render_meter.h"
#include "platform/music/output/sdl_device.h"
#include "platform/ui/message_box.h"
#include "tests/support/private_audio_server.h"
#include "tests/support/run_command.h"
#include "tests/support/sanitizers.h"
#include "tests/support/sound_measure.h"
#include "tests/support/wav_file.h"

namespace orvan {
namespace {

using testing::MonitorRecording;
using testing::PrivateAudioServer;
using Clock = std::chrono::steady_clock;

const std::string kPlayer = ORVAN_BINARY_DIR "/bin/tovel-play";
const std::string kTheme = ORVAN_BINARY_DIR "/media/Theme.mid";
constexpr int kRate = PrivateAudioServer::kSampleRate;
constexpr float kAudible = 1e-3f;  // -60 dBFS
// Now and then the private server takes half a minute to come back after it was killed (the
// cause is not known yet); the engine's recovery is measured from a prompt restart only.
constexpr auto kPromptRestart = std::chrono::seconds(5);
constexpr const char* kSlowRestart = "the private server took over 5 s to come back";

// SDL's PulseAudio client runs threads of its own in uninstrumented libraries, whose atomics
// ThreadSanitizer cannot see, so it would report the server's own hand-overs as races.
#if defined(__SANITIZE_THREAD__)
constexpr bool kServerHostable = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kServerHostable = false;
#else
constexpr bool kServerHostable = true;
#endif
#else
constexpr bool kServerHostable = true;
#endif

double ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The count of entries in a /proc folder of this process.
std::size_t entries(const char* folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

class CountingPresenter final : public ui::MessagePresenter {
 public:
  void present(const std::string&, const std::string&, ui::MessageIcon) override { ++shown; }
  std::atomic<int> shown{0};
};

class RealAudioServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!kServerHostable || !PrivateAudioServer::installed()) return;
    // The offline render of the whole piece, the reference for what is heard.
    const std::string path = std::filesystem::temp_directory_path() /
                             ("orvan_real_server_" + std::to_string(getpid()) + ".wav");
    testing::run_command("'" + kPlayer + "' --quiet --rate " + std::to_string(kRate) +
                         " --render '" + path + "' '" + kTheme + "'");
    testing::StereoWav render = testing::read_stereo_wav(path);
    if (render.rate == kRate) reference_ = std::move(render.samples);
    std::filesystem::remove(path);
  }
  static void TearDownTestSuite() { reference_.clear(); }

  void SetUp() override {
    if (!kServerHostable) GTEST_SKIP() << "ThreadSanitizer cannot host the audio client's threads";
    if (!PrivateAudioServer::installed()) GTEST_SKIP() << "PipeWire, WirePlumber or parec missing";
    ASSERT_FALSE(reference_.empty()) << "the offline render failed";
    server_ = std::make_unique<PrivateAudioServer>();
    ASSERT_TRUE(server_->start()) << "the private audio server did not come up";
    server_->use_in_this_process();
  }

  // The music's first audible frame in the offline render.
  static long reference_onset() { return testing::first_frame_above(reference_, kAudible); }

  static inline std::vector<float> reference_;
  std::unique_ptr<PrivateAudioServer> server_;
};

TEST_F(RealAudioServer, LivePlayIsTheOfflineRenderWithoutDropoutOrDrift) {
  // An instrumented build renders several times slower than the one a user runs.
  if (test::kSanitizerAllocator) GTEST_SKIP() << "timing under a sanitizer is not what is heard";
  constexpr int kPlaySeconds = 62;
  std::vector<float> heard;
  testing::CommandOutcome play;
  {
    MonitorRecording recording(*server_);
    ASSERT_TRUE(recording.running());
    // The comparison measures the engine, not the host's scheduler: by default the server
    // holds about one period of the player's audio, and on a loaded two-core machine one
    // late wake-up of SDL's thread in a minute is enough for the server to play a few
    // milliseconds of silence, which shifts everything after it. With 60 ms held there (as a
    // user on such a machine would set it), a gap or a drift the engine makes still shows.
    play = testing::run_command(server_->environment_words() +
                                " PULSE_LATENCY_MSEC=60 timeout -s INT " +
                                std::to_string(kPlaySeconds) + " '" + kPlayer +
                                "' --quiet --rate " + std::to_string(kRate) + " '" + kTheme + "'");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    heard = recording.samples();
  }
  // The player's last line counts the periods it handed over late. On this shared machine
  // a few are late even when nothing audible is lost, so the count is shown, and what was
  // heard is the measure.
  EXPECT_NE(play.out.find("audio device losses 0, reopens 0"), std::string::npos) << play.out;
  std::printf("%s", play.out.c_str());

  const long ref_onset = reference_onset();
  const long heard_onset = testing::first_frame_above(heard, kAudible);
  ASSERT_GE(ref_onset, 0);
  ASSERT_GE(heard_onset, 0) << "nothing heard";
  // Aligned to the sample where the music starts.
  const long lag = testing::best_sample_lag(reference_, heard, static_cast<std::size_t>(ref_onset),
                                            kRate / 2, heard_onset - ref_onset, 64);
  const auto ref_from = static_cast<std::size_t>(ref_onset);
  const auto heard_from = static_cast<std::size_t>(ref_onset + lag);
  const std::size_t compared =
      std::min<std::size_t>(55 * kRate, heard.size() / 2 - heard_from - kRate / 10);
  ASSERT_GT(compared, 50u * kRate) << "the recording is too short";
  const std::span<const float> ref_part(reference_.data() + ref_from * 2, compared * 2);
  // The heard part runs on past the compared length, for the later seconds' alignment.
  const std::span<const float> heard_part(heard.data() + heard_from * 2,
                                          heard.size() - heard_from * 2);

  // Second by second, where the heard music sits against the render, to the sample. A period
  // the engine dropped would move every later second 1024 frames earlier, one played twice
  // or a stall 1024 frames later. The server, when SDL's thread wakes late on a loaded
  // machine, plays 256 frames of silence and goes on (the player counts those periods as
  // late): a step of a quarter period that stays. So no step from one second to the next
  // may reach a whole period, and none may go back (nothing of the music skipped).
  // A second whose alignment is ambiguous (a quiet or repetitive stretch) is taken as the
  // median of it and its neighbours.
  const long half_period = music::output::period_frames_for(kRate) / 2;
  std::vector<long> raw;
  for (std::size_t second = 0; (second + 1) * kRate <= compared; ++second) {
    const std::size_t at = second * kRate;
    const long guess = raw.empty() ? 0 : raw.back();
    raw.push_back(testing::rms(ref_part, at, kRate / 10) >= kAudible
                      ? testing::best_sample_lag(ref_part, heard_part, at, kRate / 10, guess,
                                                 2 * half_period + 100)
                      : guess);
  }
  std::vector<long> lags(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    std::array<long, 3> near{raw[i > 0 ? i - 1 : i], raw[i], raw[i + 1 < raw.size() ? i + 1 : i]};
    std::sort(near.begin(), near.end());
    lags[i] = near[1];
  }
  std::string moves;
  long largest_step = 0;
  long back = 0;
  for (std::size_t i = 1; i < lags.size(); ++i) {
    const long step = lags[i] - lags[i - 1];
    if (step == 0) continue;
    largest_step = std::max(largest_step, std::labs(step));
    back = std::min(back, step);
    char line[64];
    std::snprintf(line, sizeof line, " %zu s: %+ld frames;", i, step);
    moves += line;
  }
  EXPECT_LE(largest_step, half_period) << "heard moved against the render at" << moves;
  EXPECT_EQ(back, 0) << "heard moved against the render at" << moves;

  // Every 10 ms window where the render is audible is heard at its level, where that second
  // is heard. The synthesizer's chorus and reverb modulate from the moment it starts, not
  // from the play, so a live play and a render differ slightly in some windows (within
  // 1.5 dB, in one window in 40 by more than 0.5 dB); a dropout empties a whole window or two.
  constexpr std::size_t kWindow = kRate / 100;
  int audible_windows = 0;
  int windows_off = 0;
  double worst_db = 0.0;
  for (std::size_t w = 0; w + kWindow <= compared; w += kWindow) {
    const double ref_level = testing::rms(ref_part, w, kWindow);
    if (ref_level < kAudible) continue;
    const long lag_here = lags[std::min(w / kRate, lags.size() - 1)];
    const long heard_at = static_cast<long>(w) + lag_here;
    if (heard_at < 0 || static_cast<std::size_t>(heard_at) + kWindow > heard_part.size() / 2)
      continue;
    ++audible_windows;
    const double off_db = std::fabs(
        testing::to_db(testing::rms(heard_part, static_cast<std::size_t>(heard_at), kWindow)) -
        testing::to_db(ref_level));
    worst_db = std::max(worst_db, off_db);
    if (off_db > 0.5) ++windows_off;
  }
  std::printf(
      "live vs offline over %.1f s: %d audible 10 ms windows, %d off by more than 0.5 dB "
      "(worst %.2f dB); heard moved against the render at%s\n",
      static_cast<double>(compared) / kRate, audible_windows, windows_off, worst_db,
      moves.empty() ? " no second" : moves.c_str());
  EXPECT_GT(audible_windows, 4000);
  EXPECT_LT(windows_off, audible_windows / 20);
}

TEST_F(RealAudioServer, MusicIsHeardSoonAndComesBackAfterTheServerRestarts) {
  auto presenter = std::make_shared<CountingPresenter>();
  ui::ScopedMessagePresenter scoped(presenter);
  // SDL keeps a connection to the session bus from its first start to the process's end:
  // one channel opened and closed first, so that the counts compare like with like.
  {
    auto warm_up = com::make_ref<engine::OrvanMusic>();
    ASSERT_EQ(warm_up->InitOrvanAudio(0, kRate), com::S_OK);
    ASSERT_EQ(warm_up->CleanupAudio(), com::S_OK);
  }
  const int boxes_before = presenter->shown.load();
  const std::size_t fds_before = entries("/proc/self/fd");
  const std::size_t threads_before = entries("/proc/self/task");

  auto channel = com::make_ref<engine::OrvanMusic>();
  ASSERT_EQ(channel->InitOrvanAudio(0, kRate), com::S_OK);
  ASSERT_EQ(channel->Music_Load(com::BStr::from_utf8(kTheme)), com::S_OK);
  struct Progress {
    double frames_rendered = 0.0;
    std::int32_t device_losses = 0;
    std::int32_t device_reopens = 0;
  };
  const auto progress = [&] {
    Progress output;
    EXPECT_EQ(channel->GetOutputFrames(output.frames_rendered), com::S_OK);
    EXPECT_EQ(channel->GetDeviceLosses(output.device_losses), com::S_OK);
    EXPECT_EQ(channel->GetDeviceReopens(output.device_reopens), com::S_OK);
    return output;
  };

  auto recording = std::make_unique<MonitorRecording>(*server_);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // parec is under way
  const auto asked = Clock::now();
  ASSERT_EQ(channel->Music_Play(-1), com::S_OK);
  const auto returned = Clock::now();
  const long first = recording->wait_for_sound(kAudible, 0, std::chrono::seconds(5));
  ASSERT_GE(first, 0) << "the play was not heard";
  // When the music's first frame reached the monitor: its first audible frame's arrival,
  // less where that frame lies in the music.
  const auto heard = recording->arrival_of(static_cast<std::size_t>(first)) -
                     std::chrono::microseconds(1000000LL * reference_onset() / kRate);
  const double period_ms = 1000.0 * music::output::period_frames_for(kRate) / kRate;
  const double output_ms = ms_between(returned, heard);
  std::printf(
      "play to heard %.1f ms, of which %.1f ms in the call (instruments loaded) and "
      "%.1f ms from its return to the monitor; device period %.1f ms, server quantum %.1f ms\n",
      ms_between(asked, heard), ms_between(asked, returned), output_ms, period_ms,
      PrivateAudioServer::kQuantumMs);
  // A play starts at the next period, which SDL hands to the server; the server mixes it
  // in its next quantum. The recording's own fragment and its reader's wake-up add a little.
  EXPECT_LT(output_ms, period_ms + PrivateAudioServer::kQuantumMs + 25.0);

  std::this_thread::sleep_for(std::chrono::seconds(2));
  const Progress at_kill = progress();
  const auto killed = Clock::now();
  server_->kill_server();
  recording.reset();

  // No server: the music goes on by the clock.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const Progress without = progress();
  com::VariantBool playing = com::VARIANT_FALSE;
  ASSERT_EQ(channel->IsPlaying(playing), com::S_OK);
  EXPECT_EQ(playing, com::VARIANT_TRUE);
  EXPECT_EQ(without.device_losses, 1);
  EXPECT_EQ(without.device_reopens, 0);
  const double clock_seconds = (without.frames_rendered - at_kill.frames_rendered) / kRate;
  const double wall_seconds = ms_between(killed, Clock::now()) / 1000.0;
  EXPECT_NEAR(clock_seconds, wall_seconds, 0.15)
      << "the channel's clock kept time without a device";

  const auto restart_asked = Clock::now();
  ASSERT_TRUE(server_->start());
  if (Clock::now() - restart_asked > kPromptRestart) GTEST_SKIP() << kSlowRestart;
  recording = std::make_unique<MonitorRecording>(*server_);
  const long back = recording->wait_for_sound(kAudible, 0, std::chrono::seconds(5));
  ASSERT_GE(back, 0) << "the music did not come back";
  const double back_ms =
      ms_between(server_->accepting_since(), recording->arrival_of(static_cast<std::size_t>(back)));
  std::printf("sound back %.0f ms after the server accepted streams\n", back_ms);
  EXPECT_LT(back_ms, 1000.0);
  const Progress after = progress();
  EXPECT_EQ(after.device_losses, 1);
  EXPECT_EQ(after.device_reopens, 1);
  const double total_clock = (after.frames_rendered - at_kill.frames_rendered) / kRate;
  EXPECT_NEAR(total_clock, ms_between(killed, Clock::now()) / 1000.0, 0.25)
      << "the music is where the wall clock says";

  EXPECT_EQ(presenter->shown.load(), boxes_before) << "no message box for a lost device";
  ASSERT_EQ(channel->Music_Stop(), com::S_OK);
  ASSERT_EQ(channel->CleanupAudio(), com::S_OK);
  channel.reset();
  recording.reset();
  EXPECT_EQ(entries("/proc/self/fd"), fds_before);
  EXPECT_EQ(entries("/proc/self/task"), threads_before);
}

TEST_F(RealAudioServer, ARenderThatOutlastsItsPeriodIsCountedLateOnce) {
  // One render of three periods' length among quick ones, on a device with a clock.
  class StallingSource final : public music::output::RenderSource {
   public:
    void render(float* out, int frames) noexcept override {
      std::fill(out, out + 2 * frames, 0.0f);
      if (calls.fetch_add(1) == 20) std::this_thread::sleep_for(stall);
    }
    std::chrono::milliseconds stall{0};
    std::atomic<int> calls{0};
  };
  std::unique_ptr<music::output::OutputDevice> device;
  ASSERT_EQ(music::output::SdlDevice::open(kRate, device), com::S_OK);
  StallingSource source;
  source.stall = std::chrono::milliseconds(3 * 1000 * device->period_frames() / kRate);
  ASSERT_EQ(device->start(&source), com::S_OK);
  while (source.calls.load() < 60) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  device->stop();
  const music::output::OutputCounts counts = device->counts();
  // Once (a busy machine may add one more): never again in every period after it.
  EXPECT_GE(counts.late_periods, 1);
  EXPECT_LE(counts.late_periods, 2);
  EXPECT_EQ(counts.device_losses, 0);
  EXPECT_EQ(counts.device_reopens, 0);
}

TEST_F(RealAudioServer, TovelPlaySaysOnceThatTheDeviceWentAndCameBackAndCountsIt) {
  testing::CommandOutcome play;
  std::thread player([&] {
    play = testing::run_command(server_->environment_words() + " timeout -s INT 90 '" + kPlayer +
                                "' --quiet --loops -1 '" + kTheme + "'");
  });
  std::this_thread::sleep_for(std::chrono::seconds(2));
  server_->kill_server();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const auto restart_asked = Clock::now();
  const bool restarted = server_->start();
  const bool prompt = Clock::now() - restart_asked <= kPromptRestart;
  // However long the server took to come back, the player gets a few seconds of it before
  // it is asked to stop.
  std::this_thread::sleep_for(std::chrono::seconds(4));
  testing::run_command("pkill -INT -x tovel-play");
  player.join();
  ASSERT_TRUE(restarted);
  if (!prompt) GTEST_SKIP() << kSlowRestart;
  const auto count = [&](const std::string& text) {
    int n = 0;
    for (auto at = play.out.find(text); at != std::string::npos; at = play.out.find(text, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("the audio device went away"), 1) << play.out;
  EXPECT_EQ(count("the audio device is back"), 1) << play.out;
  EXPECT_EQ(count("device losses 1, reopens 1"), 1) << "the line at the end: " << play.out;
  EXPECT_EQ(count("message box"), 1) << "only the farewell box: " << play.out;
}

}  // namespace
}  // namespace orvan
