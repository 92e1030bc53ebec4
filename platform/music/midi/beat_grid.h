// A MIDI piece's bars and beats, from its time signatures (4/4 until the first). A
// signature's beat is its denominator's note; a signature that falls inside a bar ends that
// bar there and starts a new one.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/music/midi/sequence.h"

namespace orvan::music::midi {

struct GridPosition {
  std::int64_t bar = 1;   // from 1
  std::int64_t beat = 1;  // from 1, within the bar
};

// Where `position` (music time) falls.
GridPosition grid_position(const Sequence& sequence, std::int32_t position);

// One beat of a pass: where it begins and its place in the grid.
struct BeatMark {
  std::int32_t time = 0;
  std::int32_t bar = 1;
  std::int32_t beat = 1;
};

// The piece's beats are listed up to this many; a hostile file cannot make the list huge.
inline constexpr std::size_t kMaxBeatMarks = std::size_t{1} << 20;

// Every beat that begins within one pass, [0, length), in time order: what grid_position
// answers at each of those times.
std::vector<BeatMark> beat_marks(const Sequence& sequence);

}  // namespace orvan::music::midi
