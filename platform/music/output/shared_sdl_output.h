// The one SDL device of the process (see sdl_device.h), the SdlDevices that play through
// it, and the thread that keeps it playing: the keeper notices when the device goes away
// (SDL marks it stopped after a lost server or unplugged card, or its callback stops
// coming), keeps every channel's clock running by rendering into nothing while there is
// no device, and opens the default device again, at once and then every kRetryInterval.
// Internal to the SDL output.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com/status.h"
#include "platform/music/output/output_counts.h"
#include "platform/music/output/render_pool.h"
#include "platform/music/output/sdl_device.h"

namespace orvan::music::output {

struct SharedSdlOutput {
  using Clock = std::chrono::steady_clock;
  // How often the keeper looks at a playing device, and how long a callback may stay away
  // before the device counts as lost.
  static constexpr auto kWatchInterval = std::chrono::milliseconds(20);
  static constexpr auto kStallLimit = std::chrono::seconds(1);
  // Reopen attempts after the first (which is made at once).
  static constexpr auto kRetryInterval = std::chrono::milliseconds(500);
  // The keeper renders what a missing device would have played; if it falls further behind
  // than this (a slow reopen attempt), it skips ahead instead of racing to catch up.
  static constexpr auto kLongestCatchUp = std::chrono::seconds(2);

  static SharedSdlOutput& instance();

  // SDL's audio start-up and device opening are not safe from several threads at once, so
  // all of it happens under `mutex`, the keeper's work too (it waits with it released).
  std::mutex mutex;
  // Guarded by `mutex`:
  std::uint32_t id = 0;  // the SDL device; 0 while none is open (closed, or lost)
  int open_count = 0;
  std::array<bool, SdlDevice::kMaxOpen> slot_taken{};
  std::uint64_t generation = 0;  // a keeper ends once the opening it keeps is closed
  std::thread keeper;
  std::condition_variable keeper_wake;
  // Fixed while any SdlDevice is open:
  int sample_rate = 0;
  int period_frames = 0;
  std::vector<float> channel_periods;  // a period for each slot, rendered side by side
  std::vector<float> discard;          // where the keeper renders while there is no device
  RenderPool pool;                     // started with the device, stopped with it

  // Whoever renders (SDL's callback or the keeper) holds `render_mutex` for the whole
  // period; start() and stop() hold it for a pointer's store, so once stop() has it no
  // render of that device is in progress.
  std::mutex render_mutex;
  std::array<std::atomic<SdlDevice*>, SdlDevice::kMaxOpen> started{};
  // True while the keeper renders in the device's place: a callback still coming from a
  // lost device hands over silence and leaves the channels alone.
  std::atomic<bool> keeper_renders{false};
  std::atomic<std::int64_t> last_callback_ns{0};
  std::atomic<bool> restart_late_meter{false};
  // The first frame of the period being rendered, counted over every period the channels
  // rendered since the device was first opened (written on the render thread only).
  std::atomic<std::int64_t> output_frame{0};
  LatePeriodMeter late_meter;  // SDL's audio thread only
  // SDL's dummy and disk drivers pace themselves with sleeps that always run a little long:
  // they keep no clock a period could be late by. Set before SDL's audio thread starts.
  bool device_has_clock = true;

  std::atomic<std::int64_t> losses{0};
  std::atomic<std::int64_t> reopens{0};
  std::atomic<std::int64_t> late_periods{0};

  OutputCounts counts() const {
    return {losses.load(std::memory_order_relaxed), reopens.load(std::memory_order_relaxed),
            late_periods.load(std::memory_order_relaxed)};
  }

  // With `mutex` held. Opens SDL and its device for the first SdlDevice, and its keeper.
  com::HResult open_locked(int rate);
  // With `mutex` held, once the last SdlDevice has closed: closes the device and ends the
  // keeper (waited for with `mutex` released; `lock` holds it again on return).
  void close_locked(std::unique_lock<std::mutex>& lock);

  // Render thread only (SDL's callback, or the keeper while there is no device): every
  // started device's period, mixed into `out`, period by period, lower render ranks first.
  void render_all(float* out, int frames) noexcept;

 private:
  static void sdl_callback(void* self, std::uint8_t* stream, int bytes) noexcept;
  // With `mutex` held: SDL's audio subsystem and the default device at the fixed rate and
  // period, playing. `first`: the period may still follow what the device prefers.
  bool open_sdl_device_locked(bool first);
  void close_sdl_device_locked();
  bool device_lost_locked(Clock::time_point now) const;
  void keep(std::uint64_t kept_generation);  // the keeper thread
};

}  // namespace orvan::music::output
