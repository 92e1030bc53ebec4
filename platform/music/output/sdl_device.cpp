#include "platform/music/output/sdl_device.h"

#include <algorithm>
#include <mutex>

#include "platform/music/output/shared_sdl_output.h"

namespace orvan::music::output {

com::HResult SdlDevice::open(int sample_rate, std::unique_ptr<OutputDevice>& device) {
  SharedSdlOutput& shared = SharedSdlOutput::instance();
  std::lock_guard lock(shared.mutex);
  const auto free_slot = std::find(shared.slot_taken.begin(), shared.slot_taken.end(), false);
  if (free_slot == shared.slot_taken.end()) return com::MUSIC_E_DEVICE_FAILED;
  if (shared.open_count == 0) {
    if (com::HResult hr = shared.open_locked(sample_rate); com::failed(hr)) return hr;
  }
  *free_slot = true;
  ++shared.open_count;
  const int slot = static_cast<int>(free_slot - shared.slot_taken.begin());
  device.reset(new SdlDevice(slot, shared.sample_rate, shared.period_frames, shared.counts()));
  return com::S_OK;
}

SdlDevice::SdlDevice(int slot, int sample_rate, int period_frames, OutputCounts counts_at_open)
    : slot_(slot),
      sample_rate_(sample_rate),
      period_frames_(period_frames),
      counts_at_open_(counts_at_open) {}

SdlDevice::~SdlDevice() {
  stop();
  SharedSdlOutput& shared = SharedSdlOutput::instance();
  std::unique_lock lock(shared.mutex);
  shared.slot_taken[static_cast<std::size_t>(slot_)] = false;
  if (--shared.open_count == 0) shared.close_locked(lock);
}

com::HResult SdlDevice::start(RenderSource* source) {
  if (!source) return com::E_POINTER;
  SharedSdlOutput& shared = SharedSdlOutput::instance();
  std::lock_guard lock(shared.render_mutex);
  if (source_) return com::DSERR_INVALIDCALL;
  source_ = source;
  shared.started[static_cast<std::size_t>(slot_)].store(this, std::memory_order_release);
  return com::S_OK;
}

void SdlDevice::stop() {
  // Whoever renders holds the render lock for the whole period, so once it is ours no
  // render of this device is in progress, and the periods after it skip it.
  SharedSdlOutput& shared = SharedSdlOutput::instance();
  std::lock_guard lock(shared.render_mutex);
  shared.started[static_cast<std::size_t>(slot_)].store(nullptr, std::memory_order_release);
  source_ = nullptr;
}

OutputCounts SdlDevice::counts() const {
  const OutputCounts now = SharedSdlOutput::instance().counts();
  return {now.device_losses - counts_at_open_.device_losses,
          now.device_reopens - counts_at_open_.device_reopens,
          now.late_periods - counts_at_open_.late_periods};
}

const void* SdlDevice::shared_output() const {
  return &SharedSdlOutput::instance();
}

std::int64_t SdlDevice::output_frame() const noexcept {
  return SharedSdlOutput::instance().output_frame.load(std::memory_order_relaxed);
}

void SdlDevice::render_period(float* out, int frames) noexcept {
  // The source hands over finite samples only (a channel that goes wrong silences itself),
  // so this period can be mixed with every other channel's as it is.
  source_->render(out, frames);
  meter_.record(out, frames);
}

}  // namespace orvan::music::output
