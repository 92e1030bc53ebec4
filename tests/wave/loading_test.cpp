// Which files become wave segments, which are refused and why; and letting go of the file.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/music/wave/wave_source.h"
#include "tests/support/run_command.h"
#include "tests/support/wav_file.h"
#include "tests/wave/wave_fixture.h"

namespace orvan::music::testing {
namespace {

void write_text(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(WaveLoading, ContentDecidesAndBrokenFilesAreRefusedWithTheirReason) {
  const std::string& wav = music_wav(kRate);
  // A WAV file named like a MIDI file is still a WAV file, and a MIDI file stays MIDI.
  const std::string disguised = scratch_dir() + "/actually_wave.mid";
  std::filesystem::copy_file(wav, disguised, std::filesystem::copy_options::overwrite_existing);
  auto segment = load(disguised);
  ASSERT_TRUE(segment && segment->wave());
  EXPECT_EQ(segment->wave()->info().container, "wav");
  EXPECT_EQ(segment->wave()->info().codec, "pcm_16");
  EXPECT_EQ(segment->wave()->info().frames, 3 * kRate);
  auto midi = load("/usr/share/games/openttd/baseset/openmsx/the_fast_route.mid");
  ASSERT_TRUE(midi);
  EXPECT_FALSE(midi->wave());

  const std::string aiff = scratch_dir() + "/tone.aiff";
  must_run("sox -n -r 48000 -c 1 " + aiff + " synth 0.1 sine 440");
  load(aiff, com::MUSIC_E_UNSUPPORTED_FORMAT);
  const std::string text = scratch_dir() + "/notes.txt";
  write_text(text, "these are not the sounds you are looking for\n");
  load(text, com::MUSIC_E_UNSUPPORTED_FORMAT);
  // A WAV header that declares 3 channels of 0 Hz.
  const std::string bytes = orvan::testing::file_bytes(wav);
  ASSERT_GT(bytes.size(), 44u);
  std::string zero_rate = bytes;
  zero_rate.replace(24, 4, std::string(4, '\0'));
  const std::string bad = scratch_dir() + "/zero_rate.wav";
  write_text(bad, zero_rate);
  load(bad, com::MUSIC_E_UNSUPPORTED_FORMAT);
  // A header with no audio after it.
  const std::string header_only = scratch_dir() + "/header_only.wav";
  write_text(header_only, bytes.substr(0, 44));
  load(header_only, com::MUSIC_E_EMPTY_FILE);
  load(scratch_dir() + "/missing.flac", com::MUSIC_E_CANNOT_OPEN);
  load(scratch_dir(), com::MUSIC_E_IS_DIRECTORY);
  write_text(scratch_dir() + "/empty.ogg", "");
  load(scratch_dir() + "/empty.ogg", com::MUSIC_E_EMPTY_FILE);
}

// Cue chunks as no editor should write them: a count beyond the chunk's bytes, an identifier
// used twice, a point past the end, a label running past its list, a second cue chunk running
// past the file. What makes sense is kept, sorted by frame; the file loads as any other.
TEST(WaveLoading, CuePointsAreReadAsFarAsTheirChunksHoldThem) {
  using orvan::testing::le32_bytes;
  using orvan::testing::riff_chunk;
  const std::string path = scratch_dir() + "/hostile_cues.wav";
  ASSERT_NO_FATAL_FAILURE(orvan::testing::write_cued_wav(path, kRate, 0.5, 0, 0, {}));
  const auto point = [](std::uint32_t id, std::uint32_t frame) {
    return le32_bytes(id) + le32_bytes(frame) + "data" + le32_bytes(0) + le32_bytes(0) +
           le32_bytes(frame);
  };
  const auto past_end = static_cast<std::uint32_t>(kRate / 2 + 10);
  const std::string cues = riff_chunk("cue ", le32_bytes(1000) + point(7, 300) + point(7, 100) +
                                                  point(9, 200) + point(11, past_end));
  const std::string labels =
      riff_chunk("LIST", "adtl" + riff_chunk("labl", le32_bytes(9) + "nine" + '\0') +
                             riff_chunk("labl", le32_bytes(9) + "again" + '\0') + "labl" +
                             le32_bytes(200) + le32_bytes(7) + "seven");
  const std::string cut = "cue " + le32_bytes(0x7FFFFFF0) + le32_bytes(5) + point(13, 400);
  ASSERT_NO_FATAL_FAILURE(orvan::testing::append_riff_chunks(path, cues + labels + cut));

  Ref<DirectMusicSegment8> segment = load(path);
  ASSERT_TRUE(segment && segment->wave());
  std::vector<std::pair<std::int64_t, std::string>> read;
  for (const wave::CuePoint& c : segment->wave()->info().cues) read.emplace_back(c.frame, c.name);
  const std::vector<std::pair<std::int64_t, std::string>> expected = {
      {200, "nine"}, {300, ""}, {400, ""}};
  EXPECT_EQ(read, expected);
  EXPECT_EQ(segment->wave()->info().frames, kRate / 2);
}

bool process_holds(const std::string& path) {
  const auto target = std::filesystem::canonical(path);
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(fd.path(), error) == target) return true;
  }
  return false;
}

TEST(WaveLoading, CloseDownWhilePlayingStopsTheDecoderAndLetsGoOfTheFile) {
  const std::string path = scratch_dir() + "/held.flac";
  must_run("flac -s -f -o " + path + " " + music_wav(kRate));
  {
    Player player;
    Ref<DirectMusicSegment8> segment = load(path);
    ASSERT_TRUE(segment);
    auto state = player.play(segment, -1);
    player.render(2048);
    EXPECT_TRUE(process_holds(path));
    // Rendering on and closing while the decode thread is busy.
    EXPECT_EQ(player.perf->CloseDown(), com::S_OK);
    segment = nullptr;
    state = nullptr;
    EXPECT_FALSE(process_holds(path));
  }
  EXPECT_FALSE(process_holds(path));
}

}  // namespace
}  // namespace orvan::music::testing
