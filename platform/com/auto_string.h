// Automation strings and booleans, the value types of the component interface.
//
// An automation string is a length-prefixed UTF-16 buffer: a 32-bit byte count stands just
// before the first code unit, and a NUL follows the last one, so the text may itself hold
// NULs. BStr owns one such buffer; an empty BStr holds none and reads as "".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace orvan::com {

class BStr {
 public:
  BStr() noexcept = default;
  explicit BStr(std::u16string_view text);
  // Converts from UTF-8; malformed sequences become U+FFFD.
  static BStr from_utf8(std::string_view text);

  // Automation strings made by the runtime's SysAllocString* share this layout and
  // allocator, so one can pass between a BStr and a client:
  // takes ownership of one (nullptr gives an empty BStr);
  static BStr adopt(char16_t* bstr) noexcept {
    BStr result;
    result.data_ = bstr;
    return result;
  }
  // copies one, NULs and all;
  static BStr copy_of(const char16_t* bstr);
  // hands the buffer to the caller, who frees it with SysFreeString; nullptr when empty.
  char16_t* release() noexcept { return std::exchange(data_, nullptr); }

  BStr(const BStr& other) : BStr(other.view()) {}
  BStr(BStr&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
  BStr& operator=(BStr other) noexcept {
    std::swap(data_, other.data_);
    return *this;
  }
  ~BStr();

  // The code units, without the prefix: what a component client receives.
  const char16_t* c_str() const noexcept { return data_ ? data_ : u""; }
  // The length in code units, read from the prefix.
  std::uint32_t size() const noexcept;
  bool empty() const noexcept { return size() == 0; }
  std::u16string_view view() const noexcept { return {c_str(), size()}; }
  // Converts to UTF-8; unpaired surrogates become U+FFFD.
  std::string to_utf8() const;

  friend bool operator==(const BStr& a, const BStr& b) noexcept { return a.view() == b.view(); }

 private:
  char16_t* data_ = nullptr;  // points just past the 4-byte length prefix
};

// The one allocator of automation strings: `bytes` bytes of text, copied from `text` (or
// zeroed when it is null), a 32-bit byte length before them and NULs after. Returns the
// pointer just past the length, or nullptr when memory runs out.
char16_t* allocate_automation_string(const void* text, std::uint32_t bytes) noexcept;
void free_automation_string(char16_t* bstr) noexcept;
// The byte length from the prefix; 0 for nullptr.
std::uint32_t automation_string_bytes(const char16_t* bstr) noexcept;

std::u16string utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);

// Automation boolean: true is -1 (all bits set), false is 0.
using VariantBool = std::int16_t;
inline constexpr VariantBool VARIANT_TRUE = -1;
inline constexpr VariantBool VARIANT_FALSE = 0;

constexpr VariantBool to_variant_bool(bool value) {
  return value ? VARIANT_TRUE : VARIANT_FALSE;
}
// Any non-zero value counts as true, as automation clients treat it.
constexpr bool from_variant_bool(VariantBool value) {
  return value != 0;
}

}  // namespace orvan::com
