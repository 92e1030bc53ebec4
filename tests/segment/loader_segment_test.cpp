// Loading files as segments, and the segment's length, repeats and start point.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/music/client/loader.h"
#include "platform/music/client/segment.h"
#include "tests/support/smf_writer.h"

namespace orvan::music {
namespace {

class LoaderSegment : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("orvan_segment_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    loader_ = com::make_ref<DirectMusicLoader8>();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  // Two quarters at 480 ticks per quarter in the first track, four in the second.
  std::string write_song(const char* name, bool as_rmid = false) {
    test::SmfWriter smf(1, 480);
    smf.add_track().tempo(0, 500000).end_of_track(960);
    smf.add_track()
        .program_change(0, 0, 1)
        .note_on(0, 0, 60, 100)
        .note_off(1920, 0, 60)
        .end_of_track(0);
    EXPECT_TRUE(smf.write_file(path(name), as_rmid));
    return path(name);
  }

  Ref<DirectMusicSegment8> load(const std::string& file) {
    Ref<DirectMusicSegment8> segment;
    EXPECT_EQ(loader_->LoadSegment(file, segment), com::S_OK);
    return segment;
  }

  std::filesystem::path dir_;
  Ref<DirectMusicLoader8> loader_;
};

TEST_F(LoaderSegment, LoadsMidiAndRmidWithTheirLength) {
  for (bool rmid : {false, true}) {
    Ref<DirectMusicSegment8> segment = load(write_song(rmid ? "song.rmi" : "song.mid", rmid));
    ASSERT_TRUE(segment);
    std::int32_t length = 0;
    EXPECT_EQ(segment->GetLength(length), com::S_OK);
    EXPECT_EQ(length, 4 * 768);
    EXPECT_EQ(segment->sequence()->events.size(), 4u);
  }
}

TEST_F(LoaderSegment, FailuresKeepTheirCauseApartAndLeaveTheSegmentAlone) {
  const Ref<DirectMusicSegment8> before = load(write_song("keep.mid"));
  ASSERT_TRUE(test::write_bytes(path("readme.mid"), {'#', ' ', 'h', 'i', '\n'}));
  test::SmfWriter broken(0, 96);
  broken.add_track().note_on(0, 0, 60, 100);  // no end of track
  ASSERT_TRUE(broken.write_file(path("broken.mid")));
  test::SmfWriter cut(0, 96);
  cut.add_track().note_on(0, 0, 60, 100).end_of_track(10);
  test::Bytes cut_bytes = cut.to_bytes();
  cut_bytes.resize(cut_bytes.size() - 3);
  ASSERT_TRUE(test::write_bytes(path("cut.mid"), cut_bytes));

  const struct {
    std::string file;
    HResult expected;
  } cases[] = {
      {path("nothing-here.mid"), com::MUSIC_E_CANNOT_OPEN},
      {"", com::MUSIC_E_CANNOT_OPEN},
      {dir_.string(), com::MUSIC_E_IS_DIRECTORY},
      {path("readme.mid"), com::MUSIC_E_UNSUPPORTED_FORMAT},
      {path("broken.mid"), com::MUSIC_E_NO_END_OF_TRACK},
      {path("cut.mid"), com::MUSIC_E_TRUNCATED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Ref<DirectMusicSegment8> segment = before;
    EXPECT_EQ(loader_->LoadSegment(c.file, segment), c.expected);
    EXPECT_EQ(segment.get(), before.get());
  }
}

TEST_F(LoaderSegment, PathIsUsedExactlyAsGiven) {
  write_song("song.mid");
  // Relative to the working directory only: no search folder is consulted.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  Ref<DirectMusicSegment8> segment;
  EXPECT_EQ(loader_->LoadSegment("song.mid", segment), com::S_OK);
  EXPECT_EQ(loader_->LoadSegment("./song.mid ", segment), com::MUSIC_E_CANNOT_OPEN);
  EXPECT_EQ(loader_->LoadSegment("SONG.MID", segment), com::MUSIC_E_CANNOT_OPEN);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(loader_->LoadSegment("song.mid", segment), com::MUSIC_E_CANNOT_OPEN);
}

TEST_F(LoaderSegment, RepeatsAcceptMinusOneAndRefuseOtherNegatives) {
  Ref<DirectMusicSegment8> segment = load(write_song("song.mid"));
  std::int32_t repeats = 99;
  EXPECT_EQ(segment->GetRepeats(repeats), com::S_OK);
  EXPECT_EQ(repeats, 0);
  EXPECT_EQ(segment->SetRepeats(16), com::S_OK);
  EXPECT_EQ(segment->SetRepeats(-1), com::S_OK);
  segment->GetRepeats(repeats);
  EXPECT_EQ(repeats, -1);
  EXPECT_EQ(segment->SetRepeats(-2), com::E_INVALIDARG);
  EXPECT_EQ(segment->SetRepeats(INT32_MIN), com::E_INVALIDARG);
  EXPECT_EQ(segment->repeats(), -1);
}

TEST_F(LoaderSegment, StartPointMustLieInsideTheSegmentAndStaysUntilChanged) {
  Ref<DirectMusicSegment8> segment = load(write_song("song.mid"));
  const std::int32_t length = 4 * 768;
  EXPECT_EQ(segment->SetStartPoint(length - 1), com::S_OK);
  for (std::int32_t bad : {length, length + 1, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(segment->SetStartPoint(bad), com::MUSIC_E_START_OUT_OF_RANGE) << bad;
  }
  std::int32_t point = 0;
  EXPECT_EQ(segment->GetStartPoint(point), com::S_OK);
  EXPECT_EQ(point, length - 1);
  EXPECT_EQ(segment->SetRepeats(3), com::S_OK);  // other settings do not disturb it
  EXPECT_EQ(segment->start_point(), length - 1);
  EXPECT_EQ(segment->SetStartPoint(0), com::S_OK);
  EXPECT_EQ(segment->start_point(), 0);

  // A segment without length still accepts its natural start.
  auto empty = com::make_ref<DirectMusicSegment8>(nullptr);
  EXPECT_EQ(empty->SetStartPoint(0), com::S_OK);
  EXPECT_EQ(empty->SetStartPoint(1), com::MUSIC_E_START_OUT_OF_RANGE);
}

}  // namespace
}  // namespace orvan::music
