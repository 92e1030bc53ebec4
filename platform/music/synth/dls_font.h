// DLS collections as FluidSynth fonts.
//
// A collection is read (through FluidSynth's DLS loader, which uses libinstpatch) into a
// private, silent synthesizer on a client thread and taken out of it again, so the slow
// part never holds up a render thread. The free-standing font is then handed to the
// performance's synthesizer on its render thread, which puts it on top of the General MIDI
// font: programs the collection has come from it, the rest fall through.
//
// A font stays in the synthesizer that took it until that synthesizer is deleted. FluidSynth
// frees a DLS font's samples at once when it is unloaded, even while voices still play them,
// so unloading earlier could cut or corrupt sound that is playing.
#pragma once

#include <memory>
#include <string>

#include "platform/com/status.h"
#include "platform/music/collection_check.h"

struct _fluid_synth_t;
struct _fluid_sfont_t;

namespace orvan::music::synth {

class CollectionFont {
 public:
  // Client threads only: opens `path` as given, checks its structure and reads it. The
  // library reads the very file that was checked (through its open descriptor), so a file
  // swapped after the check never reaches it. MUSIC_E_CANNOT_OPEN, MUSIC_E_IS_DIRECTORY,
  // MUSIC_E_FILE_TOO_LARGE, MUSIC_E_NOT_DLS or MUSIC_E_CORRUPT_COLLECTION on failure. A
  // collection without instruments succeeds with an empty font (`empty()`): FluidSynth
  // refuses to load such a file, and there is nothing in it to sound anyway.
  static com::HResult read(const std::string& path, std::unique_ptr<CollectionFont>& out,
                           CollectionSummary* summary = nullptr);

  ~CollectionFont();  // frees a font no synthesizer took
  CollectionFont(const CollectionFont&) = delete;
  CollectionFont& operator=(const CollectionFont&) = delete;

  bool empty() const { return font_ == nullptr; }
  // Gives the font up; whoever takes it must hand it to a synthesizer (raise_font) or free
  // it (discard_font).
  struct _fluid_sfont_t* release() noexcept;

 private:
  CollectionFont() = default;
  struct _fluid_sfont_t* font_ = nullptr;
};

// Render thread only (or whichever single thread drives `synth`). Puts `font` on top of
// the synthesizer's stack and makes every channel pick its program again, so notes after
// this call use the collection's instruments; voices already sounding keep theirs. `held`
// says the synthesizer already owns the font (it is moved up); otherwise it takes
// ownership. Allocates a list node and FluidSynth's per-program records: call it between
// blocks, as rarely as collections are downloaded.
void raise_font(struct _fluid_synth_t* synth, struct _fluid_sfont_t* font, bool held) noexcept;

// Frees a font that no synthesizer took. Client threads only.
void discard_font(struct _fluid_sfont_t* font) noexcept;

}  // namespace orvan::music::synth
