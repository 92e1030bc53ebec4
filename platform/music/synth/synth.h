// The software synthesizer of one performance: a FluidSynth instance with the General
// MIDI SoundFont, rendering a dry stereo pair and the reverb's wet pair apart.
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
struct _fluid_hashtable_t;
struct _fluid_sfont_t;

namespace orvan::music::synth {

inline constexpr int kBlockFrames = 64;
inline constexpr int kChannels = 16;

class Synth {
 public:
  // MUSIC_E_SYNTH_FAILED when FluidSynth cannot be set up or cannot read the SoundFont.
  static com::HResult create(int sample_rate, const std::string& soundfont_path,
                             std::unique_ptr<Synth>& out);
  ~Synth();
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

  // Render thread only. Makes `font` the one DLS collection whose instruments sound over
  // the General MIDI set (nullptr: none) and lets every channel choose its program again:
  // notes after this call use the new set, voices already sounding keep theirs. The font
  // stays its owner's (see dls_font.h), who must keep it until this synthesizer is deleted.
  // Allocates nothing: the collection answers through a slot at the top of FluidSynth's
  // font stack that was put there on creation.
  void sound_collection(struct _fluid_sfont_t* font) noexcept;

  int active_voices() const noexcept;

 private:
  Synth() = default;

  struct _fluid_synth_t* synth_ = nullptr;
  std::string soundfont_path_;
  int font_id_ = -1;  // FLUID_FAILED until the SoundFont is loaded
  // Deferred rendering: `pending_frames_` frames owed to the planes starting at `pending_`.
  std::array<float*, 4> pending_{};
  int pending_frames_ = 0;
  struct _fluid_hashtable_t* settings_ = nullptr;
  // The collection the slot answers with; read and written by the render thread only once
  // rendering has begun.
  struct _fluid_sfont_t* sounding_collection_ = nullptr;
  // Controller values each channel had at creation, captured once on the client thread.
  std::array<std::array<std::int16_t, 128>, kChannels> power_on_cc_{};
};

}  // namespace orvan::music::synth
