// The harmonic make-up of a held tone, for telling instruments apart by spectrum.
#pragma once

#include <span>

namespace orvan::test {

// Level of one frequency in a mono signal (Hann-windowed single-bin DFT), linear.
double tone_level(std::span<const float> mono, int sample_rate, double hz);

// A tone at `fundamental_hz`: its level there, and its overtones relative to it in dB.
struct ToneProfile {
  double fundamental = 0.0;
  double strongest_overtone_db = 0.0;  // the loudest of harmonics 2 to 8
  double second_db = 0.0;
  double third_db = 0.0;
};

ToneProfile profile_tone(std::span<const float> mono, int sample_rate, double fundamental_hz);

}  // namespace orvan::test
