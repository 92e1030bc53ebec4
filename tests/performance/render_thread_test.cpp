// A performance on a device with its own render thread (the WAV file device), driven hard
// from the client side and from the notification thread at once. Run under ThreadSanitizer
// this is where a data race between the two sides would show.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/music/client/root.h"
#include "platform/music/output/output_device.h"
#include "platform/music/render/performance_core.h"
#include "tests/performance/performance_fixture.h"

namespace orvan::music::testing {
namespace {

TEST(PerformanceRenderThread, ClientCallsWhileTheDeviceRendersOnItsOwnThread) {
  const std::string wav = (std::filesystem::temp_directory_path() /
                           ("orvan_render_thread_" + std::to_string(::getpid()) + ".wav"))
                              .string();
  auto root = DirectX8::create();
  Ref<DirectMusicPerformance8> perf;
  ASSERT_EQ(root->DirectMusicPerformanceCreate(perf), com::S_OK);
  ASSERT_EQ(init_audio(*perf, 22050, kSmallSoundFont, OutputKind::WavFile, wav), com::S_OK);
  TakingSink sink;
  sink.perf = perf.get();
  std::int32_t handle = 0;
  ASSERT_EQ(root->CreateEvent(&sink, handle), com::S_OK);
  ASSERT_EQ(perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  ASSERT_EQ(perf->SetNotificationHandle(handle), com::S_OK);
  Ref<DirectMusicAudioPath8> path;
  ASSERT_EQ(perf->GetDefaultAudioPath(path), com::S_OK);

  auto segment = SequenceBuilder()
                     .note(0, 200, 60, 110)
                     .note(100, 200, 67, 110, 1)
                     .tempo(200, 400000)
                     .note(300, 200, 64, 110)
                     .segment(400);
  // Once, a piece too busy for the channel's voice pool: its synthesizer is taken up, and the
  // old one rung out and given back, on the render thread while the client goes on.
  SequenceBuilder chords;
  for (std::uint8_t key = 20; key < 100; ++key) chords.note(0, 200, key).note(0, 200, key, 90, 1);
  auto busy = chords.segment(400);
  const auto* device = perf->core()->device();
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(segment->SetRepeats(i % 3), com::S_OK);
    Ref<DirectMusicSegmentState8> state;
    ASSERT_EQ(perf->PlaySegmentEx(i == 50 ? busy : segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr,
                                  state),
              com::S_OK);
    if (i == 50) {
      EXPECT_GT(perf->core()->voice_pool(), PerformanceCore::kInitialVoices);
    }
    ASSERT_EQ(perf->SetMasterTempo(0.5f + static_cast<float>(i % 4)), com::S_OK);
    ASSERT_EQ(perf->SetMasterVolume(-100 * (i % 10)), com::S_OK);
    std::int32_t position = -1;
    ASSERT_EQ(state->GetSeek(position), com::S_OK);
    EXPECT_GE(position, 0);
    EXPECT_LE(position, 400);
    bool playing = false;
    ASSERT_EQ(perf->IsPlaying(segment, nullptr, playing), com::S_OK);
    if (i % 7 == 0) {
      ASSERT_EQ(path->Activate(i % 14 != 0), com::S_OK);
    }
    // Let the render thread get some blocks in between.
    const std::int64_t seen = device->frames_rendered();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (device->frames_rendered() < seen + 512 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    if (i % 5 == 4) {
      ASSERT_EQ(perf->StopEx(segment, 0, 0), com::S_OK);
    }
  }
  ASSERT_EQ(path->Activate(true), com::S_OK);
  ASSERT_EQ(root->DestroyEvent(handle), com::S_OK);
  ASSERT_EQ(perf->CloseDown(), com::S_OK);
  EXPECT_GT(sink.taken.load(), 200);  // at least a start for each play, most taken
  EXPECT_GT(std::filesystem::file_size(wav), 44u + 200u * 512u * 8u);
  std::filesystem::remove(wav);
}

}  // namespace
}  // namespace orvan::music::testing
