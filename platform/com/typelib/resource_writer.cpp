// The resource section and the version information: both written at build time.
#include <algorithm>
#include <cstring>

#include "platform/com/typelib/append_record.h"
#include "platform/com/typelib/resource_format.h"
#include "platform/com/typelib/typelib_writer.h"

namespace orvan::typelib {
namespace {

namespace fmt = format;

void append_string(std::vector<std::uint8_t>& out, const std::string& text) {
  const auto length = static_cast<std::uint32_t>(text.size());
  append_record(out, length);
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

std::vector<std::uint8_t> write_version_info(const VersionDescription& version) {
  if (version.strings.size() > fmt::kMaxVersionStrings)
    throw DescriptionError("version information: too many strings");
  fmt::VersionHeader header{};
  std::memcpy(header.magic, fmt::kVersionMagic, 4);
  std::copy(std::begin(version.file_version), std::end(version.file_version), header.file_version);
  std::copy(std::begin(version.product_version), std::end(version.product_version),
            header.product_version);
  header.file_os = version.file_os;
  header.file_type = version.file_type;
  header.file_flags = version.file_flags;
  header.language = version.language;
  header.code_page = version.code_page;
  header.string_count = static_cast<std::uint32_t>(version.strings.size());
  std::vector<std::uint8_t> out;
  append_record(out, header);
  for (const auto& [name, value] : version.strings) {
    if (name.empty()) throw DescriptionError("version information: a string without a name");
    append_string(out, name);
    append_string(out, value);
  }
  return out;
}

std::vector<std::uint8_t> write_resource_section(const ResourceBundle& bundle) {
  struct Pending {
    std::uint32_t type;
    std::uint32_t id;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Pending> resources;
  std::uint32_t id = 1;
  for (const LibraryDescription& library : bundle.type_libraries)
    resources.push_back({fmt::kResourceTypeLib, id++, write_type_library(library)});
  if (bundle.version)
    resources.push_back({fmt::kResourceVersion, 1, write_version_info(*bundle.version)});

  fmt::DirectoryHeader header{};
  std::memcpy(header.magic, fmt::kResourceMagic, 8);
  header.format_major = fmt::kResourceFormatMajor;
  header.format_minor = fmt::kResourceFormatMinor;
  header.count = static_cast<std::uint32_t>(resources.size());

  std::vector<std::uint8_t> out(
      sizeof(fmt::DirectoryHeader) + resources.size() * sizeof(fmt::DirectoryEntry), 0);
  std::vector<fmt::DirectoryEntry> entries;
  for (const Pending& r : resources) {
    while (out.size() % 8) out.push_back(0);
    entries.push_back({r.type, r.id, static_cast<std::uint32_t>(out.size()),
                       static_cast<std::uint32_t>(r.bytes.size())});
    out.insert(out.end(), r.bytes.begin(), r.bytes.end());
  }
  if (out.size() > fmt::kMaxSectionSize) throw DescriptionError("resources: too large");
  header.total_size = static_cast<std::uint32_t>(out.size());
  std::memcpy(out.data(), &header, sizeof header);
  if (!entries.empty())
    std::memcpy(out.data() + sizeof header, entries.data(),
                entries.size() * sizeof(fmt::DirectoryEntry));
  return out;
}

}  // namespace orvan::typelib
