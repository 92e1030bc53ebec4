#include "platform/com/status.h"

#include <array>
#include <cstdio>
#include <string>

namespace orvan::com {
namespace {

struct StatusEntry {
  HResult code;
  std::string_view name;
  std::string_view text;
};

#define ORVAN_STATUS_ENTRY(name, value, text) StatusEntry{name, #name, text},
constexpr StatusEntry kStatusTable[] = {ORVAN_STATUS_CODES(ORVAN_STATUS_ENTRY)};
#undef ORVAN_STATUS_ENTRY

const StatusEntry* find_status(HResult hr) {
  for (const auto& entry : kStatusTable) {
    if (entry.code == hr) return &entry;
  }
  return nullptr;
}

}  // namespace

std::string_view status_name(HResult hr) {
  const StatusEntry* entry = find_status(hr);
  return entry ? entry->name : std::string_view{};
}

std::string describe_status(HResult hr) {
  if (const StatusEntry* entry = find_status(hr)) return std::string(entry->text);
  char text[64];
  std::snprintf(text, sizeof text, "Error 0x%08X.", static_cast<unsigned>(hr));
  return text;
}

}  // namespace orvan::com
