// What the render side pulls a play from, whatever kind of music it is. A segment holds a
// PlayContent (immutable, shared); each play opens a PlaySource from it on the client side and
// hands it to the render thread through the command queue. The client side keeps the source
// alive until the render thread has retired the play.
//
// Per block the render thread calls, in order: dispatch() at every synthesizer-block boundary
// (events due in the next synthesizer block go to the synthesizer), the synthesizer renders,
// then render() adds the source's own frames to buffer 0's dry pair. A source uses either or
// both; the core does not ask which.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/music/render/music_events.h"
#include "platform/music/types.h"

namespace orvan::music {

namespace midi {
struct Sequence;
}
namespace synth {
class Synth;
}

// Something a play reached that a listener may want to hear of: a beat, a marker, a loop
// (a: the passes still to come) or its end, `at` frames into the dispatch() or render() call
// that reached it. A loop or an end is told this way just before on_loop() or on_end().
struct PlayMoment {
  MusicEventKind kind = MusicEventKind::Beat;
  std::int32_t a = 0;
  std::int32_t b = 0;
  double at = 0.0;
  const void* sequence = nullptr;  // Marker: the sequence whose event `a` it is
};

// Told about pass boundaries and shortfalls by the source that plays. Render thread only.
// Loop notices are coalesced by the source (see Sequencer::kLoopNoticeSpacing): at most one
// per 1/64 s of rendered time, every pass still counting.
class PlayListener {
 public:
  virtual void on_loop() noexcept = 0;
  virtual void on_end() noexcept = 0;
  // Frames rendered silent because the source's decoder had nothing ready.
  virtual void on_starved(int frames) noexcept = 0;
  virtual void on_moment(const PlayMoment& /*moment*/) noexcept {}

 protected:
  ~PlayListener() = default;
};

class PlaySource {
 public:
  virtual ~PlaySource() = default;  // client thread, once the render thread let go

  // --- render thread only: no allocation, no locks, no file access ---
  // Begins the play at its start point (replaying the controllers before it, where the kind
  // of music has controllers).
  virtual void start(synth::Synth& synth) noexcept = 0;
  // Ends the play, releasing what sounds. Returns the music time it stopped at.
  virtual double stop(synth::Synth& synth) noexcept = 0;
  virtual bool active() const noexcept = 0;
  // After a pause, before the play goes on where it stopped: brings back what shapes the
  // sound there (MIDI: every controller, program and bend, as the pause released the notes).
  virtual void resume(synth::Synth& /*synth*/) noexcept {}
  // At a synthesizer-block boundary: moves `frames` frames ahead, handing the synthesizer
  // every event they reach.
  virtual void dispatch(double /*frames*/, double /*master_tempo*/, synth::Synth& /*synth*/,
                        PlayListener& /*listener*/) noexcept {}
  // After the synthesizer: adds `frames` frames of the source's own audio to buffer 0.
  virtual void render(float* /*left*/, float* /*right*/, int /*frames*/, double /*master_tempo*/,
                      PlayListener& /*listener*/) noexcept {}
  // Music time within the current pass of the last frame rendered; `ahead` is how many frames
  // dispatch() has run beyond it.
  virtual double position(int ahead) const noexcept = 0;
};

// A region of a piece that repeats go back over, in music time: start <= t < end. An end of
// 0 marks none: every repeat plays the whole piece.
struct LoopRegion {
  std::int32_t start = 0;
  std::int32_t end = 0;
  bool operator==(const LoopRegion&) const = default;
};

// What a play is opened with. Client thread.
struct PlayOptions {
  int output_rate = 48000;
  std::int32_t start = 0;    // music time, within the content's length
  std::int32_t repeats = 0;  // -1: forever
  // The first pass plays from `start` to loop.end, each repeat from loop.start to loop.end,
  // and the last on to the end. Within the content's length; none: the whole piece.
  LoopRegion loop{};
  // A device that renders as fast as it can (no clock): the source may wait for its decoder
  // there, on that device's own rendering thread.
  bool clockless = false;
  // The master tempo the play begins at (a layer's: its leader's). A source whose decode
  // thread prepares audio ahead of the render thread prepares its first audio at it; later
  // changes reach it through render()'s `master_tempo`, which it hands on to that thread.
  float master_tempo = 1.0f;
  struct SequencerMeter* meter = nullptr;  // MIDI: where the busiest block is recorded
};

// One loaded piece of music of some kind. Immutable once made; shared by segments and plays.
class PlayContent {
 public:
  virtual ~PlayContent() = default;
  // Music time of one pass.
  virtual std::int32_t length() const noexcept = 0;
  // Seconds from the start of a pass to `music_time` at master tempo 1: a player's clock,
  // which music time alone is not once a piece changes tempo.
  virtual double seconds_at(double music_time) const noexcept = 0;
  // Client thread: a source that plays this content from options.start. May read and decode
  // ahead (and so take a while): call it outside any lock other calls wait on.
  virtual HResult open(const PlayOptions& options, std::unique_ptr<PlaySource>& source) const = 0;
  // The events whose General MIDI programs must be downloaded before a play, or nullptr
  // when the content needs no synthesizer instruments.
  virtual const midi::Sequence* instrument_events() const noexcept { return nullptr; }
  // The events a Marker moment of its plays points into (PlayMoment::sequence, its marker
  // and cue-point meta events), or nullptr when its plays tell no markers.
  virtual const midi::Sequence* marker_events() const noexcept { return nullptr; }
  // The loop region the file marks itself (tags, a sampler chunk, markers), or none.
  virtual LoopRegion marked_loop() const noexcept { return {}; }
  // Whether open() plays PlayOptions::loop; content that does not loops the whole piece.
  virtual bool plays_loop_regions() const noexcept { return true; }
  // A grid of even beats the content keeps itself, in music time, with beats per bar; false
  // when its beats come from elsewhere (a MIDI file's signatures, a recording's beat info).
  virtual bool even_beats(std::int32_t& /*beat_length*/,
                          std::int32_t& /*beats_per_bar*/) const noexcept {
    return false;
  }
};

}  // namespace orvan::music
