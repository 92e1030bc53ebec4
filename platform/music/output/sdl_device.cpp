#include "platform/music/output/sdl_device.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace orvan::music::output {
namespace {

constexpr int kBytesPerFrame = 2 * static_cast<int>(sizeof(float));

// The one SDL device of the process and the SdlDevices that play through it. SDL's audio
// start-up and device opening are not safe from several threads at once, so all of it
// happens under `mutex`; the callback reads `started` and each device's source with SDL's
// device lock held, which start() and stop() take too.
struct SharedOutput {
  std::mutex mutex;
  // Guarded by `mutex`:
  SDL_AudioDeviceID id = 0;
  int open_count = 0;
  std::array<bool, SdlDevice::kMaxOpen> slot_taken{};
  // Fixed while the SDL device is open:
  int sample_rate = 0;
  int period_frames = 0;
  std::vector<float> mix;  // one period, allocated when the SDL device opens
  // Started devices, by slot.
  std::array<std::atomic<SdlDevice*>, SdlDevice::kMaxOpen> started{};

  // Render thread only (SDL's audio thread).
  static void fill(void* self, std::uint8_t* stream, int bytes) noexcept {
    auto& shared = *static_cast<SharedOutput*>(self);
    std::memset(stream, 0, static_cast<std::size_t>(bytes));
    auto* out = reinterpret_cast<float*>(stream);
    const int frames = bytes / kBytesPerFrame;
    for (std::atomic<SdlDevice*>& slot : shared.started) {
      SdlDevice* device = slot.load(std::memory_order_acquire);
      if (!device) continue;
      for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, shared.period_frames);
        device->render_period(shared.mix.data(), n);
        float* target = out + done * 2;
        for (int i = 0; i < n * 2; ++i) target[i] += shared.mix[static_cast<std::size_t>(i)];
        done += n;
      }
    }
  }

  // Called with `mutex` held. Opens SDL and its device for the first SdlDevice.
  com::HResult open_locked(int rate) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return com::DSERR_NODRIVER;
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    wanted.samples = static_cast<Uint16>(period_frames_for(rate));
    wanted.callback = &SharedOutput::fill;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // Only the buffer length may differ from what we ask; SDL converts rate and format.
    id = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (id == 0) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return com::DSERR_NODRIVER;
    }
    sample_rate = rate;
    // A backend that insists on a longer buffer still gets it filled in periods of the
    // length we asked for; one that wants a shorter one sets the period.
    period_frames = wanted.samples;
    if (obtained.samples > 0 && obtained.samples < wanted.samples) {
      period_frames = obtained.samples;
    }
    mix.assign(static_cast<std::size_t>(period_frames) * 2, 0.0f);
    SDL_PauseAudioDevice(id, 0);
    return com::S_OK;
  }

  // Called with `mutex` held, once the last SdlDevice has closed.
  void close_locked() {
    SDL_CloseAudioDevice(id);  // joins SDL's audio thread
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    id = 0;
    mix.clear();
    mix.shrink_to_fit();
  }
};

SharedOutput& shared_output() {
  static SharedOutput instance;
  return instance;
}

}  // namespace

com::HResult SdlDevice::open(int sample_rate, std::unique_ptr<OutputDevice>& device) {
  SharedOutput& shared = shared_output();
  std::lock_guard lock(shared.mutex);
  const auto free_slot = std::find(shared.slot_taken.begin(), shared.slot_taken.end(), false);
  if (free_slot == shared.slot_taken.end()) return com::MUSIC_E_DEVICE_FAILED;
  if (shared.open_count == 0) {
    if (com::HResult hr = shared.open_locked(sample_rate); com::failed(hr)) return hr;
  }
  *free_slot = true;
  ++shared.open_count;
  const int slot = static_cast<int>(free_slot - shared.slot_taken.begin());
  device.reset(new SdlDevice(shared.id, slot, shared.sample_rate, shared.period_frames));
  return com::S_OK;
}

SdlDevice::SdlDevice(std::uint32_t sdl_id, int slot, int sample_rate, int period_frames)
    : sdl_id_(sdl_id), slot_(slot), sample_rate_(sample_rate), period_frames_(period_frames) {}

SdlDevice::~SdlDevice() {
  stop();
  SharedOutput& shared = shared_output();
  std::lock_guard lock(shared.mutex);
  shared.slot_taken[static_cast<std::size_t>(slot_)] = false;
  if (--shared.open_count == 0) shared.close_locked();
}

com::HResult SdlDevice::start(RenderSource* source) {
  if (!source) return com::E_POINTER;
  SharedOutput& shared = shared_output();
  SDL_LockAudioDevice(sdl_id_);
  const bool was_started = source_ != nullptr;
  if (!was_started) {
    source_ = source;
    shared.started[static_cast<std::size_t>(slot_)].store(this, std::memory_order_release);
  }
  SDL_UnlockAudioDevice(sdl_id_);
  return was_started ? com::DSERR_INVALIDCALL : com::S_OK;
}

void SdlDevice::stop() {
  // SDL runs the callback with the device locked, so once the lock is ours no render of
  // this device is in progress, and the callbacks after it skip it.
  SharedOutput& shared = shared_output();
  SDL_LockAudioDevice(sdl_id_);
  shared.started[static_cast<std::size_t>(slot_)].store(nullptr, std::memory_order_release);
  source_ = nullptr;
  SDL_UnlockAudioDevice(sdl_id_);
}

void SdlDevice::render_period(float* out, int frames) noexcept {
  // The source hands over finite samples only (a channel that goes wrong silences itself),
  // so this period can be mixed with every other channel's as it is.
  source_->render(out, frames);
  meter_.record(out, frames);
}

}  // namespace orvan::music::output
