// A recording through the engine object: loaded, played, sought, DLS calls beside it, a
// MIDI channel alongside, and cleaned up while it plays.
#include "tests/engine/engine_fixture.h"
#include "tests/support/dls_writer.h"
#include "tests/support/run_command.h"

namespace orvan::engine::testing {
namespace {

class RecordedMusic : public EngineTest {
 protected:
  std::filesystem::path tone(const std::string& name, int hz) {
    const auto path = temp_path(name);
    const auto outcome =
        orvan::testing::run_command("sox -n -r 44100 -c 2 -b 16 " + path.string() +
                                    " synth 3 sine " + std::to_string(hz) + " vol 0.3");
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

}  // namespace
}  // namespace orvan::engine::testing
