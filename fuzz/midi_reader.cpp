// Feeds arbitrary bytes to the MIDI reader: it must return a status, never crash, and a
// sequence it accepts must hold together.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/music/midi/sequence.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvan::music::midi;
  Sequence seq;
  const auto hr = read_sequence(std::span<const std::uint8_t>(data, size), seq);
  if (orvan::com::failed(hr)) return 0;

  // What the render thread relies on: ordered times within the length, payloads inside
  // the payload buffer, a tempo map that answers.
  std::int32_t last = 0;
  for (const Event& e : seq.events) {
    if (e.time < last || e.time > seq.length) std::abort();
    if (std::uint64_t{e.payload_offset} + e.payload_size > seq.payload.size()) std::abort();
    last = e.time;
  }
  if (seq.length < 0 || seq.tempo.points().empty()) std::abort();
  const double seconds = seq.tempo.seconds_at(seq.length);
  if (!(seconds >= 0.0) || seconds > 1e12) std::abort();
  return 0;
}
