#include "platform/music/wave/byte_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvan::music::wave {
namespace {

class FileBytes final : public ByteStore {
 public:
  FileBytes(int fd, std::int64_t size) : fd_(fd), size_(size) {}
  ~FileBytes() override { ::close(fd_); }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  std::int64_t size() const noexcept override { return size_; }
  std::int64_t read_at(void* out, std::int64_t count, std::int64_t offset) const noexcept override {
    auto* into = static_cast<std::uint8_t*>(out);
    std::int64_t done = 0;
    while (done < count) {
      const ssize_t got = ::pread(fd_, into + done, static_cast<std::size_t>(count - done),
                                  static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return done > 0 ? done : -1;
      if (got == 0) break;
      done += got;
    }
    return done;
  }

 private:
  const int fd_;
  const std::int64_t size_;
};

com::HResult fail(std::string* detail, com::HResult hr, const char* text) {
  if (detail) *detail = text;
  return hr;
}

}  // namespace

com::HResult open_file_bytes(const std::string& path, std::shared_ptr<const ByteStore>& bytes,
                             std::string* detail) {
  if (path.empty()) return fail(detail, com::MUSIC_E_CANNOT_OPEN, "no file name given");
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EISDIR) return fail(detail, com::MUSIC_E_IS_DIRECTORY, "it is a directory");
    return fail(detail, com::MUSIC_E_CANNOT_OPEN, std::strerror(errno));
  }
  struct stat st {};
  const bool stated = ::fstat(fd, &st) == 0;
  const int error = errno;
  if (!stated || !S_ISREG(st.st_mode) || st.st_size == 0) {
    ::close(fd);
    if (!stated) return fail(detail, com::MUSIC_E_CANNOT_OPEN, std::strerror(error));
    if (S_ISDIR(st.st_mode)) return fail(detail, com::MUSIC_E_IS_DIRECTORY, "it is a directory");
    if (!S_ISREG(st.st_mode)) return fail(detail, com::MUSIC_E_CANNOT_OPEN, "not a regular file");
    return fail(detail, com::MUSIC_E_EMPTY_FILE, "the file is empty");
  }
  bytes = std::make_shared<FileBytes>(fd, st.st_size);
  return com::S_OK;
}

}  // namespace orvan::music::wave
