// Every method that takes a file name, given a pipe without a writer, a directory, a device
// or a name with a NUL in it: each answers at once with a status and keeps what it had.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/orvan_music.h"
#include "platform/music/client/collection.h"
#include "platform/music/client/loader.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/settings.h"
#include "platform/music/output/manual_device.h"
#include "platform/ui/message_box.h"
#include "tests/support/dls_writer.h"
#include "tests/support/smf_writer.h"

namespace orvan::engine {
namespace {

namespace fs = std::filesystem;
using com::BStr;
using com::HResult;
using com::Ref;

class ChannelProbe : public OrvanMusic {
 public:
  using OrvanMusic::DLSCollections;
  using OrvanMusic::Loader;
  using OrvanMusic::Seg;
};

class CountingBoxes : public ui::MessagePresenter {
 public:
  void present(const std::string&, const std::string&, ui::MessageIcon) override { ++shown; }
  std::atomic<int> shown{0};
};

// Runs `call` on a helper thread and waits a bounded time for its status. A call that is
// still blocked then fails the test; the pipe it waits on gets a writer so that the helper
// can finish and be joined.
HResult status_within_bound(const std::function<HResult()>& call, const std::string& fifo) {
  std::promise<HResult> done;
  auto answer = done.get_future();
  std::thread helper([&] { done.set_value(call()); });
  if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "the call is still blocked";
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    helper.join();
    if (writer >= 0) ::close(writer);
    return com::E_FAIL;
  }
  helper.join();
  return answer.get();
}

class HostileNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("orvan-hostile-names-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    fifo_ = (dir_ / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
    music_ = (dir_ / "notes.mid").string();
    test::SmfWriter smf(0, 480);
    smf.add_track().note_on(0, 0, 60, 100).note_off(480, 0, 60).end_of_track(0);
    ASSERT_TRUE(smf.write_file(music_));
    collection_ = (dir_ / "sine.dls").string();
    ASSERT_TRUE(test::save_bytes(collection_, test::write_dls(test::sine_and_square_collection())));

    music::set_platform_settings({music::OutputKind::Manual, {}, {}});
    channel_ = com::make_ref<ChannelProbe>();
    channel_->InitOrvanAudio(0, 44100);
    ASSERT_TRUE(channel_->Loader);
  }
  void TearDown() override {
    channel_->CleanupAudio();
    channel_.reset();
    fs::remove_all(dir_);
  }

  // (name, the status LoadDLS gives it)
  std::vector<std::pair<std::string, HResult>> hostile_names() const {
    return {{fifo_, com::MUSIC_E_CANNOT_OPEN},
            {dir_.string(), com::MUSIC_E_IS_DIRECTORY},
            {"/dev/null", com::MUSIC_E_CANNOT_OPEN},
            {"/dev/zero", com::MUSIC_E_CANNOT_OPEN},
            {"", com::MUSIC_E_CANNOT_OPEN}};
  }

  std::shared_ptr<CountingBoxes> boxes_ = std::make_shared<CountingBoxes>();
  ui::ScopedMessagePresenter presenter_{boxes_};
  fs::path dir_;
  std::string fifo_, music_, collection_;
  Ref<ChannelProbe> channel_;
};

TEST_F(HostileNamesTest, SpecialFilesFailAtOnceInEveryLoaderAndKeepWhatWasLoaded) {
  ASSERT_EQ(channel_->Music_Load(BStr::from_utf8(music_)), com::S_OK);
  ASSERT_EQ(channel_->LoadDLS(BStr::from_utf8(collection_), 3), com::S_OK);
  const auto* segment = channel_->Seg.get();
  const auto* held = channel_->DLSCollections[3].get();
  ASSERT_EQ(boxes_->shown, 0);

  int boxes = 0;
  for (const auto& [name, status] : hostile_names()) {
    SCOPED_TRACE(name);
    EXPECT_EQ(
        status_within_bound([&] { return channel_->LoadDLS(BStr::from_utf8(name), 3); }, fifo_),
        status);
    EXPECT_EQ(channel_->DLSCollections[3].get(), held);

    // Music_Load answers with its box, and the music stays.
    EXPECT_EQ(
        status_within_bound([&] { return channel_->Music_Load(BStr::from_utf8(name)); }, fifo_),
        com::S_OK);
    EXPECT_EQ(boxes_->shown, ++boxes);
    EXPECT_EQ(channel_->Seg.get(), segment);

    // The platform's loader itself, below the engine's own checks.
    Ref<music::DirectMusicCollection8> collection;
    EXPECT_EQ(status_within_bound(
                  [&] { return channel_->Loader->LoadCollection(name, collection); }, fifo_),
              status);
    EXPECT_FALSE(collection);
    Ref<music::DirectMusicSegment8> loaded;
    EXPECT_TRUE(com::failed(
        status_within_bound([&] { return channel_->Loader->LoadSegment(name, loaded); }, fifo_)));
    EXPECT_FALSE(loaded);
  }
}

TEST_F(HostileNamesTest, ACollectionSwappedForAPipeAfterLoadingFailsItsDownloadAtOnce) {
  ASSERT_EQ(channel_->Music_Load(BStr::from_utf8(music_)), com::S_OK);
  const std::string swapped = (dir_ / "swapped.dls").string();
  fs::copy_file(collection_, swapped);
  ASSERT_EQ(channel_->LoadDLS(BStr::from_utf8(swapped), 0), com::S_OK);
  // The download reads the file again, by name, and now finds a pipe there.
  fs::remove(swapped);
  ASSERT_EQ(::mkfifo(swapped.c_str(), 0600), 0);
  EXPECT_EQ(status_within_bound([&] { return channel_->ApplyDLS(0); }, swapped),
            com::MUSIC_E_CANNOT_OPEN);
}

TEST_F(HostileNamesTest, ANameWithANulLoadsNothingAndKeepsTheSlot) {
  ASSERT_EQ(channel_->LoadDLS(BStr::from_utf8(collection_), 1), com::S_OK);
  const auto* held = channel_->DLSCollections[1].get();
  // The name before the NUL is a collection that loads; the whole name is no file at all.
  std::u16string name = BStr::from_utf8(collection_).view().data();
  name += u'\0';
  name += u"x";
  EXPECT_EQ(channel_->LoadDLS(BStr(name), 1), com::MUSIC_E_CANNOT_OPEN);
  EXPECT_EQ(channel_->LoadDLS(BStr(name), 2), com::MUSIC_E_CANNOT_OPEN);
  EXPECT_EQ(channel_->DLSCollections[1].get(), held);
  EXPECT_FALSE(channel_->DLSCollections[2]);

  Ref<music::DirectMusicCollection8> collection;
  EXPECT_EQ(channel_->Loader->LoadCollection(collection_ + std::string(1, '\0') + "x", collection),
            com::MUSIC_E_CANNOT_OPEN);
  EXPECT_FALSE(collection);

  // Music_Load refuses such a name the same way, with its box.
  ASSERT_EQ(channel_->Music_Load(BStr::from_utf8(music_)), com::S_OK);
  std::u16string music_name = BStr::from_utf8(music_).view().data();
  music_name += u'\0';
  music_name += u"x";
  const auto* segment = channel_->Seg.get();
  EXPECT_EQ(channel_->Music_Load(BStr(music_name)), com::S_OK);
  EXPECT_EQ(boxes_->shown, 1);
  EXPECT_EQ(channel_->Seg.get(), segment);
}

}  // namespace
}  // namespace orvan::engine
