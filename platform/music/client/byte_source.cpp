#include "platform/music/client/byte_source.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace orvan::music {

com::HResult MemoryBytes::read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) const {
  const std::size_t count = std::min<std::size_t>(size, bytes_.size() - offset_);
  if (count) std::memcpy(into, bytes_.data() + offset_, count);
  offset_ += count;
  got = static_cast<std::uint32_t>(count);
  return com::S_OK;
}

MemoryFile::MemoryFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {
  char name[40];
  std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
  path_ = name;
}

MemoryFile::~MemoryFile() {
  if (fd_ >= 0) ::close(fd_);
}

com::HResult MemoryFile::read(const ByteSource& source, std::shared_ptr<const MemoryFile>& file) {
  if (const com::HResult hr = source.status(); com::failed(hr)) return hr;
  // Sealed after writing, so no reader (nor anything else in the process) can change the
  // bytes a load examined.
  const int fd = ::memfd_create("orvan-music", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return com::E_OUTOFMEMORY;
  std::shared_ptr<MemoryFile> made(new MemoryFile(fd, 0));
  // Pieces of a size every stream handles; the last piece of a short read is not taken for
  // the end, only a read that gives nothing is.
  constexpr std::uint32_t kPiece = 64 * 1024;
  std::vector<std::uint8_t> piece(kPiece);
  std::uint64_t total = 0;
  for (;;) {
    std::uint32_t got = 0;
    const com::HResult hr = source.read(piece.data(), kPiece, got);
    if (com::failed(hr) || got > kPiece) return com::MUSIC_E_CANNOT_OPEN;
    if (got == 0) break;
    if (total + got > kMaxBytes) return com::MUSIC_E_FILE_TOO_LARGE;
    for (std::uint32_t done = 0; done < got;) {
      const ssize_t wrote = ::write(fd, piece.data() + done, got - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) return com::E_OUTOFMEMORY;
      done += static_cast<std::uint32_t>(wrote);
    }
    total += got;
  }
  (void)::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  made->size_ = total;
  file = std::move(made);
  return com::S_OK;
}

}  // namespace orvan::music
