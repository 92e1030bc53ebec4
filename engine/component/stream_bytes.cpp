#include "engine/component/stream_bytes.h"

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace orvan::engine::component {
namespace {

// A stream has one position, and a client's stream need not be safe to call from two
// threads at once: every read moves it and reads under one lock, whichever decoder asks.
class StreamBytes final : public music::wave::ByteStore {
 public:
  StreamBytes(IStream* stream, std::int64_t base, std::int64_t size)
      : stream_(stream), base_(base), size_(size) {}
  ~StreamBytes() override { stream_->Release(); }
  StreamBytes(const StreamBytes&) = delete;
  StreamBytes& operator=(const StreamBytes&) = delete;

  std::int64_t size() const noexcept override { return size_; }

  std::int64_t read_at(void* out, std::int64_t count, std::int64_t offset) const noexcept override {
    if (offset < 0 || count <= 0 || offset >= size_) return 0;
    count = std::min(count, size_ - offset);
    std::lock_guard lock(mutex_);
    LARGE_INTEGER to{};
    to.QuadPart = base_ + offset;
    if (FAILED(stream_->Seek(to, STREAM_SEEK_SET, nullptr))) return -1;
    auto* into = static_cast<std::uint8_t*>(out);
    std::int64_t done = 0;
    // Pieces a 32-bit count holds; a stream may give fewer bytes than asked before its end,
    // so only a read that gives nothing (or claims more than asked) stops early.
    while (done < count) {
      const auto ask = static_cast<ULONG>(std::min<std::int64_t>(count - done, 1 << 20));
      ULONG got = 0;
      const HRESULT hr = stream_->Read(into + done, ask, &got);
      if (FAILED(hr) || got > ask) return done > 0 ? done : -1;
      if (got == 0) break;
      done += got;
    }
    return done;
  }

 private:
  IStream* const stream_;
  const std::int64_t base_;
  const std::int64_t size_;
  mutable std::mutex mutex_;
};

}  // namespace

std::shared_ptr<const music::wave::ByteStore> stream_bytes(IUnknown* object) {
  if (!object) return nullptr;
  void* found = nullptr;
  if (FAILED(object->QueryInterface(IID_IStream, &found)) || !found) return nullptr;
  auto* stream = static_cast<IStream*>(found);
  LARGE_INTEGER none{};
  ULARGE_INTEGER here{}, end{};
  const bool sized = SUCCEEDED(stream->Seek(none, STREAM_SEEK_CUR, &here)) &&
                     SUCCEEDED(stream->Seek(none, STREAM_SEEK_END, &end));
  LARGE_INTEGER back{};
  back.QuadPart = static_cast<std::int64_t>(here.QuadPart);
  const bool restored = sized && SUCCEEDED(stream->Seek(back, STREAM_SEEK_SET, nullptr));
  if (!restored || end.QuadPart <= here.QuadPart ||
      end.QuadPart > static_cast<std::uint64_t>(INT64_MAX)) {
    stream->Release();
    return nullptr;
  }
  return std::make_shared<StreamBytes>(stream, static_cast<std::int64_t>(here.QuadPart),
                                       static_cast<std::int64_t>(end.QuadPart - here.QuadPart));
}

}  // namespace orvan::engine::component
