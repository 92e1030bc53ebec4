// The engine's collection slots: sizes, loading, replacing, and what failures leave behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>

#include "engine/orvan_music.h"
#include "platform/ui/message_box.h"
#include "tests/support/dls_writer.h"

namespace orvan::engine {
namespace {

namespace fs = std::filesystem;
using com::BStr;
using com::Ref;

// Looks at the state record the engine keeps.
class SlotProbe : public OrvanMusic {
 public:
  using OrvanMusic::DLSCollections;
  using OrvanMusic::Loader;
  using OrvanMusic::MaxDLS;
  using OrvanMusic::Perf;
  using OrvanMusic::Seg;
};

class QuietBoxes : public ui::MessagePresenter {
 public:
  void present(const std::string&, const std::string&, ui::MessageIcon) override {}
};

class DlsSlotsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("orvan-engine-dls-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    sine_square_ = write("sine_square.dls", test::write_dls(test::sine_and_square_collection()));
    test::DlsCollection sine_only;
    sine_only.waves.push_back(test::make_sine_wave(440.0, 44100, 69));
    sine_only.instruments.push_back({.program = 0, .wave = 0, .name = "Sine"});
    sine_only_ = write("sine_only.dls", test::write_dls(sine_only));
    engine_ = com::make_ref<SlotProbe>();
    // Slots need only a loader; no performance has to run for them.
    engine_->Loader = com::make_ref<music::DirectMusicLoader8>();
  }
  void TearDown() override {
    engine_.reset();
    fs::remove_all(dir_);
  }

  std::string write(const std::string& name, const test::Bytes& bytes) {
    const std::string path = (dir_ / name).string();
    EXPECT_TRUE(test::save_bytes(path, bytes));
    return path;
  }
  HResult load(const std::string& path, std::int32_t index) {
    return engine_->LoadDLS(BStr::from_utf8(path), index);
  }
  bool all_empty() const {
    for (const auto& slot : engine_->DLSCollections) {
      if (slot) return false;
    }
    return true;
  }

  ui::ScopedMessagePresenter quiet_{std::make_shared<QuietBoxes>()};
  fs::path dir_;
  std::string sine_square_, sine_only_;
  Ref<SlotProbe> engine_;
};

TEST_F(DlsSlotsTest, NewObjectHasSeventeenSlotsZeroToSixteen) {
  EXPECT_EQ(engine_->MaxDLS, 16);
  ASSERT_EQ(engine_->DLSCollections.size(), 17u);
  EXPECT_TRUE(all_empty());
  EXPECT_EQ(load(sine_square_, 0), com::S_OK);
  EXPECT_EQ(load(sine_only_, 16), com::S_OK);
  EXPECT_EQ(engine_->DLSCollections[0]->path(), sine_square_);
  EXPECT_EQ(engine_->DLSCollections[16]->path(), sine_only_);
  // The default index is slot 0.
  EXPECT_EQ(engine_->LoadDLS(BStr::from_utf8(sine_only_)), com::S_OK);
  EXPECT_EQ(engine_->DLSCollections[0]->path(), sine_only_);
}

TEST_F(DlsSlotsTest, ResizingEmptiesEverySlotAndReleasesWhatTheyHeld) {
  ASSERT_EQ(load(sine_square_, 0), com::S_OK);
  ASSERT_EQ(load(sine_only_, 3), com::S_OK);
  const Ref<music::DirectMusicCollection8> held = engine_->DLSCollections[3];
  EXPECT_EQ(held->ref_count(), 2);

  ASSERT_EQ(engine_->Change_MaxDLS(4), com::S_OK);
  EXPECT_EQ(engine_->MaxDLS, 4);
  EXPECT_EQ(engine_->DLSCollections.size(), 5u);
  EXPECT_TRUE(all_empty());
  EXPECT_EQ(held->ref_count(), 1);
  EXPECT_EQ(load(sine_only_, 5), com::E_SUBSCRIPT_OUT_OF_RANGE);

  // The same size again still empties the table.
  ASSERT_EQ(load(sine_square_, 4), com::S_OK);
  ASSERT_EQ(engine_->Change_MaxDLS(4), com::S_OK);
  EXPECT_EQ(engine_->DLSCollections.size(), 5u);
  EXPECT_TRUE(all_empty());

  // Zero leaves the one slot that always exists.
  ASSERT_EQ(engine_->Change_MaxDLS(0), com::S_OK);
  EXPECT_EQ(engine_->DLSCollections.size(), 1u);
  EXPECT_EQ(load(sine_square_, 0), com::S_OK);
}

TEST_F(DlsSlotsTest, BadSizesAndIndexesFailAndChangeNothing) {
  ASSERT_EQ(load(sine_square_, 2), com::S_OK);
  const auto* before = engine_->DLSCollections[2].get();
  for (std::int32_t size : {-1, INT_MIN}) {
    EXPECT_EQ(engine_->Change_MaxDLS(size), com::E_SUBSCRIPT_OUT_OF_RANGE) << size;
  }
  // Far more slots than memory for them: refused before anything is built.
  EXPECT_EQ(engine_->Change_MaxDLS(INT_MAX), com::E_OUTOFMEMORY);
  for (std::int32_t index : {-1, 17, INT_MAX, INT_MIN}) {
    EXPECT_EQ(load(sine_only_, index), com::E_SUBSCRIPT_OUT_OF_RANGE) << index;
    EXPECT_EQ(engine_->ApplyDLS(index), com::E_SUBSCRIPT_OUT_OF_RANGE) << index;
  }
  EXPECT_EQ(engine_->MaxDLS, 16);
  ASSERT_EQ(engine_->DLSCollections.size(), 17u);
  EXPECT_EQ(engine_->DLSCollections[2].get(), before);
}

TEST_F(DlsSlotsTest, SecondLoadReplacesAndFailedLoadKeeps) {
  ASSERT_EQ(load(sine_square_, 5), com::S_OK);
  const Ref<music::DirectMusicCollection8> first = engine_->DLSCollections[5];
  ASSERT_EQ(load(sine_only_, 5), com::S_OK);
  EXPECT_EQ(engine_->DLSCollections[5]->path(), sine_only_);
  EXPECT_EQ(first->ref_count(), 1);  // only this test still holds the first one

  const auto* kept = engine_->DLSCollections[5].get();
  test::Bytes truncated = test::write_dls(test::sine_and_square_collection());
  truncated.resize(truncated.size() - 10);
  const std::pair<std::string, HResult> failures[] = {
      {(dir_ / "absent.dls").string(), com::MUSIC_E_CANNOT_OPEN},
      {write("not.dls", {'M', 'T', 'h', 'd'}), com::MUSIC_E_NOT_DLS},
      {write("cut.dls", truncated), com::MUSIC_E_CORRUPT_COLLECTION},
  };
  for (const auto& [path, status] : failures) {
    EXPECT_EQ(load(path, 5), status) << path;
    EXPECT_EQ(engine_->DLSCollections[5].get(), kept) << path;
  }
}

TEST_F(DlsSlotsTest, LoadingNeedsTheLoaderAndSlotsOutliveCleanup) {
  ASSERT_EQ(load(sine_square_, 1), com::S_OK);
  const auto* held = engine_->DLSCollections[1].get();
  ASSERT_EQ(engine_->CleanupAudio(), com::S_OK);
  EXPECT_FALSE(engine_->Loader);
  EXPECT_EQ(engine_->DLSCollections[1].get(), held);
  EXPECT_EQ(engine_->MaxDLS, 16);

  EXPECT_EQ(load(sine_only_, 1), com::E_OBJECT_NOT_SET);
  EXPECT_EQ(engine_->DLSCollections[1].get(), held);
  // The table can be resized with no platform object at all.
  EXPECT_EQ(engine_->Change_MaxDLS(2), com::S_OK);
  EXPECT_EQ(engine_->DLSCollections.size(), 3u);
}

TEST_F(DlsSlotsTest, ApplyingWithoutMusicOrPerformanceFailsAndConnectsNothing) {
  ASSERT_EQ(load(sine_square_, 0), com::S_OK);
  EXPECT_EQ(engine_->ApplyDLS(0), com::E_OBJECT_NOT_SET);

  engine_->Seg =
      com::make_ref<music::DirectMusicSegment8>(std::make_shared<music::midi::Sequence>());
  EXPECT_EQ(engine_->ApplyDLS(0), com::E_OBJECT_NOT_SET);
  EXPECT_FALSE(engine_->Seg->collection());
  EXPECT_EQ(engine_->DLSCollections[0]->ref_count(), 1);
}

}  // namespace
}  // namespace orvan::engine
