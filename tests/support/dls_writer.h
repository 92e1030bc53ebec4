// Writes small DLS level 1 instrument collections for tests: instruments whose sound is easy
// to recognise in a spectrum (a pure sine, a square wave), and the raw RIFF pieces needed to
// build broken collections on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvan::test {

using Bytes = std::vector<std::uint8_t>;

// One mono 16-bit PCM wave of the wave pool.
struct DlsWave {
  std::vector<std::int16_t> samples;
  std::uint32_t sample_rate = 44100;
  std::uint16_t unity_note = 69;  // the MIDI note at which the wave plays as recorded
  std::uint32_t loop_start = 0;
  std::uint32_t loop_length = 0;  // 0: played once, not looped
};

// One instrument with a single region over every key and velocity.
struct DlsInstrument {
  std::uint32_t program = 0;
  std::uint8_t bank_msb = 0;  // controller 0
  std::uint8_t bank_lsb = 0;  // controller 32
  bool drums = false;
  std::uint32_t wave = 0;  // index into DlsCollection::waves
  std::string name;
};

struct DlsCollection {
  std::vector<DlsInstrument> instruments;
  std::vector<DlsWave> waves;
  // Level 2 layout: 'rgn2' regions with a layer field and a 'lar2' articulation list.
  bool level2 = false;
};

// A whole collection file: RIFF 'DLS ' with colh, lins, ptbl and wvpl.
Bytes write_dls(const DlsCollection& collection);

// Waves whose loop holds a whole number of periods, so a held note keeps its pitch and
// spectrum: `hz` must divide evenly into some loop shorter than a second at `sample_rate`.
DlsWave make_sine_wave(double hz, std::uint32_t sample_rate, std::uint16_t unity_note,
                       double amplitude = 0.5);
DlsWave make_square_wave(double hz, std::uint32_t sample_rate, std::uint16_t unity_note,
                         double amplitude = 0.5);

// Program 0 is a pure 440 Hz sine and program 1 a 440 Hz square, both at unity note 69
// (A4), so note 69 on either sounds at 440 Hz.
DlsCollection sine_and_square_collection();

// Raw pieces: a chunk with its 8-byte header and pad byte, and a RIFF or LIST container.
Bytes riff_chunk(std::string_view id, const Bytes& body);
Bytes riff_container(std::string_view kind, std::string_view form,
                     const std::vector<Bytes>& children);

// Little-endian helpers for patching headers in broken-file tests.
void put_u32(Bytes& bytes, std::size_t offset, std::uint32_t value);
std::uint32_t get_u32(const Bytes& bytes, std::size_t offset);

// Writes `bytes` to `path`, replacing the file; false when it cannot be written.
bool save_bytes(const std::string& path, const Bytes& bytes);

}  // namespace orvan::test
