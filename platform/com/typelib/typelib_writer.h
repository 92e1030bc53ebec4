// Turns descriptions (typelib_description.h) into the binary formats (typelib_format.h,
// resource_format.h). Used at build time by the resource generator, and by tests.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "platform/com/typelib/typelib_description.h"

namespace orvan::typelib {

// A description the writer refuses; the text names the type and member at fault.
class DescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::vector<std::uint8_t> write_type_library(const LibraryDescription& library);
std::vector<std::uint8_t> write_version_info(const VersionDescription& version);
// The whole content of a `.orvan.rsrc` section: directory, type libraries, version.
std::vector<std::uint8_t> write_resource_section(const ResourceBundle& bundle);

}  // namespace orvan::typelib
