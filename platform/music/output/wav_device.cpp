#include "platform/music/output/wav_device.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

namespace orvan::music::output {

struct WavDevice::SteppedFile {
  SteppedFile(SNDFILE* sound_file, int rate)
      : file(sound_file),
        sample_rate(rate),
        period_frames(period_frames_for(rate)),
        mix(static_cast<std::size_t>(period_frames) * 2),
        period(static_cast<std::size_t>(period_frames) * 2) {}
  ~SteppedFile() { sf_close(file); }

  SNDFILE* const file;
  const int sample_rate;
  const int period_frames;
  // Held for a whole render, and while a source joins or leaves.
  std::mutex mutex;
  std::array<RenderSource*, kMaxJoined> sources{};
  int devices = 0;                // joined, started or not; guarded by the registry's lock
  std::int64_t milliseconds = 0;  // asked of render_milliseconds() so far
  std::vector<float> mix, period;
  RenderMeter meter;
};

namespace {

// The stepped renders of the process by file, so that a second channel naming the same
// file joins the render instead of truncating it under the first.
struct SteppedRegistry {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<void>> files;
  // Never destroyed: a device closed while the process exits still finds it.
  static SteppedRegistry& instance() {
    static auto* registry = new SteppedRegistry;
    return *registry;
  }
};

std::string file_key(const std::string& path) {
  std::error_code error;
  const std::filesystem::path key = std::filesystem::weakly_canonical(path, error);
  return error ? path : key.string();
}

}  // namespace

const RenderMeter& WavDevice::stepped_meter() const {
  return stepped_file_->meter;
}

const void* WavDevice::shared_output() const {
  return stepped_file_.get();
}

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
  if (sample_rate < kMinSampleRate || sample_rate > kMaxSampleRate) return com::E_INVALIDARG;
  if (path.empty()) return com::MUSIC_E_DEVICE_FAILED;
  SteppedRegistry& registry = SteppedRegistry::instance();
  std::lock_guard lock(registry.mutex);
  std::erase_if(registry.files, [](const auto& entry) { return entry.second.expired(); });
  std::shared_ptr<SteppedFile> joined;
  if (auto found = registry.files.find(file_key(path)); found != registry.files.end()) {
    joined = std::static_pointer_cast<SteppedFile>(found->second.lock());
  }
  if (joined) {
    if (joined->sample_rate != sample_rate || joined->devices >= kMaxJoined) {
      return com::DSERR_INVALIDCALL;
    }
  } else {
    std::unique_ptr<WavDevice> own;
    if (com::HResult hr = create(path, sample_rate, kMaxFrames, true, own); com::failed(hr)) {
      return hr;
    }
    // The file now belongs to the render, which outlives this first device if others join.
    joined = std::make_shared<SteppedFile>(std::exchange(own->file_, nullptr), sample_rate);
    registry.files[file_key(path)] = joined;
  }
  ++joined->devices;
  device.reset(new WavDevice(joined->file, sample_rate, kMaxFrames, true));
  device->stepped_file_ = std::move(joined);
  return com::S_OK;
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
  if (stepped_file_) {
    std::lock_guard lock(SteppedRegistry::instance().mutex);
    --stepped_file_->devices;
  } else if (file_) {
    sf_close(file_);
  }
}

com::HResult WavDevice::start(RenderSource* source) {
  if (!source) return com::E_POINTER;
  if (stepped_file_) {
    std::lock_guard lock(stepped_file_->mutex);
    if (source_) return com::DSERR_INVALIDCALL;
    // A free place exists: no more devices join than there are places.
    *std::find(stepped_file_->sources.begin(), stepped_file_->sources.end(), nullptr) = source;
    source_ = source;
    return com::S_OK;
  }
  std::lock_guard lock(mutex_);
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
  if (stepped_file_) {
    // Once the lock is ours no render of the file is in progress, and the later ones skip
    // this source.
    std::lock_guard lock(stepped_file_->mutex);
    if (source_) {
      *std::find(stepped_file_->sources.begin(), stepped_file_->sources.end(), source_) = nullptr;
    }
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
  if (!stepped_file_) return com::DSERR_INVALIDCALL;
  std::lock_guard lock(stepped_file_->mutex);
  if (frames < 0 || frames > max_frames_ - stepped_file_->meter.frames()) {
    return com::E_INVALIDARG;
  }
  return render_stepped_locked(frames);
}

com::HResult WavDevice::render_milliseconds(std::int64_t milliseconds) {
  if (!stepped_file_) return com::DSERR_INVALIDCALL;
  if (milliseconds < 0) return com::E_INVALIDARG;
  SteppedFile& shared = *stepped_file_;
  std::lock_guard lock(shared.mutex);
  // Frames are counted from the total time asked for, so that the file's length never
  // depends on how the time was split into calls, nor on which joined device was asked.
  const std::int64_t total = shared.milliseconds + milliseconds;
  const std::int64_t target = total * sample_rate_ / 1000;
  if (target > max_frames_) return com::E_INVALIDARG;
  if (com::HResult hr = render_stepped_locked(target - shared.meter.frames()); com::failed(hr)) {
    return hr;
  }
  shared.milliseconds = total;
  return com::S_OK;
}

com::HResult WavDevice::render_stepped_locked(std::int64_t frames) {
  if (!source_) return com::DSERR_INVALIDCALL;
  SteppedFile& shared = *stepped_file_;
  while (frames > 0) {
    const int n = static_cast<int>(std::min<std::int64_t>(frames, period_frames_));
    std::fill_n(shared.mix.begin(), 2 * n, 0.0f);
    // Lower ranks first: a source that follows another's clock sees its period first.
    for (int rank = 0; rank >= 0;) {
      int next = -1;
      for (RenderSource* source : shared.sources) {
        if (!source) continue;
        const int of = std::min(source->render_rank(), kMaxJoined);
        if (of > rank && (next < 0 || of < next)) next = of;
        if (of != rank) continue;
        source->render(shared.period.data(), n);
        for (std::size_t i = 0; i < static_cast<std::size_t>(2 * n); ++i) {
          shared.mix[i] += shared.period[i];
        }
      }
      rank = next;
    }
    shared.meter.record(shared.mix.data(), n);
    if (sf_writef_float(shared.file, shared.mix.data(), n) != n) {
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
