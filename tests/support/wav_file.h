// Reading back what a render wrote, and the bytes of any file, for tests that compare.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orvan::testing {

// The General MIDI SoundFont every test channel uses unless it asks for another.
inline constexpr const char* kSmallSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
inline constexpr const char* kLargeSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

struct StereoWav {
  int rate = 0;
  std::vector<float> samples;  // interleaved stereo
  std::size_t frames() const { return samples.size() / 2; }
};

// The whole of a two-channel sound file as floats; a failed read is a test failure and
// gives an empty result.
StereoWav read_stereo_wav(const std::filesystem::path& path);

// The file's bytes, empty if it cannot be read.
std::string file_bytes(const std::filesystem::path& path);

}  // namespace orvan::testing
