// The keeper thread of the shared SDL output (shared_sdl_output.h). It is never the render
// thread of a device that is there: it renders only while there is none, into nothing.
#include <SDL.h>

#include <algorithm>

#include "platform/music/output/shared_sdl_output.h"

namespace orvan::music::output {

bool SharedSdlOutput::device_lost_locked(Clock::time_point now) const {
  // SDL marks a device it lost (a server gone, a card unplugged) as stopped; its thread then
  // goes on calling back into nothing. A callback that stops coming is a device that hangs.
  if (SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_STOPPED) return true;
  const Clock::time_point last_callback{
      std::chrono::nanoseconds(last_callback_ns.load(std::memory_order_relaxed))};
  return now - last_callback > kStallLimit;
}

void SharedSdlOutput::keep(std::uint64_t kept_generation) {
  std::unique_lock lock(mutex);
  bool lost = false;
  // While lost: the keeper's own clock, started at the loss, and the frames it has
  // rendered by it; the music goes on as if the device were there.
  Clock::time_point clock_start;
  std::int64_t clock_frames = 0;
  Clock::time_point next_try;
  const auto frames_time = [&](std::int64_t frames) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
        static_cast<double>(frames) / static_cast<double>(sample_rate)));
  };

  while (generation == kept_generation) {
    const Clock::time_point now = Clock::now();
    if (!lost) {
      if (!device_lost_locked(now)) {
        keeper_wake.wait_for(lock, kWatchInterval);
        continue;
      }
      losses.fetch_add(1, std::memory_order_relaxed);
      keeper_renders.store(true, std::memory_order_release);
      close_sdl_device_locked();
      lost = true;
      clock_start = now;
      clock_frames = 0;
      next_try = now;  // the first attempt at once
    }

    if (now - (clock_start + frames_time(clock_frames)) > kLongestCatchUp) {
      clock_start = now - frames_time(clock_frames);
    }
    while (clock_start + frames_time(clock_frames + period_frames) <= now) {
      render_all(discard.data(), period_frames);
      clock_frames += period_frames;
    }

    if (now >= next_try) {
      if (open_sdl_device_locked(false)) {
        reopens.fetch_add(1, std::memory_order_relaxed);
        lost = false;
        keeper_renders.store(false, std::memory_order_release);
        SDL_PauseAudioDevice(id, 0);
        continue;
      }
      next_try = Clock::now() + kRetryInterval;
    }
    keeper_wake.wait_until(
        lock, std::min(next_try, clock_start + frames_time(clock_frames + period_frames)));
  }
}

}  // namespace orvan::music::output
