#include "platform/music/wave/wave_stream.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/music/wave/converters.h"

namespace orvan::music::wave {

namespace {

std::atomic<bool> g_decoders_stalled{false};

// Source frames decoded per step: small enough that a tempo change is taken up promptly.
constexpr std::int64_t kSourceChunk = 1024;
constexpr auto kIdle = std::chrono::milliseconds(1);
// A play that cannot have its first audio ready within this long starts anyway.
constexpr auto kPrimeTimeout = std::chrono::seconds(5);

std::size_t power_of_two_at_least(std::size_t n) {
  std::size_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

}  // namespace

void set_decoders_stalled_for_testing(bool stalled) {
  g_decoders_stalled.store(stalled, std::memory_order_release);
}

bool decoders_stalled_for_testing() {
  return g_decoders_stalled.load(std::memory_order_acquire);
}

WaveStream::WaveStream(std::shared_ptr<const WaveSource> source, const Options& options)
    : source_(std::move(source)), options_(options) {
  const WaveInfo& info = source_->info();
  rate_ratio_ = static_cast<double>(info.sample_rate) / options_.output_rate;
  if (info.sample_rate != options_.output_rate) {
    resampler_ = std::make_unique<Resampler>(info.sample_rate, options_.output_rate);
  }
  stretcher_ = std::make_unique<Stretcher>(options_.output_rate);
  ahead_frames_ = static_cast<std::size_t>(std::ceil(kAheadSeconds * options_.output_rate));
  ring_frames_ = power_of_two_at_least(ahead_frames_ + kPieceFrames);
  ring_.assign(2 * ring_frames_, 0.0f);
  raw_.resize(static_cast<std::size_t>(kSourceChunk * info.channels));
  stereo_.resize(static_cast<std::size_t>(2 * kSourceChunk));
}

com::HResult WaveStream::open(std::shared_ptr<const WaveSource> source, const Options& options,
                              std::unique_ptr<WaveStream>& stream) {
  if (!source || options.output_rate <= 0) return com::E_POINTER;
  std::unique_ptr<WaveStream> made(new WaveStream(std::move(source), options));
  if (com::HResult hr = made->source_->open_decoder(made->decoder_); com::failed(hr)) return hr;
  made->thread_ = std::thread([p = made.get()] { p->run(); });
  {
    std::unique_lock lock(made->progress_mutex_);
    made->progress_.wait_for(lock, kPrimeTimeout, [&] { return made->primed_; });
  }
  stream = std::move(made);
  return com::S_OK;
}

WaveStream::~WaveStream() {
  stopping_.store(true, std::memory_order_release);
  if (thread_.joinable()) thread_.join();
}

void WaveStream::signal_progress() {
  std::lock_guard lock(progress_mutex_);
  if (primed_) return;
  primed_ = true;
  progress_.notify_all();
}

void WaveStream::run() {
  const std::int64_t frames = source_->info().frames;
  std::int64_t from = std::clamp<std::int64_t>(options_.start_frame, 0, frames);
  std::int32_t repeats_left = options_.repeats;
  std::int64_t loop_start = options_.loop_start_frame;
  std::int64_t loop_end = options_.loop_end_frame;
  if (loop_end <= 0 || loop_end > frames || loop_start < 0 || loop_start >= loop_end) {
    loop_start = 0;
    loop_end = frames;
  } else if (from >= loop_end) {
    repeats_left = 0;  // started past the loop: it plays on to the end once
  }
  std::uint8_t marks = 0;
  for (;;) {
    if (!play_pass(from, repeats_left != 0 ? loop_end : frames, marks, repeats_left)) return;
    // A pass that gave no output could never move a loop on.
    if (damaged_ || repeats_left == 0 || pass_output_ == 0) break;
    if (repeats_left > 0) --repeats_left;
    from = loop_start;
    marks = kLoopMark;
  }
  Span end;
  end.marks = kEndMark;
  end.source_start = static_cast<double>(frames);
  push_span(end);
  signal_progress();
}

bool WaveStream::play_pass(std::int64_t from, std::int64_t until, std::uint8_t marks,
                           std::int32_t passes_left) {
  pending_marks_ = marks;
  passes_left_ = passes_left;
  if (resampler_) resampler_->reset();
  stretcher_->reset();
  stretching_ = false;
  tempo_ = 1.0;
  anchor_source_ = static_cast<double>(from);
  anchor_output_ = 0;
  pass_output_ = 0;
  std::int64_t at = from;
  while (at < until) {
    while (g_decoders_stalled.load(std::memory_order_acquire)) {
      if (stopping_.load(std::memory_order_acquire)) return false;
      std::this_thread::sleep_for(kIdle);
    }
    if (stopping_.load(std::memory_order_acquire)) return false;
    apply_tempo();
    const std::int64_t got =
        read_source(at, stereo_.data(), std::min<std::int64_t>(kSourceChunk, until - at));
    if (got <= 0) {
      damaged_ = true;
      break;
    }
    at += got;
    convert(stereo_.data(), static_cast<std::size_t>(got));
  }
  if (resampler_) {
    resampler_->flush([this](const float* p, std::size_t n) { stretched(p, n); });
  }
  if (stretching_) stretcher_->finish([this](const float* p, std::size_t n) { emit(p, n); });
  if (pending_marks_ != 0) {
    // A pass with no output still begins: the render thread counts its loop.
    Span empty;
    empty.marks = pending_marks_;
    empty.passes_left = passes_left_;
    empty.source_start = anchor_source_;
    pending_marks_ = 0;
    push_span(empty);
  }
  return !stopping_.load(std::memory_order_acquire);
}

std::int64_t WaveStream::read_source(std::int64_t frame, float* stereo, std::int64_t frames) {
  const std::int64_t head = source_->head_frames();
  if (frame < head) {
    const std::int64_t n = std::min(frames, head - frame);
    std::copy_n(source_->head().data() + 2 * frame, 2 * n, stereo);
    return n;
  }
  if (!decoder_->seek(frame)) return 0;
  const std::int64_t got = decoder_->read(raw_.data(), frames);
  source_->downmix().apply(raw_.data(), got, stereo);
  return got;
}

void WaveStream::apply_tempo() {
  const double asked =
      options_.master_tempo ? options_.master_tempo->load(std::memory_order_relaxed) : 1.0;
  const double tempo = std::clamp(asked, kMinStretchTempo, kMaxStretchTempo);
  if (tempo == tempo_) return;
  anchor_source_ += static_cast<double>(pass_output_ - anchor_output_) * tempo_ * rate_ratio_;
  anchor_output_ = pass_output_;
  // Once in the path, the stretcher stays there until the pass ends, at 1.0 too: what it
  // holds cannot be handed on without a seam against the signal it has not yet taken.
  if (!stretching_) {
    stretcher_->reset();
    stretching_ = true;
  }
  stretcher_->set_tempo(tempo);
  tempo_ = tempo;
}

void WaveStream::convert(const float* stereo, std::size_t frames) {
  if (resampler_) {
    resampler_->process(stereo, frames, [this](const float* p, std::size_t n) { stretched(p, n); });
  } else {
    stretched(stereo, frames);
  }
}

void WaveStream::stretched(const float* stereo, std::size_t frames) {
  if (!stretching_) {
    emit(stereo, frames);
    return;
  }
  stretcher_->put(stereo, frames);
  stretcher_->take([this](const float* p, std::size_t n) { emit(p, n); });
}

bool WaveStream::wait_for_room(std::size_t frames) {
  for (;;) {
    const std::size_t buffered =
        written_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire);
    // A stalled decoder delivers nothing, not even the piece it was converting.
    if (buffered < ahead_frames_ && buffered + frames <= ring_frames_ &&
        !g_decoders_stalled.load(std::memory_order_acquire)) {
      return true;
    }
    signal_progress();  // a full ring is a primed one
    if (stopping_.load(std::memory_order_acquire)) return false;
    std::this_thread::sleep_for(kIdle);
  }
}

bool WaveStream::push_span(const Span& span) {
  while (!spans_.push(span)) {
    signal_progress();  // as full as a play can be made ready
    if (stopping_.load(std::memory_order_acquire)) return false;
    std::this_thread::sleep_for(kIdle);
  }
  return true;
}

void WaveStream::emit(const float* stereo, std::size_t frames) {
  const double step = tempo_ * rate_ratio_;
  while (frames > 0) {
    const std::size_t n = std::min(frames, kPieceFrames);
    if (!wait_for_room(n)) return;
    const std::size_t at = written_.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t slot = (at + i) & (ring_frames_ - 1);
      ring_[2 * slot] = stereo[2 * i];
      ring_[2 * slot + 1] = stereo[2 * i + 1];
    }
    written_.store(at + n, std::memory_order_release);
    Span span;
    span.frames = static_cast<std::int32_t>(n);
    span.marks = pending_marks_;
    span.passes_left = passes_left_;
    span.source_start = anchor_source_ + static_cast<double>(pass_output_ - anchor_output_) * step;
    span.source_step = step;
    pending_marks_ = 0;
    if (!push_span(span)) return;
    pass_output_ += static_cast<std::int64_t>(n);
    stereo += 2 * n;
    frames -= n;
  }
}

void WaveStream::mix_frames(float* left, float* right, int frames, float gain) noexcept {
  const std::size_t at = read_.load(std::memory_order_relaxed);
  for (int i = 0; i < frames; ++i) {
    const std::size_t slot = (at + static_cast<std::size_t>(i)) & (ring_frames_ - 1);
    left[i] += ring_[2 * slot] * gain;
    right[i] += ring_[2 * slot + 1] * gain;
  }
  read_.store(at + static_cast<std::size_t>(frames), std::memory_order_release);
}

}  // namespace orvan::music::wave
