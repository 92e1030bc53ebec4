// Measurements on rendered sound, shared by tests and benchmarks.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace orvan::testing {

// Interleaved stereo frames -> one channel.
std::vector<float> channel_of(std::span<const float> interleaved, int channel);

// Root mean square of both channels of interleaved stereo frames [first, first + count).
double rms(std::span<const float> interleaved, std::size_t first_frame, std::size_t frames);
double peak(std::span<const float> interleaved, std::size_t first_frame, std::size_t frames);
double to_db(double linear);

// The first frame whose magnitude exceeds `threshold` on either channel, or -1.
long first_frame_above(std::span<const float> interleaved, float threshold,
                       std::size_t from_frame = 0);
// The last frame whose magnitude exceeds `threshold` on either channel, or -1.
long last_frame_above(std::span<const float> interleaved, float threshold);

// The frequency (Hz) with the most energy in a mono signal, searched from `low` to `high`
// in steps of `step` Hz (a direct DFT, for tests only).
double dominant_frequency(std::span<const float> mono, int sample_rate, double low, double high,
                          double step);

// Loudness envelope of interleaved stereo: RMS over windows of `window` frames, one every
// `hop` frames (0: windows side by side).
std::vector<double> rms_envelope(std::span<const float> interleaved, std::size_t window,
                                 std::size_t hop = 0);

struct LagCorrelation {
  double correlation = 0.0;  // Pearson correlation at the best lag
  int lag = 0;               // windows by which `b` is later than `a`
};
// Best Pearson correlation of two envelopes over lags -max_lag..max_lag (in windows).
LagCorrelation best_lag_correlation(std::span<const double> a, std::span<const double> b,
                                    int max_lag);

// Where `heard` (interleaved stereo) holds the `frames` frames of `reference` from
// `ref_frame` on, sample for sample: the lag (frames of `heard` minus frames of `reference`)
// within `radius` of `guess` with the smallest squared difference.
long best_sample_lag(std::span<const float> reference, std::span<const float> heard,
                     std::size_t ref_frame, std::size_t frames, long guess, long radius);

}  // namespace orvan::testing
