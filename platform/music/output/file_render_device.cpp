#include "platform/music/output/file_render_device.h"

#include <sndfile.h>

#include <algorithm>

namespace orvan::music::output {

com::HResult FileRenderDevice::open(const std::string& path, int sample_rate,
                                    std::unique_ptr<FileRenderDevice>& device) {
  if (sample_rate < kMinSampleRate || sample_rate > kMaxSampleRate) return com::E_INVALIDARG;
  if (path.empty()) return com::MUSIC_E_DEVICE_FAILED;
  SF_INFO info{};
  info.samplerate = sample_rate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) return com::MUSIC_E_DEVICE_FAILED;
  // The PEAK chunk carries the time of writing; without it the same render is the same file.
  sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  device.reset(new FileRenderDevice(file, sample_rate));
  return com::S_OK;
}

FileRenderDevice::FileRenderDevice(SNDFILE* file, int sample_rate)
    : file_(file),
      sample_rate_(sample_rate),
      period_frames_(period_frames_for(sample_rate)),
      period_(static_cast<std::size_t>(period_frames_) * 2) {}

FileRenderDevice::~FileRenderDevice() {
  stop();
  sf_close(file_);
}

com::HResult FileRenderDevice::start(RenderSource* source) {
  if (!source) return com::E_POINTER;
  std::lock_guard lock(render_mutex_);
  if (source_) return com::DSERR_INVALIDCALL;
  source_ = source;
  return com::S_OK;
}

void FileRenderDevice::stop() {
  std::lock_guard lock(render_mutex_);
  source_ = nullptr;
}

com::HResult FileRenderDevice::render(std::int64_t frames) {
  if (frames < 0 || frames > kMaxFrames - meter_.frames()) return com::E_INVALIDARG;
  std::lock_guard lock(render_mutex_);
  if (!source_) return com::DSERR_INVALIDCALL;
  while (frames > 0) {
    const int n = static_cast<int>(std::min<std::int64_t>(frames, period_frames_));
    source_->render(period_.data(), n);
    meter_.record(period_.data(), n);
    if (sf_writef_float(file_, period_.data(), n) != n) return com::MUSIC_E_DEVICE_FAILED;
    frames -= n;
  }
  return com::S_OK;
}

}  // namespace orvan::music::output
