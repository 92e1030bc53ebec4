// OrvanCreateMemoryStream: an IStream over bytes in memory, for clients that have their data
// in hand and an interface that wants a stream.
//
// The bytes are the stream's own copy. Clones share them (what one writes, the others read)
// but each has its own position; the bytes are guarded by a mutex, so that clones may be used
// on different threads, and freed with the last clone. Positions beyond the end are allowed,
// as the platform's streams allow them: a read there reads nothing, a write there fills the gap
// with zeros.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "orvan/component_runtime.h"
#include "platform/com/runtime/counted_object.h"

namespace {

// Memory streams refuse to grow past what a 32-bit size field of a client could describe
// several times over; a larger request is far more likely an error than data.
constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 32;

struct SharedBytes {
  std::mutex mutex;
  std::vector<unsigned char> bytes;
};

class MemoryStream final
    : public orvan::com::runtime::CountedObject<MemoryStream, IStream, IID_ISequentialStream,
                                                IID_IStream> {
 public:
  explicit MemoryStream(std::shared_ptr<SharedBytes> shared, std::uint64_t position = 0)
      : shared_(std::move(shared)), position_(position) {}

  HRESULT Read(void* data, ULONG size, ULONG* read) override {
    if (read) *read = 0;
    if (!data && size) return STG_E_INVALIDPOINTER;
    std::lock_guard lock(shared_->mutex);
    const std::vector<unsigned char>& bytes = shared_->bytes;
    const std::uint64_t available = position_ < bytes.size() ? bytes.size() - position_ : 0;
    const auto count = static_cast<ULONG>(std::min<std::uint64_t>(size, available));
    if (count) std::memcpy(data, bytes.data() + position_, count);
    position_ += count;
    if (read) *read = count;
    // A short read is S_FALSE: the end of the stream was reached.
    return count == size ? S_OK : S_FALSE;
  }

  HRESULT Write(const void* data, ULONG size, ULONG* written) override {
    if (written) *written = 0;
    if (!data && size) return STG_E_INVALIDPOINTER;
    std::lock_guard lock(shared_->mutex);
    std::vector<unsigned char>& bytes = shared_->bytes;
    const std::uint64_t end = position_ + size;
    if (end > kMaxBytes) return STG_E_MEDIUMFULL;
    if (end > bytes.size()) {
      try {
        bytes.resize(static_cast<std::size_t>(end));
      } catch (const std::bad_alloc&) {
        return STG_E_MEDIUMFULL;
      }
    }
    if (size) std::memcpy(bytes.data() + position_, data, size);
    position_ = end;
    if (written) *written = size;
    return S_OK;
  }

  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* new_position) override {
    std::lock_guard lock(shared_->mutex);
    std::int64_t base = 0;
    switch (origin) {
      case STREAM_SEEK_SET:
        break;
      case STREAM_SEEK_CUR:
        base = static_cast<std::int64_t>(position_);
        break;
      case STREAM_SEEK_END:
        base = static_cast<std::int64_t>(shared_->bytes.size());
        break;
      default:
        return STG_E_INVALIDFUNCTION;
    }
    // Before the start is refused; the position stays where it was.
    if (move.QuadPart < -base) return STG_E_INVALIDFUNCTION;
    const std::uint64_t target = static_cast<std::uint64_t>(base + move.QuadPart);
    if (target > kMaxBytes) return STG_E_INVALIDFUNCTION;
    position_ = target;
    if (new_position) new_position->QuadPart = position_;
    return S_OK;
  }

  HRESULT SetSize(ULARGE_INTEGER size) override {
    if (size.QuadPart > kMaxBytes) return STG_E_MEDIUMFULL;
    std::lock_guard lock(shared_->mutex);
    try {
      shared_->bytes.resize(static_cast<std::size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
      return STG_E_MEDIUMFULL;
    }
    return S_OK;
  }

  HRESULT CopyTo(IStream* destination, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                 ULARGE_INTEGER* written) override {
    if (read) read->QuadPart = 0;
    if (written) written->QuadPart = 0;
    if (!destination) return STG_E_INVALIDPOINTER;
    std::vector<unsigned char> chunk;
    try {
      std::lock_guard lock(shared_->mutex);
      const std::vector<unsigned char>& bytes = shared_->bytes;
      const std::uint64_t available = position_ < bytes.size() ? bytes.size() - position_ : 0;
      const std::uint64_t count = std::min<std::uint64_t>(size.QuadPart, available);
      chunk.assign(bytes.begin() + static_cast<std::ptrdiff_t>(position_),
                   bytes.begin() + static_cast<std::ptrdiff_t>(position_ + count));
      position_ += count;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (read) read->QuadPart = chunk.size();
    // Written outside the lock: the destination may be a clone of this stream.
    std::uint64_t done = 0;
    while (done < chunk.size()) {
      const auto part = static_cast<ULONG>(std::min<std::uint64_t>(chunk.size() - done, 1u << 30));
      ULONG wrote = 0;
      const HRESULT hr = destination->Write(chunk.data() + done, part, &wrote);
      done += wrote;
      if (FAILED(hr) || wrote != part) {
        if (written) written->QuadPart = done;
        return FAILED(hr) ? hr : STG_E_MEDIUMFULL;
      }
    }
    if (written) written->QuadPart = done;
    return S_OK;
  }

  // A memory stream has nothing to commit or revert.
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return S_OK; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }

  HRESULT Stat(STATSTG* stat, DWORD flags) override {
    if (!stat) return STG_E_INVALIDPOINTER;
    if (flags > STATFLAG_NONAME) return STG_E_INVALIDFUNCTION;
    std::memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->grfMode = STGM_READWRITE;
    std::lock_guard lock(shared_->mutex);
    stat->cbSize.QuadPart = shared_->bytes.size();
    return S_OK;
  }

  HRESULT Clone(IStream** clone) override {
    if (!clone) return STG_E_INVALIDPOINTER;
    std::uint64_t position;
    {
      std::lock_guard lock(shared_->mutex);
      position = position_;
    }
    *clone = new (std::nothrow) MemoryStream(shared_, position);
    return *clone ? S_OK : E_OUTOFMEMORY;
  }

 private:
  friend CountedObject;
  ~MemoryStream() = default;

  std::shared_ptr<SharedBytes> shared_;
  std::uint64_t position_;  // guarded by shared_->mutex
};

}  // namespace

extern "C" IStream* OrvanCreateMemoryStream(const void* data, UINT size) {
  if (!data && size) return nullptr;
  std::shared_ptr<SharedBytes> shared;
  try {
    shared = std::make_shared<SharedBytes>();
    const auto* bytes = static_cast<const unsigned char*>(data);
    shared->bytes.assign(bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return new (std::nothrow) MemoryStream(std::move(shared));
}
