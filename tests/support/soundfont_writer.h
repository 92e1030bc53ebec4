// Writes small SoundFont files for tests: one preset whose one instrument plays one looped
// sample over every key, so that a note on it sounds at a pitch a spectrum finds at once.
// SoundFont 2 carries 16-bit samples; SoundFont 3 carries the sample as an Ogg Vorbis
// stream, which the caller encodes.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/dls_writer.h"

namespace orvan::test {

struct SoundFontSample {
  std::vector<std::int16_t> pcm;  // SoundFont 2: the sample itself
  Bytes ogg;                      // SoundFont 3: the sample as Ogg Vorbis (pcm then unused)
  std::uint32_t frames = 0;       // the decoded sample's length (for ogg; pcm gives its own)
  std::uint32_t sample_rate = 44100;
  std::uint8_t root_key = 60;  // the key at which it plays as recorded
  // The loop, in frames of the decoded sample; the whole sample when both are 0.
  std::uint32_t loop_start = 0;
  std::uint32_t loop_end = 0;
};

struct SoundFontPreset {
  std::uint16_t bank = 0;
  std::uint16_t program = 0;
  SoundFontSample sample;
};

// A whole file: RIFF 'sfbk' with INFO (version 2.1, or 3.1 for an Ogg sample), sdta and pdta.
Bytes write_soundfont(const SoundFontPreset& preset);

// `periods` whole periods of a sine at `amplitude` (of full scale) in `frames` samples: looped
// over the whole sample it sounds at periods * sample_rate / frames Hz at the root key.
std::vector<std::int16_t> sine_periods(std::uint32_t frames, int periods, double amplitude = 0.5);

}  // namespace orvan::test
