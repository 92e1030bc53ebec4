// Music_PlayNext and PlayStinger through the component, measured on renders made with
// InitOrvanRender and RenderFor: where the next piece or the stinger starts, and what becomes
// of the piece playing.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "tests/component/component_fixture.h"
#include "tests/support/smf_writer.h"
#include "tests/support/sound_measure.h"
#include "tests/support/soundfont_writer.h"
#include "tests/support/tone_analysis.h"
#include "tests/support/wav_file.h"
#include "tests/support/xm_writer.h"

namespace orvan::component_test {
namespace {

using Wav = testing::StereoWav;

constexpr LONG kRate = 44100;  // beats fall between synthesizer blocks at this rate
constexpr HRESULT kInvalidCall = static_cast<HRESULT>(0x88780032u);

// A mono 16-bit WAV of a steady sine (`hz` 0: silence).
void write_tone(const std::filesystem::path& path, double seconds, int hz, double amplitude) {
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(out, nullptr);
  const auto frames = static_cast<std::uint32_t>(seconds * kRate);
  const std::vector<short> tone =
      test::sine_periods(frames, static_cast<int>(hz * seconds), hz ? amplitude : 0.0);
  sf_writef_short(out, tone.data(), static_cast<sf_count_t>(tone.size()));
  sf_close(out);
}

// The first frame at which two renders differ audibly, or -1.
long first_difference(const Wav& a, const Wav& b) {
  for (std::size_t f = 0; f < std::min(a.frames(), b.frames()); ++f) {
    if (std::abs(a.samples[2 * f] - b.samples[2 * f]) > 1e-4f) return static_cast<long>(f);
  }
  return -1;
}

double level_at(const Wav& wav, long frame, double hz) {
  const std::vector<float> left = testing::channel_of(wav.samples, 0);
  return test::tone_level(std::span(left).subspan(static_cast<std::size_t>(frame), 4410), kRate,
                          hz);
}

class Transitions : public ComponentTest {
 protected:
  // Renders `first` for `before` ms, calls `change`, then renders up to `total` ms.
  template <class Change>
  Wav render(const std::string& name, const std::filesystem::path& first, LONG before,
             Change change, LONG total, float tempo = 1.0f) {
    ComPtr<_OrvanMusic2> music = create2();
    const std::filesystem::path wav = dir_ / name;
    Bstr out(wav.string()), file(first.string());
    EXPECT_EQ(music->InitOrvanRender(out.get(), kRate), S_OK);
    EXPECT_EQ(music->SetMasterTempo(&tempo), S_OK);
    EXPECT_EQ(music->SetBeatInfo(100.0f, 4), S_OK);  // a recording's beat: 0.6 s
    EXPECT_EQ(music->Music_Load(file.ptr()), S_OK);
    EXPECT_EQ(music->Music_Play(nullptr), S_OK);
    EXPECT_EQ(music->RenderFor(before), S_OK);
    change(music.get());
    EXPECT_EQ(music->RenderFor(total - before), S_OK);
    EXPECT_EQ(music->CleanupAudio(), S_OK);
    return testing::read_stereo_wav(wav);
  }
};

TEST_F(Transitions, TheNextPieceStartsOnTheBeatBarMarkerOrEndOfAMidiPieceAtItsMasterTempo) {
  // 120 BPM in 3/4, 8 quarters long, a marker at quarter 5.5; a held middle C.
  const std::filesystem::path midi = dir_ / "held.mid";
  test::SmfWriter smf(0, 480);
  smf.add_track()
      .tempo(0, 500000)
      .time_signature(0, 3, 2)
      .program_change(0, 0, 19)
      .note_on(0, 0, 60, 100)
      .marker(5 * 480 + 240, "drums")
      .note_off(8 * 480 - (5 * 480 + 240), 0, 60)
      .end_of_track(0);
  ASSERT_TRUE(smf.write_file(midi.string()));
  const std::filesystem::path next = dir_ / "next.wav";
  write_tone(next, 2.0, 1000, 0.5);

  // At master tempo 1.25 a quarter lasts 0.4 s; the call comes at 0.7 s (quarter 1.75).
  const auto nothing = [](_OrvanMusic2*) {};
  const Wav alone = render("alone.wav", midi, 700, nothing, 3600, 1.25f);
  struct Case {
    LONG boundary;
    long frame;  // quarter 2, 3 (the next bar), 5.5 and 8 (the end)
  };
  for (const Case& c : {Case{OBND_BEAT, 35280}, Case{OBND_BAR, 52920}, Case{OBND_MARKER, 97020},
                        Case{OBND_END, 141120}}) {
    SCOPED_TRACE(c.boundary);
    Bstr file(next.string());
    const Wav with = render(
        "with.wav", midi, 700,
        [&](_OrvanMusic2* m) {
          EXPECT_EQ(m->Music_PlayNext(file.get(), static_cast<OrvanBoundary>(c.boundary), 0), S_OK);
        },
        3600, 1.25f);
    const long onset = first_difference(alone, with);
    EXPECT_LT(std::abs(onset - c.frame), 64) << onset;
    EXPECT_GT(level_at(with, onset + 64, 1000.0), 0.1);  // the next piece from there (0.125)
    if (c.boundary == OBND_END) continue;                // the piece has ended anyway
    // Half a second after the boundary the organ note has rung out; alone it still sounds.
    const double organ = level_at(alone, c.frame + kRate / 2, 261.6);
    EXPECT_GT(organ, 1e-3);
    EXPECT_LT(level_at(with, c.frame + kRate / 2, 261.6), organ / 100) << "old piece still there";
  }
}

TEST_F(Transitions, APieceFadesOutLinearlyFromItsBoundaryAndAReplacedQueuedPieceNeverSounds) {
  const std::filesystem::path tone = dir_ / "tone.wav", other = dir_ / "other.wav",
                              silent = dir_ / "silent.wav";
  write_tone(tone, 6.0, 440, 0.25);
  write_tone(other, 2.0, 1000, 0.5);
  write_tone(silent, 4.0, 0, 0.0);
  const auto nothing = [](_OrvanMusic2*) {};
  const Wav alone = render("alone.wav", tone, 1000, nothing, 4000);
  const Wav faded = render(
      "faded.wav", tone, 1000,
      [&](_OrvanMusic2* m) {
        Bstr first(other.string()), then(silent.string());
        EXPECT_EQ(m->Music_PlayNext(first.get(), OBND_BEAT, 0), S_OK);
        EXPECT_EQ(m->Music_PlayNext(then.get(), OBND_BAR, 500), S_OK);
        EXPECT_EQ(m->Music_PlayNext(then.get(), static_cast<OrvanBoundary>(5), 0), E_INVALIDARG);
        EXPECT_EQ(m->Music_PlayNext(then.get(), OBND_BAR, -1), E_INVALIDARG);
        // A piece that cannot be loaded leaves the one queued in place.
        Bstr missing((dir_ / "missing.mid").string());
        EXPECT_TRUE(FAILED(m->Music_PlayNext(missing.get(), OBND_BEAT, 0)));
      },
      4000);
  // 100 BPM in 4: the bar after 1 s begins at 2.4 s, and 500 ms of fade follow. Where a
  // frame's gain says the fade began, averaged over its middle, is the boundary.
  constexpr long kBar = 105840, kFade = 22050;
  const auto gain_at = [&](long f) {
    return faded.samples[2 * static_cast<std::size_t>(f)] /
           alone.samples[2 * static_cast<std::size_t>(f)];
  };
  const auto loud = [&](long f) {
    return std::abs(alone.samples[2 * static_cast<std::size_t>(f)]) > 0.1f;
  };
  double sum = 0;
  int count = 0;
  for (long f = kBar + 2000; f < kBar + kFade - 2000; f += 7) {
    if (!loud(f)) continue;
    sum += static_cast<double>(f) - (1.0 - gain_at(f)) * kFade;
    ++count;
  }
  ASSERT_GT(count, 1000);
  const double start = sum / count;
  EXPECT_LT(std::abs(start - kBar), 64) << start;
  for (long f = kBar - 20000; f < kBar + kFade + 20000; f += 37) {
    if (!loud(f)) continue;
    const double want = std::clamp(1.0 - (static_cast<double>(f) - start) / kFade, 0.0, 1.0);
    ASSERT_NEAR(gain_at(f), want, 0.01) << "frame " << f;
  }
  EXPECT_LT(testing::peak(faded.samples, kBar + kFade + 128, kRate), 1e-3);
  for (long f = 0; f + 4410 < static_cast<long>(faded.frames()); f += 4410) {
    ASSERT_LT(level_at(faded, f, 1000.0), 1e-3) << "the replaced piece sounded at " << f;
  }

  // Stopping the channel while a piece waits for its boundary stops both: the silent piece
  // loaded as the current one, the tone waiting to follow at its end.
  const Wav stopped = render(
      "stopped.wav", silent, 500,
      [&](_OrvanMusic2* m) {
        Bstr next(tone.string());
        EXPECT_EQ(m->Music_PlayNext(next.get(), OBND_END, 0), S_OK);
        EXPECT_EQ(m->Music_Stop(), S_OK);
        VARIANT_BOOL playing = VARIANT_TRUE;
        EXPECT_EQ(m->IsPlaying(&playing), S_OK);
        EXPECT_EQ(playing, VARIANT_FALSE);
      },
      5000);
  EXPECT_EQ(testing::first_frame_above(stopped.samples, 1e-4f), -1);

  // With nothing playing, the next piece starts at once.
  const Wav at_once = render(
      "at_once.wav", silent, 100,
      [&](_OrvanMusic2* m) {
        Bstr first(other.string());
        EXPECT_EQ(m->Music_Stop(), S_OK);
        EXPECT_EQ(m->RenderFor(100), S_OK);
        EXPECT_EQ(m->Music_PlayNext(first.get(), OBND_BAR, 0), S_OK);
      },
      1000);
  EXPECT_LE(std::abs(testing::first_frame_above(at_once.samples, 0.01f) - 8820), 2);  // 200 ms
}

TEST_F(Transitions, AStingerSoundsOnceFromItsBeatOverThePieceWhichGoesOnUnchanged) {
  const std::filesystem::path tone = dir_ / "tone.wav", sting = dir_ / "sting.wav";
  write_tone(tone, 6.0, 440, 0.25);
  write_tone(sting, 0.3, 1000, 0.2);  // together below where the output's limiter acts
  LONG position_alone = 0, position_with = 0, repeats = -1;
  const Wav alone = render(
      "alone.wav", tone, 1000,
      [&](_OrvanMusic2* m) {
        EXPECT_EQ(m->RenderFor(1500), S_OK);
        EXPECT_EQ(m->GetCurrentPosition(&position_alone), S_OK);
      },
      3000);
  const Wav with = render(
      "with.wav", tone, 1000,
      [&](_OrvanMusic2* m) {
        Bstr file(sting.string()), midi(organ_.string());
        EXPECT_EQ(m->PlayStinger(midi.get(), OBND_BEAT), kInvalidCall);
        EXPECT_EQ(m->PlayStinger(file.get(), static_cast<OrvanBoundary>(-1)), E_INVALIDARG);
        EXPECT_EQ(m->PlayStinger(file.get(), OBND_BEAT), S_OK);
        EXPECT_EQ(m->RenderFor(1500), S_OK);
        EXPECT_EQ(m->GetCurrentPosition(&position_with), S_OK);
        EXPECT_EQ(m->GetRepeats(&repeats), S_OK);
      },
      3000);
  EXPECT_EQ(position_with, position_alone);
  EXPECT_EQ(repeats, 0);
  // 100 BPM: the beat after 1 s is at 1.2 s.
  constexpr long kBeat = 52920;
  const long onset = first_difference(alone, with);
  EXPECT_LT(std::abs(onset - kBeat), 64) << onset;
  EXPECT_GT(level_at(with, onset + 64, 1000.0), 0.04);  // 0.05
  // Once the stinger is over, the piece sounds exactly as it would have without it.
  const auto after = static_cast<std::size_t>(onset + 13230 + 512);
  for (std::size_t f = after; f < alone.frames(); ++f) {
    ASSERT_NEAR(with.samples[2 * f], alone.samples[2 * f], 1e-3f) << "frame " << f;
  }
}

TEST_F(Transitions, ATrackerModuleKeepsItsOwnBeatsAndBarsWhateverTheBeatInfo) {
  // Speed 6 at 125 BPM: a row lasts 0.12 s, a beat of 4 rows 0.48 s, a bar of 4 beats 1.92 s.
  // The render sets a recording's beat info of 100 BPM, which would put them elsewhere.
  testing::XmModule module;
  module.patterns[0].rows = 64;
  module.patterns[0].cells = {{{testing::xm_note(4, 0), 1, 0, 0}}};
  const std::filesystem::path xm = dir_ / "held.xm", next = dir_ / "next.wav";
  testing::save_xm(module, xm.string());
  write_tone(next, 2.0, 1000, 0.5);
  const auto nothing = [](_OrvanMusic2*) {};
  const Wav alone = render("alone.wav", xm, 2100, nothing, 4500);
  struct Case {
    LONG boundary;
    long frame;  // beat 5 at 2.4 s, bar 3 at 3.84 s
  };
  for (const Case& c : {Case{OBND_BEAT, 105840}, Case{OBND_BAR, 169344}}) {
    SCOPED_TRACE(c.boundary);
    Bstr file(next.string());
    const Wav with = render(
        "with.wav", xm, 2100,
        [&](_OrvanMusic2* m) {
          LONG bar = 0, beat = 0;
          EXPECT_EQ(m->GetBar(&bar), S_OK);
          EXPECT_EQ(m->GetBeat(&beat), S_OK);
          EXPECT_EQ(bar * 10 + beat, 21);  // 2.1 s is in the fifth beat: bar 2, beat 1
          EXPECT_EQ(m->Music_PlayNext(file.get(), static_cast<OrvanBoundary>(c.boundary), 0), S_OK);
        },
        4500);
    const long onset = first_difference(alone, with);
    // libopenmpt tells of a row only once it has played into it: a boundary on a block's edge
    // is found one block later.
    EXPECT_LE(std::abs(onset - c.frame), 64) << onset;
  }
}

}  // namespace
}  // namespace orvan::component_test
