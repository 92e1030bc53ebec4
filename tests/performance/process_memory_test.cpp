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
#include "platform/music/render/performance_core.h"
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
  set_platform_settings({OutputKind::Manual, {}, testing::kSmallSoundFont});
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

// A game alternating between two pieces on one channel (a menu theme and a level theme) holds
// at most both pieces' instruments, however often it switches.
TEST(ProcessMemory, AlternatingTwoPiecesHoldsNoMoreThanBoth) {
  if (test::kSanitizerAllocator) GTEST_SKIP() << "sanitizer builds replace the allocator";
  testing::Player player;
  ASSERT_EQ(player.status, com::S_OK);
  player.device->set_capture_enabled(false);  // the output is not what is measured
  // Two pieces with instruments of their own: a piano and a string section.
  const auto piano = testing::SequenceBuilder().program(0, 0).note(0, 384, 60).segment(768);
  const auto strings = testing::SequenceBuilder().program(0, 48).note(0, 384, 67).segment(768);
  const auto switch_to = [&](const Ref<DirectMusicSegment8>& piece) {
    player.play(piece);
    ASSERT_EQ(player.device->pump(2048), com::S_OK);
  };
  switch_to(piano);
  switch_to(strings);
  const std::int64_t settled = bytes_in_use();
  constexpr int kSwitches = 200;
  for (int i = 0; i < kSwitches / 2; ++i) {
    switch_to(piano);
    switch_to(strings);
  }
  EXPECT_LT(bytes_in_use() - settled, 64 * 1024);
  EXPECT_LE(player.perf->core()->held_instrument_fonts(), 2u);
}

}  // namespace
}  // namespace orvan::music
