// Rate conversion (libsoxr) and time stretching (SoundTouch) of interleaved stereo float
// frames. Decode thread only: both may allocate.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace soundtouch {
class SoundTouch;
}

namespace orvan::music::wave {

// Receives converted frames in pieces of at most kPieceFrames.
using FrameSink = std::function<void(const float* stereo, std::size_t frames)>;
inline constexpr std::size_t kPieceFrames = 4096;

class Resampler {
 public:
  // High quality (20-bit, passband to 91 % of the lower Nyquist frequency, linear phase),
  // its own delay removed, so output frame 0 is input frame 0.
  Resampler(int input_rate, int output_rate);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Ready for a fresh signal: each pass of a segment is converted on its own.
  void reset();
  void process(const float* stereo, std::size_t frames, const FrameSink& sink);
  // Everything still inside the filter.
  void flush(const FrameSink& sink);

 private:
  void* soxr_ = nullptr;
  std::vector<float> out_;
};

class Stretcher {
 public:
  explicit Stretcher(int sample_rate);
  ~Stretcher();
  Stretcher(const Stretcher&) = delete;
  Stretcher& operator=(const Stretcher&) = delete;

  void set_tempo(double tempo);
  // Empty, ready for a fresh signal; counts restart.
  void reset();
  void put(const float* stereo, std::size_t frames);
  // Hands on what the stretcher has ready, but never more than `limit` frames in all since
  // the last reset (what the input fed so far lasts at the tempi it was fed at).
  void take(const FrameSink& sink);
  // Ends the signal: takes everything up to exactly the length the input lasts stretched,
  // then resets.
  void finish(const FrameSink& sink);
  bool empty() const { return fed_ == 0; }

 private:
  std::unique_ptr<soundtouch::SoundTouch> touch_;
  std::vector<float> out_;
  double tempo_ = 1.0;
  double expected_ = 0.0;  // frames the input fed lasts at its tempi
  std::size_t fed_ = 0;    // frames fed since the last reset
  std::size_t taken_ = 0;  // frames handed on since the last reset
};

}  // namespace orvan::music::wave
