// Tovel, the Orvan Music Engine as an in-process component: what a client needs to create
// an OrvanMusic object by its class identity and call it through its default interface.
//
//   CoInitialize(nullptr);
//   _OrvanMusic* music = nullptr;
//   CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER, IID__OrvanMusic,
//                    reinterpret_cast<void**>(&music));
//   LONG hwnd = 0, rate = 48000;
//   music->InitOrvanAudio(&hwnd, &rate);
//   ...
//   music->CleanupAudio();
//   music->Release();
//   CoUninitialize();
//
// Arguments passed by pointer are the caller's variables; the engine only reads them.
// Results come back through the last pointer and are written only on success.
#pragma once

#include "orvan/chorus_constants.h"
#include "orvan/component_runtime.h"

// The type library OrvanMusicEngine, version 53.0, locale 0x0409.
inline constexpr GUID LIBID_OrvanMusicEngine = {
    0xE46ACAF1, 0xC583, 0x45FD, {0x8F, 0x2E, 0x67, 0xFB, 0xAB, 0x33, 0x06, 0x11}};
inline constexpr WORD kOrvanMusicEngineMajor = 53;
inline constexpr WORD kOrvanMusicEngineMinor = 0;
inline constexpr CLSID CLSID_OrvanMusic = {
    0x2157ED08, 0x4B0C, 0x427B, {0x84, 0x75, 0x85, 0xD7, 0x54, 0xB9, 0x74, 0xCA}};
inline constexpr IID IID__OrvanMusic = {
    0x224964E1, 0x4A40, 0x4379, {0xA5, 0xE7, 0x81, 0x57, 0x3B, 0xE3, 0xD5, 0xCB}};
inline constexpr GUID GUID_CONST_OSFX_PHASE = {
    0xCB8CB417, 0x9956, 0x480C, {0xA5, 0x0A, 0xC2, 0x47, 0x41, 0x5B, 0x9F, 0x2C}};
inline constexpr GUID GUID_CONST_OSFX_WAVE = {
    0x149F9D0B, 0xE288, 0x4C9C, {0xBE, 0x4C, 0xFD, 0xA3, 0xBC, 0xDB, 0x9E, 0x19}};

// The default interface: a dual interface, so every method can also be called by name
// through IDispatch (dispatch identifiers 0x60030003 to 0x60030034, in this order).
struct _OrvanMusic : IDispatch {
  // Entries 7 to 9 hold places in the table; clients never call them.
  virtual HRESULT Reserved7() = 0;
  virtual HRESULT Reserved8() = 0;
  virtual HRESULT Reserved9() = 0;

  // Entry 10. SampleRate may be null: 48000 Hz.
  virtual HRESULT InitOrvanAudio(LONG* hwnd, LONG* SampleRate) = 0;
  virtual HRESULT CleanupAudio() = 0;
  virtual HRESULT Music_Load(BSTR* Filename) = 0;
  // nLoop may be null: no repetition.
  virtual HRESULT Music_Play(LONG* nLoop) = 0;
  virtual HRESULT Music_Stop() = 0;
  virtual HRESULT GetLengh(LONG* result) = 0;
  virtual HRESULT GetCurrentPosition(LONG* result) = 0;
  virtual HRESULT GetRepeats(LONG* result) = 0;
  virtual HRESULT SetPosition(LONG* Pos) = 0;
  virtual HRESULT IsPlaying(VARIANT_BOOL* result) = 0;

  // Entry 20.
  virtual HRESULT Effect_DistortionOn() = 0;
  virtual HRESULT Effect_ChorusOn() = 0;
  virtual HRESULT Effect_ReverbOn() = 0;
  virtual HRESULT Effect_3DReverb_On() = 0;
  virtual HRESULT Effect_Clear() = 0;

  // Entry 25: effect parameters; result is true when the value was applied.
  virtual HRESULT SetFX_Dist_Gain(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Dist_Edge(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Dist_PostEQBandwidth(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Dist_PostEQCenterFrequency(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Dist_PreLowpassCutoff(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Cho_Feedback(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Cho_Delay(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Cho_Depth(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Cho_Frequency(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Cho_WetDryMix(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Cho_Phase(CONST_OSFX_PHASE Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Cho_Waveform(CONST_OSFX_WAVE Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev_Gain(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev_Mix(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev_Time(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev_HighFreqRTRatio(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_DecayHFRatio(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_DecayTime(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_Density(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_Diffusion(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_HFReference(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_ReflectionsDelay(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_ReverbDelay(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_RoomRolloffFactor(float Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_Reflections(LONG Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_Reverb(LONG Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_Room(LONG Value, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetFX_Rev3D_RoomHF(LONG Value, VARIANT_BOOL* result) = 0;

  // Entry 53: master controls of this channel.
  virtual HRESULT SetMasterTempo(float* Value) = 0;
  virtual HRESULT SetMasterVolume(LONG* Value) = 0;
  virtual HRESULT GetMasterTempo(float* result) = 0;
  virtual HRESULT GetMasterVolume(LONG* result) = 0;

  // Entry 57: DLS collections. sIndex may be null: slot 0.
  virtual HRESULT Change_MaxDLS(LONG* NewValue) = 0;
  virtual HRESULT LoadDLS(BSTR* Filename, LONG* sIndex) = 0;
  virtual HRESULT ApplyDLS(LONG* sIndex) = 0;

 protected:
  ~_OrvanMusic() = default;
};
