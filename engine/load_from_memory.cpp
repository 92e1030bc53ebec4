// Music, the channel's SoundFont and DLS collections from bytes a client holds: a byte array
// or a stream, made into a memory file that the file loaders read as they read any file; a
// recording in a stream that seeks is read where it lies instead, while it plays.
#include <memory>
#include <string>

#include "engine/orvan_music.h"
#include "platform/ui/message_box.h"

namespace orvan::engine {

using com::failed;
using music::ByteSource;
using music::MemoryFile;
using music::wave::ByteStore;

namespace {

// Bytes that could be read in place but are not a recording: handed over front to back, to
// be read whole like any other source.
class InPlaceReader final : public ByteSource {
 public:
  explicit InPlaceReader(const ByteStore& bytes) : bytes_(bytes) {}
  HResult status() const override { return com::S_OK; }
  HResult read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) const override {
    const std::int64_t n = bytes_.read_at(into, size, offset_);
    got = n > 0 ? static_cast<std::uint32_t>(n) : 0;
    if (n < 0) return com::MUSIC_E_CANNOT_OPEN;
    offset_ += n;
    return com::S_OK;
  }

 private:
  const ByteStore& bytes_;
  mutable std::int64_t offset_ = 0;
};

}  // namespace

HResult OrvanMusic::LoadRecordingIn(std::shared_ptr<const ByteStore> bytes) {
  com::Ref<music::DirectMusicSegment8> segment;
  const HResult hr =
      call(Loader, &music::DirectMusicLoader8::LoadRecording, std::move(bytes), segment);
  if (failed(hr)) return hr;
  Seg = std::move(segment);
  Events.keep(Seg);
  return com::S_OK;
}

HResult OrvanMusic::LoadMusicFrom(const ByteSource& source) {
  // An argument that is no byte array or no stream is the caller's mistake, not a file that
  // failed to load: a status, as for any other bad argument.
  if (HResult hr = source.status(); failed(hr)) return hr;
  const std::shared_ptr<const ByteStore> in_place = source.bytes_in_place();
  HResult hr = com::S_OK;
  if (in_place && music::music_kind_of(*in_place) == music::MusicKind::Recording) {
    hr = LoadRecordingIn(in_place);
  } else {
    std::shared_ptr<const MemoryFile> file;
    hr = in_place ? MemoryFile::read(InPlaceReader(*in_place), file)
                  : MemoryFile::read(source, file);
    // The segment takes what it needs while it loads: the memory file may go after.
    if (!failed(hr)) hr = LoadMusicFile(file->path());
  }
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
