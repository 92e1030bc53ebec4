// Downloading a piece's General MIDI instruments into a performance: the client side loads
// the presets the piece selects into a font of their own before its play is queued, and
// frees a font once no play needs it, the render thread has moved on from it (to another
// piece, to music of another kind, or to nothing) and its last voice has ended.
#include <algorithm>
#include <mutex>

#include "platform/music/midi/sequence.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/render/playback_shared.h"
#include "platform/music/synth/dls_font.h"
#include "platform/music/synth/instrument_library.h"

namespace orvan::music {

HResult PerformanceCore::download_instruments(const midi::Sequence& sequence,
                                              struct _fluid_sfont_t*& font) {
  font = nullptr;
  std::shared_ptr<synth::InstrumentLibrary> library;
  {
    std::lock_guard lock(client_mutex_);
    if (closed_) return com::MUSIC_E_CLOSED;
    if (!running_) return com::MUSIC_E_NOT_INITIALIZED;
    library = library_;
  }
  // A SoundFont replaced or rewritten since the channel opened: new pieces take their
  // instruments from the file as it is now; fonts downloaded before keep their own samples.
  if (!library->matches_file()) {
    std::shared_ptr<synth::InstrumentLibrary> reread;
    if (HResult hr = synth::InstrumentLibrary::open(library->catalogue().path(), reread);
        com::failed(hr)) {
      return hr;
    }
    std::lock_guard lock(client_mutex_);
    library_ = reread;
    library = std::move(reread);
  }
  const std::vector<synth::PresetUse> presets = library->presets_used_by(sequence);
  // A font still held with exactly these presets serves again: one a play queued or under
  // way takes, or one an earlier piece left whose voices have not all ended yet. A game switching
  // between two pieces then holds both pieces' instruments, however often it switches, and reads
  // neither again.
  const auto take_held = [&] {
    for (HeldInstruments& held : instruments_) {
      if (held.library == library.get() && held.presets == presets) {
        ++held.pending_plays;
        font = held.font;
        return true;
      }
    }
    return false;
  };
  {
    std::lock_guard lock(client_mutex_);
    if (take_held()) return com::S_OK;
  }
  struct _fluid_sfont_t* loaded = nullptr;
  if (HResult hr = library->load_instruments(presets, loaded); com::failed(hr)) return hr;

  std::lock_guard lock(client_mutex_);
  if (closed_) {
    synth::discard_font(loaded);
    return com::MUSIC_E_CLOSED;
  }
  // The SoundFont has none of them: the play leaves the instruments sounding now in place.
  if (!loaded) return com::S_OK;
  instruments_.push_back({presets, library.get(), loaded, 1, std::nullopt});
  font = loaded;
  return com::S_OK;
}

void PerformanceCore::instruments_settled_locked(struct _fluid_sfont_t* font) {
  for (HeldInstruments& held : instruments_) {
    if (held.font == font) --held.pending_plays;
  }
}

bool PerformanceCore::instruments_needed_locked(const HeldInstruments& held) const {
  if (held.pending_plays > 0) return true;
  // A play queued or under way; a queued one that never starts retires when it is dropped.
  // Read before the font sounding: a play that retired had its font switched in first.
  for (const HeldSource& source : sources_) {
    if (source.instruments == held.font &&
        !source.shared->retired.load(std::memory_order_acquire)) {
      return true;
    }
  }
  // A MIDI piece whose SoundFont had none of its presets sounds from the font before.
  return instruments_sounding_.load(std::memory_order_acquire) == held.font;
}

void PerformanceCore::discard_released_instruments_locked() {
  std::vector<HeldInstruments> kept;
  kept.reserve(instruments_.size());
  for (HeldInstruments& held : instruments_) {
    if (instruments_needed_locked(held)) {
      held.idle_after.reset();
      kept.push_back(std::move(held));
      continue;
    }
    // Read after the font sounding was seen to be another: it counts the switch away.
    if (!held.idle_after) {
      held.idle_after = instrument_switches_made_.load(std::memory_order_acquire);
    }
    if (*held.idle_after <= instrument_switches_released_.load(std::memory_order_acquire)) {
      synth::discard_font(held.font);
    } else {
      kept.push_back(std::move(held));
    }
  }
  instruments_ = std::move(kept);
}

std::size_t PerformanceCore::held_instrument_fonts() {
  std::lock_guard lock(client_mutex_);
  discard_released_instruments_locked();
  return instruments_.size();
}

}  // namespace orvan::music
