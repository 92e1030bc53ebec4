// Reading back what a render wrote, and the bytes of any file, for tests that compare.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct sf_private_tag;  // libsndfile's SNDFILE

namespace orvan::testing {

// The General MIDI SoundFont every test channel uses unless it asks for another.
inline constexpr const char* kSmallSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
inline constexpr const char* kLargeSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
// Real MIDI files (Debian's openttd-openmsx), with the trailing slash.
inline constexpr const char* kOpenMsxFolder = "/usr/share/games/openttd/baseset/openmsx/";

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

// A cue point of a WAV file a test writes, and its label ("": none).
struct WavCue {
  std::int64_t frame = 0;
  std::string name;
};

// Writes `seconds` of a mono 16-bit tone at `rate` Hz, as a sound editor saves it: a sampler
// loop over frames [loop_start, loop_end) unless loop_end is 0, the cue points (identifiers 1,
// 2, ... in order) and a label list naming those that have a name. A failure is a test failure.
void write_cued_wav(const std::filesystem::path& path, int rate, double seconds,
                    std::int64_t loop_start, std::int64_t loop_end,
                    const std::vector<WavCue>& cues);

// Gives a WAV file being written a sampler chunk with one forward loop over frames
// [start, end), as sound editors mark a loop. A failure is a test failure.
void set_sampler_loop(sf_private_tag* out, std::int64_t start, std::int64_t end);

// Appends raw chunks (each id, size and body as the caller wrote them) to a RIFF file and
// corrects its size: for files no writer would make.
void append_riff_chunks(const std::filesystem::path& path, const std::string& chunks);
// One chunk's bytes: its four-letter id, its size and `body`, padded to an even length.
std::string riff_chunk(const char* id, const std::string& body);
// A 32-bit little-endian value as bytes.
std::string le32_bytes(std::uint32_t value);

}  // namespace orvan::testing
