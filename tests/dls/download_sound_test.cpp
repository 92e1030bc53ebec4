// What a downloaded collection does to the sound: rendered on the manual device and judged
// by spectrum. The test collection's program 0 is a pure 440 Hz sine and program 1 a
// 440 Hz square; the General MIDI programs it lacks are rich in harmonics.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform/music/client/audio_path.h"
#include "platform/music/client/collection.h"
#include "platform/music/client/loader.h"
#include "platform/music/client/performance.h"
#include "platform/music/client/root.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/settings.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/output/manual_device.h"
#include "platform/music/render/performance_core.h"
#include "tests/performance/performance_fixture.h"
#include "tests/support/dls_writer.h"
#include "tests/support/smf_writer.h"
#include "tests/support/tone_analysis.h"

namespace orvan::music {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = 48000;
constexpr int kDivision = 480;  // ticks per quarter note; 120 bpm, so 960 ticks a second

using Tone = test::ToneProfile;

Tone analyse(std::span<const float> mono) {
  return test::profile_tone(mono, kRate, 440.0);
}

class DownloadSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("orvan-dls-sound-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    root_ = DirectX8::create();
    ASSERT_EQ(root_->DirectMusicPerformanceCreate(perf_), com::S_OK);
    ASSERT_EQ(root_->DirectMusicLoaderCreate(loader_), com::S_OK);
    ASSERT_EQ(music::testing::init_audio(*perf_, kRate, {}), com::S_OK);
    device_ = output::last_manual_device();
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(perf_->GetDefaultAudioPath(path_), com::S_OK);
  }
  void TearDown() override {
    if (perf_) perf_->CloseDown();
    fs::remove_all(dir_);
  }

  Ref<DirectMusicCollection8> collection(const std::string& name, const test::DlsCollection& c) {
    const std::string file = (dir_ / name).string();
    EXPECT_TRUE(test::save_bytes(file, test::write_dls(c)));
    Ref<DirectMusicCollection8> out;
    EXPECT_EQ(loader_->LoadCollection(file, out), com::S_OK);
    return out;
  }

  // One A4 per entry of `programs`, each a second long and a second apart, on channel 0.
  Ref<DirectMusicSegment8> notes(const std::vector<int>& programs) {
    test::SmfWriter smf(0, kDivision);
    auto& track = smf.add_track();
    track.tempo_bpm(0, 120.0);
    for (int program : programs) {
      track.program_change(0, 0, program).note_on(0, 0, 69, 100).note_off(2 * kDivision, 0, 69);
      track.controller(2 * kDivision, 0, 7, 100);  // a second of silence before the next
    }
    track.end_of_track(0);
    const std::string file = (dir_ / ("notes" + std::to_string(files_++) + ".mid")).string();
    EXPECT_TRUE(smf.write_file(file));
    Ref<DirectMusicSegment8> segment;
    EXPECT_EQ(loader_->LoadSegment(file, segment), com::S_OK);
    return segment;
  }

  void play(const Ref<DirectMusicSegment8>& segment) {
    Ref<DirectMusicSegmentState8> state;
    ASSERT_EQ(perf_->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state),
              com::S_OK);
    device_->clear_capture();
  }

  // The left channel of the held part of note `index` (0.2 s to 0.9 s into its second).
  std::vector<float> held_part(std::size_t index) {
    const std::int64_t start = static_cast<std::int64_t>(index) * 2 * kRate;
    const std::int64_t from = start + kRate / 5;
    const std::int64_t to = start + kRate * 9 / 10;
    if (device_->captured_frames() < to) device_->pump(to - device_->captured_frames());
    std::vector<float> mono;
    const auto& captured = device_->capture();
    for (std::int64_t f = from; f < to; ++f)
      mono.push_back(captured[static_cast<std::size_t>(2 * f)]);
    return mono;
  }

  fs::path dir_;
  int files_ = 0;
  Ref<DirectX8> root_;
  Ref<DirectMusicPerformance8> perf_;
  Ref<DirectMusicLoader8> loader_;
  Ref<DirectMusicAudioPath8> path_;
  output::ManualDevice* device_ = nullptr;
};

void expect_pure_sine(const Tone& tone) {
  EXPECT_GT(tone.fundamental, 1e-3);
  EXPECT_LT(tone.strongest_overtone_db, -50.0);
}

void expect_square(const Tone& tone) {
  EXPECT_GT(tone.fundamental, 1e-3);
  EXPECT_NEAR(tone.third_db, -9.5, 2.0);  // odd harmonics at 1/k
  EXPECT_LT(tone.second_db, -40.0);       // no even ones
}

void expect_general_midi(const Tone& tone) {
  EXPECT_GT(tone.fundamental, 1e-4);
  EXPECT_GT(tone.strongest_overtone_db, -35.0);
}

TEST_F(DownloadSoundTest, WithoutDownloadTheGeneralMidiSetPlays) {
  auto segment = notes({0, 1});
  ASSERT_EQ(segment->ConnectToCollection(collection("c.dls", test::sine_and_square_collection())),
            com::S_OK);
  play(segment);  // connected, never downloaded
  expect_general_midi(analyse(held_part(0)));
  expect_general_midi(analyse(held_part(1)));
}

TEST_F(DownloadSoundTest, CollectionSuppliesItsProgramsAndTheRestStayGeneralMidi) {
  auto reference = notes({2});
  play(reference);
  const std::vector<float> general_midi = held_part(0);
  perf_->StopEx(reference, 0, 0);
  device_->pump(kRate / 2);

  auto segment = notes({0, 1, 2});
  ASSERT_EQ(segment->ConnectToCollection(collection("c.dls", test::sine_and_square_collection())),
            com::S_OK);
  ASSERT_EQ(segment->Download(path_), com::S_OK);
  play(segment);
  expect_pure_sine(analyse(held_part(0)));
  expect_square(analyse(held_part(1)));
  // Program 2 is not in the collection: the same General MIDI sound as before the download
  // (within what the reverb tails of the notes before it add).
  const std::vector<float> fallen_through = held_part(2);
  const Tone before = analyse(general_midi);
  const Tone after = analyse(fallen_through);
  expect_general_midi(after);
  EXPECT_NEAR(after.fundamental, before.fundamental, before.fundamental * 0.1);
  EXPECT_NEAR(after.strongest_overtone_db, before.strongest_overtone_db, 1.0);
}

TEST_F(DownloadSoundTest, LevelTwoCollectionsSoundToo) {
  test::DlsCollection level2 = test::sine_and_square_collection();
  level2.level2 = true;
  auto segment = notes({1});
  ASSERT_EQ(segment->ConnectToCollection(collection("two.dls", level2)), com::S_OK);
  ASSERT_EQ(segment->Download(path_), com::S_OK);
  play(segment);
  expect_square(analyse(held_part(0)));
}

TEST_F(DownloadSoundTest, DownloadDuringPlaybackChangesTheNotesThatFollow) {
  auto segment = notes({0, 0});
  play(segment);
  expect_general_midi(analyse(held_part(0)));
  ASSERT_EQ(segment->ConnectToCollection(collection("c.dls", test::sine_and_square_collection())),
            com::S_OK);
  ASSERT_EQ(segment->Download(path_), com::S_OK);
  expect_pure_sine(analyse(held_part(1)));
}

TEST_F(DownloadSoundTest, TheLatestDownloadWinsAndRepeatsAreNotReloaded) {
  test::DlsCollection square_on_zero;
  square_on_zero.waves.push_back(test::make_square_wave(440.0, 44100, 69));
  square_on_zero.instruments.push_back({.program = 0, .wave = 0, .name = "Square"});
  const auto sine = collection("sine.dls", test::sine_and_square_collection());
  const auto square = collection("square.dls", square_on_zero);

  auto segment = notes({0, 0, 0});
  for (const auto& c : {sine, square, sine}) {
    ASSERT_EQ(segment->ConnectToCollection(c), com::S_OK);
    ASSERT_EQ(segment->Download(path_), com::S_OK);
  }
  // Each collection was read into the synthesizer once, however often it was downloaded.
  EXPECT_EQ(perf_->core()->downloaded_collections(), 2u);
  play(segment);
  expect_pure_sine(analyse(held_part(0)));

  ASSERT_EQ(segment->ConnectToCollection(square), com::S_OK);
  ASSERT_EQ(segment->Download(path_), com::S_OK);
  expect_square(analyse(held_part(1)));
  EXPECT_EQ(perf_->core()->downloaded_collections(), 2u);
}

TEST_F(DownloadSoundTest, EachSegmentPlaysWithItsOwnCollection) {
  auto with = notes({0});
  ASSERT_EQ(with->ConnectToCollection(collection("c.dls", test::sine_and_square_collection())),
            com::S_OK);
  ASSERT_EQ(with->Download(path_), com::S_OK);
  // Music loaded later on the same performance knows nothing of that collection.
  auto without = notes({0});
  play(without);
  expect_general_midi(analyse(held_part(0)));
  play(with);
  expect_pure_sine(analyse(held_part(0)));
  play(without);
  expect_general_midi(analyse(held_part(0)));
}

TEST_F(DownloadSoundTest, ReleasingTheCollectionLeavesPlayingSoundAlone) {
  auto segment = notes({0});
  {
    auto sine = collection("c.dls", test::sine_and_square_collection());
    ASSERT_EQ(segment->ConnectToCollection(sine), com::S_OK);
    ASSERT_EQ(segment->Download(path_), com::S_OK);
  }
  play(segment);
  device_->pump(kRate / 10);
  // The segment's connection was the last reference: moving it elsewhere ends the
  // collection while its note is sounding.
  test::DlsCollection other;
  other.waves.push_back(test::make_sine_wave(441.0, 44100, 60));
  other.instruments.push_back({.program = 5, .wave = 0, .name = "Other"});
  ASSERT_EQ(segment->ConnectToCollection(collection("other.dls", other)), com::S_OK);
  const Tone tone = analyse(held_part(0));
  expect_pure_sine(tone);
}

TEST_F(DownloadSoundTest, DownloadFailuresAreReported) {
  auto segment = notes({0});
  EXPECT_EQ(segment->Download(path_), com::MUSIC_E_NO_COLLECTION);
  ASSERT_EQ(
      segment->ConnectToCollection(collection("gone.dls", test::sine_and_square_collection())),
      com::S_OK);
  EXPECT_EQ(segment->Download(nullptr), com::E_POINTER);
  // The file went away between loading and downloading.
  fs::remove(dir_ / "gone.dls");
  EXPECT_EQ(segment->Download(path_), com::MUSIC_E_CANNOT_OPEN);
  EXPECT_EQ(perf_->core()->downloaded_collections(), 0u);

  auto kept = collection("kept.dls", test::sine_and_square_collection());
  ASSERT_EQ(segment->ConnectToCollection(kept), com::S_OK);
  ASSERT_EQ(perf_->CloseDown(), com::S_OK);
  EXPECT_EQ(segment->Download(path_), com::MUSIC_E_CLOSED);
  perf_.reset();
}

}  // namespace
}  // namespace orvan::music
