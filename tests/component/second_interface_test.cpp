// _OrvanMusic2 through the component: one object behind both interfaces, and the members
// built so far measured on renders made with InitOrvanRender and RenderFor.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/component/c_render_client.h"
#include "tests/component/component_fixture.h"
#include "tests/support/smf_writer.h"
#include "tests/support/sound_measure.h"
#include "tests/support/soundfont_writer.h"
#include "tests/support/tone_analysis.h"
#include "tests/support/wav_file.h"

namespace orvan::component_test {
namespace {

constexpr HRESULT kNoSoundFont = static_cast<HRESULT>(0x88781012u);
constexpr HRESULT kDeviceFailed = static_cast<HRESULT>(0x88781019u);
constexpr HRESULT kInvalidCall = static_cast<HRESULT>(0x88780032u);
constexpr HRESULT kObjectNotSet = static_cast<HRESULT>(0x800A005Bu);

using Wav = testing::StereoWav;
using testing::file_bytes;
using testing::read_stereo_wav;

class SecondInterface : public ComponentTest {
 protected:
  // Opens `music` on a render into `wav` and starts the organ note.
  void start_organ(_OrvanMusic2* music, const std::filesystem::path& wav, LONG rate) {
    Bstr name(wav.string());
    ASSERT_EQ(music->InitOrvanRender(name.get(), rate), S_OK);
    Bstr file(organ_.string());
    ASSERT_EQ(music->Music_Load(file.ptr()), S_OK);
    ASSERT_EQ(music->Music_Play(nullptr), S_OK);
  }
  // The organ note rendered for `before` ms, then `change` called, then `after` ms more.
  template <class Change>
  Wav render_organ(const std::string& name, LONG before, Change change, LONG after) {
    ComPtr<_OrvanMusic2> music = create2();
    const std::filesystem::path wav = dir_ / name;
    start_organ(music.get(), wav, 48000);
    EXPECT_EQ(music->RenderFor(before), S_OK);
    change(music.get());
    EXPECT_EQ(music->RenderFor(after), S_OK);
    EXPECT_EQ(music->CleanupAudio(), S_OK);
    return read_stereo_wav(wav);
  }
};

TEST_F(SecondInterface, OneObjectAnswersForBothInterfaces) {
  ComPtr<_OrvanMusic2> music = create2();
  ASSERT_TRUE(music);
  ComPtr<_OrvanMusic> first;
  ASSERT_EQ(music->QueryInterface(IID__OrvanMusic, first.out_void()), S_OK);
  ComPtr<IUnknown> unknown_from_first, unknown_from_second;
  ASSERT_EQ(first->QueryInterface(IID_IUnknown, unknown_from_first.out_void()), S_OK);
  ASSERT_EQ(music->QueryInterface(IID_IUnknown, unknown_from_second.out_void()), S_OK);
  EXPECT_EQ(unknown_from_first.get(), unknown_from_second.get());
  ComPtr<_OrvanMusic2> again;
  ASSERT_EQ(first->QueryInterface(IID__OrvanMusic2, again.out_void()), S_OK);
  EXPECT_EQ(again.get(), music.get());

  // A value set through one interface is read through the other.
  LONG hwnd = 0, rate = 48000, volume = -350, read = 0;
  ASSERT_EQ(first->InitOrvanAudio(&hwnd, &rate), S_OK);
  ASSERT_EQ(first->SetMasterVolume(&volume), S_OK);
  ASSERT_EQ(music->GetMasterVolume(&read), S_OK);
  EXPECT_EQ(read, -350);

  // Named through either interface, the object is the same channel, which cannot lead itself.
  EXPECT_EQ(music->Music_PlayWith(first.get(), OBND_BEAT), E_INVALIDARG);
  EXPECT_EQ(music->GetBar(nullptr), E_POINTER);
}

// Bars and beats at times chosen to sit in different bars under each signature.
TEST_F(SecondInterface, BarAndBeatFollowTheTimeSignaturesOrTheRecordingsBeatInfo) {
  // 120 BPM (a quarter is 0.5 s): 3/4 for two bars, then 6/8 (eighths as beats).
  const std::filesystem::path midi = dir_ / "signatures.mid";
  test::SmfWriter smf(0, 480);
  smf.add_track()
      .tempo(0, 500000)
      .time_signature(0, 3, 2)
      .time_signature(6 * 480, 6, 3)
      .note_on(0, 0, 60, 100)
      .note_off(8 * 480, 0, 60)
      .end_of_track(0);
  ASSERT_TRUE(smf.write_file(midi.string()));
  ComPtr<_OrvanMusic2> music = create2();
  Bstr wav((dir_ / "grid.wav").string()), file(midi.string());
  ASSERT_EQ(music->InitOrvanRender(wav.get(), 48000), S_OK);
  LONG bar = 0;
  EXPECT_EQ(music->GetBar(&bar), kObjectNotSet);  // nothing playing
  const auto bar_and_beat = [&] {
    LONG beat = 0;
    EXPECT_EQ(music->GetBar(&bar), S_OK);
    EXPECT_EQ(music->GetBeat(&beat), S_OK);
    return std::make_pair(bar, beat);
  };
  ASSERT_EQ(music->Music_Load(file.ptr()), S_OK);
  ASSERT_EQ(music->Music_Play(nullptr), S_OK);
  // Milliseconds rendered -> bar and beat. 1.75 s is in the 4th quarter (bar 2, beat 1);
  // 3/4 ends at 3 s, after which an eighth is 0.25 s: 3.8 s is in its 4th, 4.6 s in its 7th.
  const std::vector<std::tuple<LONG, LONG, LONG>> expected = {
      {250, 1, 1}, {1250, 1, 3}, {1750, 2, 1}, {3100, 3, 1}, {3800, 3, 4}, {4600, 4, 1}};
  LONG rendered = 0;
  for (const auto& [at, want_bar, want_beat] : expected) {
    ASSERT_EQ(music->RenderFor(at - rendered), S_OK);
    rendered = at;
    EXPECT_EQ(bar_and_beat(), std::make_pair(want_bar, want_beat)) << at << " ms";
  }
  EXPECT_EQ(music->SetBeatInfo(0.0f, 4), E_INVALIDARG);
  EXPECT_EQ(music->SetBeatInfo(90.0f, 0), E_INVALIDARG);
  EXPECT_EQ(music->SetBeatInfo(NAN, 4), E_INVALIDARG);

  // A recording at 90 BPM in 3: a beat is 2/3 s, a bar 2 s.
  const std::filesystem::path recording = dir_ / "tone.wav";
  {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* out = sf_open(recording.c_str(), SFM_WRITE, &info);
    ASSERT_NE(out, nullptr);
    const std::vector<short> tone = test::sine_periods(48000 * 6, 6 * 440);
    sf_writef_short(out, tone.data(), static_cast<sf_count_t>(tone.size()));
    sf_close(out);
  }
  ASSERT_EQ(music->SetBeatInfo(90.0f, 3), S_OK);
  Bstr tone(recording.string());
  ASSERT_EQ(music->Music_Load(tone.ptr()), S_OK);
  ASSERT_EQ(music->Music_Play(nullptr), S_OK);
  ASSERT_EQ(music->RenderFor(2500), S_OK);  // beat 3.75: bar 2, beat 1
  EXPECT_EQ(bar_and_beat(), std::make_pair(LONG{2}, LONG{1}));
  ASSERT_EQ(music->RenderFor(1700), S_OK);  // 4.2 s: beat 6.3, bar 3 beat 1
  EXPECT_EQ(bar_and_beat(), std::make_pair(LONG{3}, LONG{1}));
}

TEST_F(SecondInterface, RenderForWritesExactlyTheTimeAskedAndTheSameBytesEveryTime) {
  const auto render = [&](const std::string& name) {
    ComPtr<_OrvanMusic2> music = create2();
    start_organ(music.get(), dir_ / name, 44100);
    // 1003 ms at 44.1 kHz, split unevenly: 44232.3 frames, so 44232 whatever the split.
    EXPECT_EQ(music->RenderFor(1000), S_OK);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(music->RenderFor(1), S_OK);
    EXPECT_EQ(music->RenderFor(0), S_OK);
    EXPECT_EQ(music->RenderFor(-1), E_INVALIDARG);
    EXPECT_EQ(music->RenderFor(INT_MAX), E_INVALIDARG);  // more than a WAV file holds
    EXPECT_EQ(music->CleanupAudio(), S_OK);
    EXPECT_EQ(music->RenderFor(1), kObjectNotSet);
  };
  render("first.wav");
  render("second.wav");
  const Wav wav = read_stereo_wav(dir_ / "first.wav");
  EXPECT_EQ(wav.rate, 44100);
  EXPECT_EQ(wav.frames(), 44232u);
  EXPECT_GT(testing::rms(wav.samples, 22050, 22050), 0.01) << "the organ note is missing";
  EXPECT_EQ(file_bytes(dir_ / "first.wav"), file_bytes(dir_ / "second.wav"));

  // A channel on a device, a file that cannot be written, a rate out of range.
  ComPtr<_OrvanMusic2> music = create2();
  LONG hwnd = 0, rate = 48000;
  ASSERT_EQ(music->InitOrvanAudio(&hwnd, &rate), S_OK);
  EXPECT_EQ(music->RenderFor(10), kInvalidCall);
  Bstr folder(dir_.string());
  EXPECT_EQ(music->InitOrvanRender(folder.get(), 48000), kDeviceFailed);
  Bstr fine((dir_ / "x.wav").string());
  EXPECT_EQ(music->InitOrvanRender(fine.get(), 8000), E_INVALIDARG);
  EXPECT_EQ(boxes_->count("Could not initialize Engine\r\n "), 0);
}

TEST_F(SecondInterface, ProgressInSecondsFollowsTheTempoMapAndMasterTempoAndTheOutputCountsFrames) {
  // 120 BPM for four quarters (2 s), then 60 BPM for four more (4 s): 6 s in all, and music
  // time 3840 (five quarters) is 3 s in, where a single tempo would put it at 2.5 s.
  const std::filesystem::path midi = dir_ / "slowing.mid";
  test::SmfWriter smf(0, 480);
  smf.add_track()
      .tempo(0, 500000)
      .program_change(0, 0, 19)  // an organ: the note holds its level to the end
      .note_on(0, 0, 60, 100)
      .tempo(4 * 480, 1000000)
      .note_off(4 * 480, 0, 60)
      .end_of_track(0);
  ASSERT_TRUE(smf.write_file(midi.string()));
  ComPtr<_OrvanMusic2> music = create2();
  double seconds = -1.0, frames = -1.0;
  LONG count = -1;
  EXPECT_EQ(music->GetLengthSeconds(&seconds), kObjectNotSet);  // no channel yet
  EXPECT_EQ(music->GetOutputFrames(&frames), kObjectNotSet);
  EXPECT_EQ(music->GetDeviceLosses(&count), kObjectNotSet);
  EXPECT_EQ(music->GetOutputFrames(nullptr), E_POINTER);
  Bstr wav((dir_ / "slowing.wav").string()), file(midi.string());
  ASSERT_EQ(music->InitOrvanRender(wav.get(), 48000), S_OK);
  EXPECT_EQ(music->GetLengthSeconds(&seconds), kObjectNotSet);  // nothing loaded
  ASSERT_EQ(music->Music_Load(file.ptr()), S_OK);
  EXPECT_EQ(music->GetPositionSeconds(&seconds), kObjectNotSet);  // nothing played
  ASSERT_EQ(music->Music_Play(nullptr), S_OK);

  // Within one synthesizer block of the time rendered.
  constexpr double kBlock = 64.0 / 48000;
  // Returns the peak the output reports for its last period.
  const auto expect_progress = [&](double length, double position, double output_frames) {
    double got = -1.0;
    EXPECT_EQ(music->GetLengthSeconds(&got), S_OK);
    EXPECT_NEAR(got, length, 1e-9);
    EXPECT_EQ(music->GetPositionSeconds(&got), S_OK);
    EXPECT_NEAR(got, position, kBlock);
    EXPECT_EQ(music->GetOutputFrames(&got), S_OK);
    EXPECT_EQ(got, output_frames);
    float peak = 0.0f;
    EXPECT_EQ(music->GetOutputPeak(&peak), S_OK);
    // A render has no device to lose or be late for.
    for (auto member : {&_OrvanMusic2::GetDeviceLosses, &_OrvanMusic2::GetDeviceReopens,
                        &_OrvanMusic2::GetLatePeriods}) {
      LONG n = -1;
      EXPECT_EQ((music.get()->*member)(&n), S_OK);
      EXPECT_EQ(n, 0);
    }
    return peak;
  };
  ASSERT_EQ(music->RenderFor(3000), S_OK);
  const float peak_at_3s = expect_progress(6.0, 3.0, 3.0 * 48000);
  // Twice as fast: everything in seconds halves. Half a second more at 60 BPM (the piece's
  // own 1 s) ends at the piece's 4 s, heard at 2 s.
  float tempo = 2.0f;
  ASSERT_EQ(music->SetMasterTempo(&tempo), S_OK);
  ASSERT_EQ(music->RenderFor(500), S_OK);
  const float peak_at_3_5s = expect_progress(3.0, 2.0, 3.5 * 48000);

  ASSERT_EQ(music->CleanupAudio(), S_OK);
  EXPECT_EQ(music->GetOutputFrames(&frames), kObjectNotSet);
  EXPECT_EQ(music->GetPositionSeconds(&seconds), kObjectNotSet);
  // The last period ends at the frame asked for and is no longer than a device period (1024
  // frames at 48 kHz): its peak lies between the last frame's and the last 1024 frames'.
  const Wav out = read_stereo_wav(dir_ / "slowing.wav");
  const auto expect_peak_before = [&](float peak, std::size_t end) {
    ASSERT_GE(out.frames(), end);
    const auto magnitude = [&](std::size_t from) {
      float most = 0.0f;
      for (std::size_t i = 2 * from; i < 2 * end; ++i)
        most = std::max(most, std::fabs(out.samples[i]));
      return most;
    };
    EXPECT_GT(peak, 0.01f) << "the organ sounds";
    EXPECT_GE(peak, magnitude(end - 1)) << end;
    EXPECT_LE(peak, magnitude(end - 1024)) << end;
  };
  expect_peak_before(peak_at_3s, 144000);
  expect_peak_before(peak_at_3_5s, 168000);
}

// The gain a fade applied: the faded render over the same render without it, sample by sample
// where the note is loud enough to read, in dB.
double gain_db_at(const Wav& faded, const Wav& plain, std::size_t frame) {
  double sum = 0.0;
  int n = 0;
  for (std::size_t i = 2 * frame; i < 2 * frame + 2; ++i) {
    if (std::fabs(plain.samples[i]) < 0.01f) continue;
    sum += 20.0 * std::log10(faded.samples[i] / plain.samples[i]);
    ++n;
  }
  return n ? sum / n : NAN;
}

TEST_F(SecondInterface, FadeToGlidesEvenlyInDecibelsFromTheNextBlockAndSetMasterVolumeEndsIt) {
  const auto nothing = [](_OrvanMusic2*) {};
  const Wav plain = render_organ("plain.wav", 500, nothing, 700);
  const Wav faded = render_organ(
      "faded.wav", 500, [](_OrvanMusic2* m) { EXPECT_EQ(m->FadeTo(-2400, 400), S_OK); }, 700);
  const Wav ended = render_organ(
      "ended.wav", 500,
      [](_OrvanMusic2* m) {
        EXPECT_EQ(m->FadeTo(-2400, 400), S_OK);
        LONG volume = 0;
        EXPECT_EQ(m->GetMasterVolume(&volume), S_OK);
        EXPECT_EQ(volume, -2400);  // where the fade goes
        EXPECT_EQ(m->RenderFor(100), S_OK);
        LONG set = -600;
        EXPECT_EQ(m->SetMasterVolume(&set), S_OK);
      },
      600);
  ASSERT_EQ(plain.frames(), 57600u);
  ASSERT_EQ(faded.frames(), plain.frames());
  ASSERT_EQ(ended.frames(), plain.frames());

  constexpr std::size_t kStart = 24000;  // the fade starts with the block after 500 ms
  constexpr double kFrames = 19200;      // 400 ms
  int checked = 0;
  for (std::size_t f = 1000; f < plain.frames(); f += 97) {
    const double got = gain_db_at(faded, plain, f);
    if (std::isnan(got)) continue;
    const double progress =
        f < kStart ? 0.0 : std::min(1.0, static_cast<double>(f - kStart + 1) / kFrames);
    ASSERT_NEAR(got, -24.0 * progress, 0.01) << "frame " << f;
    ++checked;
  }
  EXPECT_GT(checked, 300);
  // 100 ms into the fade (-6 dB) the volume is set to -6 dB: from 64 frames on it stays there.
  for (std::size_t f = kStart + 4800 + 64; f < plain.frames(); f += 211) {
    const double got = gain_db_at(ended, plain, f);
    if (!std::isnan(got)) {
      ASSERT_NEAR(got, -6.0, 0.01) << "frame " << f;
    }
  }

  ComPtr<_OrvanMusic2> music = create2();
  EXPECT_EQ(music->FadeTo(0, 100), kObjectNotSet);  // nothing to fade yet
  start_organ(music.get(), dir_ / "bad.wav", 48000);
  EXPECT_EQ(music->FadeTo(-20001, 100), E_INVALIDARG);
  EXPECT_EQ(music->FadeTo(2001, 100), E_INVALIDARG);
  EXPECT_EQ(music->FadeTo(0, -1), E_INVALIDARG);
  EXPECT_EQ(music->FadeTo(-1000, INT_MAX), S_OK);  // 24 days: accepted, and it just glides
  EXPECT_EQ(music->RenderFor(10), S_OK);
}

// The organ's program made a pure 440 Hz tone at its note (4410 frames of 44.1 kHz hold 44
// periods), as SoundFont 2 or with the sample as Ogg Vorbis (SoundFont 3).
std::filesystem::path write_sine_font(const std::filesystem::path& dir, bool compressed) {
  test::SoundFontPreset preset;
  preset.program = 19;                                                 // the organ note's program
  const std::vector<std::int16_t> pcm = test::sine_periods(4410, 44);  // 44 periods: 440 Hz
  preset.sample.pcm = pcm;
  const std::filesystem::path path = dir / (compressed ? "sine.sf3" : "sine.sf2");
  if (compressed) {
    const std::filesystem::path ogg = dir / "sine.ogg";
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE* file = sf_open(ogg.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (!file) return path;
    // Several loops' worth, so the encoder's edges fall outside the loop.
    std::vector<std::int16_t> longer;
    for (int i = 0; i < 10; ++i) longer.insert(longer.end(), pcm.begin(), pcm.end());
    sf_writef_short(file, longer.data(), static_cast<sf_count_t>(longer.size()));
    sf_close(file);
    const std::string bytes = file_bytes(ogg);
    preset.sample.ogg.assign(bytes.begin(), bytes.end());
    preset.sample.frames = static_cast<std::uint32_t>(longer.size());
    preset.sample.loop_start = 4 * 4410;
    preset.sample.loop_end = 5 * 4410;
  }
  EXPECT_TRUE(test::save_bytes(path.string(), test::write_soundfont(preset)));
  return path;
}

TEST_F(SecondInterface, SetSoundFontChangesTheInstrumentsFromTheNextPlayInSf2AndSf3) {
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "SoundFont 3" : "SoundFont 2");
    const std::filesystem::path font = write_sine_font(dir_, compressed);
    ComPtr<_OrvanMusic2> music = create2();
    const std::filesystem::path wav = dir_ / "fonts.wav";
    start_organ(music.get(), wav, 44100);
    ASSERT_EQ(music->RenderFor(1000), S_OK);
    Bstr name(font.string());
    ASSERT_EQ(music->SetSoundFont(name.get()), S_OK);
    ASSERT_EQ(music->RenderFor(1000), S_OK);  // the note playing keeps its instrument
    ASSERT_EQ(music->Music_Play(nullptr), S_OK);
    ASSERT_EQ(music->RenderFor(1000), S_OK);
    ASSERT_EQ(music->CleanupAudio(), S_OK);

    const Wav out = read_stereo_wav(wav);
    ASSERT_EQ(out.frames(), 3u * 44100);
    const std::vector<float> left = testing::channel_of(out.samples, 0);
    const auto second = [&](int n) {
      return std::span<const float>(left).subspan(static_cast<std::size_t>(n) * 44100 + 11025,
                                                  22050);
    };
    // The organ's C4 has its fundamental at 261.6 Hz; the test font plays 440 Hz there.
    for (int n : {0, 1}) {
      EXPECT_GT(test::tone_level(second(n), 44100, 261.6),
                10 * test::tone_level(second(n), 44100, 440.0))
          << "second " << n;
    }
    EXPECT_GT(test::tone_level(second(2), 44100, 440.0),
              10 * test::tone_level(second(2), 44100, 261.6));
  }

  ComPtr<_OrvanMusic2> music = create2();
  Bstr missing((dir_ / "missing.sf2").string());
  EXPECT_EQ(music->SetSoundFont(missing.get()), kNoSoundFont);
  start_organ(music.get(), dir_ / "bad.wav", 44100);
  Bstr not_a_font(organ_.string());
  EXPECT_LT(music->SetSoundFont(not_a_font.get()), 0);
  Bstr system_default(std::string{});
  EXPECT_EQ(music->SetSoundFont(system_default.get()), S_OK);
  EXPECT_EQ(boxes_->count(kLoadFailed), 0);
}

TEST_F(SecondInterface, ACClientRendersThroughTheCallMacros) {
  const std::filesystem::path wav = dir_ / "c.wav";
  const std::filesystem::path font = write_sine_font(dir_, false);
  Bstr wav_name(wav.string()), font_name(font.string()), midi(organ_.string());
  ASSERT_EQ(orvan_c_render(wav_name.get(), font_name.get(), midi.get(), 1500), S_OK);
  const Wav out = read_stereo_wav(wav);
  ASSERT_EQ(out.frames(), 3u * 22050);  // 1500 ms at 22050 Hz, twice
  const std::vector<float> left = testing::channel_of(out.samples, 0);
  const std::span<const float> all(left);
  // Its SoundFont's tone at full level, then faded by 20 dB.
  const double before = test::tone_level(all.subspan(11025, 11025), 22050, 440.0);
  const double after = test::tone_level(all.subspan(44100, 11025), 22050, 440.0);
  EXPECT_GT(before, 10 * test::tone_level(all.subspan(11025, 11025), 22050, 261.6));
  EXPECT_NEAR(testing::to_db(after / before), -20.0, 0.5);
}

}  // namespace
}  // namespace orvan::component_test
