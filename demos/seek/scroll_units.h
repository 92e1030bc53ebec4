// One step of the position scroll bar stands for 100 music-time units.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace orvan::seek {

// The scroll-bar step for a music time: divided by 100 in floating point and rounded to the
// nearest whole number, a half going to the even neighbour (250 -> 2, 350 -> 4). The bar
// holds signed 16-bit numbers, so a result outside that range is clamped into it.
inline int scroll_steps(std::int32_t music_time) {
  const double steps = std::nearbyint(static_cast<double>(music_time) / 100.0);
  constexpr double lowest = std::numeric_limits<std::int16_t>::min();
  constexpr double highest = std::numeric_limits<std::int16_t>::max();
  if (steps < lowest) return static_cast<int>(lowest);
  if (steps > highest) return static_cast<int>(highest);
  return static_cast<int>(steps);
}

// The music time a thumb position seeks to, as a signed 32-bit product.
inline std::int32_t music_time_of_step(int step) {
  return static_cast<std::int32_t>(step) * 100;
}

}  // namespace orvan::seek
