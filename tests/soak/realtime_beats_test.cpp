// Ten minutes of a 180-BPM piece on the real-time device, as a game listens to it: every beat
// of the tempo map is told, in order, none lost, each at the frame where the device plays it.
// It takes the ten minutes of real time, so it runs apart from the suite (label "soak").
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/music/client/settings.h"
#include "tests/component/component_fixture.h"
#include "tests/component/recording_sink.h"
#include "tests/support/smf_writer.h"
#include "tests/support/wav_file.h"

namespace orvan::component_test {
namespace {

constexpr LONG kRate = 48000;
constexpr int kBars = 450;  // 1800 beats of 4/4 at 180 BPM: ten minutes
constexpr int kBeats = kBars * 4;
constexpr std::uint32_t kQuarterMicroseconds = 333333;  // 180 BPM as a MIDI file can say it
constexpr double kFramesPerBeat = kQuarterMicroseconds * 1e-6 * kRate;
// A real-time device's period is 25 ms or less; the channel hands events over every 5 ms.
constexpr double kPeriodFrames = kRate / 40.0;

class RealTimeSoak : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    music::PlatformSettings settings;
    settings.output = music::OutputKind::RealTime;
    settings.soundfont = testing::kSmallSoundFont;
    music::set_platform_settings(settings);
  }

  // A short note on every beat, the bar's first louder, and the end after the last beat.
  std::filesystem::path beats_piece() {
    const std::filesystem::path path = dir_ / "ten_minutes_at_180.mid";
    test::SmfWriter smf(0, 480);
    test::SmfTrack& track = smf.add_track();
    track.tempo(0, kQuarterMicroseconds).time_signature(0, 4, 2);
    for (int i = 0; i < kBeats; ++i)
      track.note_on(i == 0 ? 0 : 360, 9, 76, i % 4 == 0 ? 110 : 70).note_off(120, 9, 76);
    track.end_of_track(360);
    EXPECT_TRUE(smf.write_file(path.string()));
    return path;
  }
};

TEST_F(RealTimeSoak, EveryBeatOfTenMinutesAt180BpmArrivesInOrderAtTheDevicesFrame) {
  RecordingSink sink;  // outlives the object, which lets go of it when it ends
  ComPtr<_OrvanMusic2> music = create2();
  ComPtr<IConnectionPoint> point = music_events_point(music.get());
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  // The device's own count when each beat reaches the sink: it has played the beat by then.
  std::vector<double> device_frames;
  sink.on_event = [&](const Heard& h) {
    if (h.id != DISPID_OrvanMusicEvent_Beat) return;
    double frames = -1.0;
    EXPECT_EQ(music->GetOutputFrames(&frames), S_OK);
    device_frames.push_back(frames);
  };

  LONG hwnd = 0, rate = kRate, once = 0;
  ASSERT_EQ(music->InitOrvanAudio(&hwnd, &rate), S_OK);
  ASSERT_EQ(rate, kRate);
  Bstr file(beats_piece().string());
  ASSERT_EQ(music->Music_Load(file.ptr()), S_OK);
  ASSERT_EQ(music->Music_Play(&once), S_OK);

  const auto ended = [&] {
    return !sink.heard.empty() && sink.heard.back().id == DISPID_OrvanMusicEvent_Ended;
  };
  // Ten minutes and a minute's grace for a machine too busy to keep pace.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(11);
  while (!ended() && std::chrono::steady_clock::now() < deadline) OrvanPumpApartment(100, nullptr);
  ASSERT_TRUE(ended()) << sink.heard.size() << " events in eleven minutes";

  ASSERT_EQ(sink.heard.front().id, DISPID_OrvanMusicEvent_Started);
  const double start = sink.heard.front().frame;
  const std::vector<Heard> beats = sink.of(DISPID_OrvanMusicEvent_Beat);
  ASSERT_EQ(beats.size(), static_cast<std::size_t>(kBeats));
  ASSERT_EQ(device_frames.size(), beats.size());
  int out_of_place = 0, early = 0, late = 0;
  double worst_lag = 0.0;
  std::vector<double> lags;
  for (int i = 0; i < kBeats; ++i) {
    const Heard& b = beats[i];
    const double expected = start + i * kFramesPerBeat;
    if (b.a != i / 4 + 1 || b.b != i % 4 + 1 || std::abs(b.frame - expected) > 64.0) {
      if (++out_of_place <= 5)
        ADD_FAILURE() << "beat " << i << ": bar " << b.a << " beat " << b.b << " at frame "
                      << b.frame << ", expected bar " << i / 4 + 1 << " beat " << i % 4 + 1
                      << " at " << expected;
    }
    const double lag = device_frames[i] - b.frame;
    lags.push_back(lag);
    worst_lag = std::max(worst_lag, lag);
    early += lag < -kPeriodFrames ? 1 : 0;
    late += lag > kPeriodFrames ? 1 : 0;
  }
  EXPECT_EQ(out_of_place, 0);
  EXPECT_NEAR(sink.heard.back().frame, start + kBeats * kFramesPerBeat, 64.0);
  // Told before the device got there would mean another clock than the device's.
  EXPECT_EQ(early, 0);
  // A busy machine may delay a hand-over now and then, but the device's count and the beats'
  // frames must not drift apart: the typical beat arrives within a period of being played.
  std::nth_element(lags.begin(), lags.begin() + kBeats / 2, lags.end());
  EXPECT_LE(lags[kBeats / 2], kPeriodFrames);
  EXPECT_LE(worst_lag, 2.0 * kRate) << "a beat reached the sink more than two seconds late";

  LONG late_periods = -1;
  EXPECT_EQ(music->GetLatePeriods(&late_periods), S_OK);
  std::printf(
      "%zu beats, bars 1..%ld; lag behind the device: median %.0f frames, worst %.0f, "
      "%d beats more than a period; %ld late periods\n",
      beats.size(), static_cast<long>(beats.back().a), lags[kBeats / 2], worst_lag, late,
      static_cast<long>(late_periods));
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(music->CleanupAudio(), S_OK);
}

}  // namespace
}  // namespace orvan::component_test
