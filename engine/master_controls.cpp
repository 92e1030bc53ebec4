// Master tempo, volume and fades: straight to this channel's own performance, nothing kept here.
#include "engine/orvan_music.h"

namespace orvan::engine {

using com::call;
using com::failed;
using music::DirectMusicPerformance8;

HResult OrvanMusic::SetMasterTempo(const float& Value) {
  return call(Perf, &DirectMusicPerformance8::SetMasterTempo, Value);
}

HResult OrvanMusic::SetMasterVolume(const std::int32_t& Value) {
  return call(Perf, &DirectMusicPerformance8::SetMasterVolume, Value);
}

HResult OrvanMusic::FadeTo(std::int32_t Volume, std::int32_t Milliseconds) {
  return call(Perf, &DirectMusicPerformance8::FadeMasterVolume, Volume, Milliseconds);
}

HResult OrvanMusic::GetMasterTempo(float& result) {
  return com::call_get(Perf, &DirectMusicPerformance8::GetMasterTempo, result);
}

HResult OrvanMusic::GetMasterVolume(std::int32_t& result) {
  return com::call_get(Perf, &DirectMusicPerformance8::GetMasterVolume, result);
}

}  // namespace orvan::engine
