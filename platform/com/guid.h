// Globally unique identifiers in their registry text form:
// "{2157ED08-4B0C-427B-8475-85D754B974CA}".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvan::com {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  friend bool operator==(const Guid&, const Guid&) = default;
};

// Reads the braced form, upper or lower case hex digits; nothing else is accepted.
std::optional<Guid> parse_guid(std::string_view text);

// Writes the braced form with upper-case hex digits.
std::string format_guid(const Guid& guid);

}  // namespace orvan::com
