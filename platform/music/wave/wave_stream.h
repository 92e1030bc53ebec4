// One play of a wave segment: a decode thread turns the file into the device's stereo frames
// (decoder -> downmix -> resampler -> stretcher) and keeps a bounded ring of them a little
// ahead of the render thread, which only copies them out.
//
// What a play sounds like is decided here, pass by pass: the first pass from the start
// frame, every repeat from frame 0 or the loop start (served from the segment's decoded head while
// the decoder seeks past it), each pass converted afresh so that every repeat is sample-identical
// to the first and follows it without a gap. Spans travel beside the frames and tell the render
// thread which source frame each output frame is (for the position), where a pass begins
// (a loop) and where the play ends. Where the data ends early (a damaged file) the play ends
// there.
//
// Master tempo is read between source chunks. A pass plays without the stretcher while the
// tempo is 1.0; from its first change on, the stretcher stays in the path until the pass
// ends, at 1.0 as well, so that returning to 1.0 leaves no seam.
//
// Memory: the ring (kAheadSeconds of output, rounded up to a power of two) plus the
// converters' working buffers, whatever the file's length.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com/status.h"
#include "platform/music/render/spsc_ring.h"
#include "platform/music/wave/wave_source.h"

namespace orvan::music::wave {

class Resampler;
class Stretcher;

// Master tempo stretches a wave play within these bounds; beyond them the stretch stays at
// the bound, and the position follows the stretch that is heard.
inline constexpr double kMinStretchTempo = 0.25;
inline constexpr double kMaxStretchTempo = 4.0;
// How much decoded audio a play keeps ready ahead of the render thread.
inline constexpr double kAheadSeconds = 0.25;

// For tests: while true, every decode thread stops delivering audio (as a decoder that
// cannot keep up would).
void set_decoders_stalled_for_testing(bool stalled);
bool decoders_stalled_for_testing();

struct Span {
  std::int32_t frames = 0;  // output frames, 0 for the end mark alone
  std::uint8_t marks = 0;   // kLoopMark, kEndMark
  // The passes still to come after the one this span is in (-1: forever): what a loop
  // tells its listeners.
  std::int32_t passes_left = 0;
  double source_start = 0.0;  // source frame of its first output frame
  double source_step = 0.0;   // source frames per output frame
};
inline constexpr std::uint8_t kLoopMark = 1;  // a repeat begins with this span
inline constexpr std::uint8_t kEndMark = 2;   // nothing follows this span

class WaveStream {
 public:
  struct Options {
    int output_rate = 48000;
    // Read by the decode thread; in a play, an atomic of the play's source, which the render
    // thread sets to the tempo of each period. None: 1.0.
    const std::atomic<float>* master_tempo = nullptr;
    std::int64_t start_frame = 0;
    std::int32_t repeats = 0;  // -1: forever
    // Source frames the repeats go back over: a pass with repeats left ends at
    // loop_end_frame and the next begins at loop_start_frame; the last plays on to the end.
    // loop_end_frame 0: the whole file.
    std::int64_t loop_start_frame = 0;
    std::int64_t loop_end_frame = 0;
  };

  // Client thread: opens a decoder, starts the decode thread and returns once the first
  // kAheadSeconds of audio (or the whole play, if shorter) are ready.
  static com::HResult open(std::shared_ptr<const WaveSource> source, const Options& options,
                           std::unique_ptr<WaveStream>& stream);
  // Client thread: stops the decode thread and closes the decoder.
  ~WaveStream();
  WaveStream(const WaveStream&) = delete;
  WaveStream& operator=(const WaveStream&) = delete;

  const WaveSource& source() const { return *source_; }

  // --- render thread ---
  // The next span, or nullptr when none is ready (its frames are ready once it is).
  const Span* peek_span() noexcept { return spans_.peek(); }
  void pop_span() noexcept {
    Span s;
    spans_.pop(s);
  }
  // Copies `frames` frames (ready with their span) out, adding them to left and right.
  void mix_frames(float* left, float* right, int frames, float gain) noexcept;
  // True while the decode threads are stalled on purpose (a test's hook).
  bool stalled() const noexcept { return decoders_stalled_for_testing(); }

 private:
  explicit WaveStream(std::shared_ptr<const WaveSource> source, const Options& options);
  void run();
  // Source frames from <= f < until; false when stopped.
  bool play_pass(std::int64_t from, std::int64_t until, std::uint8_t marks,
                 std::int32_t passes_left);
  std::int64_t read_source(std::int64_t frame, float* stereo, std::int64_t frames);
  void convert(const float* stereo, std::size_t frames);
  void stretched(const float* stereo, std::size_t frames);
  void emit(const float* stereo, std::size_t frames);
  bool push_span(const Span& span);
  bool wait_for_room(std::size_t frames);
  void apply_tempo();
  void signal_progress();

  std::shared_ptr<const WaveSource> source_;
  Options options_;
  std::unique_ptr<Decoder> decoder_;
  std::unique_ptr<Resampler> resampler_;  // none when the rates match
  std::unique_ptr<Stretcher> stretcher_;
  std::vector<float> raw_, stereo_;

  // Decode thread: where the current pass is.
  double rate_ratio_ = 1.0;     // source frames per output frame at tempo 1
  double tempo_ = 1.0;          // stretch in force
  bool stretching_ = false;     // the stretcher is in the path (from the pass's first change)
  double anchor_source_ = 0.0;  // source frame at anchor_output_
  std::int64_t anchor_output_ = 0;
  std::int64_t pass_output_ = 0;  // output frames of this pass emitted so far
  std::uint8_t pending_marks_ = 0;
  std::int32_t passes_left_ = 0;
  bool damaged_ = false;

  // Frames: a power-of-two ring of interleaved stereo.
  std::vector<float> ring_;
  std::size_t ring_frames_ = 0;
  std::size_t ahead_frames_ = 0;
  alignas(64) std::atomic<std::size_t> written_{0};
  alignas(64) std::atomic<std::size_t> read_{0};
  SpscRing<Span, 4096> spans_;

  std::atomic<bool> stopping_{false};
  std::mutex progress_mutex_;  // client and decode threads only
  std::condition_variable progress_;
  bool primed_ = false;
  std::thread thread_;
};

}  // namespace orvan::music::wave
