#include "platform/music/performance.h"

// Performances do not play yet; these entry points exist so that the root object links.
// The performance support replaces this file (delete it when performance.cpp lands).
namespace orvan::music {

class PerformanceCore {};

DirectMusicPerformance8::DirectMusicPerformance8(std::shared_ptr<EventHub>) {}
DirectMusicPerformance8::~DirectMusicPerformance8() = default;

}  // namespace orvan::music
