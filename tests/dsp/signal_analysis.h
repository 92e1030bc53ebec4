// Signal generators and measurements for effect tests: everything is judged by rendering
// sound through an effect and analysing what comes out.
#pragma once

#include <vector>

#include "platform/music/dsp/effect.h"

namespace orvan::music::dsp::testing {

inline constexpr double kRate = 48000.0;

using Stereo = std::vector<float>;  // interleaved L, R
using Mono = std::vector<float>;

Stereo impulse(int frames, float level = 1.0f);
Stereo sine(double hz, float amplitude, int frames, double rate = kRate);
Stereo noise(int frames, float amplitude, unsigned seed = 1);

// Runs `input` through `effect` in blocks of `block` frames; returns the output.
Stereo render(Effect& effect, Stereo input, int block = 480);

Mono channel(const Stereo& stereo, int ch);
Mono difference(const Mono& a, const Mono& b);
Mono slice(const Mono& x, int begin, int end);

double rms(const Mono& x);
double peak(const Mono& x);
double gain_db(double ratio);

// Magnitude of the component at `hz` (a single DFT bin; use whole periods for exactness).
double amplitude_at(const Mono& x, double hz, double rate = kRate);
// Total harmonic distortion: harmonics 2..10 against the fundamental, as a ratio.
double thd(const Mono& x, double fundamental_hz, double rate = kRate);

// Fourth-order Butterworth filters, independent of the code under test.
Mono lowpass(const Mono& x, double hz, double rate = kRate);
Mono highpass(const Mono& x, double hz, double rate = kRate);

// The -60 dB decay time of an impulse response in seconds: a line fitted to the backward
// (Schroeder) energy integral between -5 and -35 dB, extended to -60 dB.
double decay_time_60(const Mono& impulse_response, double rate = kRate);

// First index whose magnitude exceeds `threshold`, or -1.
int onset(const Mono& x, float threshold);

// Largest sample-to-sample step in [begin, end): clicks show up as outsized steps.
double largest_step(const Mono& x, int begin, int end);

}  // namespace orvan::music::dsp::testing
