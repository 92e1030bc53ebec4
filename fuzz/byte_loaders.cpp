// The loaders of bytes a client hands over: the input, after two bytes of choices, is given to
// Music_LoadBytes, SetSoundFontBytes or LoadDLSBytes of an engine channel rendering on the
// manual device, whole or through a source that reads it in short pieces, and what loaded is
// played for a few blocks. A recording may be read in place from a stream that fails midway. Every
// kind of music is recognised by content, so one target covers the MIDI reader, the recorded
// formats, tracker modules, SoundFonts and DLS collections as their bytes reach them from memory. A
// rendered sample that is not finite is a finding; crashes, leaks and undefined behaviour are the
// sanitizers'.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "engine/orvan_music.h"
#include "fuzz/engine_start_up.h"
#include "platform/music/output/manual_device.h"
#include "platform/music/render/performance_core.h"

namespace {

using namespace orvan;

class Channel : public engine::OrvanMusic {
 public:
  using OrvanMusic::Perf;
};

// The input read in place, as a stream that seeks gives it to a recording's decoder, failing
// from byte `fails_at` on (a damaged archive, a stream the client closed).
class InPlaceBytes final : public music::wave::ByteStore {
 public:
  InPlaceBytes(std::span<const std::uint8_t> bytes, std::int64_t fails_at)
      : bytes_(bytes), fails_at_(fails_at) {}
  std::int64_t size() const noexcept override { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t read_at(void* out, std::int64_t count, std::int64_t offset) const noexcept override {
    if (offset < 0 || offset >= size()) return 0;
    if (offset >= fails_at_) return -1;
    count = std::min({count, size() - offset, fails_at_ - offset});
    std::memcpy(out, bytes_.data() + offset, static_cast<std::size_t>(count));
    return count;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::int64_t fails_at_;
};

// The input's bytes in pieces of at most `piece` bytes a read, as a client's stream gives
// them; or, for a stream that seeks (`in_place`), read in place where it is a recording.
class PiecewiseBytes final : public music::ByteSource {
 public:
  PiecewiseBytes(std::span<const std::uint8_t> bytes, std::uint32_t piece, bool in_place)
      : bytes_(bytes), piece_(piece), in_place_(in_place) {}
  com::HResult status() const override { return com::S_OK; }
  std::shared_ptr<const music::wave::ByteStore> bytes_in_place() const override {
    if (!in_place_) return nullptr;
    return std::make_shared<InPlaceBytes>(bytes_, std::int64_t{piece_} * 64);
  }
  com::HResult read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) const override {
    const std::size_t count = std::min<std::size_t>({size, piece_, bytes_.size() - at_});
    std::memcpy(into, bytes_.data() + at_, count);
    at_ += count;
    got = static_cast<std::uint32_t>(count);
    return com::S_OK;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::uint32_t piece_;
  bool in_place_;
  mutable std::size_t at_ = 0;
};

// A MIDI file of one quarter note `key` on `program`, 96 ticks a quarter.
std::array<std::uint8_t, 37> one_note(std::uint8_t program, std::uint8_t key) {
  return {'M',  'T', 'h', 'd', 0,    0,   0, 6, 0,    0,    0,    1,       0,
          96,   'M', 'T', 'r', 'k',  0,   0, 0, 15,   0,    0xC0, program, 0,
          0x90, key, 100, 96,  0x80, key, 0, 0, 0xFF, 0x2F, 0};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_engine_fuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t loader = data[0] % 3;
  // 0: the whole input at once (a byte array); otherwise pieces of 1 to 255 bytes, and with
  // the top bit of the first byte a stream that seeks, failing after 64 pieces' worth.
  const std::uint32_t piece = data[1] ? data[1] : UINT32_MAX;
  const PiecewiseBytes bytes(std::span(data + 2, size - 2), piece, data[1] && (data[0] & 0x80));

  const com::Ref<Channel> channel = com::make_ref<Channel>();
  std::int32_t hwnd = 0, rate = 22050, slot = 0;
  if (com::failed(channel->InitOrvanAudio(hwnd, rate)) || !channel->Perf) return 0;
  if (loader == 0) {
    channel->Music_LoadBytes(bytes);
  } else if (loader == 1) {
    // The organ note, whose instrument a font from the input replaces.
    if (com::succeeded(channel->SetSoundFontBytes(bytes)))
      channel->Music_LoadBytes(music::MemoryBytes(one_note(19, 60)));
  } else if (channel->LoadDLSBytes(bytes, slot) == com::S_OK) {
    channel->Music_LoadBytes(music::MemoryBytes(one_note(0, 69)));
    channel->ApplyDLS(slot);
  }
  std::int32_t repeats = 0;
  channel->Music_Play(repeats);
  if (channel->Perf && channel->Perf->core()) {
    if (auto* device =
            dynamic_cast<music::output::ManualDevice*>(channel->Perf->core()->device())) {
      device->clear_capture();
      if (com::succeeded(device->pump(4096))) {
        for (float sample : device->capture()) {
          if (!std::isfinite(sample)) {
            std::fprintf(stderr, "a rendered sample is not finite\n");
            std::abort();
          }
        }
      }
      device->clear_capture();
    }
  }
  channel->CleanupAudio();
  return 0;
}
