// Downloading a piece's General MIDI instruments into a performance: the client side loads
// the presets the piece selects into a font of their own before its play is queued, and
// frees a font once the render thread has moved on from it and its last voice has ended.
#include <algorithm>
#include <mutex>

#include "platform/music/midi/sequence.h"
#include "platform/music/render/performance_core.h"
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
  // A font still held with exactly these presets serves again: the one queued last, or one
  // an earlier piece left that has not been freed yet. A game switching between two pieces
  // then holds both pieces' instruments, however often it switches, and reads neither again.
  const auto take_queued = [&] {
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
    if (take_queued()) return com::S_OK;
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
  instruments_.push_back({presets, library.get(), loaded, 1, false, 0});
  font = loaded;
  return com::S_OK;
}

void PerformanceCore::instruments_settled_locked(struct _fluid_sfont_t* font, bool queued) {
  for (HeldInstruments& held : instruments_) {
    if (held.font != font) continue;
    --held.pending_plays;
    held.queued = held.queued || queued;
  }
  // The render thread switches from the font queued last to this one, if they differ; a
  // font queued again after it was replaced is current again.
  if (!queued || font == last_queued_instruments_) return;
  ++instrument_switches_queued_;
  for (HeldInstruments& held : instruments_) {
    if (held.font == last_queued_instruments_) held.replaced_by = instrument_switches_queued_;
    if (held.font == font) held.replaced_by = 0;
  }
  last_queued_instruments_ = font;
}

void PerformanceCore::discard_released_instruments_locked() {
  const std::uint64_t released = instrument_switches_released_.load(std::memory_order_acquire);
  std::vector<HeldInstruments> kept;
  kept.reserve(instruments_.size());
  for (HeldInstruments& held : instruments_) {
    // Free once replaced and silent, or when no play ever took it and none is about to.
    const bool free = held.pending_plays == 0 &&
                      (held.queued ? held.replaced_by != 0 && held.replaced_by <= released : true);
    if (free) {
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
