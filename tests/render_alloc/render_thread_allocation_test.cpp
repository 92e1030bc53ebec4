// The render thread must never allocate. This program replaces the C allocator for the
// whole process and counts every allocation made while the manual device renders on the
// test's thread, through a real file with notifications, all four effects, loops, tempo
// and volume changes, a stop and a restart.
//
// Sanitizer builds bring their own allocator, so there the test is skipped.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/music/audio_path.h"
#include "platform/music/effects.h"
#include "platform/music/loader.h"
#include "platform/music/output/manual_device.h"
#include "platform/music/performance.h"
#include "platform/music/root.h"
#include "platform/music/segment.h"
#include "platform/music/segment_state.h"
#include "platform/music/settings.h"
#include "platform/music/sound_buffer.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVAN_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORVAN_OWN_ALLOCATOR 1
#endif
#endif

namespace {

thread_local bool t_counting = false;
std::atomic<std::int64_t> g_render_allocations{0};

}  // namespace

#ifndef ORVAN_OWN_ALLOCATOR
namespace {

void note_allocation() {
  if (t_counting) g_render_allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

// glibc's own entry points, which the replacements forward to.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size) {
  note_allocation();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  note_allocation();
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
  note_allocation();
  return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  note_allocation();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  note_allocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  note_allocation();
  *out = __libc_memalign(alignment, size);
  return *out ? 0 : 12;  // ENOMEM
}
void free(void* p) {
  __libc_free(p);
}
}
#endif

namespace orvan::music {
namespace {

constexpr int kRate = 48000;
constexpr const char* kFile = "/usr/share/games/openttd/baseset/openmsx/busy_schedule.mid";

class CountingSink final : public EventSink {
 public:
  HResult DXCallback(std::int32_t) override {
    calls.fetch_add(1);
    return com::S_OK;
  }
  std::atomic<int> calls{0};
  virtual ~CountingSink() = default;
};

// Renders `frames` on this thread with the counter on; capture stays off so the device
// itself has nothing to store.
void render_counted(output::ManualDevice* device, std::int64_t frames) {
  t_counting = true;
  const HResult hr = device->pump(frames);
  t_counting = false;
  ASSERT_EQ(hr, com::S_OK);
}

TEST(RenderThread, AllocatesNothingWhilePlayingLoopingAndChangingEverything) {
#ifdef ORVAN_OWN_ALLOCATOR
  GTEST_SKIP() << "sanitizer builds replace the allocator";
#endif
  set_platform_settings({OutputKind::Manual, {}, "/usr/share/sounds/sf2/TimGM6mb.sf2"});
  Ref<DirectX8> root = DirectX8::create();
  Ref<DirectMusicPerformance8> perf;
  ASSERT_EQ(root->DirectMusicPerformanceCreate(perf), com::S_OK);
  DMUS_AUDIOPARAMS params;
  params.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
  params.sampleRate = kRate;
  ASSERT_EQ(
      perf->InitAudio(0, DMUS_AUDIOF_ALL, params, nullptr, DMUS_APATH_SHARED_STEREOPLUSREVERB, 128),
      com::S_OK);
  output::ManualDevice* device = output::last_manual_device();
  ASSERT_NE(device, nullptr);
  device->set_capture_enabled(false);

  CountingSink sink;
  std::int32_t handle = 0;
  ASSERT_EQ(root->CreateEvent(&sink, handle), com::S_OK);
  ASSERT_EQ(perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  ASSERT_EQ(perf->SetNotificationHandle(handle), com::S_OK);

  // All four effects on buffer 0.
  Ref<DirectMusicAudioPath8> path;
  ASSERT_EQ(perf->GetDefaultAudioPath(path), com::S_OK);
  Ref<com::Object> object;
  ASSERT_EQ(path->GetObjectInPath(DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0, kAllObjectsText, 0,
                                  kSoundBufferInterfaceText, object),
            com::S_OK);
  Ref<DirectSoundBuffer8> buffer;
  ASSERT_EQ(com::query(object, buffer), com::S_OK);
  DSEFFECTDESC chain[4];
  chain[0].guidDSFXClass = "GUID_DSFX_STANDARD_DISTORTION";
  chain[1].guidDSFXClass = "GUID_DSFX_STANDARD_CHORUS";
  chain[2].guidDSFXClass = "GUID_DSFX_WAVES_REVERB";
  chain[3].guidDSFXClass = "GUID_DSFX_STANDARD_I3DL2REVERB";
  std::int32_t results[4] = {};
  ASSERT_EQ(path->Activate(false), com::S_OK);
  ASSERT_EQ(buffer->SetFX(4, chain, results), com::S_OK);
  ASSERT_EQ(path->Activate(true), com::S_OK);

  Ref<DirectMusicLoader8> loader;
  ASSERT_EQ(root->DirectMusicLoaderCreate(loader), com::S_OK);
  Ref<DirectMusicSegment8> segment;
  ASSERT_EQ(loader->LoadSegment(kFile, segment), com::S_OK);
  std::int32_t length = 0;
  ASSERT_EQ(segment->GetLength(length), com::S_OK);
  ASSERT_EQ(segment->SetStartPoint(length - 768 * 4), com::S_OK);  // a bar before the end
  ASSERT_EQ(segment->SetRepeats(2), com::S_OK);

  Ref<DirectMusicSegmentState8> state;
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_counted(device, kRate * 4);  // start, the chase, the first loop

  ASSERT_EQ(perf->SetMasterTempo(1.7f), com::S_OK);
  ASSERT_EQ(perf->SetMasterVolume(-600), com::S_OK);
  Ref<com::Object> chorus_object;
  ASSERT_EQ(buffer->GetObjectInPath("GUID_DSFX_STANDARD_CHORUS", 0, "IID_DirectSoundFXChorus",
                                    chorus_object),
            com::S_OK);
  Ref<DirectSoundFXChorus8> chorus;
  ASSERT_EQ(com::query(chorus_object, chorus), com::S_OK);
  DSFXCHORUS chorus_params{};
  ASSERT_EQ(chorus->GetAllParameters(chorus_params), com::S_OK);
  chorus_params.Depth = 80.0f;
  ASSERT_EQ(chorus->SetAllParameters(chorus_params), com::S_OK);
  render_counted(device, kRate * 6);

  ASSERT_EQ(perf->StopEx(segment, 0, 0), com::S_OK);
  render_counted(device, kRate / 2);
  ASSERT_EQ(segment->SetStartPoint(0), com::S_OK);
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_counted(device, kRate * 10);

  EXPECT_EQ(g_render_allocations.load(), 0);
  std::int32_t position = 0;
  ASSERT_EQ(state->GetSeek(position), com::S_OK);
  EXPECT_GT(position, 0);  // the music really moved on while we counted
  EXPECT_GT(device->last_period_peak(), 0.0f);
  bool taken = true;
  DMUS_NOTIFICATION_PMSG message;
  ASSERT_EQ(perf->GetNotificationPMSG(message, taken), com::S_OK);
  EXPECT_TRUE(taken);  // notifications flowed from the render thread too

  ASSERT_EQ(root->DestroyEvent(handle), com::S_OK);
  ASSERT_EQ(perf->CloseDown(), com::S_OK);
}

}  // namespace
}  // namespace orvan::music
