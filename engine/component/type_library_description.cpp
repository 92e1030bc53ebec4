// The type library OrvanMusicEngine and the version information of libTovel.so, as the
// build embeds them in the library, made from the one description of _OrvanMusic
// (engine/component/interface/orvan_music_description.h).
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "engine/component/interface/orvan_music_description.h"
#include "orvan/type_info.h"
#include "platform/com/typelib/typelib_description.h"

namespace {

using namespace orvan::typelib;
namespace d = orvan::interface_description;

Guid to_guid(const d::Identity& g) {
  Guid out;
  out.data1 = g.data1;
  out.data2 = g.data2;
  out.data3 = g.data3;
  for (std::size_t i = 0; i < 8; ++i) out.data4[i] = g.data4[i];
  return out;
}

TypeSpec type_of(d::Type type) {
  switch (type) {
    case d::Type::I4:
      return I4();
    case d::Type::R4:
      return R4();
    case d::Type::Bstr:
      return Bstr();
    case d::Type::Bool:
      return Bool();
    case d::Type::ChorusPhase:
      return user(std::string(d::kChorusPhase.name));
    case d::Type::ChorusWave:
      return user(std::string(d::kChorusWave.name));
    case d::Type::Boundary:
      return user(std::string(d::kBoundary.name));
    case d::Type::Object:
      return scalar(VT_DISPATCH);
    case d::Type::Bytes:
      return safe_array(scalar(VT_UI1));
    case d::Type::Unknown:
      return scalar(VT_UNKNOWN);
    case d::Type::R8:
      return scalar(VT_R8);
  }
  return I4();
}

// Parameters as clients pass them: the caller's own variable by reference (only read), or a
// value; results through a last [out, retval] pointer.
ParamDescription param_of(const d::Param& p) {
  const std::string name(p.name);
  switch (p.passing) {
    case d::Passing::Value:
      return in(name, type_of(p.type));
    case d::Passing::ByRef:
      return in_out(name, ptr(type_of(p.type)));
    case d::Passing::OptionalByRef:
      return optional_in_out(
          name, ptr(type_of(p.type)),
          p.has_default ? std::optional(Value::i4(p.default_value)) : std::nullopt);
    case d::Passing::Result:
      return retval(ptr(type_of(p.type)));
  }
  return retval(ptr(type_of(p.type)));
}

// The functions of `members`, from `entry` and `dispid` on.
template <std::size_t N>
std::vector<FunctionDescription> functions_of(const std::array<d::Member, N>& members,
                                              std::uint16_t entry, std::int32_t dispid) {
  std::vector<FunctionDescription> out;
  for (const d::Member& m : members) {
    FunctionDescription f;
    f.name = std::string(m.name);
    f.dispid = dispid++;
    f.entry = entry++;
    for (std::size_t i = 0; i < m.param_count; ++i) f.params.push_back(param_of(m.params[i]));
    out.push_back(std::move(f));
  }
  return out;
}

// The default source: a dispinterface whose events a sink implements in its own Invoke.
InterfaceDescription music_events() {
  InterfaceDescription itf;
  itf.name = std::string(d::kEventsName);
  itf.iid = to_guid(d::kEventsId);
  itf.dispinterface = true;
  std::int32_t dispid = d::kFirstEventDispid;
  for (const d::Member& m : d::kEvents) {
    FunctionDescription f;
    f.name = std::string(m.name);
    f.dispid = dispid++;
    f.entry = 0;
    f.result = Void();
    for (std::size_t i = 0; i < m.param_count; ++i) f.params.push_back(param_of(m.params[i]));
    itf.functions.push_back(std::move(f));
  }
  return itf;
}

constexpr WORD kDualFlags =
    TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;

InterfaceDescription music_interface() {
  InterfaceDescription itf;
  itf.name = std::string(d::kInterfaceName);
  itf.iid = to_guid(d::kInterfaceId);
  itf.base = "IDispatch";
  itf.flags = kDualFlags;
  itf.functions = functions_of(d::kMembers, d::kFirstEntry, d::kFirstDispid);
  return itf;
}

// Derived from _OrvanMusic: its table holds the 50 first, so it lists only its own.
InterfaceDescription music_interface2() {
  InterfaceDescription itf;
  itf.name = std::string(d::kInterface2Name);
  itf.iid = to_guid(d::kInterface2Id);
  itf.base = std::string(d::kInterfaceName);
  itf.flags = kDualFlags;
  itf.functions = functions_of(d::kMembers2, d::kFirstEntry2, d::kFirstDispid2);
  return itf;
}

// Each member carries its own name as its help string.
EnumDescription constants(const d::Enumeration& from) {
  EnumDescription e;
  e.name = std::string(from.name);
  e.guid = to_guid(from.guid);
  for (std::size_t i = 0; i < from.count; ++i) {
    const std::string member(from.constants[i].name);
    e.members.push_back({member, from.constants[i].value, member});
  }
  return e;
}

LibraryDescription music_library() {
  LibraryDescription lib;
  lib.name = std::string(d::kLibraryName);
  lib.libid = to_guid(d::kLibraryId);
  lib.major = d::kLibraryMajor;
  lib.minor = d::kLibraryMinor;
  lib.lcid = d::kLibraryLocale;
  lib.syskind = SYS_WIN32;
  lib.imports.push_back(stdole2_import());
  lib.imports.push_back(dxvblib_import());

  lib.types.emplace_back(music_interface());
  lib.types.emplace_back(music_interface2());
  lib.types.emplace_back(music_events());
  CoclassDescription coclass;
  coclass.name = std::string(d::kClassName);
  coclass.clsid = to_guid(d::kClassId);
  coclass.flags = TYPEFLAG_FCANCREATE;
  // DirectXEvent8 is implemented for the platform's notifications: neither default nor source.
  // The newest interface is the default; _OrvanMusic is reached through it, as its base.
  coclass.interfaces = {{std::string(d::kInterface2Name), IMPLTYPEFLAG_FDEFAULT},
                        {std::string(d::kEventsName), IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
                        {"DirectXEvent8", 0}};
  lib.types.emplace_back(std::move(coclass));
  for (const d::Enumeration& e : d::kEnumerations) lib.types.emplace_back(constants(e));
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
