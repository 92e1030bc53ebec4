// Converts absolute file ticks to music time and, for SMPTE files, to seconds, exactly:
// music = round(ticks * num / den) in integer arithmetic, so no error accumulates.
#pragma once

#include <cstdint>

#include "platform/music/midi/sequence.h"

namespace orvan::music::midi {

class TickScale {
 public:
  explicit TickScale(const Division& division);

  // The largest tick whose music time still fits a signed 32-bit value.
  std::uint64_t max_ticks() const { return max_ticks_; }
  // Only for ticks <= max_ticks().
  std::int32_t to_music(std::uint64_t ticks) const;
  // SMPTE files only: real time is fixed by the division.
  double smpte_seconds(std::uint64_t ticks) const;

 private:
  std::uint64_t num_ = 1;
  std::uint64_t den_ = 1;
  std::uint64_t max_ticks_ = 0;
  double ticks_per_second_ = 1.0;
};

}  // namespace orvan::music::midi
