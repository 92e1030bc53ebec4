#include "platform/music/client/audio_path.h"

#include "platform/music/client/sound_buffer.h"
#include "platform/music/render/performance_core.h"

namespace orvan::music {

DirectMusicAudioPath8::DirectMusicAudioPath8(Ref<com::Object> owner, PerformanceCore* core,
                                             Ref<DirectSoundBuffer8> buffer0)
    : owner_(std::move(owner)), core_(core), buffer0_(std::move(buffer0)) {}

DirectMusicAudioPath8::~DirectMusicAudioPath8() = default;

HResult DirectMusicAudioPath8::GetObjectInPath(std::int32_t pchannel, std::int32_t stage,
                                               std::int32_t buffer, std::string_view objectClass,
                                               std::int32_t index, std::string_view interfaceId,
                                               Ref<com::Object>& object) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  if (pchannel != DMUS_PCHANNEL_ALL || stage != DMUS_PATH_BUFFER ||
      objectClass != kAllObjectsText) {
    return com::E_INVALIDARG;
  }
  // Buffer 1 (the reverb send) exists, but nothing outside the platform may reach it.
  if (buffer != 0 || index != 0 || !buffer0_) return com::MUSIC_E_OBJECT_NOT_FOUND;
  if (interfaceId != kSoundBufferInterfaceText) return com::E_NOINTERFACE;
  object = buffer0_;
  return com::S_OK;
}

HResult DirectMusicAudioPath8::Activate(bool active) {
  if (core_->closed()) return com::MUSIC_E_CLOSED;
  return core_->set_path_active(active);
}

}  // namespace orvan::music
