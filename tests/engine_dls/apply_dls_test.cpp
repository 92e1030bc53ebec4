// ApplyDLS on a running channel, judged by what it plays; and tovel-play --dls.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/orvan_music.h"
#include "platform/music/client/settings.h"
#include "platform/music/output/manual_device.h"
#include "platform/ui/message_box.h"
#include "tests/support/dls_writer.h"
#include "tests/support/run_command.h"
#include "tests/support/smf_writer.h"
#include "tests/support/sound_measure.h"
#include "tests/support/tone_analysis.h"
#include "tests/support/wav_file.h"

namespace orvan::engine {
namespace {

namespace fs = std::filesystem;
using com::BStr;
using com::Ref;

constexpr int kRate = 48000;
constexpr int kDivision = 480;

class ChannelProbe : public OrvanMusic {
 public:
  using OrvanMusic::DLSCollections;
  using OrvanMusic::Seg;
};

class QuietBoxes : public ui::MessagePresenter {
 public:
  void present(const std::string&, const std::string&, ui::MessageIcon) override {}
};

// A held A4 on channel 0 for each program, one a second long every two seconds.
void write_notes(const std::string& path, const std::vector<int>& programs) {
  test::SmfWriter smf(0, kDivision);
  auto& track = smf.add_track();
  track.tempo_bpm(0, 120.0);
  for (int program : programs) {
    track.program_change(0, 0, program).note_on(0, 0, 69, 100).note_off(2 * kDivision, 0, 69);
    track.controller(2 * kDivision, 0, 7, 100);
  }
  track.end_of_track(0);
  ASSERT_TRUE(smf.write_file(path));
}

class ApplyDlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("orvan-apply-dls-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    music_ = (dir_ / "notes.mid").string();
    write_notes(music_, {0, 2});
    collection_ = (dir_ / "sine.dls").string();
    ASSERT_TRUE(test::save_bytes(collection_, test::write_dls(test::sine_and_square_collection())));

    music::set_platform_settings({music::OutputKind::Manual, {}, {}});
    channel_ = com::make_ref<ChannelProbe>();
    channel_->InitOrvanAudio(0, kRate);
    device_ = music::output::last_manual_device();
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(channel_->Music_Load(BStr::from_utf8(music_)), com::S_OK);
    ASSERT_TRUE(channel_->Seg);
  }
  void TearDown() override {
    if (channel_) channel_->CleanupAudio();
    channel_.reset();
    fs::remove_all(dir_);
  }

  // Plays from the start and profiles note `index` over its held part.
  test::ToneProfile note(std::size_t index) {
    const std::int64_t from = static_cast<std::int64_t>(index) * 2 * kRate + kRate / 5;
    const std::int64_t to = from + kRate / 2;
    if (device_->captured_frames() < to) device_->pump(to - device_->captured_frames());
    std::vector<float> mono;
    for (std::int64_t f = from; f < to; ++f) {
      mono.push_back(device_->capture()[static_cast<std::size_t>(2 * f)]);
    }
    return test::profile_tone(mono, kRate, 440.0);
  }
  void play() {
    ASSERT_EQ(channel_->Music_Play(0), com::S_OK);
    device_->clear_capture();
  }

  ui::ScopedMessagePresenter quiet_{std::make_shared<QuietBoxes>()};
  fs::path dir_;
  std::string music_, collection_;
  Ref<ChannelProbe> channel_;
  music::output::ManualDevice* device_ = nullptr;
};

TEST_F(ApplyDlsTest, AppliedSlotPlaysItsProgramsAndGeneralMidiTheRest) {
  ASSERT_EQ(channel_->LoadDLS(BStr::from_utf8(collection_), 7), com::S_OK);
  ASSERT_EQ(channel_->ApplyDLS(7), com::S_OK);
  EXPECT_EQ(channel_->Seg->collection(), channel_->DLSCollections[7]);
  play();
  const auto sine = note(0);
  EXPECT_GT(sine.fundamental, 1e-3);
  EXPECT_LT(sine.strongest_overtone_db, -50.0);
  const auto piano = note(1);  // program 2 is not in the collection
  EXPECT_GT(piano.fundamental, 1e-4);
  EXPECT_GT(piano.strongest_overtone_db, -35.0);
}

TEST_F(ApplyDlsTest, WithoutApplyAndAfterANewLoadTheGeneralMidiSetPlays) {
  ASSERT_EQ(channel_->LoadDLS(BStr::from_utf8(collection_), 0), com::S_OK);
  play();
  EXPECT_GT(note(0).strongest_overtone_db, -35.0);

  ASSERT_EQ(channel_->ApplyDLS(0), com::S_OK);
  // The next load brings a segment nobody connected: General MIDI again until applied.
  ASSERT_EQ(channel_->Music_Load(BStr::from_utf8(music_)), com::S_OK);
  EXPECT_FALSE(channel_->Seg->collection());
  play();
  EXPECT_GT(note(0).strongest_overtone_db, -35.0);
}

TEST_F(ApplyDlsTest, ApplyingDuringPlaybackNeitherStopsNorRestarts) {
  ASSERT_EQ(channel_->LoadDLS(BStr::from_utf8(collection_), 0), com::S_OK);
  play();
  EXPECT_GT(note(0).strongest_overtone_db, -35.0);
  std::int32_t before = 0;
  ASSERT_EQ(channel_->GetCurrentPosition(before), com::S_OK);
  ASSERT_EQ(channel_->ApplyDLS(0), com::S_OK);
  device_->pump(kRate / 10);
  std::int32_t after = 0;
  ASSERT_EQ(channel_->GetCurrentPosition(after), com::S_OK);
  EXPECT_GT(after, before);
  // The same channel's next note (program 2) is not in the collection; a fresh play of
  // the first note is.
  EXPECT_GT(note(1).strongest_overtone_db, -35.0);
  play();
  EXPECT_LT(note(0).strongest_overtone_db, -50.0);
}

TEST_F(ApplyDlsTest, EmptySlotIsRefusedByThePlatformAndNothingIsConnected) {
  EXPECT_EQ(channel_->ApplyDLS(3), com::E_POINTER);
  EXPECT_FALSE(channel_->Seg->collection());
}

TEST_F(ApplyDlsTest, FailedDownloadKeepsTheConnection) {
  ASSERT_EQ(channel_->LoadDLS(BStr::from_utf8(collection_), 1), com::S_OK);
  fs::remove(collection_);  // gone before the instruments could be read
  EXPECT_EQ(channel_->ApplyDLS(1), com::MUSIC_E_CANNOT_OPEN);
  EXPECT_EQ(channel_->Seg->collection(), channel_->DLSCollections[1]);
}

// --- tovel-play --dls -----------------------------------------------------------------

using Outcome = orvan::testing::CommandOutcome;

Outcome run(const std::string& command) {
  return orvan::testing::run_command(command);
}

TEST(TovelPlayDls, RendersWithTheCollectionAndRefusesOtherFiles) {
  const fs::path dir = fs::temp_directory_path() / ("orvan-play-dls-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string music = (dir / "notes.mid").string();
  write_notes(music, {0});
  const std::string collection = (dir / "sine.dls").string();
  ASSERT_TRUE(test::save_bytes(collection, test::write_dls(test::sine_and_square_collection())));
  const std::string player = ORVAN_BINARY_DIR "/bin/tovel-play";

  for (const bool with_dls : {true, false}) {
    const fs::path wav = dir / (with_dls ? "with.wav" : "without.wav");
    const Outcome played = run(player + " --quiet --render " + wav.string() +
                               (with_dls ? " --dls " + collection : std::string()) + " " + music);
    ASSERT_EQ(played.status, 0) << played.out;
    const orvan::testing::StereoWav rendered = orvan::testing::read_stereo_wav(wav);
    const int rate = rendered.rate;
    const std::vector<float> left = orvan::testing::channel_of(rendered.samples, 0);
    ASSERT_GT(rate, 0);
    ASSERT_GT(left.size(), static_cast<std::size_t>(rate));
    // The device renders silence from the start of audio until the music starts.
    const auto onset =
        std::find_if(left.begin(), left.end(), [](float v) { return std::abs(v) > 1e-3f; });
    ASSERT_GT(left.end() - onset, rate) << "no note";
    const auto from = onset + rate / 5;
    const std::vector<float> held(from, from + rate / 2);
    const auto tone = test::profile_tone(held, rate, 440.0);
    EXPECT_GT(tone.fundamental, 1e-4);
    if (with_dls) {
      EXPECT_LT(tone.strongest_overtone_db, -50.0);
    } else {
      EXPECT_GT(tone.strongest_overtone_db, -35.0);
    }
  }

  const Outcome refused = run(player + " --quiet --render " + (dir / "x.wav").string() + " --dls " +
                              music + " " + music);
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.out.find(music), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("not a DLS"), std::string::npos) << refused.out;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace orvan::engine
