// Builds small FastTracker 2 (XM) modules byte by byte, so that a test knows exactly what the
// module holds: one instrument of one looping single-cycle sine, and patterns of cells.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvan::testing {

// One pattern cell. note: 1 = C-0 ... 97 = key off, 0 = none. effect/param as FT2 writes them
// (0x0E, 0x60: pattern loop start; 0x0E, 0x6n: loop back n times).
struct XmCell {
  std::uint8_t note = 0;
  std::uint8_t instrument = 0;
  std::uint8_t effect = 0;
  std::uint8_t param = 0;
};

struct XmPattern {
  int rows = 16;
  std::vector<std::vector<XmCell>> cells;  // [row][channel]; missing cells are empty
};

struct XmModule {
  int channels = 2;
  int speed = 6;  // ticks per row
  int bpm = 125;  // a row lasts speed * 2.5 / bpm seconds
  std::vector<std::uint8_t> orders{0};
  std::vector<XmPattern> patterns{XmPattern{}};
  // The sample: one cycle of a sine this many samples long, looping. Note C-4 (49) plays it
  // at 8363 Hz, so a cycle of 32 samples sounds 8363 / 32 Hz there.
  int cycle_samples = 32;
};

// A note number from a name's octave and semitone (C-4 = note(4, 0) = 49).
constexpr std::uint8_t xm_note(int octave, int semitone) {
  return static_cast<std::uint8_t>(octave * 12 + semitone + 1);
}
// The frequency the module's sine sounds at `note`, with the linear frequency table.
double xm_frequency(const XmModule& module, std::uint8_t note);

std::vector<std::uint8_t> write_xm(const XmModule& module);
// Writes the module to `path`.
void save_xm(const XmModule& module, const std::string& path);

}  // namespace orvan::testing
