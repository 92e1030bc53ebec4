// A process that goes from no channel to one again and again must not grow: what FluidSynth
// and its libraries set up for the first synthesizer is set up once, not again each time,
// and the instruments each round downloads go with its channel.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>

#include "platform/music/client/performance.h"
#include "platform/music/client/root.h"
#include "platform/music/client/settings.h"
#include "platform/music/client/sound_buffer.h"
#include "tests/performance/performance_fixture.h"
#include "tests/support/sanitizers.h"

namespace orvan::music {
namespace {

// Every object made and released, so that the process has no channel afterwards. The
// channel plays a note of its own, so that it downloads instruments.
void open_and_close_one_channel() {
  Ref<DirectX8> root = DirectX8::create();
  Ref<DirectMusicPerformance8> perf;
  ASSERT_EQ(root->DirectMusicPerformanceCreate(perf), com::S_OK);
  DMUS_AUDIOPARAMS params;
  params.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
  params.sampleRate = 48000;
  ASSERT_EQ(
      perf->InitAudio(0, DMUS_AUDIOF_ALL, params, nullptr, DMUS_APATH_SHARED_STEREOPLUSREVERB, 16),
      com::S_OK);
  Ref<DirectMusicSegmentState8> state;
  ASSERT_EQ(perf->PlaySegmentEx(testing::SequenceBuilder().note(0, 384, 60).segment(768),
                                DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state),
            com::S_OK);
  ASSERT_EQ(output::last_manual_device()->pump(4096), com::S_OK);
  ASSERT_EQ(perf->CloseDown(), com::S_OK);
}

std::int64_t bytes_in_use() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<std::int64_t>(info.uordblks + info.hblkhd);
}

TEST(ProcessMemory, ReopeningTheOnlyChannelDoesNotGrowTheHeap) {
  if (test::kSanitizerAllocator) GTEST_SKIP() << "sanitizer builds replace the allocator";
  set_platform_settings({OutputKind::Manual, {}, "/usr/share/sounds/sf2/TimGM6mb.sf2"});
  // The first two rounds set up what the process keeps (FluidSynth's and libinstpatch's
  // registrations).
  open_and_close_one_channel();
  open_and_close_one_channel();
  const std::int64_t settled = bytes_in_use();
  constexpr int kRounds = 16;
  for (int i = 0; i < kRounds; ++i) open_and_close_one_channel();
  // FluidSynth's per-synthesizer set-up of libinstpatch left about 3 kB each round. Threads
  // that are still ending when the count is taken hold a few hundred bytes now and then,
  // which an average over the rounds keeps well below the limit.
  const std::int64_t per_round = (bytes_in_use() - settled) / kRounds;
  EXPECT_LT(per_round, 1024);
}

}  // namespace
}  // namespace orvan::music
