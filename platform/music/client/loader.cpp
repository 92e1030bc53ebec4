#include "platform/music/client/loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include <sys/stat.h>

#include <memory>
#include <vector>

#include "platform/music/client/segment.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/module/module_content.h"
#include "platform/music/sources/midi_source.h"
#include "platform/music/sources/recorded_source.h"
#include "platform/music/wave/wave_source.h"

namespace orvan::music {

namespace {

std::size_t recognition_size() {
  return std::max<std::size_t>(12, ModuleContent::recognition_size());
}

MusicKind music_kind_of(const std::uint8_t* head, std::size_t got, std::uint64_t size) {
  if (wave::looks_like_midi(head, got)) return MusicKind::Midi;
  if (ModuleContent::recognises(head, got, size)) return MusicKind::Module;
  return MusicKind::Recording;
}

}  // namespace

MusicKind music_kind_of(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return MusicKind::Midi;
  struct stat st {};
  const std::uint64_t size = ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  std::vector<std::uint8_t> head(recognition_size());
  const ssize_t got = ::read(fd, head.data(), head.size());
  ::close(fd);
  if (got <= 0) return MusicKind::Midi;
  return music_kind_of(head.data(), static_cast<std::size_t>(got), size);
}

MusicKind music_kind_of(const wave::ByteStore& bytes) {
  std::vector<std::uint8_t> head(recognition_size());
  const std::int64_t got = bytes.read_at(head.data(), static_cast<std::int64_t>(head.size()), 0);
  if (got <= 0) return MusicKind::Midi;
  return music_kind_of(head.data(), static_cast<std::size_t>(got),
                       static_cast<std::uint64_t>(bytes.size()));
}

HResult DirectMusicLoader8::LoadSegment(const std::string& path,
                                        Ref<DirectMusicSegment8>& segment) {
  const MusicKind kind = music_kind_of(path);
  if (kind == MusicKind::Module) {
    std::shared_ptr<const ModuleContent> content;
    const HResult hr = ModuleContent::load(path, content);
    if (com::failed(hr)) return hr;
    segment = com::make_ref<DirectMusicSegment8>(std::move(content));
    return com::S_OK;
  }
  if (kind == MusicKind::Recording) {
    std::shared_ptr<const wave::WaveSource> source;
    const HResult hr = wave::open_wave_source(path, source);
    if (com::failed(hr)) return hr;
    segment = com::make_ref<DirectMusicSegment8>(
        std::make_shared<const RecordedContent>(std::move(source)));
    return com::S_OK;
  }
  auto sequence = std::make_shared<midi::Sequence>();
  // The reader's statuses already separate "cannot open", "not a music file" and the
  // specific ways a music file can be broken; they are handed on as they are.
  const HResult hr = midi::read_sequence_file(path, *sequence);
  if (com::failed(hr)) return hr;
  segment = com::make_ref<DirectMusicSegment8>(std::move(sequence));
  return com::S_OK;
}

HResult DirectMusicLoader8::LoadRecording(std::shared_ptr<const wave::ByteStore> bytes,
                                          Ref<DirectMusicSegment8>& segment) {
  std::shared_ptr<const wave::WaveSource> source;
  const HResult hr = wave::open_wave_source(std::move(bytes), source);
  if (com::failed(hr)) return hr;
  segment = com::make_ref<DirectMusicSegment8>(
      std::make_shared<const RecordedContent>(std::move(source)));
  return com::S_OK;
}

}  // namespace orvan::music
