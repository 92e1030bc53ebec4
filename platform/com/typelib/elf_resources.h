// Finding a library file's resources: the `.orvan.rsrc` section of an ELF64 file and the
// resource directory inside it (resource_format.h). Nothing read from the file is trusted:
// every offset, size and count is checked against the file, and the section against it.
//
// Statuses: a file that cannot be opened, is not an ELF64 little-endian file, or has no
// resource section or no such resource gives TYPE_E_CANTLOADLIBRARY; headers, tables or
// entries that point outside the file or section give TYPE_E_INVDATAREAD; a directory of
// another format gives TYPE_E_UNSUPFORMAT.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/status.h"
#include "platform/com/typelib/byte_view.h"

namespace orvan::typelib {

// Copies the resource section out of an ELF file on disk.
com::HResult read_resource_section(const std::string& path, std::vector<std::uint8_t>& section);
// The same for a file image in memory (tests and fuzzing).
com::HResult read_resource_section(ByteView file, std::vector<std::uint8_t>& section);

// Checks the section's directory and finds resource (type, id) in it.
com::HResult find_resource(ByteView section, std::uint32_t type, std::uint32_t id,
                           ByteView& resource);

// Every (type, id) in a checked directory, in stored order; for tools.
struct ResourceId {
  std::uint32_t type;
  std::uint32_t id;
};
com::HResult list_resources(ByteView section, std::vector<ResourceId>& ids);

}  // namespace orvan::typelib
