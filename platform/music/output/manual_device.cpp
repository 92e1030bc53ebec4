#include "platform/music/output/manual_device.h"

#include <algorithm>

namespace orvan::music::output {
namespace {

// Process-wide on purpose: tests find devices that engine objects opened out of sight.
struct Registry {
  std::mutex mutex;
  std::vector<ManualDevice*> open;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

ManualDevice::ManualDevice(int sample_rate, int period_frames)
    : sample_rate_(sample_rate),
      period_frames_(period_frames > 0 ? period_frames : period_frames_for(sample_rate)),
      period_(static_cast<std::size_t>(period_frames_) * 2) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.open.push_back(this);
}

ManualDevice::~ManualDevice() {
  stop();
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.open.erase(std::remove(r.open.begin(), r.open.end(), this), r.open.end());
}

com::HResult ManualDevice::start(RenderSource* source) {
  if (!source) return com::E_POINTER;
  std::lock_guard lock(pump_mutex_);
  if (source_) return com::DSERR_INVALIDCALL;
  source_ = source;
  return com::S_OK;
}

void ManualDevice::stop() {
  std::lock_guard lock(pump_mutex_);
  source_ = nullptr;
}

com::HResult ManualDevice::pump(std::int64_t frames) {
  if (frames < 0) return com::E_INVALIDARG;
  std::lock_guard lock(pump_mutex_);
  if (!source_) return com::DSERR_INVALIDCALL;
  // Reserved before rendering starts, so the appends below never allocate mid-render.
  if (capture_enabled_) capture_.reserve(capture_.size() + static_cast<std::size_t>(frames) * 2);
  while (frames > 0) {
    const int n = static_cast<int>(std::min<std::int64_t>(frames, period_frames_));
    source_->render(period_.data(), n);
    meter_.record(period_.data(), n);
    if (capture_enabled_) capture_.insert(capture_.end(), period_.begin(), period_.begin() + n * 2);
    frames -= n;
  }
  return com::S_OK;
}

ManualDevice* manual_device(int index) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (index < 0 || static_cast<std::size_t>(index) >= r.open.size()) return nullptr;
  return r.open[static_cast<std::size_t>(index)];
}

int manual_device_count() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return static_cast<int>(r.open.size());
}

ManualDevice* last_manual_device() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return r.open.empty() ? nullptr : r.open.back();
}

}  // namespace orvan::music::output
