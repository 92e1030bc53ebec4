// Seconds of the piece and what the output has done, for progress bars and trouble reports.
#include <algorithm>
#include <limits>

#include "engine/orvan_music.h"

namespace orvan::engine {

using com::failed;
using namespace music;

namespace {

// Seconds to `music_time` of `segment` at the master tempo of `perf`.
HResult seconds_at(const com::Ref<DirectMusicPerformance8>& perf,
                   const com::Ref<DirectMusicSegment8>& segment, std::int32_t music_time,
                   double& result) {
  float tempo = 0.0f;
  const HResult hr = com::call(perf, &DirectMusicPerformance8::GetMasterTempo, tempo);
  if (failed(hr)) return hr;
  if (!segment) return com::E_OBJECT_NOT_SET;
  result = segment->content().seconds_at(music_time) / static_cast<double>(tempo);
  return com::S_OK;
}

// The output's counts are 64-bit; a Long holds any a program will see, and saturates.
std::int32_t saturated(std::int64_t count) {
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max()));
}

// One figure of the output's progress, written only on success.
template <class Value, class Pick>
HResult from_output(const com::Ref<DirectMusicPerformance8>& perf, Value& result, Pick pick) {
  OutputProgress progress;
  const HResult hr = com::call(perf, &DirectMusicPerformance8::GetOutputProgress, progress);
  if (!failed(hr)) result = pick(progress);
  return hr;
}

}  // namespace

HResult OrvanMusic::GetLengthSeconds(double& result) {
  std::int32_t length = 0;
  const HResult hr = GetLengh(length);
  if (failed(hr)) return hr;
  return seconds_at(Perf, Seg, length, result);
}

HResult OrvanMusic::GetPositionSeconds(double& result) {
  std::int32_t position = 0;
  const HResult hr = GetCurrentPosition(position);
  if (failed(hr)) return hr;
  return seconds_at(Perf, Seg, position, result);
}

HResult OrvanMusic::GetOutputFrames(double& result) {
  return from_output(
      Perf, result, [](const OutputProgress& p) { return static_cast<double>(p.frames_rendered); });
}

HResult OrvanMusic::GetOutputPeak(float& result) {
  return from_output(Perf, result, [](const OutputProgress& p) { return p.last_period_peak; });
}

HResult OrvanMusic::GetDeviceLosses(std::int32_t& result) {
  return from_output(Perf, result,
                     [](const OutputProgress& p) { return saturated(p.device_losses); });
}

HResult OrvanMusic::GetDeviceReopens(std::int32_t& result) {
  return from_output(Perf, result,
                     [](const OutputProgress& p) { return saturated(p.device_reopens); });
}

HResult OrvanMusic::GetLatePeriods(std::int32_t& result) {
  return from_output(Perf, result,
                     [](const OutputProgress& p) { return saturated(p.late_periods); });
}

HResult OrvanMusic::GetDroppedEvents(std::int32_t& result) {
  result = static_cast<std::int32_t>(
      std::min<std::uint64_t>(DroppedEvents(), std::numeric_limits<std::int32_t>::max()));
  return com::S_OK;
}

}  // namespace orvan::engine
