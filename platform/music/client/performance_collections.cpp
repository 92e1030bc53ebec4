// Downloading a collection into a performance: the client side reads the file into a font
// and keeps it; the render thread makes it the one that sounds between blocks.
#include <algorithm>
#include <memory>
#include <mutex>

#include "platform/music/client/collection.h"
#include "platform/music/client/segment.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/synth/dls_font.h"

namespace orvan::music {

HResult PerformanceCore::download_collection(const DirectMusicCollection8& collection) {
  // Makes `font`, held here, the one that sounds from the next block on. client_mutex_ held.
  const auto sound = [this](struct _fluid_sfont_t* font) -> HResult {
    Command command;
    command.kind = CommandKind::Font;
    command.font = font;
    return push_command(command);
  };
  const auto find = [this, &collection] {
    return std::find_if(held_fonts_.begin(), held_fonts_.end(), [&](const HeldFont& held) {
      return held.collection == collection.serial();
    });
  };

  {
    std::lock_guard lock(client_mutex_);
    if (closed_) return com::MUSIC_E_CLOSED;
    if (!running_) return com::MUSIC_E_NOT_INITIALIZED;
    if (auto held = find(); held != held_fonts_.end()) return sound(held->font);
  }
  // Reading may take a while; other client calls (and notifications) must not wait on it.
  std::unique_ptr<synth::CollectionFont> font;
  if (HResult hr = synth::CollectionFont::read(collection.path(), font); com::failed(hr)) {
    return hr;
  }
  if (font->empty()) return com::S_OK;  // no instruments: nothing changes in the sound

  std::lock_guard lock(client_mutex_);
  // Another thread may have downloaded the same collection meanwhile; ours is then freed.
  if (auto held = find(); held != held_fonts_.end()) return sound(held->font);
  // Room first, so that a queued font is always one we hold and free.
  held_fonts_.reserve(held_fonts_.size() + 1);
  if (HResult hr = sound(font->get()); com::failed(hr)) return hr;
  held_fonts_.push_back({collection.serial(), font->release()});
  return com::S_OK;
}

struct _fluid_sfont_t* PerformanceCore::collection_font_locked(
    const DirectMusicSegment8& segment) const {
  const Ref<DirectMusicCollection8> connected = segment.collection();
  if (!connected) return nullptr;
  for (const HeldFont& held : held_fonts_) {
    if (held.collection == connected->serial()) return held.font;
  }
  return nullptr;
}

std::size_t PerformanceCore::downloaded_collections() const {
  std::lock_guard lock(client_mutex_);
  return held_fonts_.size();
}

}  // namespace orvan::music
