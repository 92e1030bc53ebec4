// Music, SoundFonts and collections that a client hands over as bytes or through a stream of
// its own rather than by file name.
//
// Every reader of the platform takes a file: the loader recognises a file by its first bytes,
// libsndfile and libmpg123 decode from a descriptor the wave source keeps open, libopenmpt,
// the MIDI reader and the DLS reader read a path, and FluidSynth opens a SoundFont by name,
// again whenever instruments are downloaded. So the bytes become a file: an anonymous file in
// memory (memfd), opened by the readers through /proc/self/fd like any other. What a reader
// checks for a file on disk it checks for these bytes too, with the same statuses, and
// nothing is copied per reader.
//
// A client's stream is read to its end at the call, on the calling thread, and never called
// again: a recording then plays from the memory file on its decoder thread, not through the
// client's stream. That keeps a client's object (and its threading rules, and any stall of
// its archive code) away from the decoder and render threads, lets the client release the
// stream as soon as the call returns, and confines a stream that fails to the call that read
// it. The cost is that a compressed recording is held in memory whole while it plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/com/status.h"

namespace orvan::music {

// Bytes handed over in order, once. Read on the thread that makes the memory file only.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Why the source cannot be read at all (an argument that is no byte array, an object that
  // is no stream), or S_OK.
  virtual com::HResult status() const = 0;
  // Reads up to `size` bytes into `into` from where the last read ended; `got` 0 means the
  // end. A failed status is returned as it is.
  virtual com::HResult read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) const = 0;
};

// Bytes already in memory; the caller keeps them alive while the source is read.
class MemoryBytes final : public ByteSource {
 public:
  explicit MemoryBytes(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  com::HResult status() const override { return com::S_OK; }
  com::HResult read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) const override;

 private:
  std::span<const std::uint8_t> bytes_;
  mutable std::size_t offset_ = 0;
};

// An anonymous file in memory holding a copy of a source's bytes. Readers open it by path()
// for as long as this object lives; a reader that opened it keeps the bytes alive after.
class MemoryFile {
 public:
  // More than any music, SoundFont or collection a game ships; a source that goes on past
  // this is far more likely broken (or hostile) than data, and is refused with
  // MUSIC_E_FILE_TOO_LARGE.
  static constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 31;

  // Reads `source` to its end into a new memory file. The source's own status when it cannot
  // be read; MUSIC_E_CANNOT_OPEN when a read fails (or claims more bytes than asked for),
  // MUSIC_E_FILE_TOO_LARGE past kMaxBytes, E_OUTOFMEMORY when memory for the file runs out.
  // No bytes make an empty file, which each reader refuses as it refuses an empty file.
  static com::HResult read(const ByteSource& source, std::shared_ptr<const MemoryFile>& file);

  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::string& path() const { return path_; }
  std::uint64_t size() const { return size_; }

 private:
  MemoryFile(int fd, std::uint64_t size);
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::string path_;
};

}  // namespace orvan::music
