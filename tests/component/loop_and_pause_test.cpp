// Loop regions and pause through the component, measured on renders: an intro played once,
// then the region repeated and the rest played on, from a file's own markers or from
// SetLoopRegion; a paused piece silent and going on where it stopped.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "tests/component/component_fixture.h"
#include "tests/support/smf_writer.h"
#include "tests/support/sound_measure.h"
#include "tests/support/tone_analysis.h"
#include "tests/support/wav_file.h"

namespace orvan::component_test {
namespace {

constexpr HRESULT kObjectNotSet = static_cast<HRESULT>(0x800A005Bu);
constexpr HRESULT kInvalidCall = static_cast<HRESULT>(0x88780032u);
constexpr int kRate = 48000;
constexpr LONG kPerSecond = 1536;  // music time of a second of a recording

using Wav = testing::StereoWav;

// Ogg pages carry a checksum (CRC-32, polynomial 04C11DB7, unreflected) over the page with
// its own field zeroed; a test that edits a page's bytes makes it right again.
void fix_ogg_checksums(std::string& bytes) {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i << 24;
    for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
    table[i] = r;
  }
  std::size_t at = 0;
  while (at + 27 <= bytes.size() && bytes.compare(at, 4, "OggS") == 0) {
    const std::size_t segments = static_cast<std::uint8_t>(bytes[at + 26]);
    std::size_t size = 27 + segments;
    for (std::size_t i = 0; i < segments; ++i)
      size += static_cast<std::uint8_t>(bytes[at + 27 + i]);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at + 22), 4, '\0');
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
      crc = (crc << 8) ^ table[((crc >> 24) ^ static_cast<std::uint8_t>(bytes[at + i])) & 0xFF];
    }
    for (int i = 0; i < 4; ++i)
      bytes[at + 22 + static_cast<std::size_t>(i)] = static_cast<char>(crc >> (8 * i));
    at += size;
  }
}

struct Recording {
  const char* name;
  int format;
  // Comments to put in the file ("" for none), and a WAV sampler loop [start, end) in frames.
  std::string first_tag, second_tag;
  sf_count_t sampler_start = 0, sampler_end = 0;
};

// Four seconds, each a steady tone of its own (300, 450, 600, 750 Hz), written in the
// recording's format with its markers. libsndfile writes only its own tag names, so the
// loop tags go in as a title and an artist of the same length and are renamed in the bytes.
std::filesystem::path write_recording(const std::filesystem::path& dir, const Recording& r) {
  std::vector<float> tones(4 * kRate);
  for (std::size_t i = 0; i < tones.size(); ++i) {
    const double hz = 300.0 + 150.0 * static_cast<double>(i / kRate);
    tones[i] =
        static_cast<float>(0.25 * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / kRate));
  }
  const std::filesystem::path path = dir / r.name;
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = r.format;
  SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(out, nullptr) << sf_strerror(nullptr);
  if (!out) return path;
  const auto placeholder = [](const std::string& tag, std::size_t name) {
    return std::string(tag.size() - name - 1, 'x');
  };
  if (!r.first_tag.empty()) {
    sf_set_string(out, SF_STR_TITLE, placeholder(r.first_tag, 5).c_str());
    sf_set_string(out, SF_STR_ARTIST, placeholder(r.second_tag, 6).c_str());
  }
  if (r.sampler_end > 0) {
    testing::set_sampler_loop(out, r.sampler_start, r.sampler_end);
  }
  EXPECT_EQ(sf_writef_float(out, tones.data(), static_cast<sf_count_t>(tones.size())),
            static_cast<sf_count_t>(tones.size()));
  sf_close(out);
  if (!r.first_tag.empty()) {
    std::string bytes = testing::file_bytes(path);
    for (const auto& [name, tag] :
         {std::pair<std::string, std::string>{"TITLE=", r.first_tag}, {"ARTIST=", r.second_tag}}) {
      // FLAC's writer spells the names in lower case, Vorbis's in upper.
      std::string from = name + placeholder(tag, name.size() - 1);
      std::size_t at = bytes.find(from);
      if (at == std::string::npos) {
        std::transform(from.begin(), from.end(), from.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        at = bytes.find(from);
      }
      EXPECT_NE(at, std::string::npos) << r.name << " has no " << name;
      if (at != std::string::npos) bytes.replace(at, from.size(), tag);
    }
    if ((r.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG) fix_ogg_checksums(bytes);
    EXPECT_TRUE(test::write_bytes(path.string(), {bytes.begin(), bytes.end()}));
  }
  return path;
}

// The file decoded in order, as mono frames.
std::vector<float> decode(const std::filesystem::path& path) {
  SF_INFO info{};
  SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(in, nullptr);
  if (!in) return {};
  std::vector<float> frames(static_cast<std::size_t>(info.frames));
  EXPECT_EQ(sf_readf_float(in, frames.data(), info.frames), info.frames);
  sf_close(in);
  return frames;
}

class InteractiveMusic : public ComponentTest {
 protected:
  ComPtr<_OrvanMusic2> open_render(const std::filesystem::path& wav) {
    ComPtr<_OrvanMusic2> music = create2();
    Bstr name(wav.string());
    EXPECT_EQ(music->InitOrvanRender(name.get(), kRate), S_OK);
    return music;
  }
  void load(_OrvanMusic2* music, const std::filesystem::path& file) {
    Bstr name(file.string());
    ASSERT_EQ(music->Music_Load(name.ptr()), S_OK);
    LONG length = 0;
    ASSERT_EQ(music->GetLengh(&length), S_OK) << file << " did not load";
  }
  // Plays `file` with `repeats` after `prepare` and renders `ms` into a WAV read back.
  template <class Prepare>
  Wav render(const std::filesystem::path& file, LONG repeats, LONG ms, Prepare prepare) {
    const std::filesystem::path wav = dir_ / (file.stem().string() + "_render.wav");
    ComPtr<_OrvanMusic2> music = open_render(wav);
    load(music.get(), file);
    prepare(music.get());
    EXPECT_EQ(music->Music_Play(&repeats), S_OK);
    EXPECT_EQ(music->RenderFor(ms), S_OK);
    EXPECT_EQ(music->CleanupAudio(), S_OK);
    return testing::read_stereo_wav(wav);
  }
};

// Intro [0 s, 1 s) once, the region [1 s, 3 s) three times (two repeats), then [3 s, 4 s):
// the render must equal, sample for sample, a render of those seconds laid end to end in a
// plain file, so every seam is the source's own frames and nothing is lost or doubled.
TEST_F(InteractiveMusic, RecordingsPlayTheIntroOnceTheRegionEachRepeatAndTheRestFromTheirMarkers) {
  const std::vector<Recording> recordings = {
      {"sampler.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "", "", kRate, 3 * kRate},
      {"tagged.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "LOOPSTART=48000", "LOOPLENGTH=96000"},
      {"tagged.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, "LOOPSTART=00:00:01.000",
       "LOOPEND=00:00:03.000"},
      {"tagged.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, "LOOPSTART=48000", "LOOPEND=144000"},
      {"plain.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "", ""},  // region set by hand
  };
  for (const Recording& r : recordings) {
    SCOPED_TRACE(r.name);
    const std::filesystem::path file = write_recording(dir_, r);
    const std::vector<float> source = decode(file);
    ASSERT_EQ(source.size(), 4u * kRate);
    std::vector<float> unrolled(source.begin(), source.begin() + kRate);
    for (int pass = 0; pass < 3; ++pass) {
      unrolled.insert(unrolled.end(), source.begin() + kRate, source.begin() + 3 * kRate);
    }
    unrolled.insert(unrolled.end(), source.begin() + 3 * kRate, source.end());
    const std::filesystem::path laid_out = dir_ / (std::string("unrolled_") + r.name + ".wav");
    {
      SF_INFO info{};
      info.samplerate = kRate;
      info.channels = 1;
      info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
      SNDFILE* out = sf_open(laid_out.c_str(), SFM_WRITE, &info);
      ASSERT_NE(out, nullptr);
      sf_writef_float(out, unrolled.data(), static_cast<sf_count_t>(unrolled.size()));
      sf_close(out);
    }

    const bool by_hand = r.sampler_end == 0 && r.first_tag.empty();
    LONG start = -1, end = -1;
    const Wav looped = render(file, 2, 8500, [&](_OrvanMusic2* music) {
      if (by_hand) {
        EXPECT_EQ(music->GetLoopEnd(&end), S_OK);
        EXPECT_EQ(end, 0);  // a file without markers loops whole
        EXPECT_EQ(music->SetLoopRegion(kPerSecond, 3 * kPerSecond), S_OK);
      }
      EXPECT_EQ(music->GetLoopStart(&start), S_OK);
      EXPECT_EQ(music->GetLoopEnd(&end), S_OK);
    });
    EXPECT_EQ(std::make_pair(start, end), std::make_pair(kPerSecond, 3 * kPerSecond));
    const Wav plain = render(laid_out, 0, 8500, [](_OrvanMusic2*) {});
    ASSERT_EQ(looped.frames(), plain.frames());
    ASSERT_GT(testing::rms(plain.samples, 5 * kRate, kRate), 0.05);
    std::size_t first_difference = looped.frames();
    for (std::size_t i = 0; i < looped.samples.size(); ++i) {
      if (looped.samples[i] != plain.samples[i]) {
        first_difference = i / 2;
        break;
      }
    }
    EXPECT_EQ(first_difference, looped.frames()) << "first different frame";
    // The play ended after the last second: what follows is silence, once the output's DC
    // filter has settled.
    EXPECT_LT(testing::peak(looped.samples, 8 * kRate + kRate / 10, kRate / 2 - kRate / 10), 1e-3);
  }
}

TEST_F(InteractiveMusic, ARegionOutsideThePieceIsRefusedAndATinyOneRepeatsTheRightCount) {
  ComPtr<_OrvanMusic2> music = open_render(dir_ / "refused.wav");
  EXPECT_EQ(music->SetLoopRegion(0, 768), kObjectNotSet);  // nothing loaded
  LONG value = 0;
  EXPECT_EQ(music->GetLoopStart(&value), kObjectNotSet);
  load(music.get(), organ_);
  LONG length = 0;
  ASSERT_EQ(music->GetLengh(&length), S_OK);
  for (const auto& [from, to] : std::vector<std::pair<LONG, LONG>>{
           {768, 768}, {1536, 768}, {-1, 768}, {0, length + 1}, {length, length + 768}}) {
    EXPECT_EQ(music->SetLoopRegion(from, to), E_INVALIDARG) << from << ".." << to;
  }
  ASSERT_EQ(music->SetLoopRegion(768, length), S_OK);
  ASSERT_EQ(music->SetLoopRegion(0, 0), S_OK);
  LONG start = -1, end = -1;
  ASSERT_EQ(music->GetLoopStart(&start), S_OK);
  ASSERT_EQ(music->GetLoopEnd(&end), S_OK);
  EXPECT_EQ(std::make_pair(start, end), std::make_pair(LONG{0}, LONG{0}));

  // A region of one tick at master tempo 100 lasts 0.3125 frames: 100000 repeats take 651 ms
  // after the 5 ms before it, and the 5375 ticks after it 35 ms more. The passes a block
  // holds are counted, not played, and the count comes out right.
  ASSERT_EQ(music->SetLoopRegion(768, 769), S_OK);
  float tempo = 100.0f;
  LONG repeats = 100000;
  ASSERT_EQ(music->SetMasterTempo(&tempo), S_OK);
  ASSERT_EQ(music->Music_Play(&repeats), S_OK);
  ASSERT_EQ(music->RenderFor(600), S_OK);
  VARIANT_BOOL playing = VARIANT_FALSE;
  LONG position = 0;
  ASSERT_EQ(music->IsPlaying(&playing), S_OK);
  ASSERT_EQ(music->GetCurrentPosition(&position), S_OK);
  EXPECT_EQ(playing, VARIANT_TRUE);
  EXPECT_TRUE(position == 768 || position == 769) << position;
  ASSERT_EQ(music->RenderFor(150), S_OK);
  ASSERT_EQ(music->IsPlaying(&playing), S_OK);
  ASSERT_EQ(music->GetCurrentPosition(&position), S_OK);
  EXPECT_EQ(playing, VARIANT_FALSE);
  EXPECT_EQ(position, length);
}

// One chromatic note a beat (0.5 s), C4 upwards, the channel's volume halved on beat 4: the
// loop start's volume must come back with every repeat.
std::filesystem::path write_beats(const std::filesystem::path& path, bool controller_111) {
  test::SmfWriter smf(0, 480);
  test::SmfTrack& track = smf.add_track();
  track.tempo(0, 500000).program_change(0, 0, 19).controller(0, 0, 7, 110);
  for (int beat = 0; beat < 8; ++beat) {
    if (controller_111 && beat == 2) track.controller(0, 0, 111, 0);
    if (!controller_111 && beat == 3) track.marker(0, "LoopStart");
    if (!controller_111 && beat == 6) track.marker(0, "LOOPEND");
    if (beat == 4) track.controller(0, 0, 7, 55);
    track.note_on(0, 0, 60 + beat, 100).note_off(480, 0, 60 + beat);
  }
  track.end_of_track(0);
  EXPECT_TRUE(smf.write_file(path.string()));
  return path;
}

// Which of the eight notes sounds loudest.
int loudest_beat(std::span<const float> mono) {
  int best = -1;
  double best_level = 0.0;
  for (int beat = 0; beat < 8; ++beat) {
    const double level = test::tone_level(mono, kRate, 440.0 * std::pow(2.0, (beat - 9) / 12.0));
    if (level > best_level) {
      best_level = level;
      best = beat;
    }
  }
  return best;
}

TEST_F(InteractiveMusic, MidiRepeatsTheMarkedBeatsWithTheirControllersAndLeavesNoNoteHanging) {
  struct Piece {
    std::filesystem::path file;
    LONG repeats;
    std::pair<LONG, LONG> region;  // what GetLoopStart and GetLoopEnd answer after the load
    std::vector<int> expected;     // the note heard in each beat
  };
  const std::vector<Piece> pieces = {
      // Controller 111 on beat 2: beats 2..7 again after the first pass (one repeat).
      {write_beats(dir_ / "cc111.mid", true),
       1,
       {2 * 768, 8 * 768},
       {0, 1, 2, 3, 4, 5, 6, 7, 2, 3, 4, 5, 6, 7}},
      // Markers on beats 3 and 6: beats 3..5 three times (two repeats), then 6 and 7.
      {write_beats(dir_ / "markers.mid", false),
       2,
       {3 * 768, 6 * 768},
       {0, 1, 2, 3, 4, 5, 3, 4, 5, 3, 4, 5, 6, 7}},
  };
  for (const Piece& piece : pieces) {
    SCOPED_TRACE(piece.file.filename().string());
    std::pair<LONG, LONG> region{-1, -1};
    const Wav out = render(piece.file, piece.repeats, 9000, [&](_OrvanMusic2* music) {
      EXPECT_EQ(music->GetLoopStart(&region.first), S_OK);
      EXPECT_EQ(music->GetLoopEnd(&region.second), S_OK);
    });
    EXPECT_EQ(region, piece.region);
    ASSERT_EQ(out.frames(), 9u * kRate);
    const std::vector<float> mono = testing::channel_of(out.samples, 0);
    std::vector<int> heard;
    std::vector<double> levels;
    for (std::size_t beat = 0; beat < piece.expected.size(); ++beat) {
      // The middle of each beat, clear of onsets and releases.
      const std::size_t from = beat * kRate / 2 + kRate / 8;
      heard.push_back(loudest_beat(std::span<const float>(mono).subspan(from, kRate / 4)));
      levels.push_back(testing::to_db(testing::rms(out.samples, from, kRate / 4)));
    }
    EXPECT_EQ(heard, piece.expected);
    // The volume drop on beat 4 is heard, and each note heard again has its first level: the
    // controllers at the loop start were restored.
    EXPECT_LT(levels[4], levels[3] - 6.0);
    for (std::size_t i = 0; i < piece.expected.size(); ++i) {
      const auto first = static_cast<std::size_t>(
          std::find(piece.expected.begin(), piece.expected.end(), piece.expected[i]) -
          piece.expected.begin());
      if (first != i) {
        EXPECT_NEAR(levels[i], levels[first], 1.0) << "beat " << i;
      }
    }
    // The piece ended at 7 s: a second later, after the organ's release, nothing sounds.
    EXPECT_LT(testing::to_db(testing::rms(out.samples, 8 * kRate, kRate)), -50.0);
  }
}

// A recording paused at 1.5 s for a second goes on with its very next frame: after the
// pause the render is the unpaused render one second late, and the pause itself is silent.
TEST_F(InteractiveMusic, APausedRecordingIsSilentAndGoesOnFromTheFrameItStoppedAt) {
  const std::filesystem::path file =
      write_recording(dir_, {"paused.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "", ""});
  const Wav plain = render(file, 0, 4000, [](_OrvanMusic2*) {});
  const std::filesystem::path wav = dir_ / "paused_render.wav";
  ComPtr<_OrvanMusic2> music = open_render(wav);
  EXPECT_EQ(music->Music_Pause(), kInvalidCall);  // nothing playing
  load(music.get(), file);
  ASSERT_EQ(music->Music_Play(nullptr), S_OK);
  ASSERT_EQ(music->RenderFor(1500), S_OK);
  EXPECT_EQ(music->Music_Resume(), S_FALSE);  // playing on already
  ASSERT_EQ(music->Music_Pause(), S_OK);
  EXPECT_EQ(music->Music_Pause(), S_FALSE);
  LONG position = 0;
  VARIANT_BOOL playing = VARIANT_TRUE;
  ASSERT_EQ(music->RenderFor(1000), S_OK);
  ASSERT_EQ(music->IsPlaying(&playing), S_OK);
  EXPECT_EQ(playing, VARIANT_FALSE);
  ASSERT_EQ(music->GetCurrentPosition(&position), S_OK);
  EXPECT_EQ(position, 3 * kPerSecond / 2);
  ASSERT_EQ(music->Music_Resume(), S_OK);
  ASSERT_EQ(music->IsPlaying(&playing), S_OK);
  EXPECT_EQ(playing, VARIANT_TRUE);
  ASSERT_EQ(music->RenderFor(2000), S_OK);
  // Stopped while paused, a piece has nothing left to resume.
  ASSERT_EQ(music->Music_Pause(), S_OK);
  ASSERT_EQ(music->Music_Stop(), S_OK);
  EXPECT_EQ(music->Music_Resume(), kInvalidCall);
  ASSERT_EQ(music->CleanupAudio(), S_OK);
  const Wav paused = testing::read_stereo_wav(wav);
  ASSERT_EQ(paused.frames(), 9u * kRate / 2);

  const std::size_t pause = 3 * kRate / 2, resume = 5 * kRate / 2;
  for (std::size_t i = 0; i < 2 * pause; ++i) ASSERT_EQ(paused.samples[i], plain.samples[i]) << i;
  EXPECT_LT(testing::peak(paused.samples, pause + kRate / 10, kRate - kRate / 10), 1e-3);
  // Going on: a tenth of a second for the output's DC filter to settle after the silence.
  double worst = 0.0;
  for (std::size_t frame = resume + kRate / 10; frame < paused.frames(); ++frame) {
    for (std::size_t c = 0; c < 2; ++c) {
      worst =
          std::max(worst, static_cast<double>(std::abs(paused.samples[2 * frame + c] -
                                                       plain.samples[2 * (frame - kRate) + c])));
    }
  }
  EXPECT_LT(worst, 1e-3);
  ASSERT_GT(testing::rms(paused.samples, resume, kRate), 0.1);
}

// MIDI paused inside beat 2 for a second: its note is released, nothing sounds, and after
// the resume beat 3 comes a quarter beat later, then beat 4 with its quieter volume.
TEST_F(InteractiveMusic, APausedMidiPieceReleasesItsNotesAndKeepsItsBeat) {
  const std::filesystem::path file = write_beats(dir_ / "pause.mid", true);
  const std::filesystem::path wav = dir_ / "pause_render.wav";
  ComPtr<_OrvanMusic2> music = open_render(wav);
  load(music.get(), file);
  ASSERT_EQ(music->Music_Play(nullptr), S_OK);
  ASSERT_EQ(music->RenderFor(1250), S_OK);
  ASSERT_EQ(music->Music_Pause(), S_OK);
  ASSERT_EQ(music->RenderFor(1000), S_OK);
  ASSERT_EQ(music->Music_Resume(), S_OK);
  ASSERT_EQ(music->RenderFor(1250), S_OK);
  ASSERT_EQ(music->CleanupAudio(), S_OK);
  const Wav out = testing::read_stereo_wav(wav);
  ASSERT_EQ(out.frames(), 3500u * kRate / 1000);
  const std::vector<float> mono = testing::channel_of(out.samples, 0);
  const auto beat_at = [&](double seconds) {
    const auto from = static_cast<std::size_t>(seconds * kRate);
    return loudest_beat(std::span<const float>(mono).subspan(from, kRate / 4));
  };
  const auto level_at = [&](double seconds) {
    return testing::to_db(
        testing::rms(out.samples, static_cast<std::size_t>(seconds * kRate), kRate / 4));
  };
  EXPECT_EQ(beat_at(1.0), 2);
  EXPECT_LT(level_at(1.9), -50.0);     // the paused second, after the release
  EXPECT_LT(level_at(2.25), -50.0);    // the rest of beat 2 is not struck again
  EXPECT_EQ(beat_at(2.5 + 0.125), 3);  // beat 3 from 2.75 s
  EXPECT_EQ(beat_at(3.0 + 0.125), 4);  // beat 4 from 3.25 s
  EXPECT_LT(level_at(3.125), level_at(2.625) - 6.0);
}

// Two organ notes held on channels 1 (C4) and 2 (D#4, clear of C4's and its lower octave's
// overtones); channel 2 glides out over a second from 1 s, its volume controller drops at
// 2.5 s while it is silent, and it glides back in over half a second from 3 s. Against the
// same piece played untouched: channel 2 rejoins at the music's new volume, channel 1 is
// the same throughout.
TEST_F(InteractiveMusic, SetChannelVolumeGlidesOneChannelOutAndBackWhileItFollowsTheMusic) {
  const std::filesystem::path file = dir_ / "two_channels.mid";
  test::SmfWriter smf(0, 480);
  smf.add_track()
      .tempo(0, 500000)
      .program_change(0, 0, 19)
      .program_change(0, 1, 19)
      .controller(0, 0, 7, 90)
      .controller(0, 1, 7, 90)
      .note_on(0, 0, 60, 70)
      .note_on(0, 1, 63, 70)
      .controller(5 * 480, 1, 7, 45)
      .note_off(7 * 480, 0, 60)
      .note_off(0, 1, 63)
      .end_of_track(0);
  ASSERT_TRUE(smf.write_file(file.string()));
  const auto render_channels = [&](bool glide) {
    const std::filesystem::path wav = dir_ / (glide ? "glide.wav" : "untouched.wav");
    ComPtr<_OrvanMusic2> music = open_render(wav);
    load(music.get(), file);
    EXPECT_EQ(music->Music_Play(nullptr), S_OK);
    EXPECT_EQ(music->RenderFor(1000), S_OK);
    if (glide) {
      EXPECT_EQ(music->SetChannelVolume(2, -10000, 1000), S_OK);
    }
    EXPECT_EQ(music->RenderFor(2000), S_OK);
    if (glide) {
      EXPECT_EQ(music->SetChannelVolume(2, 0, 500), S_OK);
    }
    EXPECT_EQ(music->RenderFor(1500), S_OK);
    for (const auto& [channel, volume, ms] : std::vector<std::tuple<LONG, LONG, LONG>>{
             {0, -600, 0}, {17, -600, 0}, {2, 1, 0}, {2, -10001, 0}, {2, -600, -1}}) {
      EXPECT_EQ(music->SetChannelVolume(channel, volume, ms), E_INVALIDARG) << channel;
    }
    EXPECT_EQ(music->CleanupAudio(), S_OK);
    const Wav out = testing::read_stereo_wav(wav);
    EXPECT_EQ(out.frames(), 9u * kRate / 2);
    return testing::channel_of(out.samples, 0);
  };
  const std::vector<float> glided = render_channels(true);
  const std::vector<float> untouched = render_channels(false);
  ASSERT_EQ(glided.size(), untouched.size());
  // How much quieter than untouched one tone is in the fifth of a second around `centre`.
  const auto change_at = [&](double centre, double hz) {
    const auto from = static_cast<std::size_t>((centre - 0.1) * kRate);
    const auto level = [&](const std::vector<float>& mono) {
      return testing::to_db(
          test::tone_level(std::span<const float>(mono).subspan(from, kRate / 5), kRate, hz));
    };
    return level(glided) - level(untouched);
  };
  const double c4 = 261.63, ds4 = 311.13;
  EXPECT_NEAR(change_at(0.7, ds4), 0.0, 0.5);
  // Evenly in decibels down to -100 dB over the second: -50 dB halfway.
  EXPECT_NEAR(change_at(1.5, ds4), -50.0, 4.0);
  EXPECT_LT(change_at(2.3, ds4), -70.0);
  // Back in step with the music's own volume, which dropped meanwhile.
  EXPECT_NEAR(change_at(4.0, ds4), 0.0, 0.5);
  const auto untouched_db = [&](double centre) {
    const auto from = static_cast<std::size_t>((centre - 0.1) * kRate);
    return testing::to_db(
        test::tone_level(std::span<const float>(untouched).subspan(from, kRate / 5), kRate, ds4));
  };
  EXPECT_LT(untouched_db(4.0), untouched_db(0.7) - 6.0);
  for (const double at : {0.7, 1.5, 2.3, 4.0}) EXPECT_NEAR(change_at(at, c4), 0.0, 0.5) << at;
}

}  // namespace
}  // namespace orvan::component_test
