// The software synthesizer of one performance: a FluidSynth instance sounding the General
// MIDI instruments downloaded to it (instrument_library.h) and, above them, a DLS
// collection's, rendering a dry stereo pair and the reverb's wet pair apart. It loads no
// SoundFont itself: until instruments are downloaded, it is silent.
//
// Timing bound: FluidSynth starts and stops voices only at the edges of its internal
// 64-frame blocks (kBlockFrames). An event handed over before a block is rendered takes
// effect at that block's first frame, so a caller that dispatches, before each block, the
// events whose sample falls inside it gets every onset within the block that holds its
// sample: at most kBlockFrames - 1 frames early, never late.
//
// Construction and destruction run on a client thread; every other method on the render
// thread only (FluidSynth's own locking is off: one thread drives each instance).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/com/status.h"

struct _fluid_synth_t;
struct _fluid_voice_t;
struct _fluid_hashtable_t;
struct _fluid_sfont_t;

namespace orvan::music::synth {

class InstrumentLibrary;

inline constexpr int kBlockFrames = 64;
inline constexpr int kChannels = 16;
// The most voices a synthesizer has: FluidSynth's default, and the pool every channel had
// before pools were sized per piece.
inline constexpr int kPolyphony = 256;

// The voice pool for music that keeps `voices_at_once` voices sounding at once
// (InstrumentLibrary::voices_at_once), at most kPolyphony. FluidSynth sizes its event queue
// and its queue of finished voices from the pool when the synthesizer is made, so a pool
// is never grown afterwards: a piece that needs more gets a new synthesizer.
int voice_pool_for(int voices_at_once);

class Synth {
 public:
  // MUSIC_E_SYNTH_FAILED when FluidSynth cannot be set up or the SoundFont's directory
  // cannot be read.
  static com::HResult create(int sample_rate, const std::string& soundfont_path,
                             std::unique_ptr<Synth>& out) {
    return create(sample_rate, soundfont_path, kPolyphony, out);
  }
  // With `voices` voices (1..kPolyphony; clamped).
  static com::HResult create(int sample_rate, const std::string& soundfont_path, int voices,
                             std::unique_ptr<Synth>& out);
  ~Synth();

  // Client threads: the library this synthesizer's instruments come from.
  const std::shared_ptr<InstrumentLibrary>& library() const { return library_; }
  Synth(const Synth&) = delete;
  Synth& operator=(const Synth&) = delete;

  // Render thread only. A channel message (status 0x80..0xEF) with its data bytes.
  void channel_message(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) noexcept;
  // Render thread only. A system-exclusive message, with or without its F0/F7 framing.
  void sysex(std::span<const std::uint8_t> bytes) noexcept;
  // Render thread only. Every note and pedal released; voices fade with their release.
  void release_all_notes() noexcept;
  // Render thread only. Every channel back to its state at creation: controllers,
  // program 0 in bank 0 (the kit on the drum channel), bend centred with a range of 2
  // semitones, no pressure. Voices still sounding keep their release.
  void reset_channels() noexcept;
  // Render thread only. Attenuates every voice of `channel` (0..15), sounding or to come, by
  // `centibels` (0..1440, 1440 being silence) on top of what the music sets; its controllers
  // go on following the music.
  void channel_attenuation(int channel, float centibels) noexcept;
  // Render thread only. Renders `frames` (any count) and adds them to the four planes.
  // Rendering is deferred until the next event or flush(), so that consecutive blocks with
  // no event between them are rendered in one call: FluidSynth then runs each voice over
  // all of them at once, which costs far less than one call per block. The result is the
  // same to the sample, because every event renders what is owed before it takes effect.
  void render(int frames, float* dry_left, float* dry_right, float* wet_left,
              float* wet_right) noexcept;
  // Render thread only. Renders what render() has deferred; the planes it was given are
  // complete afterwards.
  void flush() noexcept;

  // Render thread only. Makes `instruments` the downloaded General MIDI instruments and
  // `collection` the one DLS collection whose instruments sound over them (nullptr: none)
  // and, if either changed, lets every channel choose its program again: notes after this
  // call use the new sets, voices already sounding keep theirs. The fonts stay their
  // owners'; a collection must be kept until this synthesizer is deleted, instruments
  // until voices_of_earlier_instruments_ended() says so after a later change. Allocates
  // nothing: each font answers through a slot of FluidSynth's font stack put there on
  // creation.
  void sound_fonts(struct _fluid_sfont_t* instruments, struct _fluid_sfont_t* collection) noexcept;
  void sound_collection(struct _fluid_sfont_t* collection) noexcept {
    sound_fonts(sounding_instruments_, collection);
  }
  // Render thread only. The collection sounding over the General MIDI set, or nullptr.
  struct _fluid_sfont_t* sounding_collection() const noexcept {
    return sounding_collection_;
  }
  // Render thread only. True once no voice that began before the instruments last changed
  // is left: the fonts sounded before then are no longer used.
  bool voices_of_earlier_instruments_ended() noexcept;

  int active_voices() const noexcept;
  // The voice pool it was made with.
  int voices() const noexcept { return voices_; }

 private:
  Synth() = default;

  // Fills `playing_` with the voices sounding now; returns how many.
  int list_playing_voices() noexcept;

  struct _fluid_synth_t* synth_ = nullptr;
  int voices_ = kPolyphony;
  std::shared_ptr<InstrumentLibrary> library_;
  // Deferred rendering: `pending_frames_` frames owed to the planes starting at `pending_`.
  std::array<float*, 4> pending_{};
  int pending_frames_ = 0;
  struct _fluid_hashtable_t* settings_ = nullptr;
  // The fonts the slots answer with; read and written by the render thread only once
  // rendering has begun.
  struct _fluid_sfont_t* sounding_instruments_ = nullptr;
  struct _fluid_sfont_t* sounding_collection_ = nullptr;
  // Voices with an identity up to this one began before the instruments last changed;
  // `earlier_voices_` says whether any may still sound.
  unsigned earlier_voice_limit_ = 0;
  bool earlier_voices_ = false;
  std::array<struct _fluid_voice_t*, kPolyphony> playing_{};
  // Controller values each channel had at creation, captured once on the client thread.
  std::array<std::array<std::int16_t, 128>, kChannels> power_on_cc_{};
};

}  // namespace orvan::music::synth
