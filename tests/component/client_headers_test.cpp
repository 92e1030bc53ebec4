// The generated client headers against the hand-written member table: the C function table
// (compiled as C99 in c_layout_probe.c) and the C++ interface put every method at the entry
// the table gives, the C++ methods take the table's types, and C and C++ lay out every
// record alike. The type library is held to the same table in type_library_test.cpp.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "orvan/orvan.h"
#include "tests/component/c_layout_probe.h"
#include "tests/component/member_names.h"
#include "tests/component/member_table.h"

namespace orvan::component_test {
namespace {

// Under the Itanium C++ ABI a pointer to a virtual member function holds 1 + the byte offset
// of its function-table entry.
template <class Method>
std::size_t entry_offset(Method method) {
  static_assert(sizeof(Method) == 2 * sizeof(long));
  long bits[2];
  std::memcpy(bits, &method, sizeof bits);
  return static_cast<std::size_t>(bits[0] - 1);
}

// A C++ parameter type in the member table's words; a pointer adds "*".
template <class T>
std::string type_word() {
  if constexpr (std::is_same_v<T, BSTR>) {  // a pointer itself: test it first
    return "BSTR";
  } else if constexpr (std::is_same_v<T, IDispatch*>) {  // an object, passed as its pointer
    return "IDispatch";
  } else if constexpr (std::is_same_v<T, IUnknown*>) {
    return "IUnknown";
  } else if constexpr (std::is_same_v<T, SAFEARRAY*>) {  // a byte array, the only kind passed
    return "SAFEARRAY(UI1)";
  } else if constexpr (std::is_pointer_v<T>) {
    return type_word<std::remove_pointer_t<T>>() + "*";
  } else if constexpr (std::is_same_v<T, LONG>) {
    return "I4";
  } else if constexpr (std::is_same_v<T, float>) {
    return "R4";
  } else if constexpr (std::is_same_v<T, double>) {
    return "R8";
  } else if constexpr (std::is_same_v<T, VARIANT_BOOL>) {
    return "BOOL";
  } else if constexpr (std::is_same_v<T, CONST_OSFX_PHASE>) {
    return "CONST_OSFX_PHASE";
  } else if constexpr (std::is_same_v<T, CONST_OSFX_WAVE>) {
    return "CONST_OSFX_WAVE";
  } else if constexpr (std::is_same_v<T, OrvanBoundary>) {
    return "OrvanBoundary";
  } else {
    return "?";
  }
}

template <class Interface, class... Params>
std::string signature(HRESULT (Interface::*)(Params...)) {
  std::string out;
  ((out += (out.empty() ? "" : " ") + type_word<Params>()), ...);
  return out;
}

// The same words from the member table: by-reference parameters and the result are pointers.
std::string signature(const TableMember& m) {
  std::string out;
  for (const TableParam& p : m.params)
    out += (out.empty() ? "" : " ") + p.type + (p.by_ref ? "*" : "");
  if (!m.result.empty()) out += (out.empty() ? "" : " ") + m.result + "*";
  return out;
}

TEST(ClientHeaders, CAndCppPutEveryMethodWhereTheMemberTableDoesWithItsTypes) {
  const std::vector<TableMember> table = read_member_table();
  std::map<std::string, std::size_t> cpp_offsets;
  std::map<std::string, std::string> cpp_signatures;
#define ORVAN_CPP_METHOD(name)                           \
  cpp_offsets[#name] = entry_offset(&_OrvanMusic::name); \
  cpp_signatures[#name] = signature(&_OrvanMusic::name);
  ORVAN_MUSIC_METHODS(ORVAN_CPP_METHOD)
#undef ORVAN_CPP_METHOD

  ASSERT_EQ(orvan_c_music_table_size, table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    const TableMember& want = table[i];
    SCOPED_TRACE(want.name);
    EXPECT_STREQ(orvan_c_music_table[i].name, want.name.c_str());
    EXPECT_EQ(orvan_c_music_table[i].value, static_cast<std::size_t>(want.entry) * 8);
    ASSERT_EQ(cpp_offsets.count(want.name), 1u);
    EXPECT_EQ(cpp_offsets[want.name], static_cast<std::size_t>(want.entry) * 8);
    EXPECT_EQ(cpp_signatures[want.name], signature(want));
  }
  // Spot checks that the words mean what they say: a by-reference string, a value, a result.
  EXPECT_EQ(cpp_signatures["LoadDLS"], "BSTR* I4*");
  EXPECT_EQ(cpp_signatures["SetFX_Cho_Phase"], "CONST_OSFX_PHASE BOOL*");
  EXPECT_EQ(cpp_signatures["GetMasterTempo"], "R4*");
}

// _OrvanMusic2's table: _OrvanMusic's members at their places, then its own.
TEST(ClientHeaders, TheSecondInterfaceKeepsTheFirstTableAndAddsItsMembersAfterIt) {
  std::vector<TableMember> table = read_member_table();
  for (TableMember& m : read_member_table2()) table.push_back(std::move(m));
  std::map<std::string, std::size_t> cpp_offsets;
  std::map<std::string, std::string> cpp_signatures;
#define ORVAN_CPP_METHOD(name)                            \
  cpp_offsets[#name] = entry_offset(&_OrvanMusic2::name); \
  cpp_signatures[#name] = signature(&_OrvanMusic2::name);
  ORVAN_MUSIC_METHODS(ORVAN_CPP_METHOD)
  ORVAN_MUSIC2_METHODS(ORVAN_CPP_METHOD)
#undef ORVAN_CPP_METHOD

  ASSERT_EQ(orvan_c_music2_table_size, table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    const TableMember& want = table[i];
    SCOPED_TRACE(want.name);
    EXPECT_STREQ(orvan_c_music2_table[i].name, want.name.c_str());
    EXPECT_EQ(orvan_c_music2_table[i].value, static_cast<std::size_t>(want.entry) * 8);
    EXPECT_EQ(cpp_offsets[want.name], static_cast<std::size_t>(want.entry) * 8);
    EXPECT_EQ(cpp_signatures[want.name], signature(want));
  }
  EXPECT_EQ(cpp_signatures["Music_PlayWith"], "IDispatch OrvanBoundary");
  EXPECT_EQ(cpp_signatures["InitOrvanRender"], "BSTR I4");
}

TEST(ClientHeaders, CAndCppLayOutEveryRecordAndTableAlike) {
  // The C++ side, with the values the published layouts fix where they are stated.
  const std::map<std::string, std::size_t> cpp = {
      {"sizeof GUID", sizeof(GUID)},
      {"sizeof VARIANT", sizeof(VARIANT)},
      {"sizeof DISPPARAMS", sizeof(DISPPARAMS)},
      {"sizeof EXCEPINFO", sizeof(EXCEPINFO)},
      {"sizeof TYPEDESC", sizeof(TYPEDESC)},
      {"sizeof ELEMDESC", sizeof(ELEMDESC)},
      {"sizeof TYPEATTR", sizeof(TYPEATTR)},
      {"sizeof FUNCDESC", sizeof(FUNCDESC)},
      {"sizeof VARDESC", sizeof(VARDESC)},
      {"sizeof TLIBATTR", sizeof(TLIBATTR)},
      {"sizeof PARAMDESCEX", sizeof(PARAMDESCEX)},
      {"sizeof CONST_OSFX_PHASE", sizeof(CONST_OSFX_PHASE)},
      {"sizeof OLECHAR", sizeof(OLECHAR)},
      {"sizeof _OrvanMusicVtbl", 60 * 8},
      {"VARIANT.lVal", offsetof(VARIANT, lVal)},
      {"VARIANT.brecord", offsetof(VARIANT, brecord)},
      {"EXCEPINFO.scode", offsetof(EXCEPINFO, scode)},
      {"ELEMDESC.paramdesc", offsetof(ELEMDESC, paramdesc)},
      {"TYPEATTR.typekind", offsetof(TYPEATTR, typekind)},
      {"TYPEATTR.wTypeFlags", offsetof(TYPEATTR, wTypeFlags)},
      {"TYPEATTR.tdescAlias", offsetof(TYPEATTR, tdescAlias)},
      {"FUNCDESC.oVft", offsetof(FUNCDESC, oVft)},
      {"FUNCDESC.elemdescFunc", offsetof(FUNCDESC, elemdescFunc)},
      {"VARDESC.lpvarValue", offsetof(VARDESC, lpvarValue)},
      {"TLIBATTR.wLibFlags", offsetof(TLIBATTR, wLibFlags)},
      {"IDispatchVtbl.Invoke", entry_offset(&IDispatch::Invoke)},
      {"ITypeInfoVtbl.ReleaseVarDesc", entry_offset(&ITypeInfo::ReleaseVarDesc)},
      {"ITypeLibVtbl.ReleaseTLibAttr", entry_offset(&ITypeLib::ReleaseTLibAttr)},
      {"IClassFactoryVtbl.LockServer", entry_offset(&IClassFactory::LockServer)},
      {"DirectXEvent8Vtbl.DXCallback", entry_offset(&DirectXEvent8::DXCallback)},
      {"_OrvanMusicVtbl.Reserved7", entry_offset(&_OrvanMusic::Reserved7)},
      {"sizeof SAFEARRAY", sizeof(SAFEARRAY)},
      {"SAFEARRAY.pvData", offsetof(SAFEARRAY, pvData)},
      {"SAFEARRAY.rgsabound", offsetof(SAFEARRAY, rgsabound)},
      {"VARIANT.parray", offsetof(VARIANT, parray)},
      {"sizeof STATSTG", sizeof(STATSTG)},
      {"STATSTG.cbSize", offsetof(STATSTG, cbSize)},
      {"STATSTG.clsid", offsetof(STATSTG, clsid)},
      {"IStreamVtbl.Read", entry_offset(&IStream::Read)},
      {"IStreamVtbl.Clone", entry_offset(&IStream::Clone)},
  };
  ASSERT_EQ(orvan_c_records_size, cpp.size());
  for (std::size_t i = 0; i < orvan_c_records_size; ++i) {
    const std::string name = orvan_c_records[i].name;
    ASSERT_EQ(cpp.count(name), 1u) << name;
    EXPECT_EQ(orvan_c_records[i].value, cpp.at(name)) << name;
  }
  EXPECT_EQ(sizeof(GUID), 16u);
  EXPECT_EQ(sizeof(VARIANT), 24u);
  EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
  EXPECT_EQ(cpp.at("IDispatchVtbl.Invoke"), 6u * 8);
  EXPECT_EQ(cpp.at("DirectXEvent8Vtbl.DXCallback"), 3u * 8);
  EXPECT_EQ(cpp.at("_OrvanMusicVtbl.Reserved7"), 7u * 8);
  EXPECT_EQ(cpp.at("sizeof SAFEARRAY"), 32u);
  EXPECT_EQ(cpp.at("SAFEARRAY.pvData"), 16u);
  EXPECT_EQ(cpp.at("SAFEARRAY.rgsabound"), 24u);
  EXPECT_EQ(cpp.at("sizeof STATSTG"), 80u);
  EXPECT_EQ(cpp.at("STATSTG.cbSize"), 16u);
  EXPECT_EQ(cpp.at("STATSTG.clsid"), 56u);
  EXPECT_EQ(cpp.at("IStreamVtbl.Read"), 3u * 8);
  EXPECT_EQ(cpp.at("IStreamVtbl.Clone"), 13u * 8);
}

TEST(ClientHeaders, TheStatusTableNamesAndExplainsEachValue) {
  EXPECT_STREQ(orvan_status_name(E_INVALIDARG), "E_INVALIDARG");
  EXPECT_STREQ(orvan_status_text(E_INVALIDARG), "The parameter is incorrect.");
  EXPECT_EQ(E_INVALIDARG, static_cast<HRESULT>(0x80070057u));
  EXPECT_STREQ(orvan_status_name(MUSIC_E_NOT_DLS), "MUSIC_E_NOT_DLS");
  EXPECT_EQ(MUSIC_E_NOT_DLS, static_cast<HRESULT>(0x88781020u));
  EXPECT_STREQ(orvan_status_name(S_FALSE), "S_FALSE");
  EXPECT_EQ(orvan_status_name(static_cast<HRESULT>(0x80001234u)), nullptr);
  EXPECT_EQ(orvan_status_text(static_cast<HRESULT>(0x80001234u)), nullptr);
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
}

TEST(ClientHeaders, EveryValueHasASentenceInCAndCpp) {
  // A value in the table: its own text, nothing written.
  char fallback[ORVAN_STATUS_FALLBACK_SIZE + 1];
  std::memset(fallback, '#', sizeof fallback);
  EXPECT_STREQ(orvan_status_describe(MUSIC_E_NOT_DLS, fallback),
               "The file is not a DLS instrument collection.");
  EXPECT_STREQ(orvan_c_describe_status(DSERR_NODRIVER, fallback),
               "No audio output device is available.");
  EXPECT_EQ(fallback[0], '#');
  // Outside it: the value with every nibble in its place, within the size the header gives.
  const auto outside = static_cast<HRESULT>(0x8A0B1C2Du);
  ASSERT_EQ(orvan_status_text(outside), nullptr);
  EXPECT_STREQ(orvan_status_describe(outside, fallback), "Error 0x8A0B1C2D.");
  EXPECT_EQ(fallback[ORVAN_STATUS_FALLBACK_SIZE], '#');
  std::memset(fallback, '#', sizeof fallback);
  EXPECT_STREQ(orvan_c_describe_status(0x7F00E001, fallback), "Error 0x7F00E001.");
  EXPECT_EQ(fallback[ORVAN_STATUS_FALLBACK_SIZE], '#');
}

}  // namespace
}  // namespace orvan::component_test
