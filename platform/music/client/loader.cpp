#include "platform/music/client/loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <memory>

#include "platform/music/client/segment.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/wave/wave_source.h"

namespace orvan::music {

namespace {

// MIDI and RMID files go to the MIDI reader, and so does anything whose first bytes cannot
// be read (the reader names why); everything else is offered to the audio decoder.
bool for_midi_reader(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;
  std::array<std::uint8_t, 12> first{};
  const ssize_t got = ::read(fd, first.data(), first.size());
  ::close(fd);
  if (got <= 0) return true;
  return wave::looks_like_midi(first.data(), static_cast<std::size_t>(got));
}

}  // namespace

HResult DirectMusicLoader8::LoadSegment(const std::string& path,
                                        Ref<DirectMusicSegment8>& segment) {
  if (!for_midi_reader(path)) {
    std::shared_ptr<const wave::WaveSource> source;
    const HResult hr = wave::open_wave_source(path, source);
    if (com::failed(hr)) return hr;
    segment =
        com::make_ref<DirectMusicSegment8>(DirectMusicSegment8::Recorded{}, std::move(source));
    return com::S_OK;
  }
  auto sequence = std::make_shared<midi::Sequence>();
  // The reader's statuses already separate "cannot open", "not a music file" and the
  // specific ways a music file can be broken; they are handed on as they are.
  const HResult hr = midi::read_sequence_file(path, *sequence);
  if (com::failed(hr)) return hr;
  segment = com::make_ref<DirectMusicSegment8>(std::move(sequence));
  return com::S_OK;
}

}  // namespace orvan::music
