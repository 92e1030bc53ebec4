#include "platform/com/auto_string.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace orvan::com {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i], advancing i; malformed input yields U+FFFD
// and consumes one byte, so decoding always makes progress.
char32_t decode_utf8(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + static_cast<std::size_t>(extra) >= text.size()) {  // sequence cut short
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    const unsigned char next = byte(i + static_cast<std::size_t>(k));
    if ((next & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  i += static_cast<std::size_t>(extra) + 1;
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = decode_utf8(text, i);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      append_utf8(out, kReplacement);
    } else {
      append_utf8(out, unit);
    }
  }
  return out;
}

char16_t* allocate_automation_string(const void* text, std::uint32_t bytes) noexcept {
  // Three NUL bytes after the text, so that even an odd byte count ends in a NUL code unit.
  constexpr std::size_t kTail = 3;
  if (bytes > std::numeric_limits<std::uint32_t>::max() - sizeof(std::uint32_t) - kTail) {
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + kTail));
  if (!block) return nullptr;
  std::memcpy(block, &bytes, sizeof bytes);
  unsigned char* data = block + sizeof(std::uint32_t);
  if (text && bytes > 0) {
    std::memcpy(data, text, bytes);
  } else {
    std::memset(data, 0, bytes);
  }
  std::memset(data + bytes, 0, kTail);
  return reinterpret_cast<char16_t*>(data);
}

void free_automation_string(char16_t* bstr) noexcept {
  if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - sizeof(std::uint32_t));
}

std::uint32_t automation_string_bytes(const char16_t* bstr) noexcept {
  if (!bstr) return 0;
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(bstr) - sizeof bytes, sizeof bytes);
  return bytes;
}

BStr::BStr(std::u16string_view text) {
  if (text.size() > (std::numeric_limits<std::uint32_t>::max() - 8) / 2) throw std::bad_alloc();
  data_ = allocate_automation_string(text.data(),
                                     static_cast<std::uint32_t>(text.size() * sizeof(char16_t)));
  if (!data_) throw std::bad_alloc();
}

BStr BStr::copy_of(const char16_t* bstr) {
  BStr result;
  if (!bstr) return result;
  const std::uint32_t bytes = automation_string_bytes(bstr);
  result.data_ = allocate_automation_string(bstr, bytes);
  if (!result.data_) throw std::bad_alloc();
  return result;
}

BStr BStr::from_utf8(std::string_view text) {
  return BStr(utf8_to_utf16(text));
}

BStr::~BStr() {
  free_automation_string(data_);
}

std::uint32_t BStr::size() const noexcept {
  return automation_string_bytes(data_) / 2;
}

std::string BStr::to_utf8() const {
  return utf16_to_utf8(view());
}

}  // namespace orvan::com
