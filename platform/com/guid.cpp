#include "platform/com/guid.h"

#include <cstdio>

namespace orvan::com {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits starting at `pos`; false if any is not a hex digit.
bool read_hex(std::string_view text, std::size_t pos, int digits, std::uint64_t& out) {
  out = 0;
  for (int i = 0; i < digits; ++i) {
    const int v = hex_value(text[pos + static_cast<std::size_t>(i)]);
    if (v < 0) return false;
    out = (out << 4) | static_cast<std::uint64_t>(v);
  }
  return true;
}

}  // namespace

std::optional<Guid> parse_guid(std::string_view text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  constexpr std::size_t kLength = 38;
  if (text.size() != kLength || text.front() != '{' || text.back() != '}') return std::nullopt;
  if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return std::nullopt;

  Guid guid;
  std::uint64_t v = 0;
  if (!read_hex(text, 1, 8, v)) return std::nullopt;
  guid.data1 = static_cast<std::uint32_t>(v);
  if (!read_hex(text, 10, 4, v)) return std::nullopt;
  guid.data2 = static_cast<std::uint16_t>(v);
  if (!read_hex(text, 15, 4, v)) return std::nullopt;
  guid.data3 = static_cast<std::uint16_t>(v);
  constexpr std::size_t kByteStarts[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (std::size_t i = 0; i < 8; ++i) {
    if (!read_hex(text, kByteStarts[i], 2, v)) return std::nullopt;
    guid.data4[i] = static_cast<std::uint8_t>(v);
  }
  return guid;
}

std::string format_guid(const Guid& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

}  // namespace orvan::com
