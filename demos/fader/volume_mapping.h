// The fader's one scroll bar sets both channels' master volumes in opposite directions.
// Values are hundredths of a decibel, as SetMasterVolume takes them.
#pragma once

#include <cstdint>

namespace orvan::fader {

inline constexpr int kThumbMinimum = -2500;
inline constexpr int kThumbMaximum = 0;
inline constexpr int kThumbAtStart = -1400;

// The sums are formed as signed 16-bit numbers, as the scroll bar holds them, and widened
// for the call; over the bar's range -2500..0 they stay within -2300..200.
inline std::int32_t channel1_volume(std::int16_t thumb) {
  return static_cast<std::int16_t>(thumb + 200);
}
inline std::int32_t channel2_volume(std::int16_t thumb) {
  return static_cast<std::int16_t>(-(thumb + 2500) + 200);
}

}  // namespace orvan::fader
