// Resources embedded in an ELF library file, format version 1.0.
//
// A library's resources live in one section named `.orvan.rsrc` (allocated, read-only). The
// section holds a directory followed by the resources' bytes:
//
//   DirectoryHeader             at 0 of the section
//   DirectoryEntry[count]       right after it, sorted by (type, id)
//   resource bytes              each entry's offset and size, relative to the section
//
// Resource types: TYPELIB (a type library, typelib_format.h; id 1 is the library's own,
// further ids hold more libraries) and VERSION (id 1: the version information, below).
// Everything is little-endian; readers copy fields out with memcpy and check every offset
// and size against the section, and the section against the file.
#pragma once

#include <cstdint>

namespace orvan::typelib::format {

inline constexpr char kResourceSectionName[] = ".orvan.rsrc";
inline constexpr char kResourceMagic[8] = {'O', 'R', 'V', 'N', 'R', 'S', 'R', 'C'};
inline constexpr std::uint16_t kResourceFormatMajor = 1;
inline constexpr std::uint16_t kResourceFormatMinor = 0;

inline constexpr std::uint32_t kResourceTypeLib = 1;   // "TYPELIB"
inline constexpr std::uint32_t kResourceVersion = 16;  // "VERSION"

inline constexpr std::uint32_t kMaxResources = 1024;
inline constexpr std::uint32_t kMaxSectionSize = 64u << 20;

struct DirectoryHeader {       // 24 bytes
  char magic[8];               // 0  "ORVNRSRC"
  std::uint16_t format_major;  // 8
  std::uint16_t format_minor;  // 10
  std::uint32_t count;         // 12 directory entries
  std::uint32_t total_size;    // 16 bytes used in the section (it may be padded after)
  std::uint32_t reserved;      // 20
};

struct DirectoryEntry {  // 16 bytes
  std::uint32_t type;    // 0 kResourceTypeLib, kResourceVersion
  std::uint32_t id;      // 4
  std::uint32_t offset;  // 8 from the start of the section
  std::uint32_t size;    // 12
};

// The VERSION resource: fixed fields, then `string_count` name/value pairs, each string a
// u32 byte length and UTF-8 bytes, names and values alternating, right after the fixed part.
inline constexpr char kVersionMagic[4] = {'O', 'V', 'E', 'R'};
inline constexpr std::uint32_t kMaxVersionStrings = 256;

struct VersionHeader {               // 44 bytes
  char magic[4];                     // 0  "OVER"
  std::uint16_t file_version[4];     // 4  most significant first: 1.0.0.0 is {1, 0, 0, 0}
  std::uint16_t product_version[4];  // 12
  std::uint32_t file_os;             // 20
  std::uint32_t file_type;           // 24
  std::uint32_t file_flags;          // 28
  std::uint16_t language;            // 32 translation: language id
  std::uint16_t code_page;           // 34 and code page
  std::uint32_t string_count;        // 36
  std::uint32_t reserved;            // 40
};

static_assert(sizeof(DirectoryHeader) == 24);
static_assert(sizeof(DirectoryEntry) == 16);
static_assert(sizeof(VersionHeader) == 44);

}  // namespace orvan::typelib::format
