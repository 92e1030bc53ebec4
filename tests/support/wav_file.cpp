#include "tests/support/wav_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace orvan::testing {

StereoWav read_stereo_wav(const std::filesystem::path& path) {
  StereoWav out;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path;
  if (!file) return out;
  EXPECT_EQ(info.channels, 2) << path;
  out.rate = info.samplerate;
  out.samples.resize(static_cast<std::size_t>(info.frames) * 2);
  EXPECT_EQ(sf_readf_float(file, out.samples.data(), info.frames), info.frames) << path;
  sf_close(file);
  return out;
}

std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string le32_bytes(std::uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i)
    out[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  return out;
}

std::string riff_chunk(const char* id, const std::string& body) {
  std::string out = std::string(id, 4) + le32_bytes(static_cast<std::uint32_t>(body.size())) + body;
  if (body.size() % 2 == 1) out += '\0';
  return out;
}

void append_riff_chunks(const std::filesystem::path& path, const std::string& chunks) {
  std::string bytes = file_bytes(path);
  ASSERT_GE(bytes.size(), 12u) << path;
  bytes += chunks;
  bytes.replace(4, 4, le32_bytes(static_cast<std::uint32_t>(bytes.size() - 8)));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void set_sampler_loop(SNDFILE* out, std::int64_t start, std::int64_t end) {
  SF_INSTRUMENT instrument{};
  instrument.basenote = 60;
  instrument.velocity_hi = 127;
  instrument.key_hi = 127;
  instrument.loop_count = 1;
  instrument.loops[0] = {SF_LOOP_FORWARD, static_cast<unsigned>(start), static_cast<unsigned>(end),
                         0};
  EXPECT_EQ(sf_command(out, SFC_SET_INSTRUMENT, &instrument, sizeof instrument), SF_TRUE);
}

void write_cued_wav(const std::filesystem::path& path, int rate, double seconds,
                    std::int64_t loop_start, std::int64_t loop_end,
                    const std::vector<WavCue>& cues) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(out, nullptr) << path << ": " << sf_strerror(nullptr);
  ASSERT_LE(cues.size(), 100u);  // what SF_CUES holds
  SF_CUES points{};
  points.cue_count = static_cast<std::uint32_t>(cues.size());
  for (std::size_t i = 0; i < cues.size(); ++i) {
    SF_CUE_POINT& p = points.cue_points[i];
    p.indx = static_cast<std::int32_t>(i + 1);
    p.position = static_cast<std::uint32_t>(cues[i].frame);
    p.fcc_chunk = 0x61746164;  // "data"
    p.sample_offset = static_cast<std::uint32_t>(cues[i].frame);
  }
  if (!cues.empty()) {
    EXPECT_EQ(sf_command(out, SFC_SET_CUE, &points, sizeof points), SF_TRUE);
  }
  if (loop_end > 0) {
    set_sampler_loop(out, loop_start, loop_end);
  }
  std::vector<float> tone(static_cast<std::size_t>(seconds * rate));
  for (std::size_t i = 0; i < tone.size(); ++i)
    tone[i] =
        static_cast<float>(0.25 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / rate));
  EXPECT_EQ(sf_writef_float(out, tone.data(), static_cast<sf_count_t>(tone.size())),
            static_cast<sf_count_t>(tone.size()));
  sf_close(out);
  // libsndfile writes cue points without their labels.
  if (std::all_of(cues.begin(), cues.end(), [](const WavCue& c) { return c.name.empty(); })) return;
  std::string labels = "adtl";
  for (std::size_t i = 0; i < cues.size(); ++i) {
    if (!cues[i].name.empty())
      labels += riff_chunk("labl", le32_bytes(static_cast<std::uint32_t>(i + 1)) + cues[i].name +
                                       std::string(1, '\0'));
  }
  append_riff_chunks(path, riff_chunk("LIST", labels));
}

}  // namespace orvan::testing
