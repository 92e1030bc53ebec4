// Music_PlayWith through the component: two channels rendered into one file, the leader's
// woodblock panned hard left and the layer's hard right, so that each channel's clicks are
// measured on a channel of their own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/component/component_fixture.h"
#include "tests/support/smf_writer.h"
#include "tests/support/sound_measure.h"
#include "tests/support/wav_file.h"

namespace orvan::component_test {
namespace {

constexpr LONG kRate = 44100;  // beats fall between synthesizer blocks at this rate
constexpr HRESULT kInvalidCall = static_cast<HRESULT>(0x88780032u);
constexpr double kBpm = 110.0;
constexpr int kQuarters = 240;
constexpr float kClickThreshold = 0.02f;

// Frames of a quarter at master tempo `tempo`.
double quarter_frames(double tempo) {
  return kRate * 60.0 / kBpm / tempo;
}

// Every frame where a click begins on `mono`: above the threshold after a quiet stretch
// (clicks are at least a quarter apart).
std::vector<double> onsets(const std::vector<float>& mono) {
  std::vector<double> found;
  for (std::size_t f = 0; f < mono.size(); ++f) {
    if (std::abs(mono[f]) <= kClickThreshold) continue;
    found.push_back(static_cast<double>(f));
    f += kRate / 10;
  }
  return found;
}

// The onset nearest `frame`.
double onset_near(const std::vector<double>& found, double frame) {
  double best = -1;
  for (double f : found) {
    if (best < 0 || std::abs(f - frame) < std::abs(best - frame)) best = f;
  }
  return best;
}

class Layers : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    leader_mid_ = dir_ / "leader.mid";
    layer_mid_ = dir_ / "layer.mid";
    write_clicks(leader_mid_, 0);
    write_clicks(layer_mid_, 127);
    out_ = dir_ / "mix.wav";
  }

  // 110 BPM in 3/4, a woodblock click on every quarter, dry, panned to `pan`.
  static void write_clicks(const std::filesystem::path& path, int pan) {
    test::SmfWriter smf(0, 480);
    test::SmfTrack& track = smf.add_track()
                                .tempo_bpm(0, kBpm)
                                .time_signature(0, 3, 2)
                                .controller(0, 0, 10, pan)
                                .controller(0, 0, 91, 0)
                                .controller(0, 0, 93, 0)
                                .program_change(0, 0, 115);
    for (int q = 0; q < kQuarters; ++q) track.note_on(q ? 420 : 0, 0, 72, 110).note_off(60, 0, 72);
    track.end_of_track(0);
    ASSERT_TRUE(smf.write_file(path.string()));
  }

  // A channel rendering into out_ with `piece` loaded.
  ComPtr<_OrvanMusic2> open(const std::filesystem::path& piece, float tempo = 1.0f) {
    ComPtr<_OrvanMusic2> music = create2();
    Bstr out(out_.string()), file(piece.string());
    EXPECT_EQ(music->InitOrvanRender(out.get(), kRate), S_OK);
    EXPECT_EQ(music->SetMasterTempo(&tempo), S_OK);
    EXPECT_EQ(music->Music_Load(file.ptr()), S_OK);
    return music;
  }

  std::filesystem::path leader_mid_, layer_mid_, out_;
};

TEST_F(Layers, ALayerStartsOnTheLeadersBeatOrBarAndIsStillOnItsBeatsAMinuteLater) {
  const double quarter = quarter_frames(1.25);
  // The call comes at 0.7 s, quarter 1.6: the next beat is quarter 2, the next bar quarter 3.
  for (const auto& [boundary, quarters] : {std::pair{OBND_BEAT, 2}, std::pair{OBND_BAR, 3}}) {
    SCOPED_TRACE(boundary);
    {
      // For the bar, the layer joins the file first: the leader must still render first.
      ComPtr<_OrvanMusic2> layer, leader;
      if (boundary == OBND_BAR) layer = open(layer_mid_);  // its own master tempo stays 1.0
      leader = open(leader_mid_, 1.25f);
      if (boundary == OBND_BEAT) layer = open(layer_mid_);
      ASSERT_EQ(leader->Music_Play(nullptr), S_OK);
      ASSERT_EQ(leader->RenderFor(700), S_OK);
      ASSERT_EQ(layer->Music_PlayWith(reinterpret_cast<IDispatch*>(leader.get()), boundary), S_OK);
      ASSERT_EQ(layer->RenderFor(30000), S_OK);  // either channel advances the one file
      ASSERT_EQ(leader->RenderFor(31300), S_OK);
      EXPECT_EQ(layer->CleanupAudio(), S_OK);
    }
    const testing::StereoWav mix = testing::read_stereo_wav(out_);
    ASSERT_EQ(mix.frames(), 62u * kRate);
    const std::vector<double> led = onsets(testing::channel_of(mix.samples, 0));
    const std::vector<double> layered = onsets(testing::channel_of(mix.samples, 1));
    ASSERT_FALSE(led.empty());
    ASSERT_FALSE(layered.empty());
    // The leader's first click sounds at frame 0 plus the instrument's attack, which both
    // channels' clicks share.
    const double attack = led.front();
    const double boundary_frame = quarters * quarter;
    EXPECT_GE(layered.front() - attack, boundary_frame) << layered.front();
    EXPECT_LT(layered.front() - attack, boundary_frame + 64) << layered.front();
    // Both channels land their clicks in the synthesizer block holding them, each on its own
    // grid: the leader's from frame 0, the layer's from its first block. Sharing the output's
    // clock, they keep that distance from the first beat to those a minute on: the layer's
    // click on a beat at most one block (plus the threshold's few frames of jitter between
    // blocks) after the leader's.
    const double layer_start = layered.front() - attack;
    for (int beat : {0, 1, 20, 134, 135, 136}) {
      SCOPED_TRACE(beat);
      const double leader_click = onset_near(led, attack + (beat + quarters) * quarter);
      const double layer_click = onset_near(layered, attack + (beat + quarters) * quarter);
      EXPECT_LT(std::abs(leader_click - attack - (beat + quarters) * quarter), 64.0);
      EXPECT_LT(std::abs(layer_click - attack - layer_start - beat * quarter), 64.0);
      EXPECT_GE(layer_click - leader_click, 0.0);
      EXPECT_LT(layer_click - leader_click, 80.0);
    }
    EXPECT_GT((136 + quarters) * quarter, 60.0 * kRate);
  }
}

TEST_F(Layers, ALayerKeepsItsLeadersMasterTempoUntilTheLeaderStops) {
  {
    ComPtr<_OrvanMusic2> leader = open(leader_mid_, 1.25f);
    ComPtr<_OrvanMusic2> layer = open(layer_mid_);
    ASSERT_EQ(leader->Music_Play(nullptr), S_OK);
    ASSERT_EQ(leader->RenderFor(700), S_OK);
    ASSERT_EQ(layer->Music_PlayWith(reinterpret_cast<IDispatch*>(leader.get()), OBND_IMMEDIATE),
              S_OK);
    ASSERT_EQ(layer->RenderFor(4300), S_OK);
    float slower = 0.8f;
    ASSERT_EQ(leader->SetMasterTempo(&slower), S_OK);
    ASSERT_EQ(layer->RenderFor(5000), S_OK);
    ASSERT_EQ(leader->Music_Stop(), S_OK);
    ASSERT_EQ(layer->RenderFor(5000), S_OK);
  }
  const testing::StereoWav mix = testing::read_stereo_wav(out_);
  const std::vector<double> layered = onsets(testing::channel_of(mix.samples, 1));
  // The mean distance of the layer's clicks within each stretch, the first click after a
  // change left out.
  const auto mean_quarter = [&](double from_seconds, double to_seconds) {
    std::vector<double> in;
    for (double f : layered) {
      if (f > (from_seconds + 0.5) * kRate && f < to_seconds * kRate) in.push_back(f);
    }
    if (in.size() < 3) return 0.0;
    return (in.back() - in.front()) / static_cast<double>(in.size() - 1);
  };
  EXPECT_NEAR(mean_quarter(0.7, 5.0), quarter_frames(1.25), 16.0);
  EXPECT_NEAR(mean_quarter(5.0, 10.0), quarter_frames(0.8), 16.0);   // the leader's change
  EXPECT_NEAR(mean_quarter(10.0, 15.0), quarter_frames(1.0), 16.0);  // its own again
}

TEST_F(Layers, ALeaderMustBeAnotherChannelOnTheSameOutputAndRefusedCallsPlayNothing) {
  ComPtr<_OrvanMusic2> leader = open(leader_mid_);
  ComPtr<_OrvanMusic2> layer = open(layer_mid_);
  const auto as_leader = [](const ComPtr<_OrvanMusic2>& music) {
    return reinterpret_cast<IDispatch*>(music.get());
  };
  EXPECT_EQ(layer->Music_PlayWith(nullptr, OBND_BEAT), E_POINTER);
  EXPECT_EQ(layer->Music_PlayWith(as_leader(layer), OBND_BEAT), E_INVALIDARG);
  EXPECT_EQ(layer->Music_PlayWith(as_leader(leader), static_cast<OrvanBoundary>(5)), E_INVALIDARG);
  EXPECT_EQ(layer->Music_PlayWith(as_leader(leader), static_cast<OrvanBoundary>(-1)), E_INVALIDARG);

  // Another file, the same file at another rate, the real-time stand-in of the tests (a
  // manual device each), a leader closed: no shared clock.
  ComPtr<_OrvanMusic2> elsewhere = create2();
  Bstr other((dir_ / "other.wav").string()), same(out_.string());
  ASSERT_EQ(elsewhere->InitOrvanRender(other.get(), kRate), S_OK);
  EXPECT_EQ(layer->Music_PlayWith(as_leader(elsewhere), OBND_BEAT), kInvalidCall);
  EXPECT_EQ(elsewhere->InitOrvanRender(same.get(), 48000), kInvalidCall);
  ComPtr<_OrvanMusic2> manual = create2(), manual_layer = create2();
  init_and_load(reinterpret_cast<_OrvanMusic*>(manual.get()));
  init_and_load(reinterpret_cast<_OrvanMusic*>(manual_layer.get()));
  EXPECT_EQ(manual_layer->Music_PlayWith(as_leader(manual), OBND_BEAT), kInvalidCall);
  ComPtr<_OrvanMusic2> closed = open(leader_mid_);
  EXPECT_EQ(closed->CleanupAudio(), S_OK);
  EXPECT_EQ(layer->Music_PlayWith(as_leader(closed), OBND_BEAT), kInvalidCall);
  // Nothing loaded: nothing to play, as Music_Play.
  ComPtr<_OrvanMusic2> empty = create2();
  ASSERT_EQ(empty->InitOrvanRender(same.get(), kRate), S_OK);
  EXPECT_EQ(empty->Music_PlayWith(as_leader(leader), OBND_BEAT), S_OK);

  // With nothing playing on the leader a layer would start at once: the file stays silent.
  ASSERT_EQ(layer->RenderFor(1000), S_OK);
  EXPECT_EQ(empty->CleanupAudio(), S_OK);
  EXPECT_EQ(layer->CleanupAudio(), S_OK);
  EXPECT_EQ(leader->CleanupAudio(), S_OK);
  const testing::StereoWav mix = testing::read_stereo_wav(out_);
  ASSERT_EQ(mix.frames(), static_cast<std::size_t>(kRate));
  EXPECT_LT(testing::peak(mix.samples, 0, mix.frames()), 1e-5);  // -100 dBFS: no click
}

}  // namespace
}  // namespace orvan::component_test
