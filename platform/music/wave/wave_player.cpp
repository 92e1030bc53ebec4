#include "platform/music/wave/wave_player.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace orvan::music {

namespace {

// The longest a faster-than-real-time render waits for a decoder before it gives up on that
// stretch and renders it silent.
constexpr auto kLongestDecoderWait = std::chrono::seconds(10);

}  // namespace

void WavePlayer::start(const PlayRequest& request) noexcept {
  request_ = request;
  active_ = true;
  span_ = {};
  span_.source_start = static_cast<double>(request.wave->source().frame_at(request.start));
  span_left_ = 0;
  span_done_ = 0;
  frames_since_loop_notice_ = 0.0;
  loop_noticed_ = false;
}

double WavePlayer::stop() noexcept {
  const double at = position();
  active_ = false;
  return at;
}

double WavePlayer::position() const noexcept {
  if (!request_.wave) return 0.0;
  const double frame = span_.source_start + span_done_ * span_.source_step;
  const double length = std::max(0, request_.sequence->length);
  // Rate ratios such as 44100 / 48000 have no exact binary form: a whole music time reached
  // by a product of them may come out a hair below, and must not be answered one short.
  constexpr double kRounding = 1e-6;
  return std::clamp(request_.wave->source().music_time_at(frame) + kRounding, 0.0, length);
}

bool WavePlayer::wait_for_decoder() noexcept {
  const auto give_up = std::chrono::steady_clock::now() + kLongestDecoderWait;
  while (!request_.wave->peek_span()) {
    if (request_.wave->stalled() || std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

void WavePlayer::mix(float* left, float* right, int frames, SequencerListener& listener) noexcept {
  wave::WaveStream& stream = *request_.wave;
  int done = 0;
  while (active_ && done < frames) {
    if (span_left_ == 0) {
      const wave::Span* next = stream.peek_span();
      if (!next && waits_for_decoder_ && wait_for_decoder()) next = stream.peek_span();
      if (!next) {
        silent_frames_.fetch_add(static_cast<std::uint64_t>(frames - done),
                                 std::memory_order_relaxed);
        break;
      }
      span_ = *next;
      stream.pop_span();
      span_left_ = span_.frames;
      span_done_ = 0;
      if (span_.marks & wave::kLoopMark) {
        // At most one loop notice per kLoopNoticeSpacing of rendered time, as for MIDI.
        const double spacing = Sequencer::kLoopNoticeSpacing * sample_rate_;
        if (!loop_noticed_ || frames_since_loop_notice_ + done + 0.5 >= spacing) {
          loop_noticed_ = true;
          frames_since_loop_notice_ = -done;
          listener.on_loop(request_);
        }
      }
      if (span_.marks & wave::kEndMark) {
        active_ = false;
        listener.on_end(request_);
        break;
      }
      continue;
    }
    const int n = std::min(span_left_, frames - done);
    stream.mix_frames(left + done, right + done, n, 1.0f);
    span_left_ -= n;
    span_done_ += n;
    done += n;
  }
  frames_since_loop_notice_ += frames;
}

}  // namespace orvan::music
