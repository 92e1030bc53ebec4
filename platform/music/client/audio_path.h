// The default audio path of a performance (stereo plus reverb): buffer 0 carries the music
// and its effect chain, buffer 1 the reverb send.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/music/types.h"

namespace orvan::music {

class PerformanceCore;
class DirectSoundBuffer8;

class DirectMusicAudioPath8 : public com::Object {
 public:
  // Only (DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0, kAllObjectsText, 0,
  // kSoundBufferInterfaceText) is answered, with buffer 0; anything else is refused.
  HResult GetObjectInPath(std::int32_t pchannel, std::int32_t stage, std::int32_t buffer,
                          std::string_view objectClass, std::int32_t index,
                          std::string_view interfaceId, Ref<com::Object>& object);
  // false silences the path, true brings it back; each ramps over a few milliseconds.
  HResult Activate(bool active);

  // For the performance and the platform's own objects.
  DirectMusicAudioPath8(Ref<com::Object> owner, PerformanceCore* core,
                        Ref<DirectSoundBuffer8> buffer0);
  PerformanceCore* core() const { return core_; }

 private:
  ~DirectMusicAudioPath8() override;

  Ref<com::Object> owner_;  // keeps the performance (and so `core_`) alive
  PerformanceCore* core_;
  Ref<DirectSoundBuffer8> buffer0_;
};

}  // namespace orvan::music
