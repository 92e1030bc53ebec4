#include "platform/music/output/sdl_device.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace orvan::music::output {
namespace {

// SDL's audio subsystem is process-wide and its start-up is not thread-safe: every device
// of the process shares one start-up, counted here, and the last device to close ends it.
struct AudioSubsystem {
  std::mutex mutex;
  int users = 0;
};

AudioSubsystem& subsystem() {
  static AudioSubsystem instance;
  return instance;
}

bool acquire_audio() {
  AudioSubsystem& s = subsystem();
  std::lock_guard lock(s.mutex);
  if (s.users == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  ++s.users;
  return true;
}

void release_audio() {
  AudioSubsystem& s = subsystem();
  std::lock_guard lock(s.mutex);
  if (--s.users == 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

constexpr int kBytesPerFrame = 2 * static_cast<int>(sizeof(float));

}  // namespace

com::HResult SdlDevice::open(int sample_rate, std::unique_ptr<OutputDevice>& device) {
  if (!acquire_audio()) return com::DSERR_NODRIVER;
  // Built first so that SDL gets its address for the callback; it holds the subsystem.
  std::unique_ptr<SdlDevice> opened(new SdlDevice(sample_rate));

  SDL_AudioSpec wanted{};
  wanted.freq = sample_rate;
  wanted.format = AUDIO_F32SYS;
  wanted.channels = 2;
  wanted.samples = static_cast<Uint16>(opened->period_frames_);
  wanted.callback = &SdlDevice::fill;
  wanted.userdata = opened.get();
  SDL_AudioSpec obtained{};
  // Only the period may differ from what we ask; SDL converts rate and format for us.
  const SDL_AudioDeviceID id =
      SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
  if (id == 0) return com::DSERR_NODRIVER;
  opened->device_id_ = id;
  // A backend that insists on a longer buffer still gets it filled in periods of the
  // length we asked for; one that wants a shorter one sets the period.
  if (obtained.samples > 0 && obtained.samples < opened->period_frames_) {
    opened->period_frames_ = obtained.samples;
  }
  device = std::move(opened);
  return com::S_OK;
}

SdlDevice::SdlDevice(int sample_rate)
    : sample_rate_(sample_rate), period_frames_(period_frames_for(sample_rate)) {}

SdlDevice::~SdlDevice() {
  if (device_id_ != 0) {
    stop();
    SDL_CloseAudioDevice(device_id_);
  }
  release_audio();
}

com::HResult SdlDevice::start(RenderSource* source) {
  if (!source) return com::E_POINTER;
  RenderSource* none = nullptr;
  if (!source_.compare_exchange_strong(none, source)) return com::DSERR_INVALIDCALL;
  SDL_PauseAudioDevice(device_id_, 0);
  return com::S_OK;
}

void SdlDevice::stop() {
  // SDL runs the callback with the device locked, so once the lock is ours no render is
  // in progress, and the callbacks after it find no source.
  SDL_LockAudioDevice(device_id_);
  source_.store(nullptr, std::memory_order_release);
  SDL_UnlockAudioDevice(device_id_);
  SDL_PauseAudioDevice(device_id_, 1);
}

void SdlDevice::fill(void* self, std::uint8_t* stream, int bytes) noexcept {
  auto& device = *static_cast<SdlDevice*>(self);
  auto* out = reinterpret_cast<float*>(stream);
  int frames = bytes / kBytesPerFrame;
  RenderSource* source = device.source_.load(std::memory_order_acquire);
  if (!source) {
    std::memset(stream, 0, static_cast<std::size_t>(bytes));
    return;
  }
  while (frames > 0) {
    const int n = std::min(frames, device.period_frames_);
    source->render(out, n);
    device.meter_.record(out, n);
    out += n * 2;
    frames -= n;
  }
}

}  // namespace orvan::music::output
