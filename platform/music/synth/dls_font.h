// DLS collections as FluidSynth fonts.
//
// A collection is read (through FluidSynth's DLS loader, which uses libinstpatch) into a
// private, silent synthesizer on a client thread and taken out of it again, so the slow
// part never holds up a render thread. The free-standing font stays with whoever read it
// (a performance keeps the fonts of the collections downloaded to it); its synthesizer's
// render thread makes it the one that sounds (Synth::sound_collection), above the General
// MIDI font: programs the collection has come from it, the rest fall through.
//
// A font must outlive every synthesizer that sounded it: its channels and voices point into
// it, and FluidSynth frees a DLS font's samples at once, even while voices still play them.
#pragma once

#include <memory>
#include <string>

#include "platform/com/status.h"
#include "platform/music/synth/collection_check.h"

struct _fluid_synth_t;
struct _fluid_sfont_t;

namespace orvan::music::synth {

class CollectionFont {
 public:
  // Client threads only: opens `path` as given, checks its structure and reads it. The
  // library reads the very file that was checked (through its open descriptor), so a file
  // swapped after the check never reaches it. MUSIC_E_CANNOT_OPEN (also, at once and
  // without waiting, for a pipe, a device or a name with a NUL in it), MUSIC_E_IS_DIRECTORY,
  // MUSIC_E_FILE_TOO_LARGE, MUSIC_E_NOT_DLS or MUSIC_E_CORRUPT_COLLECTION on failure. A
  // collection without instruments succeeds with an empty font (`empty()`): FluidSynth
  // refuses to load such a file, and there is nothing in it to sound anyway.
  static com::HResult read(const std::string& path, std::unique_ptr<CollectionFont>& out,
                           CollectionSummary* summary = nullptr);

  ~CollectionFont();  // frees a font no synthesizer took
  CollectionFont(const CollectionFont&) = delete;
  CollectionFont& operator=(const CollectionFont&) = delete;

  bool empty() const { return font_ == nullptr; }
  struct _fluid_sfont_t* get() const {
    return font_;
  }
  // Gives the font up; whoever takes it must free it (discard_font).
  struct _fluid_sfont_t* release() noexcept;

 private:
  CollectionFont() = default;
  struct _fluid_sfont_t* font_ = nullptr;
};

// Frees a font once no synthesizer that sounded it is left. Client threads only.
void discard_font(struct _fluid_sfont_t* font) noexcept;

}  // namespace orvan::music::synth
