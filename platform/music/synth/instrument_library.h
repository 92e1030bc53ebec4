// Instruments downloaded by use: a piece gets the presets it selects, not the whole SoundFont.
//
// One library per SoundFont file, kept for the process. Before a piece plays, a client
// thread asks which presets it will select and which notes it plays on each (presets_used_by)
// and loads them (load_instruments): the library cuts the file's preset directory down to
// the zones those notes reach (soundfont_catalogue.h), has FluidSynth's own SoundFont loader read
// the file through that cut with dynamic sample loading on, and pins every preset, which reads
// their sample data now. The result is a free-standing font that the performance's synthesizer
// sounds through a slot (Synth::sound_fonts), so its render thread never reads, allocates or waits
// for instruments: every preset the font has is loaded, and a program it lacks falls back
// as FluidSynth does (the same program in bank 0, then bank 0 program 0, within the font)
// or, failing that, leaves the channel silent.
//
// Sample data is shared: FluidSynth's sample cache keeps each sample once per process,
// counted by the fonts that hold it, and frees it with the last of them. Preset tables are
// per font, because the render threads of two synthesizers must not share counters.
//
// A font must outlive every voice that plays from it; the performance discards it (with
// discard_font) only after its synthesizer let go of it.
#pragma once

#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/com/status.h"
#include "platform/music/synth/soundfont_catalogue.h"

struct _fluid_synth_t;
struct _fluid_hashtable_t;
struct _fluid_sfont_t;

namespace orvan::music::midi {
struct Sequence;
}

namespace orvan::music::synth {

class InstrumentLibrary {
 public:
  // The library of the SoundFont at `path`, read on first use and again once the file is
  // replaced or rewritten (libraries handed out before live on with their holders).
  // MUSIC_E_SYNTH_FAILED when it is no SoundFont whose structure holds together;
  // MUSIC_E_SOUNDFONT_CHANGED when a file read before has changed into one. Client threads
  // only.
  static com::HResult open(const std::string& path, std::shared_ptr<InstrumentLibrary>& out);
  ~InstrumentLibrary();
  InstrumentLibrary(const InstrumentLibrary&) = delete;
  InstrumentLibrary& operator=(const InstrumentLibrary&) = delete;

  const SoundFontCatalogue& catalogue() const { return *catalogue_; }
  // Whether the file at the library's path is still the one its directory was read from.
  bool matches_file() const;

  // Every preset a synthesizer of this library selects while it plays `sequence` from any
  // start point, including the one each channel has after a reset (a pass's start), in
  // first-selected order, with the notes played on it. Worked out by sending the sequence's
  // controllers, program changes and system-exclusive messages, in order, to a synthesizer
  // whose presets are stand-ins, and noting which preset each note-on meets.
  std::vector<PresetUse> presets_used_by(const midi::Sequence& sequence);

  // The most voices `sequence` keeps sounding at once on a synthesizer of this library, at
  // master tempo 1.0, looped or not (instrument_library_voices.cpp). Worked out from the
  // same stand-in pass: each note-on starts the voices its preset's zones give it
  // (NoteVoices), which last until the note is released, by its note-off or a pedal, plus
  // their release; notes still held at the end are released there, and tails that outlast
  // the end overlap the next pass's start. Anything that ends a voice sooner (a sample
  // that stops, a key played again, an exclusive class) is left out, so the count errs high.
  int voices_at_once(const midi::Sequence& sequence);

  // A font holding the presets of `uses` that the file has, cut to the zones their notes
  // reach, with those zones' samples loaded; nullptr in `out` when the file has none of
  // them. MUSIC_E_SOUNDFONT_CHANGED when the file changed since its directory was read (open
  // the library again), MUSIC_E_SYNTH_FAILED when it cannot be read otherwise. The caller
  // owns the font and frees it with discard_font.
  com::HResult load_instruments(std::span<const PresetUse> uses, struct _fluid_sfont_t*& out);

 private:
  InstrumentLibrary() = default;

  std::unique_ptr<SoundFontCatalogue> catalogue_;
  std::mutex mutex_;  // one client thread at a time drives the synthesizer below
  struct _fluid_hashtable_t* settings_ = nullptr;
  // Never renders: resolves programs against the stand-in font and loads cut fonts.
  struct _fluid_synth_t* synth_ = nullptr;
  std::vector<PresetId> stand_in_ids_;  // the stand-in presets' data, one per file preset
};

}  // namespace orvan::music::synth
