// DLS collections as FluidSynth fonts.
//
// A collection is read (through FluidSynth's DLS loader, which uses libinstpatch) into a
// private, silent synthesizer on a client thread and taken out of it again, so the slow
// part never holds up a render thread. The free-standing font is then handed to the
// performance's synthesizer on its render thread, above the General MIDI font: programs
// the collection has come from it, the rest fall through. One synthesizer may hold the
// fonts of several collections; one at a time sounds (the playing segment's).
//
// A font stays in the synthesizer that took it until that synthesizer is deleted. FluidSynth
// frees a DLS font's samples at once when it is unloaded, even while voices still play them,
// so unloading earlier could cut or corrupt sound that is playing.
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
  // Gives the font up; whoever takes it must hand it to a synthesizer (use_collection_font)
  // or free it (discard_font).
  struct _fluid_sfont_t* release() noexcept;

 private:
  CollectionFont() = default;
  struct _fluid_sfont_t* font_ = nullptr;
};

// Render thread only (or whichever single thread drives `synth`). Makes `font` the one
// collection font whose instruments sound: the others the synthesizer holds are hidden
// (their bank numbers moved out of reach), the General MIDI font at the bottom of the stack
// answers for everything else, and every channel picks its program again, so notes after
// this call use the new set while voices already sounding keep theirs. nullptr hides every
// collection. With `take` the synthesizer first takes ownership of `font`. Allocates a
// list node and FluidSynth's per-program records: call it between blocks, as rarely as
// collections are downloaded and segments started.
void use_collection_font(struct _fluid_synth_t* synth, struct _fluid_sfont_t* font,
                         bool take) noexcept;

// Frees a font that no synthesizer took. Client threads only.
void discard_font(struct _fluid_sfont_t* font) noexcept;

}  // namespace orvan::music::synth
