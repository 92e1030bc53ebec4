// The bytes of a recording, read at any offset for as long as the segment lives: a file held
// open, or a stream a client handed over. A segment and all its plays share one; each reader
// keeps its own offset (FileCursor), so that two plays of one segment never disturb each
// other.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/com/status.h"

namespace orvan::music::wave {

class ByteStore {
 public:
  virtual ~ByteStore() = default;
  // The bytes there are, fixed when the store was made.
  virtual std::int64_t size() const noexcept = 0;
  // Up to `count` bytes from `offset` into `out`: fewer only at the end or where reading
  // fails; -1 when nothing could be read because of a failure. Called by the loading client
  // thread and by each play's decode thread, possibly at once.
  virtual std::int64_t read_at(void* out, std::int64_t count,
                               std::int64_t offset) const noexcept = 0;
};

// A regular file, opened once: a play reads the file the load examined even if its name is
// reused meanwhile. MUSIC_E_CANNOT_OPEN, MUSIC_E_IS_DIRECTORY or MUSIC_E_EMPTY_FILE, with
// `detail` saying why.
com::HResult open_file_bytes(const std::string& path, std::shared_ptr<const ByteStore>& bytes,
                             std::string* detail = nullptr);

}  // namespace orvan::music::wave
