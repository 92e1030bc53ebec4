#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/music/midi/sequence.h"

namespace orvan::music::midi {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

com::HResult fail(std::string* detail, com::HResult hr, std::string text) {
  if (detail) *detail = std::move(text);
  return hr;
}

}  // namespace

com::HResult read_sequence_file(const std::string& path, Sequence& out, std::string* detail) {
  if (path.empty()) return fail(detail, com::MUSIC_E_CANNOT_OPEN, "no file name given");
  // Non-blocking, so that a FIFO cannot hang the open; only regular files are read.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == EISDIR) return fail(detail, com::MUSIC_E_IS_DIRECTORY, "it is a directory");
    return fail(detail, com::MUSIC_E_CANNOT_OPEN, std::strerror(errno));
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) {
    return fail(detail, com::MUSIC_E_CANNOT_OPEN, std::strerror(errno));
  }
  if (S_ISDIR(info.st_mode)) return fail(detail, com::MUSIC_E_IS_DIRECTORY, "it is a directory");
  if (!S_ISREG(info.st_mode)) {
    return fail(detail, com::MUSIC_E_CANNOT_OPEN, "not a regular file");
  }
  if (info.st_size == 0) return fail(detail, com::MUSIC_E_EMPTY_FILE, "the file is empty");
  if (static_cast<std::uint64_t>(info.st_size) > kMaxFileBytes) {
    return fail(detail, com::MUSIC_E_FILE_TOO_LARGE,
                "larger than " + std::to_string(kMaxFileBytes) + " bytes");
  }

  // The buffer is sized by what the file system says the file holds, and never grows past
  // the limit even if the file grows while it is read.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(detail, com::MUSIC_E_CANNOT_OPEN, std::strerror(errno));
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return read_sequence(bytes, out, detail);
}

}  // namespace orvan::music::midi
