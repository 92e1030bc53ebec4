// The type library embedded in libTovel.so, read back through the runtime's loader, against
// the hand-written member table and against the client header's function table, so the
// three cannot drift apart. Also the library's version information.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/com/auto_string.h"
#include "platform/com/typelib/elf_resources.h"
#include "platform/com/typelib/resource_format.h"
#include "tests/component/component_fixture.h"
#include "tests/component/member_names.h"
#include "tests/component/member_table.h"

namespace orvan::component_test {
namespace {

std::string text(BSTR b) {
  return b ? com::utf16_to_utf8(std::u16string_view(b, SysStringLen(b))) : std::string();
}

// Name and documentation string of a type-library element; both freed here.
std::pair<std::string, std::string> names_of(ITypeInfo* info, MEMBERID id) {
  BSTR name = nullptr, doc = nullptr, help_file = nullptr;
  DWORD context = 0;
  EXPECT_EQ(info->GetDocumentation(id, &name, &doc, &context, &help_file), S_OK);
  EXPECT_EQ(text(help_file), "");
  std::pair<std::string, std::string> out{text(name), text(doc)};
  SysFreeString(name);
  SysFreeString(doc);
  SysFreeString(help_file);
  return out;
}

// Under the Itanium C++ ABI a pointer to a virtual member function holds 1 + the byte offset
// of its function-table entry.
template <class Method>
long table_offset(Method method) {
  static_assert(sizeof(Method) == 2 * sizeof(long));
  long bits[2];
  std::memcpy(bits, &method, sizeof bits);
  return bits[0] - 1;
}

std::map<std::string, long> header_offsets() {
  std::map<std::string, long> offsets;
#define ADD_OFFSET(name) offsets[#name] = table_offset(&_OrvanMusic::name);
  ORVAN_MUSIC_METHODS(ADD_OFFSET)
#undef ADD_OFFSET
  return offsets;
}

VARTYPE vartype_of(const std::string& type) {
  if (type == "I4") return VT_I4;
  if (type == "R4") return VT_R4;
  if (type == "R8") return VT_R8;
  if (type == "BSTR") return VT_BSTR;
  if (type == "BOOL") return VT_BOOL;
  return VT_USERDEFINED;  // the two enums
}

std::string referenced_name(ITypeInfo* info, HREFTYPE ref) {
  ComPtr<ITypeInfo> other;
  EXPECT_EQ(info->GetRefTypeInfo(ref, other.out()), S_OK);
  return other ? names_of(other.get(), -1).first : std::string();
}

// A parameter's type as the member table names it: I4, R4, BSTR, BOOL or the enum's name.
std::string type_name(ITypeInfo* info, const TYPEDESC& type) {
  if (type.vt == VT_USERDEFINED) return referenced_name(info, type.hreftype);
  switch (type.vt) {
    case VT_I4:
      return "I4";
    case VT_R4:
      return "R4";
    case VT_R8:
      return "R8";
    case VT_BSTR:
      return "BSTR";
    case VT_BOOL:
      return "BOOL";
    case VT_DISPATCH:
      return "IDispatch";
    case VT_UNKNOWN:
      return "IUnknown";
    case VT_SAFEARRAY:
      return type.lptdesc ? "SAFEARRAY(" + type_name(info, *type.lptdesc) + ")" : "SAFEARRAY(?)";
    case VT_UI1:
      return "UI1";
    default:
      return "vt " + std::to_string(type.vt);
  }
}

class TypeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    const std::u16string path = com::utf8_to_utf16(kTovelPath);
    ASSERT_EQ(LoadTypeLib(path.c_str(), lib_.out()), S_OK);
  }
  void TearDown() override {
    lib_.reset();
    CoUninitialize();
  }
  ComPtr<ITypeInfo> type(const GUID& guid) {
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(lib_->GetTypeInfoOfGuid(guid, info.out()), S_OK);
    return info;
  }
  ComPtr<ITypeLib> lib_;
};

TEST_F(TypeLibraryTest, LibraryIdentityAndTheSevenTypesInOrderWithoutHelp) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib_->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == LIBID_OrvanMusicEngine);
  EXPECT_EQ(attr->wMajorVerNum, 53);
  EXPECT_EQ(attr->wMinorVerNum, 1);
  EXPECT_EQ(attr->lcid, 0x0409u);
  EXPECT_EQ(attr->syskind, SYS_WIN32);
  lib_->ReleaseTLibAttr(attr);

  BSTR name = nullptr, doc = nullptr, help_file = nullptr;
  DWORD context = 0;
  ASSERT_EQ(lib_->GetDocumentation(-1, &name, &doc, &context, &help_file), S_OK);
  EXPECT_EQ(text(name), "OrvanMusicEngine");
  EXPECT_EQ(text(doc), "");
  EXPECT_EQ(text(help_file), "");
  SysFreeString(name);
  SysFreeString(doc);
  SysFreeString(help_file);

  const std::vector<std::pair<std::string, GUID>> expected = {
      {"_OrvanMusic", IID__OrvanMusic},
      {"_OrvanMusic2", IID__OrvanMusic2},
      {"__OrvanMusic", DIID___OrvanMusic},
      {"OrvanMusic", CLSID_OrvanMusic},
      {"CONST_OSFX_PHASE", GUID_CONST_OSFX_PHASE},
      {"CONST_OSFX_WAVE", GUID_CONST_OSFX_WAVE},
      {"OrvanBoundary", GUID_OrvanBoundary}};
  ASSERT_EQ(lib_->GetTypeInfoCount(), expected.size());
  for (UINT i = 0; i < expected.size(); ++i) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib_->GetTypeInfo(i, info.out()), S_OK);
    EXPECT_EQ(names_of(info.get(), -1), std::make_pair(expected[i].first, std::string()));
    TYPEATTR* type_attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&type_attr), S_OK);
    EXPECT_TRUE(type_attr->guid == expected[i].second) << expected[i].first;
    info->ReleaseTypeAttr(type_attr);
  }
}

TEST_F(TypeLibraryTest, EveryMethodMatchesTheMemberTableAndTheClientHeader) {
  const std::vector<TableMember> table = read_member_table();
  const std::map<std::string, long> header = header_offsets();
  EXPECT_EQ(header.size(), 50u);
  ComPtr<ITypeInfo> itf = type(IID__OrvanMusic);
  ASSERT_TRUE(itf);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(itf->GetTypeAttr(&attr), S_OK);
  // Hidden, dual, non-extensible, automation, and dispatchable as every interface on
  // IDispatch: 0x11d0, as the platform's tools give it.
  EXPECT_EQ(attr->wTypeFlags, 0x11d0);
  EXPECT_EQ(attr->cFuncs, 50);
  EXPECT_EQ(attr->cVars, 0);
  const WORD funcs = attr->cFuncs;
  itf->ReleaseTypeAttr(attr);

  HREFTYPE base = 0;
  ASSERT_EQ(itf->GetRefTypeOfImplType(0, &base), S_OK);
  EXPECT_EQ(referenced_name(itf.get(), base), "IDispatch");

  ASSERT_EQ(funcs, table.size());
  for (UINT i = 0; i < funcs; ++i) {
    const TableMember& want = table[i];
    SCOPED_TRACE(want.name);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(itf->GetFuncDesc(i, &f), S_OK);
    EXPECT_EQ(f->memid, want.dispid);
    EXPECT_EQ(f->oVft, want.entry * 8);
    ASSERT_TRUE(header.count(want.name));
    EXPECT_EQ(header.at(want.name), f->oVft) << "tovel.h puts it elsewhere";
    EXPECT_EQ(f->invkind, INVOKE_FUNC);
    EXPECT_EQ(f->callconv, CC_STDCALL);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
    EXPECT_EQ(names_of(itf.get(), f->memid), std::make_pair(want.name, std::string()));

    const std::size_t count = want.params.size() + (want.result.empty() ? 0 : 1);
    ASSERT_EQ(static_cast<std::size_t>(f->cParams), count);
    for (std::size_t p = 0; p < want.params.size(); ++p) {
      const TableParam& wp = want.params[p];
      const ELEMDESC& e = f->lprgelemdescParam[p];
      SCOPED_TRACE(wp.name);
      const USHORT flags = e.paramdesc.wParamFlags;
      if (wp.by_ref) {
        ASSERT_EQ(e.tdesc.vt, VT_PTR);
        EXPECT_EQ(type_name(itf.get(), *e.tdesc.lptdesc), wp.type);
        EXPECT_EQ(flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT), PARAMFLAG_FIN | PARAMFLAG_FOUT);
      } else {
        EXPECT_EQ(type_name(itf.get(), e.tdesc), wp.type);
        EXPECT_EQ(flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT), PARAMFLAG_FIN);
      }
      EXPECT_EQ((flags & PARAMFLAG_FOPT) != 0, wp.optional);
      EXPECT_EQ((flags & PARAMFLAG_FHASDEFAULT) != 0, wp.default_value.has_value());
      if (wp.default_value && (flags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) {
        const VARIANT& v = e.paramdesc.pparamdescex->varDefaultValue;
        EXPECT_EQ(v.vt, VT_I4);
        EXPECT_EQ(v.lVal, *wp.default_value);
      }
      EXPECT_EQ(flags & PARAMFLAG_FRETVAL, 0);
    }
    if (!want.result.empty()) {
      const ELEMDESC& e = f->lprgelemdescParam[count - 1];
      EXPECT_EQ(e.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
      ASSERT_EQ(e.tdesc.vt, VT_PTR);
      EXPECT_EQ(e.tdesc.lptdesc->vt, vartype_of(want.result));
    }

    // The names the type information gives: the method's, then its parameters'.
    BSTR names[4] = {};
    UINT got = 0;
    ASSERT_EQ(itf->GetNames(f->memid, names, 4, &got), S_OK);
    ASSERT_GE(got, want.params.size() + 1);
    EXPECT_EQ(text(names[0]), want.name);
    for (std::size_t p = 0; p < want.params.size(); ++p)
      EXPECT_EQ(text(names[p + 1]), want.params[p].name);
    for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
    itf->ReleaseFuncDesc(f);
  }
  // The three places before the methods are in the header's table and in nobody's
  // description: the first method sits three entries past IDispatch's last.
  EXPECT_EQ(table_offset(&_OrvanMusic::Reserved7), 7 * 8);
  EXPECT_EQ(table_offset(&IDispatch::Invoke), 6 * 8);
}

// _OrvanMusic2 describes only its own members, after _OrvanMusic's, which it reaches through
// its base: names and dispatch identifiers of both resolve through it.
TEST_F(TypeLibraryTest, TheSecondInterfaceDerivesFromTheFirstAndDescribesItsOwnMembers) {
  const std::vector<TableMember> table = read_member_table2();
  ComPtr<ITypeInfo> itf = type(IID__OrvanMusic2);
  ASSERT_TRUE(itf);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(itf->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->wTypeFlags, 0x11d0);
  EXPECT_EQ(attr->cFuncs, table.size());
  EXPECT_EQ(attr->cbSizeVft, (table.back().entry + 1) * 8);
  itf->ReleaseTypeAttr(attr);
  HREFTYPE base = 0;
  ASSERT_EQ(itf->GetRefTypeOfImplType(0, &base), S_OK);
  EXPECT_EQ(referenced_name(itf.get(), base), "_OrvanMusic");

  for (UINT i = 0; i < table.size(); ++i) {
    const TableMember& want = table[i];
    SCOPED_TRACE(want.name);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(itf->GetFuncDesc(i, &f), S_OK);
    EXPECT_EQ(f->memid, want.dispid);
    EXPECT_EQ(f->oVft, want.entry * 8);
    EXPECT_EQ(names_of(itf.get(), f->memid).first, want.name);
    const std::size_t count = want.params.size() + (want.result.empty() ? 0 : 1);
    ASSERT_EQ(static_cast<std::size_t>(f->cParams), count);
    for (std::size_t p = 0; p < want.params.size(); ++p) {
      const ELEMDESC& e = f->lprgelemdescParam[p];
      EXPECT_EQ(type_name(itf.get(), e.tdesc), want.params[p].type) << want.params[p].name;
      EXPECT_EQ(e.paramdesc.wParamFlags, PARAMFLAG_FIN) << want.params[p].name;
    }
    if (!want.result.empty()) {
      const ELEMDESC& e = f->lprgelemdescParam[count - 1];
      EXPECT_EQ(e.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
      ASSERT_EQ(e.tdesc.vt, VT_PTR);
      EXPECT_EQ(e.tdesc.lptdesc->vt, vartype_of(want.result));
    }
    itf->ReleaseFuncDesc(f);
  }
  LPOLESTR inherited[] = {const_cast<LPOLESTR>(u"isplaying")};
  MEMBERID id = 0;
  ASSERT_EQ(itf->GetIDsOfNames(inherited, 1, &id), S_OK);
  EXPECT_EQ(id, 0x6003000C);
  LPOLESTR own[] = {const_cast<LPOLESTR>(u"RenderFor"), const_cast<LPOLESTR>(u"Milliseconds")};
  MEMBERID ids[2] = {};
  ASSERT_EQ(itf->GetIDsOfNames(own, 2, ids), S_OK);
  const auto render_for = std::find_if(table.begin(), table.end(),
                                       [](const TableMember& m) { return m.name == "RenderFor"; });
  ASSERT_NE(render_for, table.end());
  EXPECT_EQ(ids[0], render_for->dispid);
  EXPECT_EQ(ids[1], 0);
}

TEST_F(TypeLibraryTest, TheClassIsCreatableWithItsDefaultItsSourceAndItsNotificationInterface) {
  ComPtr<ITypeInfo> coclass = type(CLSID_OrvanMusic);
  ASSERT_TRUE(coclass);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_NE(attr->wTypeFlags & TYPEFLAG_FCANCREATE, 0);
  EXPECT_EQ(attr->cImplTypes, 3);
  coclass->ReleaseTypeAttr(attr);

  const std::vector<std::pair<std::string, INT>> expected = {
      {"_OrvanMusic2", IMPLTYPEFLAG_FDEFAULT},
      {"__OrvanMusic", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
      {"DirectXEvent8", 0}};
  for (UINT i = 0; i < expected.size(); ++i) {
    HREFTYPE ref = 0;
    INT flags = -1;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(i, &ref), S_OK);
    ASSERT_EQ(coclass->GetImplTypeFlags(i, &flags), S_OK);
    EXPECT_EQ(referenced_name(coclass.get(), ref), expected[i].first);
    EXPECT_EQ(flags, expected[i].second) << expected[i].first;
  }
  // The notification interface is the music platform's own.
  HREFTYPE ref = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(2, &ref), S_OK);
  ComPtr<ITypeInfo> event;
  ASSERT_EQ(coclass->GetRefTypeInfo(ref, event.out()), S_OK);
  TYPEATTR* event_attr = nullptr;
  ASSERT_EQ(event->GetTypeAttr(&event_attr), S_OK);
  EXPECT_TRUE(event_attr->guid == IID_DirectXEvent8);
  event->ReleaseTypeAttr(event_attr);
}

TEST_F(TypeLibraryTest, EnumMembersInStoredOrderWithTheirNamesAsHelpAndTheAliases) {
  struct Member {
    std::string name;
    LONG value;
  };
  const std::vector<std::pair<GUID, std::vector<Member>>> enums = {
      {GUID_CONST_OSFX_PHASE,
       {{"OSFX_PHASE_180", 4},
        {"OSFX_PHASE_90", 3},
        {"OSFX_PHASE_MAX", 4},
        {"OSFX_PHASE_MIN", 0},
        {"OSFX_PHASE_NEG_180", 0},
        {"OSFX_PHASE_NEG_90", 1},
        {"OSFX_PHASE_ZERO", 2}}},
      {GUID_CONST_OSFX_WAVE, {{"OSFX_WAVE_SIN", 1}, {"OSFX_WAVE_TRIANGLE", 0}}},
      {GUID_OrvanBoundary,
       {{"OBND_IMMEDIATE", 0},
        {"OBND_BEAT", 1},
        {"OBND_BAR", 2},
        {"OBND_END", 3},
        {"OBND_MARKER", 4}}}};
  std::map<std::string, LONG> read_back;
  for (const auto& [guid, members] : enums) {
    ComPtr<ITypeInfo> info = type(guid);
    ASSERT_TRUE(info);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_ENUM);
    ASSERT_EQ(attr->cVars, members.size());
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < members.size(); ++i) {
      VARDESC* var = nullptr;
      ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
      EXPECT_EQ(var->varkind, VAR_CONST);
      ASSERT_NE(var->lpvarValue, nullptr);
      EXPECT_EQ(var->lpvarValue->vt, VT_I4);
      const auto [name, help] = names_of(info.get(), var->memid);
      EXPECT_EQ(name, members[i].name);
      EXPECT_EQ(help, members[i].name);
      read_back[name] = var->lpvarValue->lVal;
      info->ReleaseVarDesc(var);
    }
  }
  for (const auto& [guid, members] : enums)
    for (const Member& m : members) EXPECT_EQ(read_back[m.name], m.value) << m.name;
  // Two names for the same phase each way.
  EXPECT_EQ(read_back["OSFX_PHASE_MAX"], read_back["OSFX_PHASE_180"]);
  EXPECT_EQ(read_back["OSFX_PHASE_MIN"], read_back["OSFX_PHASE_NEG_180"]);
}

TEST(TovelVersionInfo, DescribesA32BitWindowsLibraryThatRegistersItself) {
  std::vector<std::uint8_t> section;
  ASSERT_EQ(typelib::read_resource_section(kTovelPath, section), com::S_OK);
  typelib::ByteView resource{};
  ASSERT_EQ(typelib::find_resource(typelib::ByteView{section.data(), section.size()},
                                   typelib::format::kResourceVersion, 1, resource),
            com::S_OK);
  typelib::format::VersionHeader header{};
  ASSERT_GE(resource.size, sizeof header);
  std::memcpy(&header, resource.data, sizeof header);
  EXPECT_EQ(std::memcmp(header.magic, typelib::format::kVersionMagic, 4), 0);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(header.file_version[i], i == 0 ? 1 : 0);
    EXPECT_EQ(header.product_version[i], i == 0 ? 1 : 0);
  }
  EXPECT_EQ(header.file_os, 0x4u);    // 32-bit Windows
  EXPECT_EQ(header.file_type, 0x2u);  // a shared library
  EXPECT_EQ(header.language, 0x0409);
  EXPECT_EQ(header.code_page, 1200);

  // Name/value pairs, each string a 32-bit byte length and UTF-8 bytes.
  std::vector<std::pair<std::string, std::string>> strings;
  std::size_t at = sizeof header;
  auto next = [&](std::string& out) {
    std::uint32_t length = 0;
    if (at + 4 > resource.size) return false;
    std::memcpy(&length, resource.data + at, 4);
    at += 4;
    if (at + length > resource.size) return false;
    out.assign(reinterpret_cast<const char*>(resource.data + at), length);
    at += length;
    return true;
  };
  for (std::uint32_t i = 0; i < header.string_count; ++i) {
    std::string name, value;
    ASSERT_TRUE(next(name) && next(value));
    strings.emplace_back(name, value);
  }
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"FileVersion", "1.00"},
      {"ProductVersion", "1.00"},
      {"InternalName", "Tovel"},
      {"OriginalFilename", "Tovel.dll"},
      {"ProductName", "OrvanMusicEngine"},
      {"OLESelfRegister", ""}};
  EXPECT_EQ(strings, expected);
}

}  // namespace
}  // namespace orvan::component_test
