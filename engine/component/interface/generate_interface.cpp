// Writes every file that repeats _OrvanMusic and _OrvanMusic2 from their one description
// (orvan_music_description.h), and the C and C++ forms of the runtime's interfaces:
//
//   include/orvan/interfaces.h          IUnknown ... IStream, DirectXEvent8, the connection points
//   and
//                                       IProvideClassInfo2, C and C++
//   include/orvan/chorus_constants.h    the chorus's two enumerations
//   include/orvan/tovel.h               the component's identities, OrvanBoundary, _OrvanMusic
//                                       and _OrvanMusic2, C and C++
//   engine/component/generated/orvan_music_overrides.inc    the declarations of a class
//                                                            that implements _OrvanMusic2
//   engine/component/generated/music_object_forwarding.cpp  the shell's methods
//   fuzz/engine_calls_members.inc                           the fuzz target's plain calls
//   engine/generated/effect_parameter_methods.inc           the engine's 28 effect-parameter
//                                                            methods with the fields they write
//
// and, made by the build rather than committed (`generate_interface --recording-engine OUT`):
//
//   recording_methods.cpp                                   the window tests' recording
//                                                            engine's methods
//
// The files above are committed, so that the source tree is a complete client kit and readers
// see the code they call; the build runs `generate_interface --check SOURCE_DIR` as a test that
// fails, naming the file, when one differs from what this program makes now.
// `generate_interface --write SOURCE_DIR` (the target orvan-regenerate-interface) rewrites
// them.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/component/interface/orvan_music_description.h"

namespace {

namespace d = orvan::interface_description;

// --- The text of a signature ---------------------------------------------------------------

struct Signature {
  std::string result;  // "HRESULT", "ULONG", "void", ...
  std::string name;
  std::vector<std::pair<std::string, std::string>> params;  // type, name
  std::string comment;                                      // a line above it, or empty
};

struct Interface {
  std::string name;
  std::string base;  // empty for IUnknown
  std::vector<Signature> methods;
  std::string comment;
};

// "REFIID riid, void** object" -> {{"REFIID", "riid"}, {"void**", "object"}}
std::vector<std::pair<std::string, std::string>> params_of(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    std::string_view one = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    while (!one.empty() && one.front() == ' ') one.remove_prefix(1);
    const std::size_t split = one.find_last_of(" *&");
    out.emplace_back(std::string(one.substr(0, split + 1)), std::string(one.substr(split + 1)));
    std::string& type = out.back().first;
    while (!type.empty() && type.back() == ' ') type.pop_back();
  }
  return out;
}

Signature method(std::string result, std::string name, std::string_view params,
                 std::string comment = {}) {
  return {std::move(result), std::move(name), params_of(params), std::move(comment)};
}

// The runtime's interfaces, in function-table order.
std::vector<Interface> runtime_interfaces() {
  return {
      {"IUnknown",
       "",
       {method("HRESULT", "QueryInterface", "REFIID riid, void** object"),
        method("ULONG", "AddRef", ""), method("ULONG", "Release", "")},
       ""},
      {"IClassFactory",
       "IUnknown",
       {method("HRESULT", "CreateInstance", "IUnknown* outer, REFIID riid, void** object"),
        method("HRESULT", "LockServer", "BOOL lock")},
       ""},
      {"IDispatch",
       "IUnknown",
       {method("HRESULT", "GetTypeInfoCount", "UINT* count"),
        method("HRESULT", "GetTypeInfo", "UINT index, LCID lcid, ITypeInfo** info"),
        method("HRESULT", "GetIDsOfNames",
               "REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids"),
        method("HRESULT", "Invoke",
               "DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, "
               "VARIANT* result, EXCEPINFO* excepinfo, UINT* arg_err")},
       ""},
      {"ITypeInfo",
       "IUnknown",
       {method("HRESULT", "GetTypeAttr", "TYPEATTR** attr"),
        method("HRESULT", "GetTypeComp", "ITypeComp** comp"),
        method("HRESULT", "GetFuncDesc", "UINT index, FUNCDESC** desc"),
        method("HRESULT", "GetVarDesc", "UINT index, VARDESC** desc"),
        method("HRESULT", "GetNames", "MEMBERID id, BSTR* names, UINT max_names, UINT* count"),
        method("HRESULT", "GetRefTypeOfImplType", "UINT index, HREFTYPE* ref"),
        method("HRESULT", "GetImplTypeFlags", "UINT index, INT* flags"),
        method("HRESULT", "GetIDsOfNames", "LPOLESTR* names, UINT count, MEMBERID* ids"),
        method("HRESULT", "Invoke",
               "void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result, "
               "EXCEPINFO* excepinfo, UINT* arg_err"),
        method("HRESULT", "GetDocumentation",
               "MEMBERID id, BSTR* name, BSTR* doc, DWORD* help_context, BSTR* help_file"),
        method("HRESULT", "GetDllEntry",
               "MEMBERID id, INVOKEKIND kind, BSTR* dll, BSTR* name, WORD* ordinal"),
        method("HRESULT", "GetRefTypeInfo", "HREFTYPE ref, ITypeInfo** info"),
        method("HRESULT", "AddressOfMember", "MEMBERID id, INVOKEKIND kind, void** address"),
        method("HRESULT", "CreateInstance", "IUnknown* outer, REFIID riid, void** object"),
        method("HRESULT", "GetMops", "MEMBERID id, BSTR* mops"),
        method("HRESULT", "GetContainingTypeLib", "ITypeLib** lib, UINT* index"),
        method("void", "ReleaseTypeAttr", "TYPEATTR* attr"),
        method("void", "ReleaseFuncDesc", "FUNCDESC* desc"),
        method("void", "ReleaseVarDesc", "VARDESC* desc")},
       ""},
      {"ITypeLib",
       "IUnknown",
       {method("UINT", "GetTypeInfoCount", ""),
        method("HRESULT", "GetTypeInfo", "UINT index, ITypeInfo** info"),
        method("HRESULT", "GetTypeInfoType", "UINT index, TYPEKIND* kind"),
        method("HRESULT", "GetTypeInfoOfGuid", "REFGUID guid, ITypeInfo** info"),
        method("HRESULT", "GetLibAttr", "TLIBATTR** attr"),
        method("HRESULT", "GetTypeComp", "ITypeComp** comp"),
        method("HRESULT", "GetDocumentation",
               "INT index, BSTR* name, BSTR* doc, DWORD* help_context, BSTR* help_file"),
        method("HRESULT", "IsName", "LPOLESTR name, ULONG hash, BOOL* found"),
        method("HRESULT", "FindName",
               "LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* ids, USHORT* found"),
        method("void", "ReleaseTLibAttr", "TLIBATTR* attr")},
       ""},
      {"ISequentialStream",
       "IUnknown",
       {method("HRESULT", "Read", "void* data, ULONG size, ULONG* read"),
        method("HRESULT", "Write", "const void* data, ULONG size, ULONG* written")},
       "Bytes read and written in order: a stream a client supplies, or one over memory\n"
       "(OrvanCreateMemoryStream)."},
      {"IStream",
       "ISequentialStream",
       {method("HRESULT", "Seek", "LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* new_position"),
        method("HRESULT", "SetSize", "ULARGE_INTEGER size"),
        method("HRESULT", "CopyTo",
               "IStream* destination, ULARGE_INTEGER size, ULARGE_INTEGER* read, "
               "ULARGE_INTEGER* written"),
        method("HRESULT", "Commit", "DWORD flags"), method("HRESULT", "Revert", ""),
        method("HRESULT", "LockRegion", "ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type"),
        method("HRESULT", "UnlockRegion", "ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type"),
        method("HRESULT", "Stat", "STATSTG* stat, DWORD flags"),
        method("HRESULT", "Clone", "IStream** clone")},
       "A stream with a position that can be moved (Seek, origin STREAM_SEEK_*), a size,\n"
       "and a description (Stat)."},
      {"DirectXEvent8",
       "IUnknown",
       {method("HRESULT", "DXCallback", "LONG eventid")},
       "The music platform's notification sink: DXCallback is entry 3, after IUnknown."},
      {"IEnumConnections",
       "IUnknown",
       {method("HRESULT", "Next", "ULONG count, CONNECTDATA* connections, ULONG* fetched"),
        method("HRESULT", "Skip", "ULONG count"), method("HRESULT", "Reset", ""),
        method("HRESULT", "Clone", "IEnumConnections** copy")},
       "Events (orvan/connection_points.h): a snapshot of a connection point's connections."},
      {"IConnectionPoint",
       "IUnknown",
       {method("HRESULT", "GetConnectionInterface", "IID* iid"),
        method("HRESULT", "GetConnectionPointContainer", "IConnectionPointContainer** container"),
        method("HRESULT", "Advise", "IUnknown* sink, DWORD* cookie"),
        method("HRESULT", "Unadvise", "DWORD cookie"),
        method("HRESULT", "EnumConnections", "IEnumConnections** connections")},
       "One source interface of an object: the sinks advised to it."},
      {"IEnumConnectionPoints",
       "IUnknown",
       {method("HRESULT", "Next", "ULONG count, IConnectionPoint** points, ULONG* fetched"),
        method("HRESULT", "Skip", "ULONG count"), method("HRESULT", "Reset", ""),
        method("HRESULT", "Clone", "IEnumConnectionPoints** copy")},
       ""},
      {"IConnectionPointContainer",
       "IUnknown",
       {method("HRESULT", "EnumConnectionPoints", "IEnumConnectionPoints** points"),
        method("HRESULT", "FindConnectionPoint", "REFIID riid, IConnectionPoint** point")},
       "An object that fires events: its connection points, one per source interface."},
      {"IProvideClassInfo",
       "IUnknown",
       {method("HRESULT", "GetClassInfo", "ITypeInfo** info")},
       "The type information of an object's class, and the identity of its default source."},
      {"IProvideClassInfo2",
       "IProvideClassInfo",
       {method("HRESULT", "GetGUID", "DWORD kind, GUID* guid")},
       ""},
  };
}

// --- _OrvanMusic from the description --------------------------------------------------------

std::string_view c_type(d::Type type) {
  switch (type) {
    case d::Type::I4:
      return "LONG";
    case d::Type::R4:
      return "float";
    case d::Type::Bstr:
      return "BSTR";
    case d::Type::Bool:
      return "VARIANT_BOOL";
    case d::Type::ChorusPhase:
      return "CONST_OSFX_PHASE";
    case d::Type::ChorusWave:
      return "CONST_OSFX_WAVE";
    case d::Type::Boundary:
      return "OrvanBoundary";
    case d::Type::Object:
      return "IDispatch*";
    case d::Type::Bytes:
      return "SAFEARRAY*";
    case d::Type::Unknown:
      return "IUnknown*";
    case d::Type::R8:
      return "double";
  }
  return "?";
}

std::vector<d::Param> params_of(const d::Member& m) {
  return {m.params.begin(), m.params.begin() + static_cast<std::ptrdiff_t>(m.param_count)};
}

Signature member_signature(const d::Member& m, std::size_t index) {
  Signature s;
  s.result = "HRESULT";
  s.name = std::string(m.name);
  for (const d::Param& p : params_of(m)) {
    std::string type(c_type(p.type));
    if (p.passing != d::Passing::Value) type += "*";
    s.params.emplace_back(type, std::string(p.name));
  }
  if (!m.heading.empty())
    s.comment = "Entry " + std::to_string(d::kFirstEntry + index) + ". " + std::string(m.heading);
  return s;
}

// Every member of both interfaces, numbered as the whole table numbers them.
std::vector<d::Member> all_members() {
  std::vector<d::Member> out;
  for (std::size_t n = 0; n < d::kMemberCount; ++n) out.push_back(d::member(n));
  return out;
}

Interface music_interface() {
  Interface itf{std::string(d::kInterfaceName), "IDispatch", {}, ""};
  for (int entry = d::kFirstReservedEntry; entry < d::kFirstEntry; ++entry) {
    itf.methods.push_back(method("HRESULT", "Reserved" + std::to_string(entry), ""));
    if (entry == d::kFirstReservedEntry)
      itf.methods.back().comment = "Entries " + std::to_string(d::kFirstReservedEntry) + " to " +
                                   std::to_string(d::kFirstEntry - 1) +
                                   " hold places in the table; clients never call them.";
  }
  for (std::size_t i = 0; i < d::kMembers.size(); ++i)
    itf.methods.push_back(member_signature(d::kMembers[i], i));
  return itf;
}

Interface music_interface2() {
  Interface itf{std::string(d::kInterface2Name), std::string(d::kInterfaceName), {}, ""};
  for (std::size_t i = 0; i < d::kMembers2.size(); ++i)
    itf.methods.push_back(member_signature(d::kMembers2[i], d::kMembers.size() + i));
  return itf;
}

// --- Writing -------------------------------------------------------------------------------

constexpr std::string_view kGeneratedNote =
    "Generated by engine/component/interface/generate_interface.cpp from\n"
    "engine/component/interface/orvan_music_description.h: edit those, then build the target\n"
    "orvan-regenerate-interface.";

std::string c_comment(std::string_view text, std::string_view indent = "") {
  std::string out;
  std::istringstream lines{std::string(text)};
  std::string line;
  bool first = true;
  while (std::getline(lines, line)) {
    out += std::string(indent) + (first ? "/*" : " *") + (line.empty() ? "" : " " + line) + "\n";
    first = false;
  }
  out.insert(out.size() - 1, " */");
  return out;
}

std::string joined_params(const Signature& s, std::string_view self) {
  std::string out(self);
  for (const auto& [type, name] : s.params) {
    if (!out.empty()) out += ", ";
    out += type + " " + name;
  }
  return out;
}

std::string joined_names(const Signature& s, std::string_view self) {
  std::string out(self);
  for (const auto& [type, name] : s.params) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

// Every method of `itf` with those of its bases first: the order of the function table.
std::vector<Signature> table_of(const Interface& itf, const std::vector<Interface>& known) {
  std::vector<Signature> out;
  if (!itf.base.empty())
    for (const Interface& base : known)
      if (base.name == itf.base) out = table_of(base, known);
  out.insert(out.end(), itf.methods.begin(), itf.methods.end());
  return out;
}

std::string cpp_interface(const Interface& itf) {
  std::string out = "struct " + itf.name + (itf.base.empty() ? "" : " : " + itf.base) + " {\n";
  for (const Signature& s : itf.methods) {
    if (!s.comment.empty()) out += "  /* " + s.comment + " */\n";
    out += "  virtual " + s.result + " " + s.name + "(" + joined_params(s, "") + ") = 0;\n";
  }
  out += "\n protected:\n  ~" + itf.name + "() = default;\n};\n";
  return out;
}

std::string c_interface(const Interface& itf, const std::vector<Interface>& known) {
  const std::string self = itf.name + "* This";
  std::string out = "typedef struct " + itf.name + "Vtbl {\n";
  for (const Signature& s : table_of(itf, known))
    out += "  " + s.result + " (*" + s.name + ")(" + joined_params(s, self) + ");\n";
  out += "} " + itf.name + "Vtbl;\n";
  out += "struct " + itf.name + " {\n  const " + itf.name + "Vtbl* lpVtbl;\n};\n";
  for (const Signature& s : table_of(itf, known)) {
    out += "#define " + itf.name + "_" + s.name + "(" + joined_names(s, "This") +
           ") \\\n  ((This)->lpVtbl->" + s.name + "(" + joined_names(s, "This") + "))\n";
  }
  return out;
}

std::string guid_definition(std::string_view name, const d::Identity& g) {
  char text[160];
  std::snprintf(text, sizeof text,
                "ORVAN_DEFINE_GUID(%.*s, 0x%08X, 0x%04X, 0x%04X, 0x%02X, 0x%02X, 0x%02X, "
                "0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X)\n",
                static_cast<int>(name.size()), name.data(), g.data1, g.data2, g.data3, g.data4[0],
                g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

std::string header_begin(std::string_view guard, std::string_view comment) {
  return c_comment(std::string(comment) + "\n\n" + std::string(kGeneratedNote)) + "#ifndef " +
         std::string(guard) + "\n#define " + std::string(guard) + "\n/* clang-format off */\n\n";
}

std::string header_end(std::string_view guard) {
  return "\n/* clang-format on */\n#endif /* " + std::string(guard) + " */\n";
}

std::string interfaces_header() {
  const std::vector<Interface> all = runtime_interfaces();
  std::string out = header_begin(
      "ORVAN_INTERFACES_H",
      "The component runtime's interfaces. In C++ each is an abstract class with only pure\n"
      "virtual members and a protected, non-virtual destructor: objects go with their last\n"
      "Release, and a virtual destructor would add function-table entries a client does not\n"
      "expect. In C each is a struct whose lpVtbl points to its function table, called\n"
      "through Interface_Method(p, ...) macros.");
  out +=
      "#include \"orvan/automation.h\"\n#include \"orvan/connection_points.h\"\n"
      "#include \"orvan/guid.h\"\n#include \"orvan/stream_types.h\"\n"
      "#include \"orvan/type_info.h\"\n#include \"orvan/types.h\"\n\n";
  out += "#ifdef __cplusplus\n\n";
  for (const Interface& itf : all) {
    if (!itf.comment.empty()) out += c_comment(itf.comment);
    out += cpp_interface(itf) + "\n";
  }
  out += "#else /* C */\n\n";
  for (const Interface& itf : all) {
    if (!itf.comment.empty()) out += c_comment(itf.comment);
    out += c_interface(itf, all) + "\n";
  }
  out += "#endif\n\n";
  const d::Identity ole = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  const auto ole_id = [&](std::uint32_t data1) {
    d::Identity g = ole;
    g.data1 = data1;
    return g;
  };
  out += guid_definition("IID_IUnknown", ole_id(0x00000000));
  out += guid_definition("IID_IClassFactory", ole_id(0x00000001));
  out += guid_definition("IID_IDispatch", ole_id(0x00020400));
  out += guid_definition("IID_ITypeInfo", ole_id(0x00020401));
  out += guid_definition("IID_ITypeLib", ole_id(0x00020402));
  const auto connection_id = [](std::uint32_t data1) {
    return d::Identity{data1, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
  };
  out += guid_definition("IID_IProvideClassInfo", connection_id(0xB196B283));
  out += guid_definition("IID_IConnectionPointContainer", connection_id(0xB196B284));
  out += guid_definition("IID_IEnumConnectionPoints", connection_id(0xB196B285));
  out += guid_definition("IID_IConnectionPoint", connection_id(0xB196B286));
  out += guid_definition("IID_IEnumConnections", connection_id(0xB196B287));
  out += guid_definition(
      "IID_IProvideClassInfo2",
      {0xA6BC3AC0, 0xDBAA, 0x11CE, {0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}});
  out += guid_definition("IID_IStream", ole_id(0x0000000C));
  out += guid_definition(
      "IID_ISequentialStream",
      {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}});
  out += guid_definition("IID_NULL", {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}});
  out += "/* The automation marshaller that serves dual, automation-compatible interfaces. */\n";
  out += guid_definition("CLSID_PSOAInterface", ole_id(0x00020424));
  out +=
      "/* The standard automation type library (stdole2) and the music platform's automation\n"
      " * type library, with its notification interface. */\n";
  out += guid_definition("LIBID_stdole2", ole_id(0x00020430));
  out += guid_definition(
      "LIBID_DxVBLibA",
      {0xE1211242, 0x8E94, 0x11D1, {0x88, 0x08, 0x00, 0xC0, 0x4F, 0xC2, 0xC6, 0x03}});
  out += guid_definition(
      "IID_DirectXEvent8",
      {0xD1CA9B18, 0x9ED2, 0x43B5, {0x87, 0x59, 0x7A, 0x5C, 0x89, 0x2D, 0x4C, 0x5C}});
  return out + header_end("ORVAN_INTERFACES_H");
}

// An enumeration as C and C++ both declare it: 32 bits in either language.
std::string enum_definition(const d::Enumeration& e) {
  const std::string name(e.name);
  std::string out = c_comment(e.meaning);
  out += "#ifdef __cplusplus\nenum " + name + " : int32_t {\n#else\ntypedef enum " + name +
         " {\n#endif\n";
  for (std::size_t i = 0; i < e.count; ++i)
    out += "  " + std::string(e.constants[i].name) + " = " + std::to_string(e.constants[i].value) +
           ",\n";
  return out + "#ifdef __cplusplus\n};\n#else\n} " + name + ";\n#endif\n";
}

std::string chorus_header() {
  std::string out = header_begin(
      "ORVAN_CHORUS_CONSTANTS_H",
      "The chorus's two enumerations, shared by the component's client header and the engine\n"
      "class: their values are what both interfaces pass (32 bits in either language).");
  out += "#include <stdint.h>\n\n";
  out += enum_definition(d::kChorusPhase) + "\n" + enum_definition(d::kChorusWave);
  return out + header_end("ORVAN_CHORUS_CONSTANTS_H");
}

// The source dispinterface: its identity and its events' dispatch identifiers, each with the
// arguments a sink's Invoke receives (DISPPARAMS holds them last first, so Frame is rgvarg[0]).
std::string events_definition() {
  const std::string name(d::kEventsName);
  std::string out = c_comment(
      "The class's default source: a sink advised through IConnectionPointContainer receives\n"
      "these events through its IDispatch::Invoke, on the thread that advised it, when that\n"
      "thread pumps its apartment (orvan/apartment_calls.h). Frame is the output frame at\n"
      "which the event is heard, counted from InitOrvanAudio or InitOrvanRender.");
  out += guid_definition("DIID_" + name, d::kEventsId);
  out += "enum {\n";
  for (std::size_t i = 0; i < d::kEvents.size(); ++i) {
    const Signature s = member_signature(d::kEvents[i], 0);
    out += "  /* " + s.name + "(" + joined_params(s, "") + ") */\n";
    out += "  DISPID_OrvanMusicEvent_" + s.name + " = " +
           std::to_string(d::kFirstEventDispid + static_cast<std::int32_t>(i)) + ",\n";
  }
  return out + "};\n";
}

std::string tovel_header() {
  std::string out = header_begin(
      "ORVAN_TOVEL_H",
      "Tovel, the Orvan Music Engine as an in-process component: what a client needs to\n"
      "create an OrvanMusic object by its class identity and call it through one of its\n"
      "interfaces, in C++:\n\n"
      "  _OrvanMusic* music = nullptr;\n"
      "  CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER, IID__OrvanMusic,\n"
      "                   reinterpret_cast<void**>(&music));\n"
      "  LONG hwnd = 0, rate = 48000;\n"
      "  music->InitOrvanAudio(&hwnd, &rate);\n"
      "  music->Release();\n\n"
      "and in C:\n\n"
      "  _OrvanMusic* music = NULL;\n"
      "  CoCreateInstance(&CLSID_OrvanMusic, NULL, CLSCTX_INPROC_SERVER, &IID__OrvanMusic,\n"
      "                   (void**)&music);\n"
      "  _OrvanMusic_InitOrvanAudio(music, &hwnd, &rate);\n"
      "  _OrvanMusic_Release(music);\n\n"
      "_OrvanMusic2, the class's default interface, derives from _OrvanMusic: its table holds\n"
      "the same members first, then its own, which take their inputs by value\n"
      "(_OrvanMusic2_FadeTo(music2, -600, 1500)). Either interface answers QueryInterface for\n"
      "the other with the same object.\n\n"
      "Arguments passed by pointer are the caller's variables; the engine only reads them.\n"
      "Results come back through the last pointer and are written only on success. The\n"
      "interfaces are dual: every method can also be called by name through IDispatch.");
  out += "#include \"orvan/chorus_constants.h\"\n#include \"orvan/component_runtime.h\"\n\n";
  char version[200];
  std::snprintf(version, sizeof version,
                "/* The type library %.*s, version %u.%u, locale 0x%04X. */\n",
                static_cast<int>(d::kLibraryName.size()), d::kLibraryName.data(), d::kLibraryMajor,
                d::kLibraryMinor, d::kLibraryLocale);
  out += version;
  out += guid_definition("LIBID_" + std::string(d::kLibraryName), d::kLibraryId);
  const std::string major = "k" + std::string(d::kLibraryName) + "Major";
  const std::string minor = "k" + std::string(d::kLibraryName) + "Minor";
  out += "#ifdef __cplusplus\ninline constexpr WORD " + major + " = " +
         std::to_string(d::kLibraryMajor) + ";\ninline constexpr WORD " + minor + " = " +
         std::to_string(d::kLibraryMinor) + ";\n#else\nenum { " + major + " = " +
         std::to_string(d::kLibraryMajor) + ", " + minor + " = " +
         std::to_string(d::kLibraryMinor) + " };\n#endif\n";
  out += guid_definition("CLSID_" + std::string(d::kClassName), d::kClassId);
  out += guid_definition("IID_" + std::string(d::kInterfaceName), d::kInterfaceId);
  out += guid_definition("IID_" + std::string(d::kInterface2Name), d::kInterface2Id);
  for (const d::Enumeration& e : d::kEnumerations)
    out += guid_definition("GUID_" + std::string(e.name), e.guid);
  out += "\n" + enum_definition(d::kBoundary);
  out += "\n" + events_definition();

  const Interface music = music_interface();
  const Interface music2 = music_interface2();
  const std::vector<Interface> known = {runtime_interfaces()[0], runtime_interfaces()[2], music};
  out += "\n#ifdef __cplusplus\n\n" + cpp_interface(music) + "\n" + cpp_interface(music2) +
         "\n#else /* C */\n\n";
  out += "typedef struct " + music.name + " " + music.name + ";\n";
  out += "typedef struct " + music2.name + " " + music2.name + ";\n";
  out += c_interface(music, known) + "\n" + c_interface(music2, known) + "\n#endif\n";
  return out + header_end("ORVAN_TOVEL_H");
}

// --- Implementations ---------------------------------------------------------------------

std::string generated_cpp_note() {
  std::string out;
  std::istringstream lines{std::string(kGeneratedNote)};
  std::string line;
  while (std::getline(lines, line)) out += "// " + line + "\n";
  return out;
}

std::string overrides_include() {
  std::string out = generated_cpp_note() +
                    "//\n// The declarations of the methods of _OrvanMusic and _OrvanMusic2, "
                    "for the body of a class\n// that implements them.\n// clang-format off\n";
  const std::vector<d::Member> members = all_members();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Signature s = member_signature(members[i], i);
    out += "HRESULT " + s.name + "(" + joined_params(s, "") + ") override;\n";
  }
  return out + "// clang-format on\n";
}

// The shell: null checks, the published argument forms unpacked, the engine called. An
// omitted optional input is left out of the call, so the engine's own default applies.
std::string shell_forwarding() {
  std::string out = generated_cpp_note() +
                    "//\n// The component shell's methods: each checks the caller's thread, "
                    "refuses a null pointer\n// where a value is required (E_POINTER), unpacks "
                    "the published argument forms and forwards\n// to the engine channel.\n"
                    "#include \"engine/component/music_object.h\"\n\n"
                    "// clang-format off\nnamespace orvan::engine::component {\n";
  const std::vector<d::Member> members = all_members();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const d::Member& m = members[i];
    const Signature s = member_signature(m, i);
    const std::vector<d::Param> params = params_of(m);
    out += "\nHRESULT MusicObject::" + s.name + "(" + joined_params(s, "") + ") {\n";
    out += "  return on_apartment([&](OrvanMusic& engine) -> HRESULT {\n";
    std::vector<std::string> args;
    std::string optional_calls;
    for (const d::Param& p : params) {
      const std::string name(p.name);
      if (p.passing == d::Passing::ByRef || p.passing == d::Passing::Result)
        out += "    if (!" + name + ") return E_POINTER;\n";
      if (p.passing == d::Passing::OptionalByRef) {
        std::string call = "engine." + s.name + "(";
        for (std::size_t a = 0; a < args.size(); ++a) call += (a ? ", " : "") + args[a];
        optional_calls += "    if (!" + name + ") return " + call + ");\n";
      }
      if (p.passing == d::Passing::Value && p.type == d::Type::Bstr)
        args.push_back("string_argument(" + name + ")");
      else if (p.passing == d::Passing::Value && p.type == d::Type::Object)
        args.push_back("channel_of(" + name + ")");
      else if (p.passing == d::Passing::Value && p.type == d::Type::Bytes)
        args.push_back("bytes_argument(" + name + ")");
      else if (p.passing == d::Passing::Value && p.type == d::Type::Unknown)
        args.push_back("stream_argument(" + name + ")");
      else if (p.passing == d::Passing::Value)
        args.push_back(name);
      else if (p.type == d::Type::Bstr)
        args.push_back("string_argument(*" + name + ")");
      else
        args.push_back("*" + name);
    }
    out += optional_calls + "    return engine." + s.name + "(";
    for (std::size_t a = 0; a < args.size(); ++a) out += (a ? ", " : "") + args[a];
    out += ");\n  });\n}\n";
  }
  return out + "\n}  // namespace orvan::engine::component\n// clang-format on\n";
}

// The recording engine: "Name(arg,arg)" into the call log, scripted status and answers.
std::string recording_methods() {
  std::string out =
      "// Made by the build with engine/component/interface/generate_interface.cpp "
      "from\n// engine/component/interface/orvan_music_description.h.\n"
      "//\n// The recording engine's methods: each writes its call with its "
      "arguments to the log and\n// answers as the test scripted.\n"
      "#include \"demos/tests/recording_engine/recording_music.h\"\n\n"
      "// clang-format off\nnamespace orvan::demo_test {\n";
  const std::vector<d::Member> members = all_members();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const d::Member& m = members[i];
    const Signature s = member_signature(m, i);
    out += "\nHRESULT RecordingMusic::" + s.name + "(" + joined_params(s, "") + ") {\n";
    out += "  std::string args;\n";
    std::string result;
    bool first = true;
    for (const d::Param& p : params_of(m)) {
      if (p.passing == d::Passing::Result) {
        result = std::string(p.name);
        continue;
      }
      if (!first) out += "  args += \",\";\n";
      out += "  args += describe(" + std::string(p.name) + ");\n";
      first = false;
    }
    out += result.empty() ? "  return note(\"" + s.name + "\", args);\n}\n"
                          : "  return respond(\"" + s.name + "\", args, " + result + ");\n}\n";
  }
  return out + "\n}  // namespace orvan::demo_test\n// clang-format on\n";
}

// The fuzz target: each member called with hostile arguments, drawn in parameter order.
std::string fuzz_calls() {
  std::string out =
      generated_cpp_note() +
      "//\n// Cases of the fuzz target's switch: member n of the interfaces (the 50 of "
      "_OrvanMusic, then\n// _OrvanMusic2's) called on the engine class with "
      "hostile arguments, read from the input\n// in parameter order; results "
      "land in `number`, `real`, `precise` and `flag`.\n"
      "// clang-format off\n";
  const std::vector<d::Member> members = all_members();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const d::Member& m = members[i];
    out += "case " + std::to_string(i) + ": {\n";
    std::string call = "c." + std::string(m.name) + "(";
    int n = 0;
    for (const d::Param& p : params_of(m)) {
      std::string arg;
      if (p.passing == d::Passing::Result) {
        arg = p.type == d::Type::R4     ? "real"
              : p.type == d::Type::R8   ? "precise"
              : p.type == d::Type::Bool ? "flag"
                                        : "number";
      } else {
        arg = "a" + std::to_string(n++);
        std::string value;
        switch (p.type) {
          case d::Type::R4:
            value = "hostile_float(in)";
            break;
          case d::Type::Bstr:
            value = "hostile_name(in)";
            break;
          case d::Type::ChorusPhase:
          case d::Type::ChorusWave:
            value = "static_cast<::" + std::string(c_type(p.type)) + ">(hostile_int(in))";
            break;
          case d::Type::Boundary:
            value = "hostile_boundary(in)";
            break;
          case d::Type::Object:
            value = "hostile_leader(in, c)";
            break;
          case d::Type::Bytes:
            value = "hostile_bytes(in)";
            break;
          case d::Type::Unknown:
            value = "hostile_stream(in)";
            break;
          default:
            value = "hostile_int(in)";
        }
        out += "  const auto " + arg + " = " + value + ";\n";
      }
      call += (call.back() == '(' ? "" : ", ") + arg;
    }
    out += "  return " + call + ");\n}\n";
  }
  return out + "// clang-format on\n";
}

// The engine's effect-parameter methods as one X-macro list, in the interface's order: the
// engine class declares them from it and effect_parameters.cpp defines them and their table.
std::string effect_parameter_methods() {
  std::string out = generated_cpp_note() +
                    "//\n// _OrvanMusic's effect-parameter methods as X(method, value type, "
                    "record, field written).\n// clang-format off\n"
                    "#define ORVAN_EFFECT_PARAMETER_METHODS(X) \\\n";
  std::vector<std::string> lines;
  for (const d::Member& m : d::kMembers) {
    if (m.record.empty()) continue;
    const d::Type type = m.params[0].type;  // the value; the result follows
    const std::string value = type == d::Type::R4            ? "float"
                              : type == d::Type::ChorusPhase ? "CONST_OSFX_PHASE"
                              : type == d::Type::ChorusWave  ? "CONST_OSFX_WAVE"
                                                             : "std::int32_t";
    lines.push_back("  X(" + std::string(m.name) + ", " + value + ", " + std::string(m.record) +
                    ", " + std::string(m.field) + ")");
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out += lines[i] + (i + 1 < lines.size() ? " \\\n" : "\n");
  }
  return out + "// clang-format on\n";
}

// --- Main ----------------------------------------------------------------------------------

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode == "--recording-engine") {
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << recording_methods();
    return out.flush() ? 0 : 1;
  }
  if (mode != "--check" && mode != "--write") {
    std::fprintf(stderr, "usage: %s --check|--write SOURCE_DIR | --recording-engine OUT\n",
                 argv[0]);
    return 2;
  }
  const std::string root = argv[2];
  const std::vector<std::pair<std::string, std::string>> files = {
      {"include/orvan/interfaces.h", interfaces_header()},
      {"include/orvan/chorus_constants.h", chorus_header()},
      {"include/orvan/tovel.h", tovel_header()},
      {"engine/component/generated/orvan_music_overrides.inc", overrides_include()},
      {"engine/component/generated/music_object_forwarding.cpp", shell_forwarding()},
      {"fuzz/engine_calls_members.inc", fuzz_calls()},
      {"engine/generated/effect_parameter_methods.inc", effect_parameter_methods()},
  };
  int stale = 0;
  for (const auto& [path, text] : files) {
    const std::string full = root + "/" + path;
    if (read_file(full) == text) continue;
    if (mode == "--check") {
      std::fprintf(stderr,
                   "%s differs from what the interface description makes; build the target "
                   "orvan-regenerate-interface\n",
                   path.c_str());
      ++stale;
      continue;
    }
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      std::fprintf(stderr, "cannot write %s\n", full.c_str());
      return 1;
    }
    std::printf("wrote %s\n", path.c_str());
  }
  return stale == 0 ? 0 : 1;
}
