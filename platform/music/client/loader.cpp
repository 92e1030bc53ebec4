#include "platform/music/client/loader.h"

#include <algorithm>

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
  // What cannot be opened as a file goes to the MIDI reader, which says why.
  std::shared_ptr<const wave::ByteStore> bytes;
  if (com::failed(wave::open_file_bytes(path, bytes))) return MusicKind::Midi;
  return music_kind_of(*bytes);
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
  // Opened once: a recording plays from the file its kind was told by.
  std::shared_ptr<const wave::ByteStore> bytes;
  const MusicKind kind =
      com::failed(wave::open_file_bytes(path, bytes)) ? MusicKind::Midi : music_kind_of(*bytes);
  if (kind == MusicKind::Module) {
    std::shared_ptr<const ModuleContent> content;
    const HResult hr = ModuleContent::load(path, content);
    if (com::failed(hr)) return hr;
    segment = com::make_ref<DirectMusicSegment8>(std::move(content));
    return com::S_OK;
  }
  if (kind == MusicKind::Recording) return LoadRecording(std::move(bytes), segment);
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
