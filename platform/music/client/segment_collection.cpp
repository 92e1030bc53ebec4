// A segment's instrument collection: connecting to it and downloading it to a performance.
#include <mutex>

#include "platform/music/client/audio_path.h"
#include "platform/music/client/collection.h"
#include "platform/music/client/segment.h"
#include "platform/music/render/performance_core.h"

namespace orvan::music {

HResult DirectMusicSegment8::ConnectToCollection(const Ref<DirectMusicCollection8>& collection) {
  if (!collection) return com::E_POINTER;
  std::lock_guard lock(collection_mutex_);
  collection_ = collection;
  return com::S_OK;
}

Ref<DirectMusicCollection8> DirectMusicSegment8::collection() const {
  std::lock_guard lock(collection_mutex_);
  return collection_;
}

HResult DirectMusicSegment8::Download(const Ref<DirectMusicAudioPath8>& path) {
  if (!path) return com::E_POINTER;
  const Ref<DirectMusicCollection8> connected = collection();
  if (!connected) return com::MUSIC_E_NO_COLLECTION;
  PerformanceCore* core = path->core();
  if (!core) return com::E_POINTER;
  return core->download_collection(*connected);
}

}  // namespace orvan::music
