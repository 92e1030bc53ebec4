// Buffer 0 of the default audio path and its effect chain.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/music/types.h"

namespace orvan::music {

class PerformanceCore;

class DirectSoundBuffer8 : public com::Object {
 public:
  // Replaces the whole chain with descriptions[0..count-1], in order, and writes one result
  // per effect into results[0..count-1] (results must have room). count 0 empties it.
  // DSERR_INVALIDCALL while the path is active; an unknown class creates nothing, marks
  // that entry DSFXR_UNKNOWN and fails with REGDB_E_CLASSNOTREG.
  HResult SetFX(std::int32_t count, const DSEFFECTDESC* descriptions, std::int32_t* results);
  // The index-th effect of a class in the chain; MUSIC_E_OBJECT_NOT_FOUND when there is
  // none, E_NOINTERFACE when the interface text does not belong to that class.
  HResult GetObjectInPath(std::string_view effectClass, std::int32_t index,
                          std::string_view interfaceId, Ref<com::Object>& object);

  // For the audio path.
  explicit DirectSoundBuffer8(PerformanceCore* core);
  void detach_core();  // the performance closed down: every later call fails

 private:
  ~DirectSoundBuffer8() override;

  PerformanceCore* core_;
  // The effect objects of the chain last set, in slot order (client thread). The chain the
  // render thread runs holds its own references to the same objects.
  std::vector<Ref<com::Object>> effects_;
};

// The empty sound-device type the performance accepts in InitAudio.
class DirectSound8 : public com::Object {};

}  // namespace orvan::music
