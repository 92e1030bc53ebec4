// Collections and the loader's LoadCollection.
#include "platform/music/client/collection.h"

#include <atomic>
#include <memory>

#include "platform/music/client/byte_source.h"
#include "platform/music/client/loader.h"
#include "platform/music/synth/dls_font.h"

namespace orvan::music {
namespace {

std::uint64_t next_serial() {
  static std::atomic<std::uint64_t> counter{0};
  return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

DirectMusicCollection8::DirectMusicCollection8(std::string path, CollectionSummary summary)
    : path_(std::move(path)), summary_(summary), serial_(next_serial()) {}

DirectMusicCollection8::~DirectMusicCollection8() = default;

HResult DirectMusicLoader8::LoadCollection(const std::string& path,
                                           Ref<DirectMusicCollection8>& collection) {
  // A full read through the synthesizer library, discarded at once: a file the library
  // would refuse fails here, where the caller can tell it apart, and not at download time.
  std::unique_ptr<synth::CollectionFont> trial;
  CollectionSummary summary;
  if (HResult hr = synth::CollectionFont::read(path, trial, &summary); com::failed(hr)) return hr;
  collection = com::make_ref<DirectMusicCollection8>(path, summary);
  return com::S_OK;
}

HResult DirectMusicLoader8::LoadCollection(const std::shared_ptr<const MemoryFile>& file,
                                           Ref<DirectMusicCollection8>& collection) {
  if (!file) return com::E_POINTER;
  Ref<DirectMusicCollection8> loaded;
  if (HResult hr = LoadCollection(file->path(), loaded); com::failed(hr)) return hr;
  loaded->hold(file);
  collection = std::move(loaded);
  return com::S_OK;
}

}  // namespace orvan::music
