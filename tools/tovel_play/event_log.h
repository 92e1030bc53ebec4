// `tovel-play --events`: each event of the channel on its own line as it is heard (or
// rendered), with its output frame and that frame as seconds at the channel's rate:
//
//   event Beat bar=2 beat=1 frame=96000 time=2.000
//   event Marker name="verse" frame=24000 time=0.500
#pragma once

#include <iosfwd>
#include <string>

#include "engine/event_delivery.h"

namespace orvan::tovel_play {

// One event's line, without the newline.
std::string event_line(const engine::HeardEvent& event, int rate);

// A handler that writes event_line() of each event to `out`. `out` must outlive it; the
// lines are whole even though the handler runs on the channel's own thread.
engine::EventHandler event_printer(std::ostream& out, int rate);

}  // namespace orvan::tovel_play
