#include "platform/com/typelib/version_info.h"

#include <cstring>

#include "orvan/component_runtime.h"
#include "platform/com/typelib/elf_resources.h"
#include "platform/com/typelib/resource_format.h"

namespace orvan::typelib {

namespace fmt = format;

com::HResult read_version_info(ByteView resource, VersionInfo& info) {
  if (!resource.contains(0, sizeof(fmt::VersionHeader))) return TYPE_E_INVDATAREAD;
  const auto h = resource.load<fmt::VersionHeader>(0);
  if (std::memcmp(h.magic, fmt::kVersionMagic, 4) != 0) return TYPE_E_UNSUPFORMAT;
  if (h.string_count > fmt::kMaxVersionStrings) return TYPE_E_INVDATAREAD;
  VersionInfo out;
  std::memcpy(out.file_version, h.file_version, sizeof out.file_version);
  std::memcpy(out.product_version, h.product_version, sizeof out.product_version);
  out.file_os = h.file_os;
  out.file_type = h.file_type;
  out.file_flags = h.file_flags;
  out.language = h.language;
  out.code_page = h.code_page;
  std::uint64_t at = sizeof(fmt::VersionHeader);
  auto next = [&](std::string& text) {
    if (!resource.contains(at, 4)) return false;
    const auto length = resource.load<std::uint32_t>(at);
    if (!resource.contains(at + 4, length)) return false;
    text.assign(reinterpret_cast<const char*>(resource.data + at + 4), length);
    at += 4 + std::uint64_t{length};
    return true;
  };
  for (std::uint32_t i = 0; i < h.string_count; ++i) {
    std::string name, value;
    if (!next(name) || !next(value)) return TYPE_E_INVDATAREAD;
    out.strings.emplace_back(std::move(name), std::move(value));
  }
  info = std::move(out);
  return S_OK;
}

com::HResult read_version_info(const std::string& library_path, VersionInfo& info) {
  std::vector<std::uint8_t> section;
  if (const auto hr = read_resource_section(library_path, section); hr < 0) return hr;
  ByteView resource;
  if (const auto hr =
          find_resource({section.data(), section.size()}, fmt::kResourceVersion, 1, resource);
      hr < 0)
    return hr;
  return read_version_info(resource, info);
}

}  // namespace orvan::typelib
