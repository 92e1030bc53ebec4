#include "platform/music/client/segment_state.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/render/playback_shared.h"

// Client side of pausing a play and going on with it, and of channel volumes.
namespace orvan::music {

HResult PerformanceCore::pause(const DirectMusicSegmentState8* state) {
  std::lock_guard lock(client_mutex_);
  collect_locked();
  const bool still_paused = paused_state_ && transport_commands_ == transport_at_pause_;
  if (still_paused && paused_state_ == state) return com::S_FALSE;
  if (!state || !state->shared()->playing.load(std::memory_order_relaxed)) {
    return com::DSERR_INVALIDCALL;
  }
  Command command;
  command.kind = CommandKind::Pause;
  command.target = state;
  if (HResult hr = push_command(command); com::failed(hr)) return hr;
  paused_state_ = state;
  transport_at_pause_ = transport_commands_;
  state->shared()->playing.store(false, std::memory_order_relaxed);
  return com::S_OK;
}

HResult PerformanceCore::resume(const DirectMusicSegmentState8* state) {
  std::lock_guard lock(client_mutex_);
  const bool paused = state && paused_state_ == state && transport_commands_ == transport_at_pause_;
  if (!paused) {
    // Playing on already (S_FALSE), or nothing of it left to go on with.
    return state && state->shared()->playing.load(std::memory_order_relaxed)
               ? com::S_FALSE
               : com::DSERR_INVALIDCALL;
  }
  Command command;
  command.kind = CommandKind::Resume;
  command.target = state;
  if (HResult hr = push_command(command); com::failed(hr)) return hr;
  paused_state_ = nullptr;
  state->shared()->playing.store(true, std::memory_order_relaxed);
  return com::S_OK;
}

HResult PerformanceCore::ramp_channel_volume(int channel, std::int32_t mb, std::int64_t frames) {
  std::lock_guard lock(client_mutex_);
  Command command;
  command.kind = CommandKind::ChannelVolume;
  command.channel = channel;
  command.volume = mb;
  command.frames = frames;
  return push_command(command);
}

}  // namespace orvan::music
