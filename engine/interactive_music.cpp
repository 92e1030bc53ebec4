// The interactive-music members of the second interface that wait for the render side's
// play sources: loop regions, pause, scheduled starts, stingers, layers and per-channel
// volumes. They are declared so that clients bind to their final places, and
// answer E_NOTIMPL until the render side can carry them.
#include "engine/orvan_music.h"

namespace orvan::engine {

HResult OrvanMusic::SetLoopRegion(std::int32_t /*StartTime*/, std::int32_t /*EndTime*/) {
  return com::E_NOTIMPL;
}

HResult OrvanMusic::GetLoopStart(std::int32_t& /*result*/) {
  return com::E_NOTIMPL;
}

HResult OrvanMusic::GetLoopEnd(std::int32_t& /*result*/) {
  return com::E_NOTIMPL;
}

HResult OrvanMusic::Music_Pause() {
  return com::E_NOTIMPL;
}

HResult OrvanMusic::Music_Resume() {
  return com::E_NOTIMPL;
}

HResult OrvanMusic::Music_PlayWith(OrvanMusic* /*Leader*/, std::int32_t /*Boundary*/) {
  return com::E_NOTIMPL;
}

HResult OrvanMusic::SetChannelVolume(std::int32_t /*Channel*/, std::int32_t /*Volume*/,
                                     std::int32_t /*Milliseconds*/) {
  return com::E_NOTIMPL;
}

}  // namespace orvan::engine
