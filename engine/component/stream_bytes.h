// A client's stream as bytes read in place (byte_source.h): a recording in a stream that can
// seek plays from the stream itself rather than from a copy.
#pragma once

#include <memory>

#include "orvan/tovel.h"
#include "platform/music/wave/byte_store.h"

namespace orvan::engine::component {

// The bytes of `object` from its present position to its end, holding one reference to its
// IStream until the last holder lets go; nullptr when it is no IStream or cannot tell its
// size by seeking. Leaves the stream's position where it was.
std::shared_ptr<const music::wave::ByteStore> stream_bytes(IUnknown* object);

}  // namespace orvan::engine::component
