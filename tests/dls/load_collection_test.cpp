// LoadCollection on real files, and connecting segments to what it returns.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/music/client/collection.h"
#include "platform/music/client/loader.h"
#include "platform/music/client/segment.h"
#include "tests/support/dls_writer.h"

namespace orvan::music {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

class LoadCollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("orvan-dls-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    loader_ = com::make_ref<DirectMusicLoader8>();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const Bytes& bytes) {
    const std::string path = (dir_ / name).string();
    EXPECT_TRUE(test::save_bytes(path, bytes));
    return path;
  }
  com::HResult load(const std::string& path, Ref<DirectMusicCollection8>& out) {
    return loader_->LoadCollection(path, out);
  }

  fs::path dir_;
  Ref<DirectMusicLoader8> loader_;
};

TEST_F(LoadCollectionTest, LoadsLevelOneAndTwoAsCountedObjects) {
  test::DlsCollection level2 = test::sine_and_square_collection();
  level2.level2 = true;
  for (const auto& [name, bytes] :
       {std::pair{"one.dls", test::write_dls(test::sine_and_square_collection())},
        std::pair{"two.dls", test::write_dls(level2)}}) {
    const std::string path = write(name, bytes);
    Ref<DirectMusicCollection8> collection;
    ASSERT_EQ(load(path, collection), com::S_OK) << name;
    ASSERT_TRUE(collection);
    EXPECT_EQ(collection->path(), path);
    EXPECT_EQ(collection->summary().instruments, 2u);
    EXPECT_EQ(collection->ref_count(), 1);
  }
}

TEST_F(LoadCollectionTest, MissingNotDlsAndCorruptAreDistinctAndLeaveTheOutputAlone) {
  const Bytes good = test::write_dls(test::sine_and_square_collection());
  const std::string midi = "/usr/share/games/openttd/baseset/openmsx/01_Ttd.mid";
  struct Case {
    std::string path;
    com::HResult expected;
  };
  const Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
  Bytes oversized = good;
  test::put_u32(oversized, 4, 0xFFFFFFF0u);
  const Case cases[] = {
      {(dir_ / "absent.dls").string(), com::MUSIC_E_CANNOT_OPEN},
      {dir_.string(), com::MUSIC_E_IS_DIRECTORY},
      {write("empty.dls", {}), com::MUSIC_E_NOT_DLS},
      {write("text.dls", {'h', 'e', 'l', 'l', 'o', '\n'}), com::MUSIC_E_NOT_DLS},
      {write("truncated.dls", truncated), com::MUSIC_E_CORRUPT_COLLECTION},
      {write("oversized.dls", oversized), com::MUSIC_E_CORRUPT_COLLECTION},
      {"/dev/zero", com::MUSIC_E_CANNOT_OPEN},
  };
  for (const Case& c : cases) {
    const Ref<DirectMusicCollection8> before = com::make_ref<DirectMusicCollection8>("x");
    Ref<DirectMusicCollection8> out = before;
    EXPECT_EQ(load(c.path, out), c.expected) << c.path;
    EXPECT_EQ(out, before) << c.path;
  }
  if (fs::exists(midi)) {
    Ref<DirectMusicCollection8> out;
    EXPECT_EQ(load(midi, out), com::MUSIC_E_NOT_DLS);
  }
}

TEST_F(LoadCollectionTest, UsesThePathExactlyAsGiven) {
  const std::string path = write("exact.dls", test::write_dls(test::sine_and_square_collection()));
  Ref<DirectMusicCollection8> out;
  EXPECT_EQ(load(path.substr(0, path.size() - 4), out), com::MUSIC_E_CANNOT_OPEN);
  EXPECT_EQ(load(path + " ", out), com::MUSIC_E_CANNOT_OPEN);
  EXPECT_EQ(load((dir_ / "EXACT.dls").string(), out), com::MUSIC_E_CANNOT_OPEN);
  // A relative name is resolved against the working directory, like any file name.
  const fs::path previous = fs::current_path();
  fs::current_path(dir_);
  EXPECT_EQ(load("exact.dls", out), com::S_OK);
  fs::current_path(previous);
}

TEST_F(LoadCollectionTest, CollectionWithoutInstrumentsLoads) {
  Ref<DirectMusicCollection8> out;
  ASSERT_EQ(load(write("none.dls", test::write_dls({})), out), com::S_OK);
  EXPECT_EQ(out->summary().instruments, 0u);
}

TEST_F(LoadCollectionTest, SegmentConnectsOnlyToARealCollection) {
  auto segment = com::make_ref<DirectMusicSegment8>(std::make_shared<midi::Sequence>());
  EXPECT_EQ(segment->ConnectToCollection(nullptr), com::E_POINTER);
  EXPECT_FALSE(segment->collection());

  Ref<DirectMusicCollection8> collection;
  ASSERT_EQ(load(write("c.dls", test::write_dls(test::sine_and_square_collection())), collection),
            com::S_OK);
  ASSERT_EQ(segment->ConnectToCollection(collection), com::S_OK);
  EXPECT_EQ(segment->collection(), collection);
  // The segment holds its own reference: the caller's release does not end the collection.
  const DirectMusicCollection8* raw = collection.get();
  collection.reset();
  EXPECT_EQ(segment->collection().get(), raw);
  // Refused connections keep the one that was made.
  EXPECT_EQ(segment->ConnectToCollection(nullptr), com::E_POINTER);
  EXPECT_EQ(segment->collection().get(), raw);
}

}  // namespace
}  // namespace orvan::music
