#include "platform/music/output/wav_device.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <system_error>

namespace orvan::music::output {

com::HResult WavDevice::create(const std::string& path, int sample_rate, std::int64_t max_frames,
                               bool stepped, std::unique_ptr<WavDevice>& device) {
  if (sample_rate < kMinSampleRate || sample_rate > kMaxSampleRate) return com::E_INVALIDARG;
  if (max_frames < 0 || max_frames > kMaxFrames) return com::E_INVALIDARG;
  if (path.empty()) return com::MUSIC_E_DEVICE_FAILED;
  SF_INFO info{};
  info.samplerate = sample_rate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) return com::MUSIC_E_DEVICE_FAILED;
  // libsndfile's PEAK chunk carries the time of writing; without it, the same render is
  // the same file.
  sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  device.reset(new WavDevice(file, sample_rate, max_frames, stepped));
  return com::S_OK;
}

com::HResult WavDevice::open(const std::string& path, int sample_rate,
                             std::unique_ptr<OutputDevice>& device, std::int64_t max_frames) {
  std::unique_ptr<WavDevice> opened;
  const com::HResult hr = create(path, sample_rate, max_frames, false, opened);
  if (!com::failed(hr)) device = std::move(opened);
  return hr;
}

com::HResult WavDevice::open_stepped(const std::string& path, int sample_rate,
                                     std::unique_ptr<WavDevice>& device) {
  return create(path, sample_rate, kMaxFrames, true, device);
}

WavDevice::WavDevice(SNDFILE* file, int sample_rate, std::int64_t max_frames, bool stepped)
    : file_(file),
      sample_rate_(sample_rate),
      period_frames_(period_frames_for(sample_rate)),
      max_frames_(max_frames),
      stepped_(stepped),
      period_(static_cast<std::size_t>(period_frames_) * 2) {}

WavDevice::~WavDevice() {
  stop();
  sf_close(file_);
}

com::HResult WavDevice::start(RenderSource* source) {
  if (!source) return com::E_POINTER;
  std::lock_guard lock(mutex_);
  if (stepped_) {
    if (source_) return com::DSERR_INVALIDCALL;
    source_ = source;
    return com::S_OK;
  }
  if (thread_.joinable()) return com::DSERR_INVALIDCALL;
  stopping_ = false;
  stop_flag_.store(false, std::memory_order_relaxed);
  source_ = source;
  try {
    thread_ = std::thread(&WavDevice::run, this);
  } catch (const std::system_error&) {
    source_ = nullptr;
    return com::E_OUTOFMEMORY;
  }
  return com::S_OK;
}

void WavDevice::stop() {
  if (stepped_) {
    std::lock_guard lock(mutex_);
    source_ = nullptr;
    return;
  }
  std::thread running;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    stop_flag_.store(true, std::memory_order_release);
    running = std::move(thread_);
  }
  stop_requested_.notify_all();
  if (running.joinable()) running.join();
  source_ = nullptr;
}

bool WavDevice::write_period(int frames) {
  source_->render(period_.data(), frames);
  meter_.record(period_.data(), frames);
  return sf_writef_float(file_, period_.data(), frames) == frames;
}

com::HResult WavDevice::render(std::int64_t frames) {
  if (frames < 0 || frames > max_frames_ - meter_.frames()) return com::E_INVALIDARG;
  std::lock_guard lock(mutex_);
  if (!stepped_ || !source_) return com::DSERR_INVALIDCALL;
  while (frames > 0) {
    const int n = static_cast<int>(std::min<std::int64_t>(frames, period_frames_));
    if (!write_period(n)) {
      write_stopped_.store(true, std::memory_order_release);
      return com::MUSIC_E_DEVICE_FAILED;
    }
    frames -= n;
  }
  return com::S_OK;
}

bool WavDevice::next_period_wanted() {
  const Phase phase = phase_.load(std::memory_order_relaxed);
  if (source_->music_pending()) {
    if (phase != Phase::Music) phase_.store(Phase::Music, std::memory_order_release);
    return true;
  }
  if (phase == Phase::Music) {
    tail_started_at_ = meter_.frames();
    phase_.store(Phase::Tail, std::memory_order_release);
    return true;
  }
  return phase == Phase::Tail;
}

void WavDevice::run() {
  const auto longest_tail = static_cast<std::int64_t>(kLongestTailSeconds * sample_rate_);
  while (!stop_flag_.load(std::memory_order_acquire) && !write_stopped()) {
    if (!next_period_wanted()) {
      // Nothing to render until the client plays something: wait a little and look again.
      std::unique_lock lock(mutex_);
      stop_requested_.wait_for(lock, std::chrono::milliseconds(1), [this] { return stopping_; });
      continue;
    }
    const std::int64_t room = max_frames_ - meter_.frames();
    const int n = static_cast<int>(std::min<std::int64_t>(room, period_frames_));
    if (n <= 0 || !write_period(n)) break;
    if (phase_.load(std::memory_order_relaxed) == Phase::Tail &&
        (meter_.peak() < kSilencePeak || meter_.frames() - tail_started_at_ >= longest_tail)) {
      phase_.store(Phase::Done, std::memory_order_release);
    }
  }
  if (stop_flag_.load(std::memory_order_acquire)) return;
  // The file is full or the disk is: nothing more can be written, so wait to be stopped
  // rather than spin.
  write_stopped_.store(true, std::memory_order_release);
  std::unique_lock lock(mutex_);
  stop_requested_.wait(lock, [this] { return stopping_; });
}

}  // namespace orvan::music::output
