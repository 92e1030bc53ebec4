#include "platform/music/midi/tick_scale.h"

#include <limits>

namespace orvan::music::midi {

namespace {

// SMPTE files play as if at 120 BPM: two quarters, 1536 music ticks, a second.
constexpr std::uint64_t kSmpteMusicPerSecond = 2 * kTicksPerQuarter;

}  // namespace

Division decode_division(std::uint16_t word) {
  Division d;
  if ((word & 0x8000u) == 0) {
    d.ticks_per_quarter = word;
    return d;
  }
  // The high byte is the frame rate as a negative two's-complement number.
  const auto high = static_cast<std::uint8_t>(word >> 8);
  d.smpte_fps = 256 - high;
  d.ticks_per_frame = word & 0xFF;
  return d;
}

TickScale::TickScale(const Division& division) {
  if (!division.is_smpte()) {
    num_ = static_cast<std::uint64_t>(kTicksPerQuarter);
    den_ = static_cast<std::uint64_t>(division.ticks_per_quarter);
  } else {
    const auto tpf = static_cast<std::uint64_t>(division.ticks_per_frame);
    if (division.smpte_fps == 29) {
      // 29.97 frames a second is 30000/1001.
      num_ = kSmpteMusicPerSecond * 1001;
      den_ = 30000 * tpf;
    } else {
      num_ = kSmpteMusicPerSecond;
      den_ = static_cast<std::uint64_t>(division.smpte_fps) * tpf;
    }
    ticks_per_second_ = static_cast<double>(den_) * static_cast<double>(kSmpteMusicPerSecond) /
                        static_cast<double>(num_);
  }
  // Rounding half up, to_music(t) <= INT32_MAX while t * num + den / 2 < (INT32_MAX + 1) * den.
  const std::uint64_t limit =
      (static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) + 1) * den_;
  max_ticks_ = (limit - den_ / 2 - 1) / num_;
}

std::int32_t TickScale::to_music(std::uint64_t ticks) const {
  return static_cast<std::int32_t>((ticks * num_ + den_ / 2) / den_);
}

double TickScale::smpte_seconds(std::uint64_t ticks) const {
  return static_cast<double>(ticks) / ticks_per_second_;
}

}  // namespace orvan::music::midi
