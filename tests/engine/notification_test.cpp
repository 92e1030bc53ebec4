// DXCallback: one message per signal, the "Cannot Process." box for a signal with nothing
// queued, and no callback into a performance that is going or gone.
#include <atomic>
#include <thread>

#include "tests/engine/engine_fixture.h"

namespace orvan::engine::testing {
namespace {

TEST_F(EngineTest, SpuriousSignalShowsTheCannotProcessBoxOnce) {
  auto channel = make_initialised_channel();
  ASSERT_EQ(channel->DX->SetEvent(channel->NotifyEvent), com::S_OK);
  ASSERT_TRUE(boxes_->wait_for(1));
  channel->CleanupAudio();  // waits for a callback in flight

  const auto shown = boxes_->boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Error processing this Notification");
  EXPECT_EQ(shown[0].caption, "Cannot Process.");
  EXPECT_EQ(shown[0].icon, ui::MessageIcon::Information);
}

TEST_F(EngineTest, QueuedSegmentNotificationsShowNothing) {
  auto channel = make_initialised_channel();
  channel->Music_Load(bstr(organ_));
  const std::int32_t loops = 2;
  channel->Music_Play(loops);
  pump_seconds(9.0);  // start, loops, almost-end
  channel->Music_Stop();
  pump_seconds(0.1);
  // Signals are delivered in order: when this extra one finds the queue empty, every
  // earlier callback has run and found its message.
  ASSERT_EQ(channel->DX->SetEvent(channel->NotifyEvent), com::S_OK);
  ASSERT_TRUE(boxes_->wait_for(1));
  channel->CleanupAudio();
  EXPECT_EQ(boxes_->count(kNotificationFailedText), 1);
  EXPECT_EQ(boxes_->boxes().size(), 1u);
}

TEST_F(EngineTest, CallbackWithoutAPerformanceReturnsTheFailureQuietly) {
  auto channel = make_initialised_channel();
  channel->CleanupAudio();
  EXPECT_EQ(channel->DXCallback(0), com::E_OBJECT_NOT_SET);
  EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(EngineTest, CallbacksRacingCleanupNeverTouchAReleasedPerformance) {
  auto channel = make_initialised_channel();
  auto root = channel->DX;
  std::atomic<bool> done{false};
  std::atomic<std::int32_t> event{channel->NotifyEvent};
  // Signals the current event as fast as it can while the channel is torn down and rebuilt.
  std::thread signaller([&] {
    while (!done.load()) (void)root->SetEvent(event.load());
  });
  const std::int32_t hwnd = 0;
  for (int i = 0; i < 20; ++i) {
    channel->Music_Load(bstr(organ_));
    channel->Music_Play();
    pump_seconds(0.02);
    channel->CleanupAudio();
    channel->InitOrvanAudio(hwnd);
    event.store(channel->NotifyEvent);
  }
  done.store(true);
  signaller.join();
  channel->CleanupAudio();
  EXPECT_EQ(boxes_->count(kInitFailedText), 0);
  EXPECT_EQ(boxes_->count(kLoadFailedText), 0);
}

}  // namespace
}  // namespace orvan::engine::testing
