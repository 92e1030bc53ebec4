#include "tests/support/wav_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

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

}  // namespace orvan::testing
