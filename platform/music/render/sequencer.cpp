#include "platform/music/render/sequencer.h"

#include <algorithm>
#include <cmath>

#include "platform/music/synth/synth.h"

namespace orvan::music {
namespace {

std::uint32_t tempo_of(const midi::Sequence& seq, const midi::Event& e) {
  const auto bytes = seq.payload_of(e);
  if (bytes.size() < 3) return 0;
  return (std::uint32_t{bytes[0]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[2];
}

bool is_tempo(const midi::Event& e) {
  return e.status == midi::kMetaStatus && e.data1 == midi::kMetaTempo;
}

bool is_marker(const midi::Event& e) {
  return e.status == midi::kMetaStatus &&
         (e.data1 == midi::kMetaMarker || e.data1 == midi::kMetaCuePoint);
}

// What a start point replays: everything that shapes the sound, nothing that starts,
// stops or bends a single note.
bool chased(const midi::Event& e) {
  if (e.is_channel()) {
    const std::uint8_t cmd = e.command();
    return cmd != 0x80 && cmd != 0x90 && cmd != 0xA0;
  }
  return e.status == midi::kSysExStatus || is_tempo(e);
}

// Over a repeat from `from` to `to`: the sum of ticks x microseconds per quarter in force,
// which is how long it lasts (divided by 768) at master tempo 1. Tempo events up to `from`
// set the tempo it begins with; those at `to` time nothing.
std::int64_t pass_tempo_sum(const midi::Sequence& seq, std::int64_t from, std::int64_t to) {
  std::int64_t sum = 0;
  std::int64_t usec = midi::kDefaultTempo;
  for (const midi::Event& e : seq.events) {
    if (e.time >= to) break;
    if (!is_tempo(e)) continue;
    const std::uint32_t t = tempo_of(seq, e);
    if (t == 0) continue;
    const std::int64_t at = std::max<std::int64_t>(e.time, from);
    sum += (at - from) * usec;
    from = at;
    usec = t;
  }
  return sum + (std::max<std::int64_t>(to, from) - from) * usec;
}

}  // namespace

double Sequencer::pass_frames() noexcept {
  if (pass_tempo_sum_ < 0) {
    pass_tempo_sum_ = pass_tempo_sum(*request_.sequence, loop_start_, loop_end_);
  }
  return static_cast<double>(pass_tempo_sum_) * sample_rate_ /
         (midi::kTicksPerQuarter * 1e6 * master_tempo_);
}

double Sequencer::tick_at(double elapsed) const noexcept {
  return anchor_tick_ + elapsed * midi::kTicksPerQuarter * 1e6 * master_tempo_ /
                            (static_cast<double>(usec_per_quarter_) * sample_rate_);
}

double Sequencer::elapsed_at(double tick) const noexcept {
  return (tick - anchor_tick_) * static_cast<double>(usec_per_quarter_) * sample_rate_ /
         (midi::kTicksPerQuarter * 1e6 * master_tempo_);
}

void Sequencer::reanchor(double tick) noexcept {
  anchor_tick_ = tick;
  elapsed_ = 0.0;
  position_ = tick;
}

void Sequencer::start(const PlayRequest& request, synth::Synth& synth) noexcept {
  request_ = request;
  active_ = true;
  repeats_left_ = request.repeats;
  pass_tempo_sum_ = -1;  // worked out at the first loop, if there is one
  loop_noticed_ = false;
  frames_since_loop_notice_ = 0.0;
  const std::int32_t length = std::max(0, request.sequence->length);
  const std::int32_t from = std::clamp(request.start, 0, length);
  const bool region = request.loop_end > 0 && request.loop_end <= length &&
                      request.loop_start >= 0 && request.loop_start < request.loop_end;
  loop_start_ = region ? request.loop_start : 0;
  loop_end_ = region ? request.loop_end : length;
  // A play that starts past the loop end never reaches it: it plays on to the end once.
  if (!loops_whole_piece() && from >= loop_end_) repeats_left_ = 0;
  begin_pass(from, synth);
}

std::int32_t Sequencer::pass_end() const noexcept {
  return repeats_left_ != 0 ? loop_end_ : request_.sequence->length;
}

bool Sequencer::loops_whole_piece() const noexcept {
  return loop_start_ == 0 && loop_end_ == request_.sequence->length;
}

double Sequencer::stop(synth::Synth& synth) noexcept {
  synth.release_all_notes();
  active_ = false;
  return position_;
}

void Sequencer::begin_pass(std::int32_t from, synth::Synth& synth) noexcept {
  ++advance_passes_;
  synth.release_all_notes();
  synth.reset_channels();
  usec_per_quarter_ = midi::kDefaultTempo;
  const midi::Sequence& seq = *request_.sequence;
  next_ = 0;
  // Events at the start point itself are played, not chased, so that a note there sounds.
  while (next_ < seq.events.size() && seq.events[next_].time < from) {
    const midi::Event& e = seq.events[next_++];
    if (chased(e)) dispatch(e, synth);
  }
  reanchor(from);
  const midi::BeatMark* first = request_.beats;
  const midi::BeatMark* last = first + request_.beat_count;
  next_beat_ = static_cast<std::size_t>(
      std::lower_bound(first, last, from,
                       [](const midi::BeatMark& b, std::int32_t t) { return b.time < t; }) -
      first);
}

double Sequencer::offset_of(double tick, double left) const noexcept {
  return advance_frames_ - left + std::max(0.0, elapsed_at(tick) - elapsed_);
}

void Sequencer::tell_beats(double tick, bool including, double left,
                           SequencerListener& listener) noexcept {
  while (next_beat_ < request_.beat_count) {
    const midi::BeatMark& b = request_.beats[next_beat_];
    if (!(b.time < tick || (including && b.time == tick))) return;
    ++next_beat_;
    listener.on_moment({MusicEventKind::Beat, b.bar, b.beat, offset_of(b.time, left), nullptr});
  }
}

void Sequencer::restore_channels(synth::Synth& synth) noexcept {
  synth.reset_channels();
  const auto& events = request_.sequence->events;
  // Tempo is the sequencer's own and still in force; only the synthesizer's state went.
  for (std::size_t i = 0; i < next_ && i < events.size(); ++i) {
    if (chased(events[i]) && !is_tempo(events[i])) dispatch(events[i], synth);
  }
}

void Sequencer::dispatch(const midi::Event& e, synth::Synth& synth) noexcept {
  ++advance_events_;
  const midi::Sequence& seq = *request_.sequence;
  if (e.is_channel()) {
    synth.channel_message(e.status, e.data1, e.data2);
  } else if (e.status == midi::kSysExStatus) {
    synth.sysex(seq.payload_of(e));
  } else if (is_tempo(e)) {
    if (std::uint32_t t = tempo_of(seq, e); t > 0) usec_per_quarter_ = t;
  }
}

void Sequencer::finish(double at, synth::Synth& synth, SequencerListener& listener) noexcept {
  position_ = request_.sequence->length;
  synth.release_all_notes();
  active_ = false;
  listener.on_moment({MusicEventKind::Ended, 0, 0, at, nullptr});
  listener.on_end(request_);
}

void Sequencer::notice_loop(double at, SequencerListener& listener) noexcept {
  // Half a frame of slack: a pass exactly as long as the spacing is still noticed each time.
  if (loop_noticed_ && frames_since_loop_notice_ + at + 0.5 < kLoopNoticeSpacing * sample_rate_) {
    return;
  }
  loop_noticed_ = true;
  frames_since_loop_notice_ = -at;
  listener.on_moment({MusicEventKind::Looped, repeats_left_, 0, at, nullptr});
  listener.on_loop(request_);
}

void Sequencer::end_of_pass(double& left, synth::Synth& synth,
                            SequencerListener& listener) noexcept {
  // An empty segment takes no time per pass: looping it could never advance.
  const double at = advance_frames_ - left;
  if (request_.sequence->length <= 0 || repeats_left_ == 0) {
    finish(at, synth, listener);
    return;
  }
  if (repeats_left_ > 0) --repeats_left_;
  // Whole passes that fit in what is left of this advance are counted, not played.
  const double pass = pass_frames();
  if (pass > 0.0 && left >= pass) {
    double whole = std::floor(left / pass);
    const bool whole_piece = loops_whole_piece();
    if (whole_piece && repeats_left_ >= 0 && whole > static_cast<double>(repeats_left_)) {
      // Every pass still to come ends within this advance.
      const double end = at + (static_cast<double>(repeats_left_) + 1.0) * pass;
      repeats_left_ = 0;
      notice_loop(at, listener);
      finish(end, synth, listener);
      return;
    }
    // Inside a region only repeats are skipped: the last pass is longer and is played.
    if (!whole_piece && repeats_left_ >= 0) {
      whole = std::min(whole, static_cast<double>(repeats_left_));
    }
    if (repeats_left_ > 0) repeats_left_ -= static_cast<std::int32_t>(whole);
    left = whole_piece ? std::fmod(left, pass) : left - whole * pass;
  }
  begin_pass(loop_start_, synth);
  notice_loop(at, listener);
}

void Sequencer::advance(double frames, double master_tempo, synth::Synth& synth,
                        SequencerListener& listener) noexcept {
  if (master_tempo != master_tempo_) {
    reanchor(position_);
    master_tempo_ = master_tempo;
  }
  advance_passes_ = 0;
  advance_events_ = 0;
  advance_frames_ = frames;
  double left = frames;
  while (active_) {
    const midi::Sequence& seq = *request_.sequence;
    const auto& events = seq.events;
    const double end = tick_at(elapsed_ + left);
    const std::int32_t until = pass_end();
    const bool pass_ends = end >= until;
    const double limit = pass_ends ? until : end;
    const bool at_piece_end = pass_ends && until == seq.length;
    bool reanchored = false;
    // Everything due before `end` goes now; when the piece ends here, so do the events at
    // its very end. Those at a loop end belong to what follows it, which the repeat skips.
    while (next_ < events.size()) {
      const midi::Event& e = events[next_];
      if (!(e.time < limit || (at_piece_end && e.time <= until))) break;
      ++next_;
      tell_beats(e.time, true, left, listener);
      if (is_marker(e)) {
        listener.on_moment({MusicEventKind::Marker, static_cast<std::int32_t>(next_ - 1), 0,
                            offset_of(e.time, left), &seq});
      }
      if (is_tempo(e)) {
        const double at = std::max(elapsed_, elapsed_at(e.time));
        left = std::max(0.0, left - (at - elapsed_));
        dispatch(e, synth);
        reanchor(std::max(position_, static_cast<double>(e.time)));
        reanchored = true;
        break;
      }
      dispatch(e, synth);
    }
    if (reanchored) continue;
    tell_beats(pass_ends ? seq.length : end, false, left, listener);
    if (!pass_ends) {
      elapsed_ += left;
      position_ = end;
      break;
    }
    left = std::max(0.0, left - (elapsed_at(until) - elapsed_));
    position_ = until;
    end_of_pass(left, synth, listener);
  }
  frames_since_loop_notice_ += frames;
  if (meter_) meter_->record(advance_passes_, advance_events_);
}

}  // namespace orvan::music
