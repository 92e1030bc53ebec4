// The 50 methods of _OrvanMusic: each checks the caller's thread, unpacks the published
// argument forms (pointers to the caller's variables, automation strings) and forwards to
// the engine channel. Inputs passed by pointer are only read; a null pointer for an
// optional input gives the engine's own default for it.
#include <string_view>

#include "engine/component/music_object.h"
#include "platform/com/auto_string.h"

namespace orvan::engine::component {
namespace {

// A caller's automation string, embedded NULs and all. A null string is the empty text, as
// automation treats it.
com::BStr to_bstr(BSTR text) {
  if (!text) return {};
  return com::BStr(std::u16string_view(text, SysStringLen(text)));
}

}  // namespace

template <class T, class Method>
HRESULT MusicObject::pass(const T* value, Method method) {
  return on_apartment(
      [&](OrvanMusic& engine) { return value ? (engine.*method)(*value) : E_POINTER; });
}

template <class T, class Method, class... Args>
HRESULT MusicObject::answer(T* result, Method method, Args... args) {
  return on_apartment(
      [&](OrvanMusic& engine) { return result ? (engine.*method)(args..., *result) : E_POINTER; });
}

// --- Lifecycle and music -----------------------------------------------------------------------

HRESULT MusicObject::InitOrvanAudio(LONG* hwnd, LONG* SampleRate) {
  return on_apartment([&](OrvanMusic& engine) {
    if (!hwnd) return E_POINTER;
    return SampleRate ? engine.InitOrvanAudio(*hwnd, *SampleRate) : engine.InitOrvanAudio(*hwnd);
  });
}

HRESULT MusicObject::CleanupAudio() {
  return on_apartment([](OrvanMusic& engine) { return engine.CleanupAudio(); });
}

HRESULT MusicObject::Music_Load(BSTR* Filename) {
  return on_apartment([&](OrvanMusic& engine) {
    return Filename ? engine.Music_Load(to_bstr(*Filename)) : E_POINTER;
  });
}

HRESULT MusicObject::Music_Play(LONG* nLoop) {
  return on_apartment(
      [&](OrvanMusic& engine) { return nLoop ? engine.Music_Play(*nLoop) : engine.Music_Play(); });
}

HRESULT MusicObject::Music_Stop() {
  return on_apartment([](OrvanMusic& engine) { return engine.Music_Stop(); });
}

HRESULT MusicObject::GetLengh(LONG* result) {
  return answer(result, &OrvanMusic::GetLengh);
}
HRESULT MusicObject::GetCurrentPosition(LONG* result) {
  return answer(result, &OrvanMusic::GetCurrentPosition);
}
HRESULT MusicObject::GetRepeats(LONG* result) {
  return answer(result, &OrvanMusic::GetRepeats);
}
HRESULT MusicObject::SetPosition(LONG* Pos) {
  return pass(Pos, &OrvanMusic::SetPosition);
}
HRESULT MusicObject::IsPlaying(VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::IsPlaying);
}

// --- Effects chain -------------------------------------------------------------------------------

HRESULT MusicObject::Effect_DistortionOn() {
  return on_apartment([](OrvanMusic& engine) { return engine.Effect_DistortionOn(); });
}
HRESULT MusicObject::Effect_ChorusOn() {
  return on_apartment([](OrvanMusic& engine) { return engine.Effect_ChorusOn(); });
}
HRESULT MusicObject::Effect_ReverbOn() {
  return on_apartment([](OrvanMusic& engine) { return engine.Effect_ReverbOn(); });
}
HRESULT MusicObject::Effect_3DReverb_On() {
  return on_apartment([](OrvanMusic& engine) { return engine.Effect_3DReverb_On(); });
}
HRESULT MusicObject::Effect_Clear() {
  return on_apartment([](OrvanMusic& engine) { return engine.Effect_Clear(); });
}

// --- Effect parameters ---------------------------------------------------------------------------

HRESULT MusicObject::SetFX_Dist_Gain(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Dist_Gain, Value);
}
HRESULT MusicObject::SetFX_Dist_Edge(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Dist_Edge, Value);
}
HRESULT MusicObject::SetFX_Dist_PostEQBandwidth(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Dist_PostEQBandwidth, Value);
}
HRESULT MusicObject::SetFX_Dist_PostEQCenterFrequency(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Dist_PostEQCenterFrequency, Value);
}
HRESULT MusicObject::SetFX_Dist_PreLowpassCutoff(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Dist_PreLowpassCutoff, Value);
}
HRESULT MusicObject::SetFX_Cho_Feedback(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Cho_Feedback, Value);
}
HRESULT MusicObject::SetFX_Cho_Delay(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Cho_Delay, Value);
}
HRESULT MusicObject::SetFX_Cho_Depth(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Cho_Depth, Value);
}
HRESULT MusicObject::SetFX_Cho_Frequency(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Cho_Frequency, Value);
}
HRESULT MusicObject::SetFX_Cho_WetDryMix(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Cho_WetDryMix, Value);
}
HRESULT MusicObject::SetFX_Cho_Phase(::CONST_OSFX_PHASE Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Cho_Phase, Value);
}
HRESULT MusicObject::SetFX_Cho_Waveform(::CONST_OSFX_WAVE Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Cho_Waveform, Value);
}
HRESULT MusicObject::SetFX_Rev_Gain(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev_Gain, Value);
}
HRESULT MusicObject::SetFX_Rev_Mix(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev_Mix, Value);
}
HRESULT MusicObject::SetFX_Rev_Time(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev_Time, Value);
}
HRESULT MusicObject::SetFX_Rev_HighFreqRTRatio(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev_HighFreqRTRatio, Value);
}
HRESULT MusicObject::SetFX_Rev3D_DecayHFRatio(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_DecayHFRatio, Value);
}
HRESULT MusicObject::SetFX_Rev3D_DecayTime(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_DecayTime, Value);
}
HRESULT MusicObject::SetFX_Rev3D_Density(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_Density, Value);
}
HRESULT MusicObject::SetFX_Rev3D_Diffusion(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_Diffusion, Value);
}
HRESULT MusicObject::SetFX_Rev3D_HFReference(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_HFReference, Value);
}
HRESULT MusicObject::SetFX_Rev3D_ReflectionsDelay(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_ReflectionsDelay, Value);
}
HRESULT MusicObject::SetFX_Rev3D_ReverbDelay(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_ReverbDelay, Value);
}
HRESULT MusicObject::SetFX_Rev3D_RoomRolloffFactor(float Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_RoomRolloffFactor, Value);
}
HRESULT MusicObject::SetFX_Rev3D_Reflections(LONG Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_Reflections, Value);
}
HRESULT MusicObject::SetFX_Rev3D_Reverb(LONG Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_Reverb, Value);
}
HRESULT MusicObject::SetFX_Rev3D_Room(LONG Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_Room, Value);
}
HRESULT MusicObject::SetFX_Rev3D_RoomHF(LONG Value, VARIANT_BOOL* result) {
  return answer(result, &OrvanMusic::SetFX_Rev3D_RoomHF, Value);
}

// --- Master controls -----------------------------------------------------------------------------

HRESULT MusicObject::SetMasterTempo(float* Value) {
  return pass(Value, &OrvanMusic::SetMasterTempo);
}
HRESULT MusicObject::SetMasterVolume(LONG* Value) {
  return pass(Value, &OrvanMusic::SetMasterVolume);
}
HRESULT MusicObject::GetMasterTempo(float* result) {
  return answer(result, &OrvanMusic::GetMasterTempo);
}
HRESULT MusicObject::GetMasterVolume(LONG* result) {
  return answer(result, &OrvanMusic::GetMasterVolume);
}

// --- DLS collections -----------------------------------------------------------------------------

HRESULT MusicObject::Change_MaxDLS(LONG* NewValue) {
  return pass(NewValue, &OrvanMusic::Change_MaxDLS);
}

HRESULT MusicObject::LoadDLS(BSTR* Filename, LONG* sIndex) {
  return on_apartment([&](OrvanMusic& engine) {
    if (!Filename) return E_POINTER;
    return sIndex ? engine.LoadDLS(to_bstr(*Filename), *sIndex)
                  : engine.LoadDLS(to_bstr(*Filename));
  });
}

HRESULT MusicObject::ApplyDLS(LONG* sIndex) {
  return on_apartment(
      [&](OrvanMusic& engine) { return sIndex ? engine.ApplyDLS(*sIndex) : engine.ApplyDLS(); });
}

}  // namespace orvan::engine::component
