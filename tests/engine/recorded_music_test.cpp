// A recording through the engine object: loaded, played, sought, DLS calls beside it, a
// MIDI channel alongside, effects on it, and cleaned up while it plays.
#include <span>

#include "tests/engine/engine_fixture.h"
#include "tests/support/dls_writer.h"
#include "tests/support/run_command.h"
#include "tests/support/sound_measure.h"
#include "tests/support/tone_analysis.h"

namespace orvan::engine::testing {
namespace {

class RecordedMusic : public EngineTest {
 protected:
  std::filesystem::path tone(const std::string& name, int hz, double seconds = 3.0) {
    const auto path = temp_path(name);
    const auto outcome = orvan::testing::run_command("sox -n -r 44100 -c 2 -b 16 " + path.string() +
                                                     " synth " + std::to_string(seconds) +
                                                     " sine " + std::to_string(hz) + " vol 0.3");
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    return path;
  }
};

TEST_F(RecordedMusic, PlaysSeeksTakesDlsCallsAndCleansUpWhilePlaying) {
  auto channel = make_initialised_channel(48000);
  const auto flac = temp_path("tone.flac");
  const auto wav = tone("tone.wav", 600);
  ASSERT_EQ(
      orvan::testing::run_command("flac -s -f -o " + flac.string() + " " + wav.string()).status, 0);
  ASSERT_EQ(channel->Music_Load(bstr(flac)), com::S_OK);
  std::int32_t length = 0;
  ASSERT_EQ(channel->GetLengh(length), com::S_OK);
  EXPECT_EQ(length, 4608);
  ASSERT_EQ(channel->Music_Play(0), com::S_OK);
  EXPECT_GT(pump_seconds(0.5), 0.1);
  std::int32_t position = 0;
  ASSERT_EQ(channel->GetCurrentPosition(position), com::S_OK);
  EXPECT_EQ(position, 768);
  ASSERT_EQ(channel->SetPosition(3840), com::S_OK);
  pump_seconds(0.25);
  ASSERT_EQ(channel->GetCurrentPosition(position), com::S_OK);
  EXPECT_EQ(position, 4224);

  // A DLS collection applied to a recording: accepted, and the recording sounds as before.
  const auto dls = temp_path("sine.dls");
  ASSERT_TRUE(test::save_bytes(dls.string(), test::write_dls(test::sine_and_square_collection())));
  ASSERT_EQ(channel->LoadDLS(bstr(dls), 0), com::S_OK);
  ASSERT_EQ(channel->SetPosition(0), com::S_OK);
  EXPECT_EQ(channel->ApplyDLS(0), com::S_OK);
  const double level = pump_seconds(0.5);
  EXPECT_NEAR(level, 0.3 * std::sqrt(0.5), 0.01);

  ASSERT_EQ(channel->CleanupAudio(), com::S_OK);
  EXPECT_TRUE(boxes_->boxes().empty());
}

// Level of the left channel's component at `hz` over `frames` frames from `first`.
double level_at(const std::vector<float>& stereo, std::size_t first, std::size_t frames, double hz,
                int rate) {
  const auto left =
      orvan::testing::channel_of(std::span<const float>(stereo).subspan(2 * first, 2 * frames), 0);
  return orvan::test::tone_level(left, rate, hz);
}

TEST_F(RecordedMusic, EffectsOfBufferZeroChangeARecordingAsTheyChangeMusic) {
  // One second of a 600 Hz tone, rendered for two seconds with and without an effect.
  const auto wav = tone("short.wav", 600, 1.0);
  const auto render = [&](HResult (OrvanMusic::*effect_on)()) {
    auto channel = make_initialised_channel(48000);
    if (effect_on) {
      EXPECT_EQ(((*channel).*effect_on)(), com::S_OK);
    }
    if (effect_on == &OrvanMusic::Effect_DistortionOn) {
      // The hardest edge: at its default a 0.3 tone barely reaches the shaper's bend.
      com::VariantBool written{};
      EXPECT_EQ(channel->SetFX_Dist_Edge(100.0f, written), com::S_OK);
    }
    EXPECT_EQ(channel->Music_Load(bstr(wav)), com::S_OK);
    EXPECT_EQ(channel->Music_Play(0), com::S_OK);
    device().clear_capture();
    EXPECT_EQ(device().pump(96000), com::S_OK);
    auto out = device().capture();
    channel->CleanupAudio();
    return out;
  };
  using orvan::testing::rms;
  using orvan::testing::to_db;
  const auto dry = render(nullptr);
  const auto reverb = render(&OrvanMusic::Effect_ReverbOn);
  const auto distortion = render(&OrvanMusic::Effect_DistortionOn);
  ASSERT_EQ(dry.size(), 2u * 96000);
  ASSERT_EQ(reverb.size(), dry.size());
  ASSERT_EQ(distortion.size(), dry.size());

  // The reverb: a tail after the recording ended (from 1.1 s), where the dry play is silent,
  // and one that dies away.
  EXPECT_LT(to_db(rms(dry, 52800, 9600)), -80.0);
  const double tail_early = to_db(rms(reverb, 52800, 9600));
  const double tail_late = to_db(rms(reverb, 84000, 9600));
  EXPECT_GT(tail_early, -45.0);
  EXPECT_LT(tail_late, tail_early - 6.0);

  // The distortion: odd harmonics of the tone, absent from the dry play.
  // Measured over 0.5 s, a whole number of cycles of every frequency asked for.
  const auto harmonic_db = [&](const std::vector<float>& out, double hz) {
    return to_db(level_at(out, 12000, 24000, hz, 48000)) -
           to_db(level_at(out, 12000, 24000, 600.0, 48000));
  };
  EXPECT_LT(harmonic_db(dry, 1800.0), -70.0);
  EXPECT_GT(harmonic_db(distortion, 1800.0), -20.0);
  EXPECT_GT(harmonic_db(distortion, 3000.0), -20.0);
}

TEST_F(RecordedMusic, MidiAndRecordedChannelsPlayTogetherEachAtItsOwnVolume) {
  auto midi = make_initialised_channel(48000);
  auto& midi_out = device();
  auto recorded = make_initialised_channel(48000);
  auto& recorded_out = device();
  ASSERT_NE(&midi_out, &recorded_out);
  ASSERT_EQ(midi->Music_Load(bstr(organ_)), com::S_OK);
  ASSERT_EQ(recorded->Music_Load(bstr(tone("steady.wav", 440))), com::S_OK);
  ASSERT_EQ(midi->Music_Play(0), com::S_OK);
  ASSERT_EQ(recorded->Music_Play(0), com::S_OK);
  // Both advance a block at a time, as two channels of one program would.
  const auto pump_both = [&](double seconds) {
    midi_out.clear_capture();
    recorded_out.clear_capture();
    for (int i = 0; i < static_cast<int>(seconds * 100); ++i) {
      EXPECT_EQ(midi_out.pump(480), com::S_OK);
      EXPECT_EQ(recorded_out.pump(480), com::S_OK);
    }
    return std::pair{orvan::testing::to_db(rms(midi_out.capture())),
                     orvan::testing::to_db(rms(recorded_out.capture()))};
  };
  pump_both(0.5);  // past the organ's attack
  const auto [midi_full, recorded_full] = pump_both(0.4);
  ASSERT_GT(midi_full, -50.0);
  ASSERT_GT(recorded_full, -20.0);

  // Crossfaded one way, then the other; each level follows only its own channel's volume.
  const auto crossfade = [&](std::int32_t midi_volume, std::int32_t recorded_volume) {
    EXPECT_EQ(midi->SetMasterVolume(midi_volume), com::S_OK);
    EXPECT_EQ(recorded->SetMasterVolume(recorded_volume), com::S_OK);
    pump_both(0.05);  // the ramp
    const auto levels = pump_both(0.4);
    com::VariantBool playing{};
    EXPECT_EQ(midi->IsPlaying(playing), com::S_OK);
    EXPECT_EQ(playing, com::VARIANT_TRUE);
    EXPECT_EQ(recorded->IsPlaying(playing), com::S_OK);
    EXPECT_EQ(playing, com::VARIANT_TRUE);
    return levels;
  };
  const auto [midi_a, recorded_a] = crossfade(-600, -2000);
  const auto [midi_b, recorded_b] = crossfade(-2000, -600);
  // The recording is steady: exact against its own full level. The organ swells a little
  // as it sounds on, so it is held to the 14 dB between the two crossfades.
  EXPECT_NEAR(recorded_a - recorded_full, -20.0, 0.1);
  EXPECT_NEAR(recorded_b - recorded_full, -6.0, 0.1);
  EXPECT_NEAR(recorded_b - recorded_a, 14.0, 0.1);
  EXPECT_NEAR(midi_a - midi_full, -6.0, 1.0);
  EXPECT_NEAR(midi_b - midi_full, -20.0, 1.0);
  EXPECT_NEAR(midi_a - midi_b, 14.0, 0.5);
  midi->CleanupAudio();
  recorded->CleanupAudio();
}

}  // namespace
}  // namespace orvan::engine::testing
