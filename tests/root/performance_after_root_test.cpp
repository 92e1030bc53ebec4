// A performance may outlive the root that made it; once the root is gone its notifications
// must reach no sink, since the sink may be gone too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/music/client/audio_path.h"
#include "platform/music/client/loader.h"
#include "platform/music/client/performance.h"
#include "platform/music/client/root.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/settings.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/output/manual_device.h"
#include "tests/performance/performance_fixture.h"

using namespace orvan;
using namespace orvan::music;

namespace {

constexpr int kRate = 48000;

}  // namespace

TEST(RootObjects, EachCreateGivesANewObject) {
  Ref<DirectX8> dx = DirectX8::create();
  Ref<DirectMusicPerformance8> p1;
  Ref<DirectMusicPerformance8> p2;
  Ref<DirectMusicLoader8> l1;
  Ref<DirectMusicLoader8> l2;
  ASSERT_EQ(dx->DirectMusicPerformanceCreate(p1), com::S_OK);
  ASSERT_EQ(dx->DirectMusicPerformanceCreate(p2), com::S_OK);
  ASSERT_EQ(dx->DirectMusicLoaderCreate(l1), com::S_OK);
  ASSERT_EQ(dx->DirectMusicLoaderCreate(l2), com::S_OK);
  ASSERT_TRUE(p1 && p2 && l1 && l2);
  EXPECT_NE(p1.get(), p2.get());
  EXPECT_NE(l1.get(), l2.get());
  EXPECT_EQ(p1->ref_count(), 1);
  EXPECT_EQ(l1->ref_count(), 1);
}

TEST(RootObjects, APerformanceThatOutlivesItsRootSignalsNoOne) {
  Ref<DirectX8> dx = DirectX8::create();
  Ref<DirectMusicPerformance8> perf;
  ASSERT_EQ(dx->DirectMusicPerformanceCreate(perf), com::S_OK);
  ASSERT_EQ(music::testing::init_audio(*perf, kRate), com::S_OK);
  output::ManualDevice* device = output::last_manual_device();
  ASSERT_NE(device, nullptr);

  music::testing::CountingSink sink;
  std::int32_t handle = 0;
  ASSERT_EQ(dx->CreateEvent(&sink, handle), com::S_OK);
  ASSERT_EQ(perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  ASSERT_EQ(perf->SetNotificationHandle(handle), com::S_OK);
  dx.reset();

  auto sequence = std::make_shared<midi::Sequence>();
  sequence->length = 384;  // a quarter second at the default tempo
  auto segment = com::make_ref<DirectMusicSegment8>(std::move(sequence));
  Ref<DirectMusicSegmentState8> state;
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  ASSERT_EQ(device->pump(kRate / 2), com::S_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(sink.calls.load(), 0);

  // The notifications were made (start and end); only their signal found nobody.
  DMUS_NOTIFICATION_PMSG message;
  bool taken = false;
  ASSERT_EQ(perf->GetNotificationPMSG(message, taken), com::S_OK);
  EXPECT_TRUE(taken);
  EXPECT_EQ(message.notificationOption, DMUS_NOTIFICATION_SEGSTART);
  EXPECT_EQ(perf->CloseDown(), com::S_OK);
  set_platform_settings(PlatformSettings{});
}
