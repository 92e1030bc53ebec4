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
  next_cue_ = cue_from(span_.source_start);
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

std::size_t WavePlayer::cue_from(double frame) const noexcept {
  const auto& cues = request_.wave->source().info().cues;
  const auto at = std::partition_point(cues.begin(), cues.end(), [&](const wave::CuePoint& c) {
    return static_cast<double>(c.frame) < frame;
  });
  return static_cast<std::size_t>(at - cues.begin());
}

void WavePlayer::tell_cues(double from, double until, double step, int done,
                           SequencerListener& listener) noexcept {
  const auto& cues = request_.wave->source().info().cues;
  for (; next_cue_ < cues.size(); ++next_cue_) {
    const auto frame = static_cast<double>(cues[next_cue_].frame);
    if (frame >= until) return;
    const double into = step > 0.0 ? std::max(0.0, (frame - from) / step) : 0.0;
    listener.on_moment({MusicEventKind::Marker, static_cast<std::int32_t>(next_cue_), 0,
                        done + into, request_.sequence});
  }
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
      const double reached = span_.source_start + span_done_ * span_.source_step;
      span_ = *next;
      stream.pop_span();
      span_left_ = span_.frames;
      span_done_ = 0;
      // A pass and the end begin with the first frame this call has not yet played.
      const auto here = static_cast<double>(done);
      if (span_.marks & wave::kLoopMark) {
        next_cue_ = cue_from(span_.source_start);
        // At most one loop notice per kLoopNoticeSpacing of rendered time, as for MIDI.
        const double spacing = Sequencer::kLoopNoticeSpacing * sample_rate_;
        if (!loop_noticed_ || frames_since_loop_notice_ + done + 0.5 >= spacing) {
          loop_noticed_ = true;
          frames_since_loop_notice_ = -done;
          listener.on_moment({MusicEventKind::Looped, span_.passes_left, 0, here, nullptr});
          listener.on_loop(request_);
        }
      }
      if (span_.marks & wave::kEndMark) {
        // A cue point on the last frame's end is heard where the play ends; one past the
        // place a damaged file stopped is never reached.
        tell_cues(reached, reached + 0.5, 0.0, done, listener);
        active_ = false;
        listener.on_moment({MusicEventKind::Ended, 0, 0, here, nullptr});
        listener.on_end(request_);
        break;
      }
      continue;
    }
    const int n = std::min(span_left_, frames - done);
    const double from = span_.source_start + span_done_ * span_.source_step;
    tell_cues(from, from + n * span_.source_step, span_.source_step, done, listener);
    stream.mix_frames(left + done, right + done, n, 1.0f);
    span_left_ -= n;
    span_done_ += n;
    done += n;
  }
  frames_since_loop_notice_ += frames;
}

}  // namespace orvan::music
