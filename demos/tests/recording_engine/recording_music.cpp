#include "demos/tests/recording_engine/recording_music.h"

#include <sstream>

#include "platform/com/auto_string.h"

namespace orvan::demo_test {
namespace {

// What the engine might do with a variable passed by reference: write into it. A window
// that passes fresh temporaries never sees this.
constexpr LONG kScribble = -7;

std::string read_ref(LONG* value) {
  if (!value) return "null";
  const std::string text = std::to_string(*value);
  *value = kScribble;
  return text;
}

std::string text_of(float value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace

std::atomic<int>& live_objects() {
  static std::atomic<int> count{0};
  return count;
}

RecordingMusic::RecordingMusic() : number_(CallLog::instance().next_object()) {
  live_objects().fetch_add(1);
  CallLog::instance().record(number_, "Created");
}

HRESULT RecordingMusic::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__OrvanMusic) {
    AddRef();
    *object = static_cast<_OrvanMusic*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG RecordingMusic::AddRef() {
  return references_.fetch_add(1) + 1;
}

ULONG RecordingMusic::Release() {
  const ULONG left = references_.fetch_sub(1) - 1;
  if (left == 0) {
    CallLog::instance().record(number_, "Released");
    live_objects().fetch_sub(1);
    delete this;
  }
  return left;
}

HRESULT RecordingMusic::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}
HRESULT RecordingMusic::GetTypeInfo(UINT, LCID, ITypeInfo**) {
  return E_NOTIMPL;
}
HRESULT RecordingMusic::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}
HRESULT RecordingMusic::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                               UINT*) {
  return E_NOTIMPL;
}

HRESULT RecordingMusic::note(const char* method, const std::string& args) {
  CallLog::instance().record(number_, std::string(method) + "(" + args + ")");
  return CallLog::instance().status_of(method);
}

HRESULT RecordingMusic::note_value(const char* method, float value, VARIANT_BOOL* result) {
  const HRESULT hr = note(method, text_of(value));
  if (SUCCEEDED(hr) && result) *result = VARIANT_TRUE;
  return hr;
}

HRESULT RecordingMusic::answer(const char* method, LONG* result) {
  const HRESULT hr = note(method);
  if (SUCCEEDED(hr) && result) *result = CallLog::instance().answer_of(method);
  return hr;
}

HRESULT RecordingMusic::InitOrvanAudio(LONG* hwnd, LONG* SampleRate) {
  const std::string window = read_ref(hwnd);
  return note("InitOrvanAudio", window + "," + read_ref(SampleRate));
}
HRESULT RecordingMusic::CleanupAudio() {
  return note("CleanupAudio");
}
HRESULT RecordingMusic::Music_Load(BSTR* Filename) {
  return note("Music_Load", Filename && *Filename ? com::utf16_to_utf8(*Filename) : "null");
}
HRESULT RecordingMusic::Music_Play(LONG* nLoop) {
  return note("Music_Play", read_ref(nLoop));
}
HRESULT RecordingMusic::Music_Stop() {
  return note("Music_Stop");
}
HRESULT RecordingMusic::GetLengh(LONG* result) {
  return answer("GetLengh", result);
}
HRESULT RecordingMusic::GetCurrentPosition(LONG* result) {
  return answer("GetCurrentPosition", result);
}
HRESULT RecordingMusic::GetRepeats(LONG* result) {
  return answer("GetRepeats", result);
}
HRESULT RecordingMusic::SetPosition(LONG* Pos) {
  return note("SetPosition", read_ref(Pos));
}
HRESULT RecordingMusic::IsPlaying(VARIANT_BOOL* result) {
  const HRESULT hr = note("IsPlaying");
  if (SUCCEEDED(hr) && result) {
    *result = CallLog::instance().answer_of("IsPlaying") ? VARIANT_TRUE : VARIANT_FALSE;
  }
  return hr;
}

HRESULT RecordingMusic::Effect_DistortionOn() {
  return note("Effect_DistortionOn");
}
HRESULT RecordingMusic::Effect_ChorusOn() {
  return note("Effect_ChorusOn");
}
HRESULT RecordingMusic::Effect_ReverbOn() {
  return note("Effect_ReverbOn");
}
HRESULT RecordingMusic::Effect_3DReverb_On() {
  return note("Effect_3DReverb_On");
}
HRESULT RecordingMusic::Effect_Clear() {
  return note("Effect_Clear");
}

#define ORVAN_RECORD_FLOAT_SETTER(name)                             \
  HRESULT RecordingMusic::name(float Value, VARIANT_BOOL* result) { \
    return note_value(#name, Value, result);                        \
  }
#define ORVAN_RECORD_WHOLE_SETTER(name, type)                      \
  HRESULT RecordingMusic::name(type Value, VARIANT_BOOL* result) { \
    return note_value(#name, static_cast<float>(Value), result);   \
  }
ORVAN_RECORD_FLOAT_SETTER(SetFX_Dist_Gain)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Dist_Edge)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Dist_PostEQBandwidth)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Dist_PostEQCenterFrequency)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Dist_PreLowpassCutoff)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Cho_Feedback)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Cho_Delay)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Cho_Depth)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Cho_Frequency)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Cho_WetDryMix)
ORVAN_RECORD_WHOLE_SETTER(SetFX_Cho_Phase, CONST_OSFX_PHASE)
ORVAN_RECORD_WHOLE_SETTER(SetFX_Cho_Waveform, CONST_OSFX_WAVE)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev_Gain)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev_Mix)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev_Time)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev_HighFreqRTRatio)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev3D_DecayHFRatio)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev3D_DecayTime)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev3D_Density)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev3D_Diffusion)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev3D_HFReference)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev3D_ReflectionsDelay)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev3D_ReverbDelay)
ORVAN_RECORD_FLOAT_SETTER(SetFX_Rev3D_RoomRolloffFactor)
ORVAN_RECORD_WHOLE_SETTER(SetFX_Rev3D_Reflections, LONG)
ORVAN_RECORD_WHOLE_SETTER(SetFX_Rev3D_Reverb, LONG)
ORVAN_RECORD_WHOLE_SETTER(SetFX_Rev3D_Room, LONG)
ORVAN_RECORD_WHOLE_SETTER(SetFX_Rev3D_RoomHF, LONG)
#undef ORVAN_RECORD_FLOAT_SETTER
#undef ORVAN_RECORD_WHOLE_SETTER

HRESULT RecordingMusic::SetMasterTempo(float* Value) {
  return note("SetMasterTempo", Value ? text_of(*Value) : "null");
}
HRESULT RecordingMusic::SetMasterVolume(LONG* Value) {
  return note("SetMasterVolume", read_ref(Value));
}
HRESULT RecordingMusic::GetMasterTempo(float* result) {
  const HRESULT hr = note("GetMasterTempo");
  if (SUCCEEDED(hr) && result) *result = 1.0f;
  return hr;
}
HRESULT RecordingMusic::GetMasterVolume(LONG* result) {
  return answer("GetMasterVolume", result);
}
HRESULT RecordingMusic::Change_MaxDLS(LONG* NewValue) {
  return note("Change_MaxDLS", read_ref(NewValue));
}
HRESULT RecordingMusic::LoadDLS(BSTR* Filename, LONG* sIndex) {
  const std::string file = Filename && *Filename ? com::utf16_to_utf8(*Filename) : "null";
  return note("LoadDLS", file + "," + read_ref(sIndex));
}
HRESULT RecordingMusic::ApplyDLS(LONG* sIndex) {
  return note("ApplyDLS", read_ref(sIndex));
}

}  // namespace orvan::demo_test
