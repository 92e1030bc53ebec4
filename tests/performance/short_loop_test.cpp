// Segments far shorter than a synthesizer block, looping: the work per block stays bounded,
// the repeat count and the position come out as if every pass had been played, and loop
// notices are coalesced instead of flooding the queue.
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>

#include "platform/music/client/loader.h"
#include "platform/music/render/performance_core.h"
#include "tests/performance/performance_fixture.h"
#include "tests/support/smf_writer.h"

namespace orvan::music::testing {
namespace {

namespace fs = std::filesystem;

// A real file at 768 ticks per quarter (one file tick is one music-time tick), with a tempo
// of 1 microsecond per quarter: `ticks` long, a note at every quarter on it.
Ref<DirectMusicSegment8> fast_file(std::int32_t ticks, std::uint32_t usec_per_quarter = 1) {
  test::SmfWriter smf(0, 768);
  auto& track = smf.add_track();
  track.tempo(0, usec_per_quarter);
  std::uint32_t at = 0;
  for (std::int32_t q = 0; q + 768 <= ticks; q += 768) {
    track.note_on(static_cast<std::uint32_t>(q) - at, 0, 60, 100).note_off(384, 0, 60);
    at = static_cast<std::uint32_t>(q) + 384;
  }
  track.end_of_track(static_cast<std::uint32_t>(ticks) - at);
  const fs::path file =
      fs::temp_directory_path() / ("orvan-short-loop-" + std::to_string(::getpid()) + ".mid");
  EXPECT_TRUE(smf.write_file(file.string()));
  Ref<DirectMusicSegment8> segment;
  auto loader = com::make_ref<DirectMusicLoader8>();
  EXPECT_EQ(loader->LoadSegment(file.string(), segment), com::S_OK);
  fs::remove(file);
  EXPECT_EQ(segment->GetLength(ticks), com::S_OK);
  return segment;
}

std::int32_t count(const std::vector<DMUS_NOTIFICATION_PMSG>& seen, std::int32_t option) {
  std::int32_t n = 0;
  for (const auto& m : seen) n += m.notificationOption == option ? 1 : 0;
  return n;
}

std::vector<DMUS_NOTIFICATION_PMSG> drain(Player& p) {
  std::vector<DMUS_NOTIFICATION_PMSG> seen;
  for (;;) {
    DMUS_NOTIFICATION_PMSG message;
    bool taken = false;
    EXPECT_TRUE(com::succeeded(p.perf->GetNotificationPMSG(message, taken)));
    if (!taken) return seen;
    seen.push_back(std::move(message));
  }
}

TEST(ShortLoop, ShortestSegmentAtHighestTempoEndsOnTimeWithBoundedWorkPerBlock) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  ASSERT_EQ(p.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  ASSERT_EQ(p.perf->SetMasterTempo(100.0f), com::S_OK);
  // One tick at 1 us per quarter, a hundred times faster: 6.25e-7 frames a pass, so the
  // 2^31 passes of the largest repeat count take 1342.18 frames, ending in the 21st block.
  auto segment = fast_file(1);
  auto state = p.play(segment, INT_MAX);
  p.render(20 * 64);
  EXPECT_TRUE(p.playing(state));
  p.render(64);
  EXPECT_FALSE(p.playing(state));
  EXPECT_EQ(p.seek(state), 1);

  // Some 10^8 passes fell in each block; a block began at most a few of them.
  const SequencerLoad busiest = p.perf->core()->busiest_block();
  EXPECT_GE(busiest.passes, 1u);
  EXPECT_LE(busiest.passes, 3u);
  EXPECT_LE(busiest.events, 8u);

  // Start, coalesced loop notices (one per 1/64 s of audio: 1342 frames hold two), end.
  const auto seen = drain(p);
  EXPECT_EQ(count(seen, DMUS_NOTIFICATION_SEGSTART), 1);
  EXPECT_EQ(count(seen, DMUS_NOTIFICATION_SEGLOOP), 2);
  ASSERT_EQ(count(seen, DMUS_NOTIFICATION_SEGEND), 1);
  EXPECT_EQ(seen.back().notificationOption, DMUS_NOTIFICATION_SEGEND);
  EXPECT_EQ(p.perf->core()->dropped_notifications(), 0u);
}

TEST(ShortLoop, PassesShorterThanABlockKeepPositionAndRepeatCount) {
  // Four quarters at 1 us each: 0.192 frames a pass, 333 1/3 passes a block.
  {
    Player p;
    ASSERT_EQ(p.status, com::S_OK);
    auto state = p.play(fast_file(4 * 768), -1);
    p.render(76 * 64);  // 25333 1/3 passes: a third of the way into one
    EXPECT_NEAR(p.seek(state), 1024, 1);
    EXPECT_TRUE(p.playing(state));
    const SequencerLoad busiest = p.perf->core()->busiest_block();
    EXPECT_LE(busiest.passes, 3u);
    // Tempo and four notes a pass: at most the tail of one pass and the head of the next.
    EXPECT_LE(busiest.events, 2u * 9u);
  }
  {
    Player p;
    ASSERT_EQ(p.status, com::S_OK);
    auto state = p.play(fast_file(4 * 768), 25099);  // 25100 passes: 4819.2 frames
    p.render(75 * 64);
    EXPECT_TRUE(p.playing(state));
    p.render(64);
    EXPECT_FALSE(p.playing(state));
    EXPECT_EQ(p.seek(state), 4 * 768);
  }
  // One quarter at 1 ms: 48 frames a pass, so passes and blocks fall out of step.
  {
    Player p;
    ASSERT_EQ(p.status, com::S_OK);
    auto state = p.play(fast_file(768, 1000), -1);
    p.render(76 * 64);  // 101 passes and 16 frames of the next
    EXPECT_NEAR(p.seek(state), 256, 1);
    p.render(64 * 64);
    EXPECT_LE(p.perf->core()->busiest_block().passes, 2u);
  }
  {
    Player p;
    ASSERT_EQ(p.status, com::S_OK);
    auto state = p.play(fast_file(768, 1000), 100);  // 101 passes: 4848 frames
    p.render(75 * 64);
    EXPECT_TRUE(p.playing(state));
    p.render(64);
    EXPECT_FALSE(p.playing(state));
  }
}

TEST(ShortLoop, NormalPassesEachPlayEveryNoteAndGiveEveryLoopNotice) {
  // A quarter at 120 BPM: 24000 frames a pass, one note each.
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  ASSERT_EQ(p.perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  auto state = p.play(fast_file(768, 500000), 3);
  p.render(4 * 24000 + 64);
  EXPECT_FALSE(p.playing(state));
  const auto seen = drain(p);
  EXPECT_EQ(count(seen, DMUS_NOTIFICATION_SEGLOOP), 3);
  EXPECT_EQ(count(seen, DMUS_NOTIFICATION_SEGEND), 1);
}

}  // namespace
}  // namespace orvan::music::testing
