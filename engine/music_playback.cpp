// Loading the channel's music, playing, stopping, seeking and the playback queries.
#include <filesystem>
#include <system_error>
#include <utility>

#include "engine/orvan_music.h"
#include "platform/ui/message_box.h"

namespace orvan::engine {

using com::call;
using com::failed;
using com::Ref;
using namespace music;

namespace {

// Plays `segment` as the primary segment on the default audio path, from its start point.
HResult play_segment(const Ref<DirectMusicPerformance8>& perf,
                     const Ref<DirectMusicSegment8>& segment,
                     Ref<DirectMusicSegmentState8>& state) {
  const Ref<com::Object> nothing_to_replace;
  const Ref<DirectMusicAudioPath8> default_path;
  Ref<DirectMusicSegmentState8> started;
  const HResult hr = call(perf, &DirectMusicPerformance8::PlaySegmentEx, segment, DMUS_SEGF_DEFAULT,
                          0, nothing_to_replace, default_path, started);
  if (!failed(hr)) state = std::move(started);
  return hr;
}

}  // namespace

HResult OrvanMusic::LoadMusicFile(const std::string& path) {
  // The file system stops reading a name at a NUL, so such a name would open some other
  // file than the one the caller named.
  if (path.find('\0') != std::string::npos) return com::MUSIC_E_CANNOT_OPEN;
  std::error_code error;
  const auto bytes = std::filesystem::file_size(std::filesystem::path(path), error);
  if (error) return com::MUSIC_E_CANNOT_OPEN;
  if (bytes == 0) return com::MUSIC_E_EMPTY_FILE;
  Ref<DirectMusicSegment8> segment;
  const HResult hr = call(Loader, &DirectMusicLoader8::LoadSegment, path, segment);
  if (failed(hr)) return hr;
  Seg = std::move(segment);
  Events.keep(Seg);
  return com::S_OK;
}

HResult OrvanMusic::Music_Load(const com::BStr& Filename) {
  if (failed(LoadMusicFile(Filename.to_utf8()))) {
    ui::show_message_box(kLoadFailedText, kLoadFailedCaption, ui::MessageIcon::Error);
  }
  return com::S_OK;
}

HResult OrvanMusic::Music_Play(const std::int32_t& nLoop) {
  if (!Seg) return com::S_OK;
  const HResult hr = Seg->SetRepeats(nLoop);
  if (failed(hr)) return hr;
  return play_segment(Perf, Seg, SegState);
}

HResult OrvanMusic::Music_Stop() {
  if (!Seg) return com::S_OK;
  return call(Perf, &DirectMusicPerformance8::StopEx, Seg, 0, 0);
}

HResult OrvanMusic::GetLengh(std::int32_t& result) {
  return com::call_get(Seg, &DirectMusicSegment8::GetLength, result);
}

HResult OrvanMusic::GetCurrentPosition(std::int32_t& result) {
  return com::call_get(SegState, &DirectMusicSegmentState8::GetSeek, result);
}

HResult OrvanMusic::GetRepeats(std::int32_t& result) {
  return com::call_get(SegState, &DirectMusicSegmentState8::GetRepeats, result);
}

HResult OrvanMusic::SetPosition(const std::int32_t& Pos) {
  HResult hr = call(Perf, &DirectMusicPerformance8::StopEx, Seg, 0, 0);
  if (failed(hr)) return hr;
  hr = call(Seg, &DirectMusicSegment8::SetStartPoint, Pos);
  if (failed(hr)) return hr;
  return play_segment(Perf, Seg, SegState);
}

HResult OrvanMusic::IsPlaying(com::VariantBool& result) {
  bool playing = false;
  const HResult hr = call(Perf, &DirectMusicPerformance8::IsPlaying, Seg, SegState, playing);
  if (!failed(hr)) result = com::to_variant_bool(playing);
  return hr;
}

}  // namespace orvan::engine
