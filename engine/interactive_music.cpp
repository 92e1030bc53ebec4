// The interactive-music members of the second interface: loop regions, pause and channel
// volumes here (scheduled starts, stingers and layers in engine/transitions.cpp).
#include "engine/orvan_music.h"

namespace orvan::engine {

using com::call;

HResult OrvanMusic::SetLoopRegion(std::int32_t StartTime, std::int32_t EndTime) {
  return call(Seg, &music::DirectMusicSegment8::SetLoopPoints, StartTime, EndTime);
}

HResult OrvanMusic::GetLoopStart(std::int32_t& result) {
  std::int32_t start = 0, end = 0;
  const HResult hr = call(Seg, &music::DirectMusicSegment8::GetLoopPoints, start, end);
  if (com::succeeded(hr)) result = start;
  return hr;
}

HResult OrvanMusic::GetLoopEnd(std::int32_t& result) {
  std::int32_t start = 0, end = 0;
  const HResult hr = call(Seg, &music::DirectMusicSegment8::GetLoopPoints, start, end);
  if (com::succeeded(hr)) result = end;
  return hr;
}

HResult OrvanMusic::Music_Pause() {
  return call(Perf, &music::DirectMusicPerformance8::Pause, SegState);
}

HResult OrvanMusic::Music_Resume() {
  return call(Perf, &music::DirectMusicPerformance8::Resume, SegState);
}

HResult OrvanMusic::SetChannelVolume(std::int32_t Channel, std::int32_t Volume,
                                     std::int32_t Milliseconds) {
  return call(Perf, &music::DirectMusicPerformance8::SetChannelVolume, Channel, Volume,
              Milliseconds);
}

}  // namespace orvan::engine
