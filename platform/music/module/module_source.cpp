#include "platform/music/module/module_source.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <libopenmpt/libopenmpt_ext.hpp>
#include <map>
#include <ostream>
#include <streambuf>
#include <string>

#include "platform/music/module/module_content.h"
#include "platform/music/render/sequencer.h"

namespace orvan::music {

namespace {

// How long open() waits for the decode thread's first steps, and the longest a device
// without a clock waits for a step before it renders that stretch silent.
constexpr auto kLongestDecoderWait = std::chrono::seconds(10);
// Steps ready before open() returns: a sixth of a second at 48 kHz.
constexpr std::size_t kReadyBeforePlay = 128;

class NullBuffer final : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

// libopenmpt keeps the log stream it was made with: one that discards, for every play.
std::ostream& nowhere() {
  static NullBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

}  // namespace

ModuleSource::ModuleSource(const ModuleContent& content, const PlayOptions& options)
    : keep_(content.shared_from_this()),
      content_(*keep_),
      rate_(options.output_rate),
      clockless_(options.clockless),
      master_tempo_(options.master_tempo),
      repeats_(options.repeats) {}

ModuleSource::~ModuleSource() {
  quit_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) thread_.join();
}

HResult ModuleSource::open(const ModuleContent& content, const PlayOptions& options,
                           std::unique_ptr<ModuleSource>& source) {
  const auto& rows = content.rows();
  std::unique_ptr<ModuleSource> made;
  try {
    made.reset(new ModuleSource(content, options));
    // Seeking to a start point also sets the notes that sound there going, at the offset
    // they have reached.
    const std::map<std::string, std::string> controls{{"seek.sync_samples", "1"}};
    made->module_ = std::make_unique<openmpt::module_ext>(content.bytes(), nowhere(), controls);
    made->interactive_ = static_cast<openmpt::ext::interactive*>(
        made->module_->get_interface(openmpt::ext::interactive_id));
    if (!made->interactive_) return com::E_FAIL;
    made->module_->set_repeat_count(-1);
    if (!rows.empty()) {
      const std::int64_t row = static_cast<std::int64_t>(std::max(0, options.start)) *
                               content.info().rows_per_beat / ModuleContent::kTicksPerBeat;
      made->start_row_ = static_cast<std::int32_t>(
          std::min<std::int64_t>(row, static_cast<std::int64_t>(rows.size()) - 1));
      if (made->start_row_ > 0) {
        // By time, not by pattern position: libopenmpt then plays the module up to there, so
        // that a start inside a pattern loop goes round as many more times as the music does
        // from there. A jump to the row itself would begin the loop's count afresh.
        // libopenmpt lands on the first row that begins at or after the time asked for; the
        // scanned row times are only close, so the time asked for is halfway into the row
        // before.
        const auto index = static_cast<std::size_t>(made->start_row_);
        const ModuleContent::Row& start = rows[index];
        made->module_->set_position_seconds((rows[index - 1].seconds + start.seconds) / 2.0);
        if (made->module_->get_current_order() != start.order ||
            made->module_->get_current_row() != start.row) {
          made->module_->set_position_order_row(start.order, start.row);
        }
      }
    }
    made->repeats_left_ = made->repeats_;
    made->row_index_ = static_cast<std::size_t>(made->start_row_);
    made->order_ = made->module_->get_current_order();
    made->row_ = made->module_->get_current_row();
    made->position_ = made->decoded_position();
    made->thread_ = std::thread([raw = made.get()] { raw->decode(); });
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (const std::exception&) {
    return com::MUSIC_E_CORRUPT;
  }
  // The first audio is ready when the play is queued.
  const auto give_up = std::chrono::steady_clock::now() + kLongestDecoderWait;
  while (!made->finished_.load(std::memory_order_acquire) &&
         std::chrono::steady_clock::now() < give_up) {
    if (made->steps_.size() >= kReadyBeforePlay) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  source = std::move(made);
  return com::S_OK;
}

// --- decode thread ---

double ModuleSource::decoded_position() const noexcept {
  const auto& rows = content_.rows();
  if (rows.empty()) return 0.0;
  // Within a row, the share of its length at tempo 1 rendered so far (held below the next).
  double share = 0.0;
  const double row_end =
      row_index_ + 1 < rows.size() ? rows[row_index_ + 1].seconds : content_.info().seconds;
  const double row_frames = (row_end - rows[row_index_].seconds) * rate_ / tempo_;
  if (row_frames > 0.0) share = std::min(frames_in_row_ / row_frames, 0.999);
  const double beats = (static_cast<double>(row_index_) + share) / content_.info().rows_per_beat;
  return std::clamp(beats * ModuleContent::kTicksPerBeat, 0.0,
                    static_cast<double>(content_.length()));
}

double ModuleSource::frames_left_in_last_pass() const noexcept {
  const auto& rows = content_.rows();
  if (rows.empty()) return 0.0;
  if (repeats_left_ != 0 || row_index_ + 1 < rows.size()) return -1.0;
  const double row_frames = (content_.info().seconds - rows.back().seconds) * rate_ / tempo_;
  return std::max(0.0, std::ceil(row_frames - frames_in_row_));
}

void ModuleSource::follow_row(Step& step) noexcept {
  const std::int32_t order = module_->get_current_order();
  const std::int32_t row = module_->get_current_row();
  if (order == order_ && row == row_) return;
  order_ = order;
  row_ = row;
  frames_in_row_ = 0.0;
  const auto& rows = content_.rows();
  const auto is_here = [&](const ModuleContent::Row& r) {
    return r.order == order && r.row == row;
  };
  // Normally the next row of the pass; after the last one, a repeat has begun where the
  // module restarts.
  if (row_index_ + 1 < rows.size() && is_here(rows[row_index_ + 1])) {
    ++row_index_;
    return;
  }
  if (row_index_ + 1 >= rows.size()) {
    if (repeats_left_ == 0) {
      step.marks |= kEndMark;
      return;
    }
    if (repeats_left_ > 0) --repeats_left_;
    const auto restart = std::find_if(rows.begin(), rows.end(), is_here);
    row_index_ = restart == rows.end() ? 0 : static_cast<std::size_t>(restart - rows.begin());
    step.marks |= kLoopMark;
    return;
  }
  // A step covered more than one row (a very fast module): find it further on.
  const auto ahead =
      std::find_if(rows.begin() + static_cast<std::ptrdiff_t>(row_index_) + 1, rows.end(), is_here);
  if (ahead != rows.end()) row_index_ = static_cast<std::size_t>(ahead - rows.begin());
}

void ModuleSource::decode_step(Step& step) noexcept {
  step.frames = 0;
  step.marks = 0;
  const double tempo =
      std::min(static_cast<double>(master_tempo_.load(std::memory_order_relaxed)), kMaxTempo);
  if (tempo != tempo_ && tempo > 0.0) {
    interactive_->set_tempo_factor(tempo);
    tempo_ = tempo;
  }
  step.from = decoded_position();
  int n = kStepFrames;
  // The last row of the last pass ends where the module's length says, not where
  // libopenmpt notices that the module has ended.
  if (const double left_in_pass = frames_left_in_last_pass(); left_in_pass >= 0.0) {
    if (left_in_pass < 1.0) {
      step.marks = kEndMark;
      step.to = step.from;
      return;
    }
    n = std::min(n, static_cast<int>(left_in_pass));
  }
  try {
    step.frames = static_cast<int>(
        module_->read(rate_, static_cast<std::size_t>(n), step.left.data(), step.right.data()));
  } catch (...) {
    step.frames = 0;
  }
  frames_in_row_ += step.frames;
  if (step.frames < n) {
    step.marks |= kEndMark;  // libopenmpt has nothing more to play
  } else {
    follow_row(step);
  }
  step.to = decoded_position();
}

void ModuleSource::decode() noexcept {
  while (!quit_.load(std::memory_order_relaxed)) {
    if (steps_.full()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    decode_step(scratch_);
    steps_.push(scratch_);
    if (scratch_.marks & kEndMark) break;
  }
  finished_.store(true, std::memory_order_release);
}

// --- render thread ---

void ModuleSource::begin() noexcept {
  active_ = true;
  step_done_ = 0;
  frames_since_loop_notice_ = 0.0;
  loop_noticed_ = false;
}

double ModuleSource::stop(synth::Synth& /*synth*/) noexcept {
  active_ = false;
  return position_;
}

double ModuleSource::position(int /*ahead*/) const noexcept {
  return position_;
}

bool ModuleSource::wait_for_decoder() noexcept {
  const auto give_up = std::chrono::steady_clock::now() + kLongestDecoderWait;
  while (!steps_.peek()) {
    if (finished_.load(std::memory_order_acquire) && !steps_.peek()) return false;
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

void ModuleSource::render(float* left, float* right, int frames, double master_tempo,
                          PlayListener& listener) noexcept {
  master_tempo_.store(static_cast<float>(master_tempo), std::memory_order_relaxed);
  int done = 0;
  while (active_ && done < frames) {
    const Step* step = steps_.peek();
    if (!step && clockless_ && wait_for_decoder()) step = steps_.peek();
    if (!step) {
      listener.on_starved(frames - done);
      break;
    }
    if (step_done_ == 0 && (step->marks & kLoopMark)) {
      // At most one loop notice per Sequencer::kLoopNoticeSpacing, as for MIDI.
      const double spacing = Sequencer::kLoopNoticeSpacing * rate_;
      if (!loop_noticed_ || frames_since_loop_notice_ + done + 0.5 >= spacing) {
        loop_noticed_ = true;
        frames_since_loop_notice_ = -done;
        listener.on_loop();
      }
    }
    const int n = std::min(step->frames - step_done_, frames - done);
    for (int i = 0; i < n; ++i) {
      const auto k = static_cast<std::size_t>(step_done_ + i);
      left[done + i] += step->left[k];
      right[done + i] += step->right[k];
    }
    step_done_ += n;
    done += n;
    // Across a pass boundary the step's music time goes back: it is then answered from
    // where the new pass stands.
    position_ = step->to >= step->from && step->frames > 0
                    ? step->from + (step->to - step->from) * step_done_ / step->frames
                    : step->to;
    if (step_done_ < step->frames) continue;
    const bool end = (step->marks & kEndMark) != 0;
    Step taken;
    steps_.pop(taken);
    step_done_ = 0;
    if (end) {
      active_ = false;
      listener.on_end();
    }
  }
  frames_since_loop_notice_ += frames;
}

}  // namespace orvan::music
