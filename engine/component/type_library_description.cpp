// The type library OrvanMusicEngine and the version information of libTovel.so, as the
// build embeds them in the library. Clients bind to the function-table entries and dispatch
// identifiers written here, so they never change: method n of the member list sits at
// entry 10 + n with DISPID 0x60030003 + n, the same order as _OrvanMusic in orvan/tovel.h.
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "orvan/tovel.h"
#include "platform/com/typelib/typelib_description.h"

namespace {

using namespace orvan::typelib;

Guid to_guid(const GUID& g) {
  Guid out;
  out.data1 = g.Data1;
  out.data2 = g.Data2;
  out.data3 = g.Data3;
  for (int i = 0; i < 8; ++i) out.data4[static_cast<std::size_t>(i)] = g.Data4[i];
  return out;
}

// Entries 7 to 9 hold places that the type library does not describe.
constexpr std::uint16_t kFirstEntry = 10;
constexpr DISPID kFirstDispid = 0x60030003;

struct Method {
  const char* name;
  std::vector<ParamDescription> params;
};

// Parameters as clients pass them: the caller's own variable by reference (only read), or a
// value; results through a last [out, retval] pointer.
ParamDescription by_ref(const char* name, TypeSpec type) {
  return in_out(name, ptr(std::move(type)));
}
ParamDescription optional_by_ref(const char* name, TypeSpec type,
                                 std::optional<Value> default_value = std::nullopt) {
  return optional_in_out(name, ptr(std::move(type)), std::move(default_value));
}
ParamDescription returns(TypeSpec type) {
  return retval(ptr(std::move(type)));
}

Method setter(const char* name, TypeSpec value_type) {
  return {name, {in("Value", std::move(value_type)), returns(Bool())}};
}

std::vector<Method> members() {
  return {
      {"InitOrvanAudio",
       {by_ref("hwnd", I4()), optional_by_ref("SampleRate", I4(), Value::i4(48000))}},
      {"CleanupAudio", {}},
      {"Music_Load", {by_ref("Filename", Bstr())}},
      {"Music_Play", {optional_by_ref("nLoop", I4(), Value::i4(0))}},
      {"Music_Stop", {}},
      {"GetLengh", {returns(I4())}},
      {"GetCurrentPosition", {returns(I4())}},
      {"GetRepeats", {returns(I4())}},
      {"SetPosition", {by_ref("Pos", I4())}},
      {"IsPlaying", {returns(Bool())}},
      {"Effect_DistortionOn", {}},
      {"Effect_ChorusOn", {}},
      {"Effect_ReverbOn", {}},
      {"Effect_3DReverb_On", {}},
      {"Effect_Clear", {}},
      setter("SetFX_Dist_Gain", R4()),
      setter("SetFX_Dist_Edge", R4()),
      setter("SetFX_Dist_PostEQBandwidth", R4()),
      setter("SetFX_Dist_PostEQCenterFrequency", R4()),
      setter("SetFX_Dist_PreLowpassCutoff", R4()),
      setter("SetFX_Cho_Feedback", R4()),
      setter("SetFX_Cho_Delay", R4()),
      setter("SetFX_Cho_Depth", R4()),
      setter("SetFX_Cho_Frequency", R4()),
      setter("SetFX_Cho_WetDryMix", R4()),
      setter("SetFX_Cho_Phase", user("CONST_OSFX_PHASE")),
      setter("SetFX_Cho_Waveform", user("CONST_OSFX_WAVE")),
      setter("SetFX_Rev_Gain", R4()),
      setter("SetFX_Rev_Mix", R4()),
      setter("SetFX_Rev_Time", R4()),
      setter("SetFX_Rev_HighFreqRTRatio", R4()),
      setter("SetFX_Rev3D_DecayHFRatio", R4()),
      setter("SetFX_Rev3D_DecayTime", R4()),
      setter("SetFX_Rev3D_Density", R4()),
      setter("SetFX_Rev3D_Diffusion", R4()),
      setter("SetFX_Rev3D_HFReference", R4()),
      setter("SetFX_Rev3D_ReflectionsDelay", R4()),
      setter("SetFX_Rev3D_ReverbDelay", R4()),
      setter("SetFX_Rev3D_RoomRolloffFactor", R4()),
      setter("SetFX_Rev3D_Reflections", I4()),
      setter("SetFX_Rev3D_Reverb", I4()),
      setter("SetFX_Rev3D_Room", I4()),
      setter("SetFX_Rev3D_RoomHF", I4()),
      {"SetMasterTempo", {by_ref("Value", R4())}},
      {"SetMasterVolume", {by_ref("Value", I4())}},
      {"GetMasterTempo", {returns(R4())}},
      {"GetMasterVolume", {returns(I4())}},
      {"Change_MaxDLS", {by_ref("NewValue", I4())}},
      // The slot index has no default: an omitted one reaches the method as a null pointer.
      {"LoadDLS", {by_ref("Filename", Bstr()), optional_by_ref("sIndex", I4())}},
      {"ApplyDLS", {optional_by_ref("sIndex", I4())}},
  };
}

InterfaceDescription music_interface() {
  InterfaceDescription itf;
  itf.name = "_OrvanMusic";
  itf.iid = to_guid(IID__OrvanMusic);
  itf.base = "IDispatch";
  itf.flags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
  std::uint16_t entry = kFirstEntry;
  DISPID dispid = kFirstDispid;
  for (Method& m : members()) {
    FunctionDescription f;
    f.name = m.name;
    f.dispid = dispid++;
    f.entry = entry++;
    f.params = std::move(m.params);
    itf.functions.push_back(std::move(f));
  }
  return itf;
}

// Each member carries its own name as its help string.
EnumDescription constants(const char* name, const GUID& guid,
                          std::initializer_list<std::pair<const char*, std::int32_t>> list) {
  EnumDescription e;
  e.name = name;
  e.guid = to_guid(guid);
  for (const auto& [member, value] : list) e.members.push_back({member, value, member});
  return e;
}

LibraryDescription music_library() {
  LibraryDescription lib;
  lib.name = "OrvanMusicEngine";
  lib.libid = to_guid(LIBID_OrvanMusicEngine);
  lib.major = kOrvanMusicEngineMajor;
  lib.minor = kOrvanMusicEngineMinor;
  lib.lcid = 0x0409;
  lib.syskind = SYS_WIN32;
  lib.imports.push_back(stdole2_import());
  lib.imports.push_back(dxvblib_import());

  lib.types.emplace_back(music_interface());
  CoclassDescription coclass;
  coclass.name = "OrvanMusic";
  coclass.clsid = to_guid(CLSID_OrvanMusic);
  coclass.flags = TYPEFLAG_FCANCREATE;
  // DirectXEvent8 is implemented for the platform's notifications: neither default nor source.
  coclass.interfaces = {{"_OrvanMusic", IMPLTYPEFLAG_FDEFAULT}, {"DirectXEvent8", 0}};
  lib.types.emplace_back(std::move(coclass));
  lib.types.emplace_back(constants("CONST_OSFX_PHASE", GUID_CONST_OSFX_PHASE,
                                   {{"OSFX_PHASE_180", OSFX_PHASE_180},
                                    {"OSFX_PHASE_90", OSFX_PHASE_90},
                                    {"OSFX_PHASE_MAX", OSFX_PHASE_MAX},
                                    {"OSFX_PHASE_MIN", OSFX_PHASE_MIN},
                                    {"OSFX_PHASE_NEG_180", OSFX_PHASE_NEG_180},
                                    {"OSFX_PHASE_NEG_90", OSFX_PHASE_NEG_90},
                                    {"OSFX_PHASE_ZERO", OSFX_PHASE_ZERO}}));
  lib.types.emplace_back(
      constants("CONST_OSFX_WAVE", GUID_CONST_OSFX_WAVE,
                {{"OSFX_WAVE_SIN", OSFX_WAVE_SIN}, {"OSFX_WAVE_TRIANGLE", OSFX_WAVE_TRIANGLE}}));
  return lib;
}

VersionDescription version_info() {
  VersionDescription v;
  for (int i = 0; i < 4; ++i) {
    v.file_version[i] = i == 0 ? 1 : 0;  // 1.0.0.0
    v.product_version[i] = v.file_version[i];
  }
  v.file_os = 0x4;      // 32-bit Windows
  v.file_type = 0x2;    // a shared library
  v.language = 0x0409;  // U.S. English
  v.code_page = 1200;   // Unicode
  v.strings = {{"FileVersion", "1.00"},
               {"ProductVersion", "1.00"},
               {"InternalName", "Tovel"},
               {"OriginalFilename", "Tovel.dll"},
               {"ProductName", "OrvanMusicEngine"},
               // Present and empty: installers take it to mean the library registers itself.
               {"OLESelfRegister", ""}};
  return v;
}

}  // namespace

orvan::typelib::ResourceBundle describe_resources() {
  orvan::typelib::ResourceBundle bundle;
  bundle.type_libraries.push_back(music_library());
  bundle.version = version_info();
  return bundle;
}
