// Music, SoundFonts and collections that a client hands over as bytes or through a stream of
// its own rather than by file name.
//
// Every reader of the platform takes a file: the loader recognises a file by its first bytes,
// libsndfile and libmpg123 decode from a file the wave source keeps open, libopenmpt,
// the MIDI reader and the DLS reader read a path, and FluidSynth opens a SoundFont by name,
// again whenever instruments are downloaded. So the bytes become a file: an anonymous file in
// memory (memfd), opened by the readers through /proc/self/fd like any other. What a reader
// checks for a file on disk it checks for these bytes too, with the same statuses, and
// nothing is copied per reader.
//
// A client's stream is read to its end at the call, on the calling thread, except for a
// recording in a stream that can seek: that is read where it lies, at load on the calling
// thread and then by each play's decoder thread, so that an hour of compressed music costs
// no more memory than from a file. The engine then holds the stream (one reference) until
// the segment and its last play are gone, and calls it from one thread at a time. A read that
// fails ends the play where the data ends; a read that blocks starves only that play, whose
// silence the render side counts (as for any decoder that falls behind); a client call that
// stops the play waits for the read under way to return.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/com/status.h"
#include "platform/music/wave/byte_store.h"

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
  // The same bytes, from the source's present position to its end, read in place at any
  // offset for as long as the holder keeps them; nullptr where the source cannot give them so
  // (it is then read whole).
  virtual std::shared_ptr<const wave::ByteStore> bytes_in_place() const { return nullptr; }
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
