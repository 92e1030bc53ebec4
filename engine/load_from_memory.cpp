// Music, the channel's SoundFont and DLS collections from bytes a client holds: a byte array
// or a stream, made into a memory file that the file loaders read as they read any file.
#include <memory>
#include <string>

#include "engine/orvan_music.h"
#include "platform/ui/message_box.h"

namespace orvan::engine {

using com::failed;
using music::ByteSource;
using music::MemoryFile;

HResult OrvanMusic::LoadMusicFrom(const ByteSource& source) {
  // An argument that is no byte array or no stream is the caller's mistake, not a file that
  // failed to load: a status, as for any other bad argument.
  if (HResult hr = source.status(); failed(hr)) return hr;
  std::shared_ptr<const MemoryFile> file;
  HResult hr = MemoryFile::read(source, file);
  // The segment takes what it needs while it loads: the memory file may go after.
  if (!failed(hr)) hr = LoadMusicFile(file->path());
  if (failed(hr)) ui::show_message_box(kLoadFailedText, kLoadFailedCaption, ui::MessageIcon::Error);
  return com::S_OK;
}

HResult OrvanMusic::UseSoundFontFrom(const ByteSource& source) {
  std::shared_ptr<const MemoryFile> file;
  if (HResult hr = MemoryFile::read(source, file); failed(hr)) return hr;
  if (HResult hr = UseSoundFont(file->path()); failed(hr)) return hr;
  // The previous memory file goes only now: the performance has moved to the new one.
  SoundFontFile = std::move(file);
  return com::S_OK;
}

HResult OrvanMusic::Music_LoadBytes(const ByteSource& Data) {
  return LoadMusicFrom(Data);
}

HResult OrvanMusic::Music_LoadStream(const ByteSource& Stream) {
  return LoadMusicFrom(Stream);
}

HResult OrvanMusic::SetSoundFontBytes(const ByteSource& Data) {
  return UseSoundFontFrom(Data);
}

HResult OrvanMusic::SetSoundFontStream(const ByteSource& Stream) {
  return UseSoundFontFrom(Stream);
}

HResult OrvanMusic::LoadDLSBytes(const ByteSource& Data, std::int32_t Index) {
  return LoadCollectionFrom(Data, Index);
}

HResult OrvanMusic::LoadDLSStream(const ByteSource& Stream, std::int32_t Index) {
  return LoadCollectionFrom(Stream, Index);
}

}  // namespace orvan::engine
