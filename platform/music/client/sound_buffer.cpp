#include "platform/music/client/sound_buffer.h"

#include <memory>

#include "platform/music/client/effect_objects.h"
#include "platform/music/render/buffer_effect_chain.h"
#include "platform/music/render/performance_core.h"

namespace orvan::music {
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

  // Every effect is built here, on the client thread, before the render thread sees any.
  std::vector<Ref<com::Object>> effects;
  effects.reserve(static_cast<std::size_t>(count));
  bool unknown = false;
  for (std::int32_t i = 0; i < count; ++i) {
    Ref<com::Object> effect =
        create_effect_object(descriptions[i].guidDSFXClass, core_->sample_rate());
    if (!effect) {
      results[i] = DSFXR_UNKNOWN;
      unknown = true;
    }
    effects.push_back(std::move(effect));
  }
  if (unknown) return com::REGDB_E_CLASSNOTREG;  // nothing changes: the new effects go here

  std::unique_ptr<EffectChain> chain;
  if (count > 0) {
    // The render side gets each effect's DSP; the objects only travel to be kept alive.
    std::vector<dsp::Effect*> dsp;
    for (const Ref<com::Object>& effect : effects) {
      if (PlatformEffect* platform_effect = platform_effect_of(effect.get())) {
        dsp.push_back(&platform_effect->dsp_effect());
      }
    }
    chain = std::make_unique<BufferEffectChain>(effects, std::move(dsp));
  }
  const HResult hr = core_->replace_effect_chain(std::move(chain));
  if (com::failed(hr)) return hr;
  for (std::int32_t i = 0; i < count; ++i) results[i] = DSFXR_LOCSOFTWARE;
  effects_ = std::move(effects);
  return com::S_OK;
}

HResult DirectSoundBuffer8::GetObjectInPath(std::string_view effectClass, std::int32_t index,
                                            std::string_view interfaceId,
                                            Ref<com::Object>& object) {
  if (!core_) return com::MUSIC_E_CLOSED;
  if (index < 0) return com::E_INVALIDARG;
  // An unknown class has no interface to check and no effect in the chain.
  const dsp::EffectInfo* wanted = dsp::effect_with_class(effectClass);
  if (!wanted) return com::MUSIC_E_OBJECT_NOT_FOUND;
  if (interfaceId != wanted->interface_text) return com::E_NOINTERFACE;
  std::int32_t seen = 0;
  for (const Ref<com::Object>& effect : effects_) {
    if (platform_effect_of(effect.get())->effect_info().class_text != effectClass) continue;
    if (seen++ == index) {
      object = effect;
      return com::S_OK;
    }
  }
  return com::MUSIC_E_OBJECT_NOT_FOUND;
}

}  // namespace orvan::music
