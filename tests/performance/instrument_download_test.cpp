// Instruments downloaded by use. A piece's presets, cut to the zones its notes reach, must
// sound exactly as the whole SoundFont does when FluidSynth's own loader reads it in the
// same (dynamic) mode: real music, two fonts, two rates, compared sample for sample. A
// performance frees a piece's instruments once the next piece has taken over and their
// last voice has ended, and not before.
#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/music/client/loader.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/synth/dls_font.h"
#include "platform/music/synth/instrument_library.h"
#include "platform/music/synth/synth.h"
#include "tests/performance/performance_fixture.h"
#include "tests/performance/synth_render.h"
#include "tests/support/sound_measure.h"
#include "tests/support/wav_file.h"
#include "tests/support/xm_writer.h"

namespace orvan::music::testing {
namespace {

// Every preset of a SoundFont, read and pinned by FluidSynth's own loader.
class WholeSoundFont {
 public:
  explicit WholeSoundFont(const std::string& path) {
    settings_ = new_fluid_settings();
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(settings_, "synth.threadsafe-api", 0);
    loader_ = new_fluid_synth(settings_);
    const int id = fluid_synth_sfload(loader_, path.c_str(), 0);
    font_ = fluid_synth_get_sfont_by_id(loader_, id);
    fluid_sfont_iteration_start(font_);
    while (fluid_preset_t* preset = fluid_sfont_iteration_next(font_)) {
      fluid_synth_pin_preset(loader_, id, fluid_preset_get_banknum(preset),
                             fluid_preset_get_num(preset));
    }
    fluid_synth_remove_sfont(loader_, font_);
  }
  ~WholeSoundFont() {
    synth::discard_font(font_);
    delete_fluid_synth(loader_);
    delete_fluid_settings(settings_);
  }
  fluid_sfont_t* get() const { return font_; }

 private:
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* loader_ = nullptr;
  fluid_sfont_t* font_ = nullptr;
};

struct Case {
  const char* soundfont;
  const char* piece;
  int rate;
};

class DownloadedInstruments : public ::testing::TestWithParam<Case> {};

TEST_P(DownloadedInstruments, SoundAsTheWholeSoundFontDoes) {
  const Case c = GetParam();
  const std::string piece = std::string(kOpenMsxFolder) + c.piece;
  if (!std::filesystem::exists(c.soundfont) || !std::filesystem::exists(piece)) {
    GTEST_SKIP() << "needs " << c.soundfont << " and " << piece;
  }
  midi::Sequence sequence;
  ASSERT_EQ(midi::read_sequence_file(piece, sequence), com::S_OK);

  std::unique_ptr<synth::Synth> downloaded, whole;
  ASSERT_EQ(synth::Synth::create(c.rate, c.soundfont, downloaded), com::S_OK);
  ASSERT_EQ(synth::Synth::create(c.rate, c.soundfont, whole), com::S_OK);
  const auto uses = downloaded->library()->presets_used_by(sequence);
  fluid_sfont_t* instruments = nullptr;
  ASSERT_EQ(downloaded->library()->load_instruments(uses, instruments), com::S_OK);
  ASSERT_NE(instruments, nullptr);
  const WholeSoundFont reference(c.soundfont);
  downloaded->sound_fonts(instruments, nullptr);
  whole->sound_fonts(reference.get(), nullptr);

  const int frames = c.rate * 20;
  const std::vector<float> ours = render(*downloaded, sequence, c.rate, frames);
  const std::vector<float> theirs = render(*whole, sequence, c.rate, frames);
  downloaded.reset();
  whole.reset();
  synth::discard_font(instruments);

  EXPECT_GT(orvan::testing::rms(theirs, 0, frames), 0.01) << "the piece should be heard";
  std::size_t first_difference = 0;
  while (first_difference < ours.size() && ours[first_difference] == theirs[first_difference]) {
    ++first_difference;
  }
  EXPECT_EQ(first_difference, ours.size()) << "frame " << first_difference / 2;
}

INSTANTIATE_TEST_SUITE_P(RealMusic, DownloadedInstruments,
                         ::testing::Values(Case{kSmallSoundFont, "busy_schedule.mid", 44100},
                                           Case{kLargeSoundFont, "5432gone_redfarn.mid", 48000}),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return std::filesystem::path(param.param.soundfont).stem().string() +
                                  "_" + std::to_string(param.param.rate);
                         });

// A piano piece, then a string piece: the piano's font goes once its release has died
// away, not while its voices still sound; playing the same piece again keeps its font.
TEST(InstrumentDownload, APiecesFontIsFreedOnceTheNextHasTakenOverAndItsVoicesEnded) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  PerformanceCore* core = p.perf->core();
  const auto piano = SequenceBuilder().note(0, 768, 60).segment(768);
  const auto strings = SequenceBuilder().program(0, 48).note(0, 9216, 67).segment(9216);

  p.play(piano);
  p.render(kRate / 2);  // the piano still holds its note
  EXPECT_EQ(core->held_instrument_fonts(), 1u);
  p.play(strings);
  p.render(synth::kBlockFrames);
  EXPECT_EQ(core->held_instrument_fonts(), 2u) << "the piano's release still sounds";
  p.render(kRate * 3);
  EXPECT_EQ(core->held_instrument_fonts(), 1u) << "the piano's release is over";
  EXPECT_GT(orvan::testing::rms(p.render(kRate / 4), 0, kRate / 4), 0.005)
      << "the strings sound on";

  p.play(strings);
  p.render(kRate / 4);
  EXPECT_EQ(core->held_instrument_fonts(), 1u) << "the same piece takes the same font";
}

Ref<DirectMusicSegment8> load_file(const std::filesystem::path& path) {
  auto loader = com::make_ref<DirectMusicLoader8>();
  Ref<DirectMusicSegment8> segment;
  EXPECT_EQ(loader->LoadSegment(path.string(), segment), com::S_OK) << path;
  std::filesystem::remove(path);
  return segment;
}

// Whatever follows a piano piece (its own end, a stop, a recording, a tracker module), its
// font goes once the piano's release has died away; a stop and a replay of the piece take
// the same font again, which sounds on, whether or not a block was rendered in between.
TEST(InstrumentDownload, APiecesFontIsFreedWhateverFollowsOnceItsVoicesEnded) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  PerformanceCore* core = p.perf->core();
  const auto piano = SequenceBuilder().note(0, 768, 60).segment(768);
  const std::string stem = ::testing::TempDir() + "instrument_release_" + std::to_string(getpid());
  ASSERT_NO_FATAL_FAILURE(orvan::testing::write_cued_wav(stem + ".wav", kRate, 4.0, 0, 0, {}));
  const auto recording = load_file(stem + ".wav");
  orvan::testing::XmModule tune;
  tune.patterns[0].cells = {{orvan::testing::XmCell{orvan::testing::xm_note(5, 0), 1}}};
  orvan::testing::save_xm(tune, stem + ".xm");
  const auto module = load_file(stem + ".xm");
  ASSERT_TRUE(recording && module);

  const auto fonts_after = [&](const std::function<void()>& follow) {
    p.play(piano);
    p.render(kRate / 4);  // the piano still holds its note
    EXPECT_EQ(core->held_instrument_fonts(), 1u);
    follow();
    p.render(kRate * 3);
    return core->held_instrument_fonts();
  };
  EXPECT_EQ(fonts_after([] {}), 0u) << "the piece ended";
  EXPECT_EQ(fonts_after([&] { EXPECT_EQ(p.perf->StopEx(piano, 0, 0), com::S_OK); }), 0u)
      << "the piece was stopped";
  EXPECT_EQ(fonts_after([&] { p.play(recording); }), 0u) << "a recording followed";
  EXPECT_EQ(fonts_after([&] { p.play(module); }), 0u) << "a module followed";

  for (const int gap : {0, synth::kBlockFrames}) {
    p.play(piano);
    p.render(kRate / 4);
    EXPECT_EQ(p.perf->StopEx(piano, 0, 0), com::S_OK);
    if (gap > 0) p.render(gap);
    p.play(piano);
    const auto replay = p.render(kRate / 2);
    EXPECT_EQ(core->held_instrument_fonts(), 1u) << gap;
    // The note of the replay, past what is left of the stopped one's release.
    EXPECT_GT(orvan::testing::rms(replay, kRate / 8, kRate / 4), 0.005) << gap;
    EXPECT_NEAR(orvan::testing::dominant_frequency(orvan::testing::channel_of(replay, 0), kRate,
                                                   200.0, 320.0, 0.5),
                261.6, 3.0)
        << gap;
  }
}

// A SoundFont rewritten after its directory was read is refused, not read through the old
// directory; the channel reads the new file once it is opened again.
TEST(InstrumentDownload, ASoundFontChangedAfterItsDirectoryWasReadIsRefused) {
  namespace fs = std::filesystem;
  const fs::path copy =
      fs::temp_directory_path() / ("orvan-changed-" + std::to_string(::getpid()) + ".sf2");
  fs::copy_file(kSmallSoundFont, copy, fs::copy_options::overwrite_existing);
  const synth::PresetUse piano[] = {{{0, 0}, {60 << 7 | 100}}};
  struct _fluid_sfont_t* font = nullptr;
  {
    std::unique_ptr<synth::Synth> s;
    ASSERT_EQ(synth::Synth::create(kRate, copy.string(), s), com::S_OK);
    ASSERT_EQ(s->library()->load_instruments(piano, font), com::S_OK);
    synth::discard_font(font);
    std::ofstream(copy, std::ios::app) << "grown";
    EXPECT_EQ(s->library()->load_instruments(piano, font), com::MUSIC_E_SOUNDFONT_CHANGED);
    EXPECT_EQ(font, nullptr);
  }
  std::unique_ptr<synth::Synth> reopened;
  ASSERT_EQ(synth::Synth::create(kRate, copy.string(), reopened), com::S_OK);
  EXPECT_EQ(reopened->library()->load_instruments(piano, font), com::S_OK);
  reopened.reset();
  synth::discard_font(font);
  fs::remove(copy);
}

// A SoundFont touched between two plays of one channel (a package upgrade rewrites it in
// place): the next piece, which needs instruments the first did not, is read from the file
// as it is now and sounds, while the first piece's release plays on from its own font. A
// file that changed into something unreadable says so.
TEST(InstrumentDownload, ASoundFontTouchedBetweenPlaysIsReadAgain) {
  namespace fs = std::filesystem;
  const fs::path copy =
      fs::temp_directory_path() / ("orvan-touched-" + std::to_string(::getpid()) + ".sf2");
  fs::copy_file(kSmallSoundFont, copy, fs::copy_options::overwrite_existing);
  {
    Player p(nullptr, kRate, copy.string());
    ASSERT_EQ(p.status, com::S_OK);
    p.play(SequenceBuilder().note(0, 768, 60).segment(768));
    p.render(kRate / 2);
    fs::last_write_time(copy, fs::last_write_time(copy) + std::chrono::seconds(5));
    p.play(SequenceBuilder().program(0, 48).note(0, 9216, 67).segment(9216));
    EXPECT_GT(orvan::testing::rms(p.render(kRate / 2), kRate / 4, kRate / 4), 0.005)
        << "the strings sound";
    EXPECT_EQ(p.perf->core()->held_instrument_fonts(), 2u) << "the piano's release still sounds";

    std::ofstream(copy, std::ios::trunc) << "no SoundFont";
    const auto organ = SequenceBuilder().program(0, 19).note(0, 768, 48).segment(768);
    EXPECT_EQ(organ->SetRepeats(0), com::S_OK);
    Ref<DirectMusicSegmentState8> state;
    EXPECT_EQ(p.perf->PlaySegmentEx(organ, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state),
              com::MUSIC_E_SOUNDFONT_CHANGED);
  }
  fs::remove(copy);
}

}  // namespace
}  // namespace orvan::music::testing
