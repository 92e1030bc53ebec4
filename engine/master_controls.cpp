// Master tempo and volume: straight to this channel's own performance, nothing kept here.
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

HResult OrvanMusic::GetMasterTempo(float& result) {
  float tempo = 0.0f;
  const HResult hr = call(Perf, &DirectMusicPerformance8::GetMasterTempo, tempo);
  if (!failed(hr)) result = tempo;
  return hr;
}

HResult OrvanMusic::GetMasterVolume(std::int32_t& result) {
  std::int32_t volume = 0;
  const HResult hr = call(Perf, &DirectMusicPerformance8::GetMasterVolume, volume);
  if (!failed(hr)) result = volume;
  return hr;
}

}  // namespace orvan::engine
