// The channel's effect list and the buffer chain rebuilt from it: four switch-on methods
// and Effect_Clear.
#include <string>
#include <utility>

#include "engine/effect_parameter_methods.h"

namespace orvan::engine {

using com::call;
using com::failed;
using com::Ref;
using namespace music;

namespace {

// Asks the performance for its default path, afresh each time: no path reference is kept
// between steps.
HResult activate_default_path(const Ref<DirectMusicPerformance8>& perf, bool active) {
  Ref<DirectMusicAudioPath8> path;
  const HResult hr = call(perf, &DirectMusicPerformance8::GetDefaultAudioPath, path);
  if (failed(hr)) return hr;
  return call(path, &DirectMusicAudioPath8::Activate, active);
}

}  // namespace

HResult OrvanMusic::SwitchOnEffect(std::string_view effect_class) {
  // The table has no room for a fifth description: refuse before touching anything, so the
  // list, the count and the chain stay as they are.
  if (EffectCount < 0 || static_cast<std::size_t>(EffectCount) >= EffectDescs.size())
    return com::MUSIC_E_EFFECT_LIST_FULL;

  EffectDescs[static_cast<std::size_t>(EffectCount)].guidDSFXClass = std::string(effect_class);
  ++EffectCount;
  EffectResults.assign(static_cast<std::size_t>(EffectCount) + 1, 0);

  {
    Ref<DirectMusicAudioPath8> path;
    HResult hr = call(Perf, &DirectMusicPerformance8::GetDefaultAudioPath, path);
    if (failed(hr)) return hr;
    Ref<com::Object> object;
    hr = call(path, &DirectMusicAudioPath8::GetObjectInPath, DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0,
              kAllObjectsText, 0, kSoundBufferInterfaceText, object);
    if (failed(hr)) return hr;
    Ref<DirectSoundBuffer8> buffer;
    hr = com::query(object, buffer);
    if (failed(hr)) return hr;
    DSBuffer = std::move(buffer);
  }

  HResult hr = activate_default_path(Perf, false);
  if (failed(hr)) return hr;
  hr = call(DSBuffer, &DirectSoundBuffer8::SetFX, EffectCount, EffectDescs.data(),
            EffectResults.data());
  if (failed(hr)) return hr;  // the path stays halted: nothing after a refused chain runs
  return activate_default_path(Perf, true);
}

HResult OrvanMusic::Effect_DistortionOn() {
  return SwitchOnEffect(dsp::effect_of<DSFXDISTORTION>.class_text);
}

HResult OrvanMusic::Effect_ChorusOn() {
  return SwitchOnEffect(dsp::effect_of<DSFXCHORUS>.class_text);
}

HResult OrvanMusic::Effect_ReverbOn() {
  return SwitchOnEffect(dsp::effect_of<DSFXWAVESREVERB>.class_text);
}

HResult OrvanMusic::Effect_3DReverb_On() {
  return SwitchOnEffect(dsp::effect_of<DSFXI3DL2REVERB>.class_text);
}

// Best effort: every step runs whatever the one before it did, and nothing is reported.
HResult OrvanMusic::Effect_Clear() {
  EffectCount = 0;
  activate_default_path(Perf, false);
  call(DSBuffer, &DirectSoundBuffer8::SetFX, std::int32_t{0}, EffectDescs.data(),
       EffectResults.data());
  activate_default_path(Perf, true);
  return com::S_OK;
}

HResult switch_on_effect(OrvanMusic& channel, const dsp::EffectInfo& effect) {
  using SwitchOn = HResult (OrvanMusic::*)();
  static constexpr std::pair<const dsp::EffectInfo*, SwitchOn> kSwitches[] = {
      {&dsp::effect_of<DSFXDISTORTION>, &OrvanMusic::Effect_DistortionOn},
      {&dsp::effect_of<DSFXCHORUS>, &OrvanMusic::Effect_ChorusOn},
      {&dsp::effect_of<DSFXWAVESREVERB>, &OrvanMusic::Effect_ReverbOn},
      {&dsp::effect_of<DSFXI3DL2REVERB>, &OrvanMusic::Effect_3DReverb_On},
  };
  for (const auto& [info, on] : kSwitches)
    if (info->class_text == effect.class_text) return (channel.*on)();
  return com::E_INVALIDARG;
}

}  // namespace orvan::engine
