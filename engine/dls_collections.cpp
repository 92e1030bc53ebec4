// The channel's DLS slots: resizing the table, loading a collection into a slot, and
// applying a slot's collection to the loaded music.
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/orvan_music.h"

namespace orvan::engine {

using com::call;
using com::failed;
using com::Ref;
using namespace music;

namespace {

// More slots than anyone loads collections into; a larger table would pin memory for
// nothing (a slot is a pointer), and INT_MAX + 1 slots would need 16 GiB.
constexpr std::int32_t kLargestMaxDLS = (1 << 20) - 1;

bool slot_exists(std::int32_t index, std::int32_t max_dls) {
  return index >= 0 && index <= max_dls;
}

}  // namespace

HResult OrvanMusic::Change_MaxDLS(const std::int32_t& NewValue) {
  // A table cannot end below slot 0; the old table and bound stay.
  if (NewValue < 0) return com::E_SUBSCRIPT_OUT_OF_RANGE;
  if (NewValue > kLargestMaxDLS) return com::E_OUTOFMEMORY;
  std::vector<Ref<DirectMusicCollection8>> table;
  try {
    table.resize(static_cast<std::size_t>(NewValue) + 1);
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (const std::length_error&) {
    return com::E_OUTOFMEMORY;
  }
  MaxDLS = NewValue;
  // Every collection the old table held is released here, even at an unchanged size.
  DLSCollections = std::move(table);
  return com::S_OK;
}

HResult OrvanMusic::LoadDLS(const com::BStr& Filename, const std::int32_t& sIndex) {
  if (!slot_exists(sIndex, MaxDLS)) return com::E_SUBSCRIPT_OUT_OF_RANGE;
  const std::string path = Filename.to_utf8();
  // The file system stops reading a name at a NUL, so such a name would load some other
  // file than the one the caller named; no file of that name can exist.
  if (path.find('\0') != std::string::npos) return com::MUSIC_E_CANNOT_OPEN;
  return LoadCollectionInto(sIndex, nullptr, path);
}

HResult OrvanMusic::LoadCollectionFrom(const ByteSource& source, std::int32_t index) {
  if (!slot_exists(index, MaxDLS)) return com::E_SUBSCRIPT_OUT_OF_RANGE;
  // Before the source is read: a stream is read once, and would be spent for nothing.
  if (!Loader) return com::E_OBJECT_NOT_SET;
  std::shared_ptr<const MemoryFile> file;
  if (HResult hr = MemoryFile::read(source, file); failed(hr)) return hr;
  return LoadCollectionInto(index, file, file->path());
}

HResult OrvanMusic::LoadCollectionInto(std::int32_t index,
                                       const std::shared_ptr<const MemoryFile>& file,
                                       const std::string& path) {
  if (!Loader) return com::E_OBJECT_NOT_SET;
  Ref<DirectMusicCollection8> collection;
  const HResult hr =
      file ? Loader->LoadCollection(file, collection) : Loader->LoadCollection(path, collection);
  if (failed(hr)) return hr;
  DLSCollections[static_cast<std::size_t>(index)] = std::move(collection);
  return com::S_OK;
}

HResult OrvanMusic::ApplyDLS(const std::int32_t& sIndex) {
  if (!slot_exists(sIndex, MaxDLS)) return com::E_SUBSCRIPT_OUT_OF_RANGE;
  // Both are needed before anything is connected, so a call without them changes nothing.
  if (!Seg || !Perf) return com::E_OBJECT_NOT_SET;
  // An empty slot goes to the platform as it is; the platform refuses it.
  HResult hr = Seg->ConnectToCollection(DLSCollections[static_cast<std::size_t>(sIndex)]);
  if (failed(hr)) return hr;
  Ref<DirectMusicAudioPath8> path;
  hr = Perf->GetDefaultAudioPath(path);
  if (failed(hr)) return hr;
  // The connection stays made if the download fails.
  return Seg->Download(path);
}

}  // namespace orvan::engine
