// A bounded structural check of a DLS collection, run before the synthesizer library reads
// the file. It tells "not a DLS collection" from "a DLS collection, but broken", and keeps
// files whose sizes, counts or offsets disagree with the bytes present away from the
// library's reader. It reads only the bytes it is given and allocates nothing a header
// claims.
#pragma once

#include <cstdint>
#include <span>

#include "platform/com/status.h"

namespace orvan::music {

struct CollectionSummary {
  std::uint32_t instruments = 0;
  std::uint32_t regions = 0;
  std::uint32_t waves = 0;
  bool level2 = false;  // has level 2 regions or articulation
};

// S_OK for a well-formed collection (level 1 or 2); MUSIC_E_NOT_DLS when the bytes are no
// RIFF 'DLS ' form at all; MUSIC_E_CORRUPT_COLLECTION when they are one whose structure is
// broken (truncated, sizes past their parent, missing or inconsistent parts, a wave format
// the synthesizer cannot play). `summary` is filled only on success.
com::HResult check_collection(std::span<const std::uint8_t> file, CollectionSummary& summary);

}  // namespace orvan::music
