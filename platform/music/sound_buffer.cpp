#include "platform/music/sound_buffer.h"

#include "platform/music/performance_core.h"

// Buffer 0's effect chain. The effects themselves are not built yet: an empty chain is
// accepted, unknown classes are reported as such, and a chain of known effects is refused
// as not implemented rather than silently playing without them.
namespace orvan::music {
namespace {

bool known_effect_class(std::string_view guid) {
  return guid == GUID_DSFX_STANDARD_DISTORTION || guid == GUID_DSFX_STANDARD_CHORUS ||
         guid == GUID_DSFX_WAVES_REVERB || guid == GUID_DSFX_STANDARD_I3DL2REVERB;
}

}  // namespace

DirectSoundBuffer8::DirectSoundBuffer8(PerformanceCore* core) : core_(core) {}

DirectSoundBuffer8::~DirectSoundBuffer8() = default;

void DirectSoundBuffer8::detach_core() {
  core_ = nullptr;
}

HResult DirectSoundBuffer8::SetFX(std::int32_t count, const DSEFFECTDESC* descriptions,
                                  std::int32_t* results) {
  if (!core_) return com::MUSIC_E_CLOSED;
  if (count < 0) return com::E_INVALIDARG;
  if (count > 0 && (!descriptions || !results)) return com::E_POINTER;
  if (core_->path_active()) return com::DSERR_INVALIDCALL;
  bool unknown = false;
  for (std::int32_t i = 0; i < count; ++i) {
    if (!known_effect_class(descriptions[i].guidDSFXClass)) {
      results[i] = DSFXR_UNKNOWN;
      unknown = true;
    }
  }
  if (unknown) return com::REGDB_E_CLASSNOTREG;
  if (count > 0) return com::E_NOTIMPL;
  return core_->replace_effect_chain(nullptr);
}

HResult DirectSoundBuffer8::GetObjectInPath(std::string_view /*effectClass*/,
                                            std::int32_t /*index*/,
                                            std::string_view /*interfaceId*/,
                                            Ref<com::Object>& /*object*/) {
  if (!core_) return com::MUSIC_E_CLOSED;
  return com::MUSIC_E_OBJECT_NOT_FOUND;  // the chain is always empty for now
}

}  // namespace orvan::music
