// Bounds-checked reading of big-endian words and variable-length quantities from a span.
// Every read says whether the bytes were there; nothing reads past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvan::music::midi {

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return bytes_.size() - pos_; }
  bool at_end() const { return pos_ == bytes_.size(); }

  bool peek(std::uint8_t& value) const {
    if (at_end()) return false;
    value = bytes_[pos_];
    return true;
  }
  bool read_u8(std::uint8_t& value) {
    if (!peek(value)) return false;
    ++pos_;
    return true;
  }
  bool read_be(std::size_t count, std::uint32_t& value) {
    if (remaining() < count) return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i) value = (value << 8) | bytes_[pos_ + i];
    pos_ += count;
    return true;
  }
  bool read_le32(std::uint32_t& value) {
    if (remaining() < 4) return false;
    value = 0;
    for (std::size_t i = 4; i-- > 0;) value = (value << 8) | bytes_[pos_ + i];
    pos_ += 4;
    return true;
  }
  bool read_bytes(std::size_t count, std::span<const std::uint8_t>& out) {
    if (remaining() < count) return false;
    out = bytes_.subspan(pos_, count);
    pos_ += count;
    return true;
  }
  bool skip(std::size_t count) {
    if (remaining() < count) return false;
    pos_ += count;
    return true;
  }

  enum class VarLen { ok, truncated, too_long };
  // A variable-length quantity holds at most four bytes (28 bits).
  VarLen read_varlen(std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
      std::uint8_t byte = 0;
      if (!read_u8(byte)) return VarLen::truncated;
      value = (value << 7) | (byte & 0x7Fu);
      if ((byte & 0x80u) == 0) return VarLen::ok;
    }
    return VarLen::too_long;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

}  // namespace orvan::music::midi
