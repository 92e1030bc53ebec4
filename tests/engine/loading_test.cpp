// Music_Load: what fails with the "Couldn't load" box, what keeps the previous segment, and
// that a file's name decides nothing.
#include "tests/engine/engine_fixture.h"

namespace orvan::engine::testing {
namespace {

using ui::MessageIcon;

class LoadingTest : public EngineTest {
 protected:
  void expect_one_load_failure() {
    const auto shown = boxes_->boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Couldn't load this file");
    EXPECT_EQ(shown[0].caption, "Couldn't load");
    EXPECT_EQ(shown[0].icon, MessageIcon::Error);
    boxes_->clear();
  }
};

TEST_F(LoadingTest, UnloadableFilesShowTheBoxAndKeepThePreviousSegment) {
  auto channel = make_initialised_channel();
  ASSERT_EQ(channel->Music_Load(bstr(piano_)), com::S_OK);
  ASSERT_TRUE(channel->Seg);
  auto* loaded = channel->Seg.get();
  std::int32_t length = 0;
  ASSERT_EQ(channel->GetLengh(length), com::S_OK);
  EXPECT_EQ(length, 16 * 768);

  write_bytes(temp_path("empty.mid"), "");
  // A header that promises five tracks, then a track chunk cut off inside its length.
  static constexpr char kCorrupt[] = "MThd\x00\x00\x00\x06\x00\x01\x00\x05\x01\xE0MTrk\xFF\xFF";
  write_bytes(temp_path("corrupt.mid"), std::string(kCorrupt, sizeof kCorrupt - 1));
  write_bytes(temp_path("text.mid"), "this is not music at all");
  const std::vector<std::filesystem::path> unloadable = {temp_path("missing.mid"),
                                                         temp_path("empty.mid"),
                                                         temp_path("corrupt.mid"),
                                                         temp_path("text.mid"),
                                                         dir_,
                                                         temp_path("no/such/dir/file.mid")};
  for (const auto& path : unloadable) {
    SCOPED_TRACE(path.string());
    EXPECT_EQ(channel->Music_Load(bstr(path)), com::S_OK);
    expect_one_load_failure();
    EXPECT_EQ(channel->Seg.get(), loaded);
  }
  EXPECT_EQ(channel->GetLengh(length), com::S_OK);
  EXPECT_EQ(length, 16 * 768);
  channel->CleanupAudio();
}

TEST_F(LoadingTest, ANameWithANulNeverOpensTheFileBeforeIt) {
  auto channel = make_initialised_channel();
  std::u16string name = bstr(piano_).view().data();
  name += u'\0';
  name += u"ignored";
  channel->Music_Load(com::BStr(name));
  expect_one_load_failure();
  EXPECT_FALSE(channel->Seg);
  channel->CleanupAudio();
}

TEST_F(LoadingTest, LoadBeforeInitShowsTheBox) {
  auto channel = com::make_ref<Channel>();
  EXPECT_EQ(channel->Music_Load(bstr(piano_)), com::S_OK);
  expect_one_load_failure();
  EXPECT_FALSE(channel->Seg);
}

TEST_F(LoadingTest, TheExtensionDecidesNothing) {
  auto channel = make_initialised_channel();
  const std::vector<std::string> names = {"upper.MID", "noextension", "song.rmi", "song.txt",
                                          "song.midi"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::filesystem::copy_file(organ_, temp_path(name));
    channel->Seg.reset();
    channel->Music_Load(bstr(temp_path(name)));
    ASSERT_TRUE(channel->Seg);
    std::int32_t length = 0;
    EXPECT_EQ(channel->GetLengh(length), com::S_OK);
    EXPECT_EQ(length, 8 * 768);
  }
  EXPECT_TRUE(boxes_->boxes().empty());
  channel->CleanupAudio();
}

TEST_F(LoadingTest, NonAsciiPathsReachTheFileSystemUnchanged) {
  auto channel = make_initialised_channel();
  const auto path = temp_path("Thème – ünïcode.mid");
  std::filesystem::copy_file(organ_, path);
  channel->Music_Load(bstr(path));
  EXPECT_TRUE(channel->Seg);
  EXPECT_TRUE(boxes_->boxes().empty());
  channel->CleanupAudio();
}

TEST_F(LoadingTest, RealFilesLoadWithTheirLength) {
  const std::filesystem::path theme =
      std::filesystem::path(ORVAN_BINARY_DIR) / "media" / "Theme.mid";
  const std::filesystem::path openmsx = "/usr/share/games/openttd/baseset/openmsx/tttheme2.mid";
  auto channel = make_initialised_channel();
  for (const auto& path : {theme, openmsx}) {
    if (!std::filesystem::exists(path)) continue;
    SCOPED_TRACE(path.string());
    channel->Seg.reset();
    channel->Music_Load(bstr(path));
    ASSERT_TRUE(channel->Seg);
    std::int32_t length = 0;
    EXPECT_EQ(channel->GetLengh(length), com::S_OK);
    if (path == theme) {
      EXPECT_EQ(length, (38 * 4 + 1) * 768) << "38 bars of 4/4 and one beat to ring out";
    } else {
      EXPECT_GT(length, 768 * 16);
    }
    EXPECT_LT(length, 3276750) << "fits the demo's scroll bar";
  }
  EXPECT_TRUE(boxes_->boxes().empty());
  channel->CleanupAudio();
}

}  // namespace
}  // namespace orvan::engine::testing
