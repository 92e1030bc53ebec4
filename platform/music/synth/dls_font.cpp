#include "platform/music/synth/dls_font.h"

#include "platform/music/synth/fluid_process.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace orvan::music::synth {
namespace {

using com::HResult;

// Larger files are refused before anything is read: the biggest General MIDI collections
// are a few tens of megabytes.
constexpr std::int64_t kMaxCollectionBytes = 256LL * 1024 * 1024;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool read_all(int fd, std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A synthesizer that only ever loads: no effects, one voice, FluidSynth's locking off
// because one thread uses it from creation to deletion.
class ScratchSynth {
 public:
  ScratchSynth() {
    prepare_fluidsynth();
    settings_ = new_fluid_settings();
    if (!settings_) return;
    fluid_settings_setint(settings_, "synth.polyphony", 1);
    fluid_settings_setint(settings_, "synth.reverb.active", 0);
    fluid_settings_setint(settings_, "synth.chorus.active", 0);
    fluid_settings_setint(settings_, "synth.threadsafe-api", 0);
    synth_ = new_fluid_synth(settings_);
  }
  ~ScratchSynth() {
    if (synth_) delete_fluid_synth(synth_);
    if (settings_) delete_fluid_settings(settings_);
  }
  ScratchSynth(const ScratchSynth&) = delete;
  ScratchSynth& operator=(const ScratchSynth&) = delete;
  fluid_synth_t* get() const { return synth_; }

 private:
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
};

// The name under which the library opens the descriptor: the same open file, whatever
// happened to the path since. Without /proc the path itself has to do.
std::string library_name(int fd, const std::string& path) {
  const std::string via_proc = "/proc/self/fd/" + std::to_string(fd);
  struct stat by_fd {};
  struct stat by_proc {};
  if (::fstat(fd, &by_fd) == 0 && ::stat(via_proc.c_str(), &by_proc) == 0 &&
      by_fd.st_ino == by_proc.st_ino && by_fd.st_dev == by_proc.st_dev) {
    return via_proc;
  }
  return path;
}

}  // namespace

HResult CollectionFont::read(const std::string& path, std::unique_ptr<CollectionFont>& out,
                             CollectionSummary* summary) {
  // The file system stops reading a name at a NUL: such a name would open some other file
  // than the one asked for.
  if (path.empty() || path.find('\0') != std::string::npos) return com::MUSIC_E_CANNOT_OPEN;
  // Devices and pipes are refused before they are opened: opening a FIFO without a writer
  // waits for one, and opening some devices does something by itself.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return com::MUSIC_E_CANNOT_OPEN;
  if (S_ISDIR(info.st_mode)) return com::MUSIC_E_IS_DIRECTORY;
  if (!S_ISREG(info.st_mode)) return com::MUSIC_E_CANNOT_OPEN;
  // Non-blocking all the same: the name may have been swapped for a FIFO since.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) return errno == EISDIR ? com::MUSIC_E_IS_DIRECTORY : com::MUSIC_E_CANNOT_OPEN;
  // What was opened is what counts: a collection is a plain file, with a size to check.
  if (::fstat(file.get(), &info) != 0) return com::MUSIC_E_CANNOT_OPEN;
  if (S_ISDIR(info.st_mode)) return com::MUSIC_E_IS_DIRECTORY;
  if (!S_ISREG(info.st_mode)) return com::MUSIC_E_CANNOT_OPEN;
  if (info.st_size > kMaxCollectionBytes) return com::MUSIC_E_FILE_TOO_LARGE;

  CollectionSummary found;
  {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    if (!read_all(file.get(), bytes)) return com::MUSIC_E_CANNOT_OPEN;
    if (HResult hr = check_collection(bytes, found); com::failed(hr)) return hr;
  }

  std::unique_ptr<CollectionFont> font(new CollectionFont);
  if (found.instruments > 0) {
    ScratchSynth scratch;
    if (!scratch.get()) return com::E_OUTOFMEMORY;
    const int id = fluid_synth_sfload(scratch.get(), library_name(file.get(), path).c_str(), 0);
    fluid_sfont_t* loaded = id < 0 ? nullptr : fluid_synth_get_sfont_by_id(scratch.get(), id);
    // Well formed, yet the library would not read it: a wave or articulation it rejects.
    if (!loaded) return com::MUSIC_E_CORRUPT_COLLECTION;
    // Out of the scratch synthesizer before it goes, so the font outlives it.
    fluid_synth_remove_sfont(scratch.get(), loaded);
    font->font_ = loaded;
  }
  if (summary) *summary = found;
  out = std::move(font);
  return com::S_OK;
}

CollectionFont::~CollectionFont() {
  discard_font(font_);
}

fluid_sfont_t* CollectionFont::release() noexcept {
  fluid_sfont_t* font = font_;
  font_ = nullptr;
  return font;
}

void discard_font(fluid_sfont_t* font) noexcept {
  if (!font) return;
  // FluidSynth frees a font only as part of a synthesizer: lend it to one that goes at once.
  ScratchSynth scratch;
  if (scratch.get()) fluid_synth_add_sfont(scratch.get(), font);
}

}  // namespace orvan::music::synth
