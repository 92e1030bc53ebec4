#include "platform/music/collection.h"

#include "platform/music/loader.h"
#include "platform/music/segment.h"

// DLS collections are not loaded yet; these entry points exist so that the platform links.
// They are replaced by the collection support.
namespace orvan::music {

DirectMusicCollection8::DirectMusicCollection8(std::string path) : path_(std::move(path)) {}
DirectMusicCollection8::~DirectMusicCollection8() = default;

HResult DirectMusicLoader8::LoadCollection(const std::string&, Ref<DirectMusicCollection8>&) {
  return com::E_NOTIMPL;
}

HResult DirectMusicSegment8::ConnectToCollection(const Ref<DirectMusicCollection8>&) {
  return com::E_NOTIMPL;
}

HResult DirectMusicSegment8::Download(const Ref<DirectMusicAudioPath8>&) { return com::E_NOTIMPL; }

Ref<DirectMusicCollection8> DirectMusicSegment8::collection() const { return {}; }

}  // namespace orvan::music
