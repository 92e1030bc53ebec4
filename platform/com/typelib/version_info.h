// Reading the VERSION resource (resource_format.h) back, checked like everything else.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/status.h"
#include "platform/com/typelib/byte_view.h"

namespace orvan::typelib {

struct VersionInfo {
  std::uint16_t file_version[4] = {};
  std::uint16_t product_version[4] = {};
  std::uint32_t file_os = 0;
  std::uint32_t file_type = 0;
  std::uint32_t file_flags = 0;
  std::uint16_t language = 0;
  std::uint16_t code_page = 0;
  std::vector<std::pair<std::string, std::string>> strings;
};

// TYPE_E_UNSUPFORMAT for another magic, TYPE_E_INVDATAREAD when anything runs past the end.
com::HResult read_version_info(ByteView resource, VersionInfo& info);

// Finds VERSION/1 in a library file's resources and reads it; TYPE_E_CANTLOADLIBRARY when
// the file has none.
com::HResult read_version_info(const std::string& library_path, VersionInfo& info);

}  // namespace orvan::typelib
