// Bounds-checked reading of untrusted bytes: every access states its offset and size, and
// the check is done in 64-bit arithmetic so that no sum of file values can wrap around.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace orvan::typelib {

struct ByteView {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;

  bool contains(std::uint64_t offset, std::uint64_t length) const noexcept {
    return offset <= size && length <= size - offset;
  }
  // Room for `count` records of `record_size` bytes at `offset`.
  bool contains_array(std::uint64_t offset, std::uint64_t count,
                      std::uint64_t record_size) const noexcept {
    if (record_size != 0 && count > (size / record_size)) return false;
    return contains(offset, count * record_size);
  }
  // Copies a record out; the caller has checked the bounds.
  template <class T>
  T load(std::uint64_t offset) const noexcept {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    std::memcpy(&value, data + offset, sizeof(T));
    return value;
  }
  ByteView sub(std::uint64_t offset, std::uint64_t length) const noexcept {
    return {data + offset, static_cast<std::size_t>(length)};
  }
};

}  // namespace orvan::typelib
