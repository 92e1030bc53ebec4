// An engine object for window tests: implements _OrvanMusic by recording every call with its
// arguments in the CallLog and answering as the test scripted. It plays nothing.
#pragma once

#include <atomic>
#include <string>

#include "demos/tests/recording_engine/call_log.h"
#include "orvan/tovel.h"

namespace orvan::demo_test {

// Objects alive in this library, for DllCanUnloadNow.
std::atomic<int>& live_objects();

class RecordingMusic final : public _OrvanMusic {
 public:
  RecordingMusic();

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepinfo, UINT* arg_err) override;
  HRESULT Reserved7() override { return E_NOTIMPL; }
  HRESULT Reserved8() override { return E_NOTIMPL; }
  HRESULT Reserved9() override { return E_NOTIMPL; }

  HRESULT InitOrvanAudio(LONG* hwnd, LONG* SampleRate) override;
  HRESULT CleanupAudio() override;
  HRESULT Music_Load(BSTR* Filename) override;
  HRESULT Music_Play(LONG* nLoop) override;
  HRESULT Music_Stop() override;
  HRESULT GetLengh(LONG* result) override;
  HRESULT GetCurrentPosition(LONG* result) override;
  HRESULT GetRepeats(LONG* result) override;
  HRESULT SetPosition(LONG* Pos) override;
  HRESULT IsPlaying(VARIANT_BOOL* result) override;

  HRESULT Effect_DistortionOn() override;
  HRESULT Effect_ChorusOn() override;
  HRESULT Effect_ReverbOn() override;
  HRESULT Effect_3DReverb_On() override;
  HRESULT Effect_Clear() override;

  HRESULT SetFX_Dist_Gain(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Dist_Edge(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Dist_PostEQBandwidth(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Dist_PostEQCenterFrequency(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Dist_PreLowpassCutoff(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Cho_Feedback(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Cho_Delay(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Cho_Depth(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Cho_Frequency(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Cho_WetDryMix(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Cho_Phase(CONST_OSFX_PHASE Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Cho_Waveform(CONST_OSFX_WAVE Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev_Gain(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev_Mix(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev_Time(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev_HighFreqRTRatio(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_DecayHFRatio(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_DecayTime(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_Density(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_Diffusion(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_HFReference(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_ReflectionsDelay(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_ReverbDelay(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_RoomRolloffFactor(float Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_Reflections(LONG Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_Reverb(LONG Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_Room(LONG Value, VARIANT_BOOL* result) override;
  HRESULT SetFX_Rev3D_RoomHF(LONG Value, VARIANT_BOOL* result) override;

  HRESULT SetMasterTempo(float* Value) override;
  HRESULT SetMasterVolume(LONG* Value) override;
  HRESULT GetMasterTempo(float* result) override;
  HRESULT GetMasterVolume(LONG* result) override;

  HRESULT Change_MaxDLS(LONG* NewValue) override;
  HRESULT LoadDLS(BSTR* Filename, LONG* sIndex) override;
  HRESULT ApplyDLS(LONG* sIndex) override;

 private:
  ~RecordingMusic() = default;
  // Records "method(args)" and returns the status the test scripted for the method.
  HRESULT note(const char* method, const std::string& args = {});
  HRESULT note_value(const char* method, float value, VARIANT_BOOL* result);
  HRESULT answer(const char* method, LONG* result);

  std::atomic<ULONG> references_{1};
  const int number_;
};

}  // namespace orvan::demo_test
