// A circular delay line sized once, at construction, for the longest delay it will serve.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace orvan::music::dsp {

class DelayLine {
 public:
  DelayLine() = default;
  explicit DelayLine(int max_delay_frames) {
    std::size_t size = 2;
    while (size < static_cast<std::size_t>(max_delay_frames) + 2) size *= 2;
    buffer_.assign(size, 0.0f);
    mask_ = size - 1;
  }

  void clear() noexcept {
    for (float& s : buffer_) s = 0.0f;
  }

  // Stores the newest sample; reads below count back from it (delay 0 is this sample).
  void write(float x) noexcept {
    pos_ = (pos_ + 1) & mask_;
    buffer_[pos_] = x;
  }

  float read(int delay) const noexcept {
    return buffer_[(pos_ - static_cast<std::size_t>(delay)) & mask_];
  }

  // Block access for loops whose delay is at least the block: read_ahead(delay, k) is what
  // read(delay) will return after k + 1 more writes, so a block can be read before it is
  // written back with write().
  float read_ahead(int delay, int k) const noexcept {
    return buffer_[(pos_ + 1 + static_cast<std::size_t>(k) - static_cast<std::size_t>(delay)) &
                   mask_];
  }

  // read_ahead(delay, 0 .. n-1) into out[0 .. n-1], copied in at most two runs.
  void read_block(int delay, float* out, int n) const noexcept {
    const std::size_t start = (pos_ + 1 - static_cast<std::size_t>(delay)) & mask_;
    const std::size_t first = std::min(static_cast<std::size_t>(n), buffer_.size() - start);
    std::copy_n(buffer_.data() + start, first, out);
    std::copy_n(buffer_.data(), static_cast<std::size_t>(n) - first, out + first);
  }

  // write() for each of in[0 .. n-1], in order.
  void write_block(const float* in, int n) noexcept {
    const std::size_t start = (pos_ + 1) & mask_;
    const std::size_t first = std::min(static_cast<std::size_t>(n), buffer_.size() - start);
    std::copy_n(in, first, buffer_.data() + start);
    std::copy_n(in + first, static_cast<std::size_t>(n) - first, buffer_.data());
    pos_ = (pos_ + static_cast<std::size_t>(n)) & mask_;
  }

  // Linear interpolation between whole-sample delays; `delay` must be >= 0.
  float read_fractional(float delay) const noexcept {
    const int whole = static_cast<int>(delay);
    const float frac = delay - static_cast<float>(whole);
    const float a = read(whole);
    const float b = read(whole + 1);
    return a + frac * (b - a);
  }

 private:
  std::vector<float> buffer_;
  std::size_t mask_ = 0;
  std::size_t pos_ = 0;
};

}  // namespace orvan::music::dsp
