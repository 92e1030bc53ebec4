// Segment notifications: which messages, in which order, with what in them, and the
// signal that announces each.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/music/client/root.h"
#include "platform/music/render/performance_core.h"
#include "tests/performance/performance_fixture.h"

namespace orvan::music::testing {
namespace {

struct Seen {
  std::int32_t option;
  std::int32_t time;
  DirectMusicSegmentState8* state;
};

std::vector<Seen> drain(Player& p) {
  std::vector<Seen> seen;
  for (;;) {
    DMUS_NOTIFICATION_PMSG message;
    bool taken = false;
    EXPECT_TRUE(com::succeeded(p.perf->GetNotificationPMSG(message, taken)));
    if (!taken) break;
    EXPECT_EQ(message.notificationType, DMUS_NOTIFY_ON_SEGMENT);
    seen.push_back({message.notificationOption, message.musicTime, message.segmentState.get()});
  }
  return seen;
}

TEST(PerformanceNotifications, PlayLoopEnd) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  ASSERT_EQ(p.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  auto state = p.play(SequenceBuilder().note(0, 100, 60).segment(768), 1);
  p.render(kRate * 3 / 2);
  const auto seen = drain(p);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].option, DMUS_NOTIFICATION_SEGSTART);
  EXPECT_EQ(seen[0].time, 0);
  EXPECT_EQ(seen[1].option, DMUS_NOTIFICATION_SEGLOOP);
  EXPECT_EQ(seen[2].option, DMUS_NOTIFICATION_SEGEND);
  EXPECT_EQ(seen[2].time, 768);
  for (const auto& s : seen) EXPECT_EQ(s.state, state.get());
}

TEST(PerformanceNotifications, EarlyStopAndReplacementAbort) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  ASSERT_EQ(p.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  auto segment = SequenceBuilder().note(0, 100, 60).segment(7680);
  auto first = p.play(segment);
  p.render(kRate / 2);
  auto second = p.play(segment);  // replaces the first
  p.render(kRate / 4);
  ASSERT_EQ(p.perf->StopEx(segment, 0, 0), com::S_OK);
  p.render(512);
  const auto seen = drain(p);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].option, DMUS_NOTIFICATION_SEGSTART);
  EXPECT_EQ(seen[0].state, first.get());
  EXPECT_EQ(seen[1].option, DMUS_NOTIFICATION_SEGABORT);
  EXPECT_EQ(seen[1].state, first.get());
  EXPECT_NEAR(seen[1].time, 768, 3);
  EXPECT_EQ(seen[2].option, DMUS_NOTIFICATION_SEGSTART);
  EXPECT_EQ(seen[2].state, second.get());
  EXPECT_EQ(seen[3].option, DMUS_NOTIFICATION_SEGABORT);
  EXPECT_EQ(seen[3].state, second.get());
  EXPECT_NEAR(seen[3].time, 384, 3);
}

TEST(PerformanceNotifications, OnlyWhileTheTypeIsAdded) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  auto segment = SequenceBuilder().segment(768);
  p.play(segment);
  p.render(kRate);
  EXPECT_TRUE(drain(p).empty());
  ASSERT_EQ(p.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  ASSERT_EQ(p.perf->RemoveNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  p.play(segment);
  p.render(kRate);
  EXPECT_TRUE(drain(p).empty());
}

TEST(PerformanceNotifications, UnreadMessagesExpire) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  ASSERT_EQ(p.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  auto segment = SequenceBuilder().segment(768);
  p.play(segment);
  p.render(kRate);
  EXPECT_EQ(drain(p).size(), 2u);  // well within the two seconds

  // Everything older than no time at all has expired by the time it is read.
  p.perf->core()->set_notification_lifetime(std::chrono::milliseconds(0));
  p.play(segment);
  p.render(kRate);
  EXPECT_TRUE(drain(p).empty());
}

TEST(PerformanceNotifications, OneSignalPerMessage) {
  auto root = DirectX8::create();
  Ref<DirectMusicPerformance8> perf;
  ASSERT_EQ(root->DirectMusicPerformanceCreate(perf), com::S_OK);
  ASSERT_EQ(init_audio(*perf), com::S_OK);
  auto* device = output::last_manual_device();
  TakingSink sink;
  sink.perf = perf.get();
  std::int32_t handle = 0;
  ASSERT_EQ(root->CreateEvent(&sink, handle), com::S_OK);
  ASSERT_EQ(perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  ASSERT_EQ(perf->SetNotificationHandle(handle), com::S_OK);

  auto segment = SequenceBuilder().segment(384);
  ASSERT_EQ(segment->SetRepeats(2), com::S_OK);
  Ref<DirectMusicSegmentState8> state;
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  ASSERT_EQ(device->pump(kRate), com::S_OK);  // start, loop, loop, end
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (sink.taken.load() + sink.empty.load() < 4 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_EQ(root->DestroyEvent(handle), com::S_OK);
  EXPECT_EQ(sink.taken.load(), 4);
  EXPECT_EQ(sink.empty.load(), 0);
  perf->CloseDown();
}

TEST(PerformanceNotifications, TheQueueIsBounded) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  ASSERT_EQ(p.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  auto segment = SequenceBuilder().note(0, 100, 60).segment(7680);
  // Every play gives a start notice and aborts the one before: some 600 with no reader.
  for (int i = 0; i < 300; ++i) {
    p.play(segment);
    p.render(64);
  }
  const auto seen = drain(p);
  EXPECT_EQ(seen.size(), PerformanceCore::kNotificationCapacity);
  EXPECT_GT(p.perf->core()->dropped_notifications(), 0u);
}

TEST(PerformanceNotifications, FastLoopsAreCoalescedRatherThanDropped) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  ASSERT_EQ(p.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  ASSERT_EQ(p.perf->SetMasterTempo(100.0f), com::S_OK);
  auto state = p.play(SequenceBuilder().segment(16), 3000);  // a loop every 5 frames
  p.render(8192 * 2);  // every loop and the end, with no reader
  const auto seen = drain(p);
  // One loop notice per 1/64 s of audio (750 frames) at most, and the end arrives.
  ASSERT_GE(seen.size(), 3u);
  EXPECT_LE(seen.size(), 2u + 16384u / 750u + 1u);
  EXPECT_EQ(seen.front().option, DMUS_NOTIFICATION_SEGSTART);
  EXPECT_EQ(seen.back().option, DMUS_NOTIFICATION_SEGEND);
  EXPECT_EQ(seen[1].option, DMUS_NOTIFICATION_SEGLOOP);
  EXPECT_EQ(p.perf->core()->dropped_notifications(), 0u);
  EXPECT_FALSE(p.playing(state));
}

}  // namespace
}  // namespace orvan::music::testing
