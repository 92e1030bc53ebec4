#include "platform/com/typelib/elf_resources.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "orvan/component_runtime.h"
#include "platform/com/typelib/resource_format.h"

namespace orvan::typelib {
namespace {

namespace fmt = format;
using com::HResult;

// Random access to the file's bytes, from disk or from memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // False when the range is not wholly inside the source or cannot be read.
  virtual bool read(std::uint64_t offset, void* out, std::size_t length) const = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(ByteView bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size; }
  bool read(std::uint64_t offset, void* out, std::size_t length) const override {
    if (!bytes_.contains(offset, length)) return false;
    if (length) std::memcpy(out, bytes_.data + offset, length);
    return true;
  }

 private:
  ByteView bytes_;
};

class FileSource final : public ByteSource {
 public:
  explicit FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, void* out, std::size_t length) const override {
    if (offset > size_ || length > size_ - offset) return false;
    auto* p = static_cast<std::uint8_t*>(out);
    while (length > 0) {
      const ssize_t n = ::pread(fd_, p, length, static_cast<off_t>(offset));
      if (n <= 0) return false;  // a file that shrank under us reads as damaged
      p += n;
      offset += static_cast<std::uint64_t>(n);
      length -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_;
};

constexpr std::uint32_t kMaxSections = 1u << 16;
constexpr std::uint64_t kMaxNameTable = 16u << 20;

HResult read_section(const ByteSource& file, std::vector<std::uint8_t>& section) {
  Elf64_Ehdr eh;
  if (!file.read(0, &eh, sizeof eh)) return TYPE_E_CANTLOADLIBRARY;
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_ident[EI_DATA] != ELFDATA2LSB)
    return TYPE_E_CANTLOADLIBRARY;
  if (eh.e_shoff == 0) return TYPE_E_CANTLOADLIBRARY;  // no section headers at all
  if (eh.e_shentsize < sizeof(Elf64_Shdr)) return TYPE_E_INVDATAREAD;

  auto header_at = [&](std::uint64_t index, Elf64_Shdr& sh) {
    const std::uint64_t offset = eh.e_shoff + index * eh.e_shentsize;
    return offset >= eh.e_shoff && file.read(offset, &sh, sizeof sh);
  };
  // Past 0xff00 sections the real count and name-table index live in section 0.
  std::uint64_t count = eh.e_shnum;
  std::uint64_t names_index = eh.e_shstrndx;
  if (count == 0 || names_index == SHN_XINDEX) {
    Elf64_Shdr first;
    if (!header_at(0, first)) return TYPE_E_INVDATAREAD;
    if (count == 0) count = first.sh_size;
    if (names_index == SHN_XINDEX) names_index = first.sh_link;
  }
  if (count == 0 || count > kMaxSections || names_index >= count) return TYPE_E_INVDATAREAD;
  if (eh.e_shoff > file.size() || count * eh.e_shentsize > file.size() - eh.e_shoff)
    return TYPE_E_INVDATAREAD;

  Elf64_Shdr names_header;
  if (!header_at(names_index, names_header)) return TYPE_E_INVDATAREAD;
  if (names_header.sh_type == SHT_NOBITS || names_header.sh_size > kMaxNameTable)
    return TYPE_E_INVDATAREAD;
  std::vector<char> names(static_cast<std::size_t>(names_header.sh_size));
  if (!file.read(names_header.sh_offset, names.data(), names.size())) return TYPE_E_INVDATAREAD;

  const std::string_view wanted = fmt::kResourceSectionName;
  for (std::uint64_t i = 0; i < count; ++i) {
    Elf64_Shdr sh;
    if (!header_at(i, sh)) return TYPE_E_INVDATAREAD;
    if (sh.sh_name >= names.size()) continue;  // a nameless section cannot be ours
    const char* name = names.data() + sh.sh_name;
    const std::size_t room = names.size() - sh.sh_name;
    if (strnlen(name, room) != wanted.size() || std::memcmp(name, wanted.data(), wanted.size()))
      continue;
    if (sh.sh_type == SHT_NOBITS || sh.sh_size > fmt::kMaxSectionSize) return TYPE_E_INVDATAREAD;
    section.resize(static_cast<std::size_t>(sh.sh_size));
    if (!file.read(sh.sh_offset, section.data(), section.size())) return TYPE_E_INVDATAREAD;
    return S_OK;
  }
  return TYPE_E_CANTLOADLIBRARY;
}

// Checks the directory and hands back its entries.
HResult read_directory(ByteView section, std::vector<fmt::DirectoryEntry>& entries) {
  if (!section.contains(0, sizeof(fmt::DirectoryHeader))) return TYPE_E_INVDATAREAD;
  const auto header = section.load<fmt::DirectoryHeader>(0);
  if (std::memcmp(header.magic, fmt::kResourceMagic, sizeof header.magic) != 0 ||
      header.format_major != fmt::kResourceFormatMajor)
    return TYPE_E_UNSUPFORMAT;
  if (header.total_size > section.size || header.count > fmt::kMaxResources)
    return TYPE_E_INVDATAREAD;
  const ByteView used = section.sub(0, header.total_size);
  const std::uint64_t directory_end =
      sizeof(fmt::DirectoryHeader) + std::uint64_t{header.count} * sizeof(fmt::DirectoryEntry);
  if (!used.contains(0, directory_end)) return TYPE_E_INVDATAREAD;
  entries.clear();
  for (std::uint32_t i = 0; i < header.count; ++i) {
    const auto entry = used.load<fmt::DirectoryEntry>(sizeof(fmt::DirectoryHeader) +
                                                      i * sizeof(fmt::DirectoryEntry));
    if (entry.offset < directory_end || !used.contains(entry.offset, entry.size))
      return TYPE_E_INVDATAREAD;
    entries.push_back(entry);
  }
  return S_OK;
}

}  // namespace

HResult read_resource_section(const std::string& path, std::vector<std::uint8_t>& section) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return TYPE_E_CANTLOADLIBRARY;
  struct stat st {};
  HResult hr = TYPE_E_CANTLOADLIBRARY;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
    hr = read_section(FileSource(fd, static_cast<std::uint64_t>(st.st_size)), section);
  ::close(fd);
  return hr;
}

HResult read_resource_section(ByteView file, std::vector<std::uint8_t>& section) {
  return read_section(MemorySource(file), section);
}

HResult find_resource(ByteView section, std::uint32_t type, std::uint32_t id, ByteView& resource) {
  std::vector<fmt::DirectoryEntry> entries;
  if (const HResult hr = read_directory(section, entries); hr < 0) return hr;
  for (const auto& entry : entries) {
    if (entry.type == type && entry.id == id) {
      resource = section.sub(entry.offset, entry.size);
      return S_OK;
    }
  }
  return TYPE_E_CANTLOADLIBRARY;
}

HResult list_resources(ByteView section, std::vector<ResourceId>& ids) {
  std::vector<fmt::DirectoryEntry> entries;
  if (const HResult hr = read_directory(section, entries); hr < 0) return hr;
  ids.clear();
  for (const auto& entry : entries) ids.push_back({entry.type, entry.id});
  return S_OK;
}

}  // namespace orvan::typelib
