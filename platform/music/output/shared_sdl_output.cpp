#include "platform/music/output/shared_sdl_output.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

#include "platform/music/output/render_meter.h"

namespace orvan::music::output {
namespace {

constexpr int kBytesPerFrame = 2 * static_cast<int>(sizeof(float));

std::int64_t steady_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             SharedSdlOutput::Clock::now().time_since_epoch())
      .count();
}

}  // namespace

namespace {

std::atomic<int>& render_threads() {
  static std::atomic<int> threads{0};
  return threads;
}

}  // namespace

void set_render_threads(int threads) {
  render_threads().store(threads, std::memory_order_relaxed);
}

SharedSdlOutput& SharedSdlOutput::instance() {
  static SharedSdlOutput shared;
  return shared;
}

void SharedSdlOutput::render_all(float* out, int frames) noexcept {
  std::memset(out, 0, static_cast<std::size_t>(frames) * 2 * sizeof(float));
  std::lock_guard lock(render_mutex);
  // A channel that follows another's clock renders after it in every period, so that it
  // sees where the other's boundaries fell in that very period. Channels of one rank render
  // side by side (render_pool.h) and are mixed in slot order.
  constexpr int kDeepestRank = SdlDevice::kMaxOpen;
  std::array<PeriodRenderer*, SdlDevice::kMaxOpen> devices{};
  std::array<float*, SdlDevice::kMaxOpen> into{};
  for (int done = 0; done < frames;) {
    const int n = std::min(frames - done, period_frames);
    float* target = out + done * 2;
    int rank = 0;
    while (rank >= 0) {
      int next = -1;
      int count = 0;
      for (std::size_t slot = 0; slot < started.size(); ++slot) {
        SdlDevice* device = started[slot].load(std::memory_order_acquire);
        if (!device) continue;
        const int of = std::min(device->render_rank(), kDeepestRank);
        if (of > rank && (next < 0 || of < next)) next = of;
        if (of != rank) continue;
        devices[static_cast<std::size_t>(count)] = device;
        into[static_cast<std::size_t>(count)] =
            channel_periods.data() + slot * static_cast<std::size_t>(period_frames) * 2;
        ++count;
      }
      pool.render(devices.data(), into.data(), count, n);
      for (int c = 0; c < count; ++c) {
        const float* period = into[static_cast<std::size_t>(c)];
        for (int i = 0; i < n * 2; ++i) target[i] += period[i];
      }
      rank = next;
    }
    output_frame.fetch_add(n, std::memory_order_relaxed);
    done += n;
  }
}

void SharedSdlOutput::sdl_callback(void* self, std::uint8_t* stream, int bytes) noexcept {
  auto& shared = *static_cast<SharedSdlOutput*>(self);
  const std::int64_t asked = steady_ns();
  shared.last_callback_ns.store(asked, std::memory_order_relaxed);
  auto* out = reinterpret_cast<float*>(stream);
  const int frames = bytes / kBytesPerFrame;
  if (shared.keeper_renders.load(std::memory_order_acquire)) {
    std::memset(stream, 0, static_cast<std::size_t>(bytes));
    return;
  }
  if (shared.restart_late_meter.exchange(false, std::memory_order_acq_rel)) {
    shared.late_meter.restart();
  }
  shared.render_all(out, frames);
  if (shared.device_has_clock &&
      shared.late_meter.period(asked, steady_ns(), frames, shared.sample_rate)) {
    shared.late_periods.fetch_add(1, std::memory_order_relaxed);
  }
}

bool SharedSdlOutput::open_sdl_device_locked(bool first) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  const char* driver = SDL_GetCurrentAudioDriver();
  device_has_clock =
      !driver || (std::strcmp(driver, "dummy") != 0 && std::strcmp(driver, "disk") != 0);
  SDL_AudioSpec wanted{};
  wanted.freq = sample_rate;
  wanted.format = AUDIO_F32SYS;
  wanted.channels = 2;
  wanted.samples = static_cast<Uint16>(first ? period_frames_for(sample_rate) : period_frames);
  wanted.callback = &SharedSdlOutput::sdl_callback;
  wanted.userdata = this;
  SDL_AudioSpec obtained{};
  // Only the buffer length of the first device may differ from what we ask (SDL converts
  // rate and format); a device opened again keeps the period the channels were told.
  const int allowed = first ? SDL_AUDIO_ALLOW_SAMPLES_CHANGE : 0;
  id = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, allowed);
  if (id == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  if (first) {
    // A backend that insists on a longer buffer still gets it filled in periods of the
    // length we asked for; one that wants a shorter one sets the period.
    period_frames = wanted.samples;
    if (obtained.samples > 0 && obtained.samples < wanted.samples) {
      period_frames = obtained.samples;
    }
  }
  last_callback_ns.store(steady_ns(), std::memory_order_relaxed);
  restart_late_meter.store(true, std::memory_order_release);
  return true;
}

void SharedSdlOutput::close_sdl_device_locked() {
  if (id == 0) return;
  SDL_CloseAudioDevice(id);  // joins SDL's audio thread
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  id = 0;
}

com::HResult SharedSdlOutput::open_locked(int rate) {
  sample_rate = rate;
  if (!open_sdl_device_locked(true)) return com::DSERR_NODRIVER;
  channel_periods.assign(static_cast<std::size_t>(period_frames) * 2 * SdlDevice::kMaxOpen, 0.0f);
  discard.assign(static_cast<std::size_t>(period_frames) * 2, 0.0f);
  pool.start(RenderPool::threads_for(render_threads().load(std::memory_order_relaxed),
                                     std::thread::hardware_concurrency()));
  keeper_renders.store(false, std::memory_order_release);
  SDL_PauseAudioDevice(id, 0);
  keeper = std::thread(&SharedSdlOutput::keep, this, ++generation);
  return com::S_OK;
}

void SharedSdlOutput::close_locked(std::unique_lock<std::mutex>& lock) {
  ++generation;  // the keeper ends when it next looks
  keeper_wake.notify_all();
  close_sdl_device_locked();
  // Nothing renders now: SDL's thread is gone and the keeper cannot run while `mutex` is
  // ours. An opening after ours, once `mutex` is released, starts with fresh buffers.
  pool.stop();
  channel_periods.clear();
  channel_periods.shrink_to_fit();
  discard.clear();
  discard.shrink_to_fit();
  std::thread ended = std::move(keeper);
  lock.unlock();
  if (ended.joinable()) ended.join();
  lock.lock();
}

}  // namespace orvan::music::output
