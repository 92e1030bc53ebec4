// A synthesizer whose voice pool is sized from the piece (voices_at_once, with headroom)
// must sound the busiest openmsx pieces exactly as the full pool does: no note it steals
// that the full pool would have kept. Whole pieces, so the busiest moment is in.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/music/midi/sequence.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/synth/dls_font.h"
#include "platform/music/synth/instrument_library.h"
#include "platform/music/synth/synth.h"
#include "tests/performance/performance_fixture.h"
#include "tests/performance/synth_render.h"

namespace orvan::music::testing {
namespace {

struct Case {
  const char* piece;
  int rate;
};

class SizedVoicePool : public ::testing::TestWithParam<Case> {};

TEST_P(SizedVoicePool, SoundsAsTheFullPoolDoes) {
  const Case c = GetParam();
  const std::string piece = std::string(kOpenMsxFolder) + c.piece;
  if (!std::filesystem::exists(kLargeSoundFont) || !std::filesystem::exists(piece)) {
    GTEST_SKIP() << "needs " << kLargeSoundFont << " and " << piece;
  }
  midi::Sequence sequence;
  ASSERT_EQ(midi::read_sequence_file(piece, sequence), com::S_OK);
  std::shared_ptr<synth::InstrumentLibrary> library;
  ASSERT_EQ(synth::InstrumentLibrary::open(kLargeSoundFont, library), com::S_OK);
  const int at_once = library->voices_at_once(sequence);
  const int pool = synth::voice_pool_for(at_once);
  // Below the full pool, or the comparison would prove nothing.
  ASSERT_LT(pool, synth::kPolyphony);

  std::unique_ptr<synth::Synth> sized, full;
  ASSERT_EQ(synth::Synth::create(c.rate, kLargeSoundFont, pool, sized), com::S_OK);
  ASSERT_EQ(synth::Synth::create(c.rate, kLargeSoundFont, full), com::S_OK);
  EXPECT_EQ(sized->voices(), pool);
  struct _fluid_sfont_t* instruments = nullptr;
  ASSERT_EQ(library->load_instruments(library->presets_used_by(sequence), instruments), com::S_OK);
  sized->sound_fonts(instruments, nullptr);
  full->sound_fonts(instruments, nullptr);

  // The whole piece and three seconds of its tails.
  const int frames = static_cast<int>((sequence.length_seconds + 3.0) * c.rate);
  int sized_most = 0, full_most = 0;
  const std::vector<float> ours = render(*sized, sequence, c.rate, frames, &sized_most);
  const std::vector<float> theirs = render(*full, sequence, c.rate, frames, &full_most);
  sized.reset();
  full.reset();
  synth::discard_font(instruments);

  // The count errs high, never low: what the full pool sounded at once was foreseen.
  EXPECT_GE(at_once, full_most);
  EXPECT_EQ(sized_most, full_most);
  std::size_t first_difference = 0;
  while (first_difference < ours.size() && ours[first_difference] == theirs[first_difference]) {
    ++first_difference;
  }
  EXPECT_EQ(first_difference, ours.size()) << "frame " << first_difference / 2;
}

// The two pieces that sound the most voices at once, and the next busiest at another rate.
INSTANTIATE_TEST_SUITE_P(BusiestOpenMsx, SizedVoicePool,
                         ::testing::Values(Case{"boogi_marabi_redfarn.mid", 48000},
                                           Case{"city_blues_redfarn.mid", 48000},
                                           Case{"keep_on_rolling.mid", 44100}),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return std::filesystem::path(param.param.piece).stem().string() + "_" +
                                  std::to_string(param.param.rate);
                         });

// A channel handed a piece busier than its pool: the play gets a synthesizer of its own
// and sounds every note the full pool would; a small piece once it has ended stays on that
// pool rather than bringing one more.
TEST(VoicePool, APieceBusierThanTheChannelsPoolGetsASynthesizerOfItsOwn) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  PerformanceCore* core = p.perf->core();
  const int first_pool = core->voice_pool();
  // 150 keys held at once over two channels, for four seconds.
  SequenceBuilder busy;
  for (std::uint8_t key = 20; key < 100; ++key) busy.note(0, 8 * 768, key);
  for (std::uint8_t key = 30; key < 100; ++key) busy.note(0, 8 * 768, key, 100, 1);
  const auto segment = busy.segment(8 * 768);
  const midi::Sequence& sequence = *segment->content().instrument_events();

  std::unique_ptr<synth::Synth> full;
  ASSERT_EQ(synth::Synth::create(kRate, kSmallSoundFont, full), com::S_OK);
  struct _fluid_sfont_t* instruments = nullptr;
  ASSERT_EQ(
      full->library()->load_instruments(full->library()->presets_used_by(sequence), instruments),
      com::S_OK);
  full->sound_fonts(instruments, nullptr);
  int full_most = 0;
  render(*full, sequence, kRate, kRate / 2, &full_most);
  full.reset();
  synth::discard_font(instruments);
  ASSERT_GT(full_most, first_pool) << "the piece must not fit the first pool";

  p.play(segment);
  p.render(kRate / 2);
  EXPECT_GE(core->voice_pool(), full_most);
  EXPECT_EQ(core->active_voices(), full_most);

  const int busy_pool = core->voice_pool();
  p.render(kRate * 5);  // the piece's end, its tails and the first synthesizer's
  p.play(SequenceBuilder().note(0, 768, 60).segment(768));
  p.render(kRate / 10);
  EXPECT_EQ(core->voice_pool(), busy_pool);
}

}  // namespace
}  // namespace orvan::music::testing
