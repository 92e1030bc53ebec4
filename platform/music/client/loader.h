// Loads music files as segments and DLS files as collections. Paths are used exactly as
// given: there is no search directory.
#pragma once

#include <memory>
#include <string>

#include "platform/music/types.h"

namespace orvan::music {

class DirectMusicSegment8;
class DirectMusicCollection8;
class MemoryFile;
namespace wave {
class ByteStore;
}

// Which reader a file goes to, by its first bytes: MIDI and RMID files to the MIDI reader,
// and so does anything whose first bytes cannot be read (the reader names why); tracker
// modules to libopenmpt; everything else is offered to the audio decoder. A new kind of
// music is one more entry here and one more play source.
enum class MusicKind { Midi, Module, Recording };
MusicKind music_kind_of(const std::string& path);
// The same for bytes held elsewhere.
MusicKind music_kind_of(const wave::ByteStore& bytes);

class DirectMusicLoader8 : public com::Object {
 public:
  DirectMusicLoader8() = default;

  // MUSIC_E_CANNOT_OPEN when the file cannot be read, MUSIC_E_UNSUPPORTED_FORMAT when it is
  // no music file we know, MUSIC_E_CORRUPT (or a more specific reader status) when it is
  // one but broken. `segment` is untouched on failure.
  HResult LoadSegment(const std::string& path, Ref<DirectMusicSegment8>& segment);
  HResult LoadCollection(const std::string& path, Ref<DirectMusicCollection8>& collection);
  // The same for bytes a client handed over (byte_source.h). A collection reads its file
  // again at every download, so it keeps the memory file; segments take what they need at
  // load (a recording opens a descriptor of its own) and load from file->path().
  HResult LoadCollection(const std::shared_ptr<const MemoryFile>& file,
                         Ref<DirectMusicCollection8>& collection);
  // A recording read from `bytes` while it plays (a client's stream): the same statuses as
  // LoadSegment. Other kinds of music are read whole at load and come by path.
  HResult LoadRecording(std::shared_ptr<const wave::ByteStore> bytes,
                        Ref<DirectMusicSegment8>& segment);

 private:
  ~DirectMusicLoader8() override = default;
};

}  // namespace orvan::music
