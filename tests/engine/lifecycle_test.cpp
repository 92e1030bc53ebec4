// Creation, InitOrvanAudio, CleanupAudio and destruction of a channel.
#include "tests/engine/engine_fixture.h"

namespace orvan::engine::testing {
namespace {

using ui::MessageIcon;

TEST_F(EngineTest, CreateAndReleaseShowsOnlyTheFarewellAndTouchesNoPlatform) {
  const int devices_before = music::output::manual_device_count();
  auto channel = com::make_ref<Channel>();
  EXPECT_FALSE(channel->DX);
  EXPECT_FALSE(channel->Perf);
  EXPECT_FALSE(channel->Loader);
  EXPECT_EQ(channel->MaxDLS, 16);
  EXPECT_EQ(channel->DLSCollections.size(), 17u);
  EXPECT_TRUE(boxes_->boxes().empty());

  channel.reset();
  const auto shown = boxes_->boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Thank you for using 'Orvan Music Engine' ");
  EXPECT_EQ(shown[0].caption, "");
  EXPECT_EQ(shown[0].icon, MessageIcon::None);
  EXPECT_EQ(music::output::manual_device_count(), devices_before);
}

TEST_F(EngineTest, CleanupBeforeInitAndTwiceIsHarmless) {
  auto channel = com::make_ref<Channel>();
  EXPECT_EQ(channel->CleanupAudio(), com::S_OK);
  EXPECT_TRUE(channel->DX) << "step 7 needs the root and creates it";
  auto* root = channel->DX.get();
  EXPECT_EQ(channel->CleanupAudio(), com::S_OK);
  EXPECT_EQ(channel->DX.get(), root);
  EXPECT_FALSE(channel->Perf);
  EXPECT_FALSE(channel->Loader);
  EXPECT_FALSE(channel->Seg);
  EXPECT_FALSE(channel->SegState);
  EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(EngineTest, InitUsesTheRequestedRateAnd48000ByDefault) {
  auto channel = com::make_ref<Channel>();
  const std::int32_t hwnd = 0;
  channel->InitOrvanAudio(hwnd);
  ASSERT_NE(music::output::last_manual_device(), nullptr);
  EXPECT_EQ(music::output::last_manual_device()->sample_rate(), 48000);
  channel->CleanupAudio();

  const std::int32_t rate = 22050;
  channel->InitOrvanAudio(hwnd, rate);
  ASSERT_NE(music::output::last_manual_device(), nullptr);
  EXPECT_EQ(music::output::last_manual_device()->sample_rate(), 22050);
  EXPECT_EQ(rate, 22050) << "the caller's variable is only read";
  channel->CleanupAudio();
  EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(EngineTest, FailingInitAudioShowsTheExitingBoxAndCleansUp) {
  auto channel = com::make_ref<Channel>();
  const std::int32_t hwnd = 0;
  const std::int32_t unusable_rate = 5;  // the platform refuses it in InitAudio
  EXPECT_EQ(channel->InitOrvanAudio(hwnd, unusable_rate), com::S_OK);

  const auto shown = boxes_->boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Could not initialize Engine\r\n ");
  EXPECT_EQ(shown[0].caption, "Exiting...");
  EXPECT_EQ(shown[0].icon, MessageIcon::Information);
  EXPECT_FALSE(channel->Perf);
  EXPECT_FALSE(channel->Loader);
  EXPECT_TRUE(channel->DX);

  // Later calls fail with a status instead of crashing.
  std::int32_t volume = 7;
  EXPECT_EQ(channel->GetMasterVolume(volume), com::E_OBJECT_NOT_SET);
  EXPECT_EQ(volume, 7);
}

TEST_F(EngineTest, InitCleanupInitWorksAgainOnTheSameRoot) {
  auto channel = make_initialised_channel();
  auto* root = channel->DX.get();
  channel->CleanupAudio();
  EXPECT_FALSE(channel->Perf);
  EXPECT_EQ(channel->DX.get(), root);

  const std::int32_t hwnd = 0;
  channel->InitOrvanAudio(hwnd);
  EXPECT_EQ(channel->DX.get(), root);
  ASSERT_TRUE(channel->Perf);
  auto* device = music::output::last_manual_device();
  ASSERT_NE(device, nullptr);

  channel->Music_Load(bstr(organ_));
  channel->Music_Play();
  device->clear_capture();
  ASSERT_EQ(device->pump(24000), com::S_OK);
  EXPECT_GT(rms(device->capture()), 0.005) << "the re-initialised channel plays";
  channel->CleanupAudio();
  EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(EngineTest, CleanupReleasesThePerformanceAndKeepsTheRest) {
  auto channel = make_initialised_channel();
  channel->Music_Load(bstr(organ_));
  channel->Music_Play();
  pump_seconds(0.1);
  const int open_before = music::output::manual_device_count();
  const std::int32_t event = channel->NotifyEvent;
  EXPECT_NE(event, 0);

  channel->CleanupAudio();
  EXPECT_EQ(music::output::manual_device_count(), open_before - 1) << "the performance closed";
  EXPECT_FALSE(channel->Seg);
  EXPECT_FALSE(channel->SegState);
  EXPECT_EQ(channel->NotifyEvent, event) << "the handle is left as it was";
  EXPECT_EQ(channel->DLSCollections.size(), 17u);
}

TEST_F(EngineTest, InitTwiceReplacesThePerformanceAndReleasesTheOldOne) {
  auto channel = make_initialised_channel();
  const int open_after_first = music::output::manual_device_count();
  const std::int32_t first_event = channel->NotifyEvent;
  const std::int32_t hwnd = 0;
  channel->InitOrvanAudio(hwnd);
  EXPECT_NE(channel->NotifyEvent, first_event);
  EXPECT_EQ(music::output::manual_device_count(), open_after_first)
      << "the previous performance went with its last reference";
  channel->CleanupAudio();
  EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(EngineTest, ReleaseWithoutCleanupStopsSoundAndCallbacks) {
  const int devices_before = music::output::manual_device_count();
  auto channel = make_initialised_channel();
  channel->Music_Load(bstr(piano_));
  channel->Music_Play();
  pump_seconds(0.2);
  auto* root = channel->DX.get();
  const std::int32_t event = channel->NotifyEvent;
  // Keep the root alive past the object so we can signal its old event afterwards.
  auto kept_root = com::Ref<music::DirectX8>::share(root);

  channel.reset();
  EXPECT_EQ(music::output::manual_device_count(), devices_before) << "the performance shut down";
  // The object is gone: its event must be gone too, or this would call into freed memory.
  EXPECT_NE(kept_root->SetEvent(event), com::S_OK);
  const auto shown = boxes_->boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, kFarewellText);
}

}  // namespace
}  // namespace orvan::engine::testing
