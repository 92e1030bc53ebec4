// A class's event source in its type library: a dispinterface marked [default, source] in the
// class, read back through ITypeInfo and found by IProvideClassInfo2 without naming it.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/runtime/class_info_provider.h"
#include "platform/com/typelib/load.h"
#include "platform/com/typelib/typelib_format.h"
#include "platform/com/typelib/typelib_writer.h"

namespace {

using namespace orvan::typelib;
namespace fmt = orvan::typelib::format;

constexpr DISPID kBeat = 1, kMarker = 2;

LibraryDescription library_with_events() {
  LibraryDescription lib;
  lib.name = "Evented";
  lib.libid = guid("{6A1E0D0C-0B0A-0908-0706-050403020100}");
  lib.imports = {stdole2_import()};
  InterfaceDescription itf;
  itf.name = "_Evented";
  itf.iid = guid("{6A1E0D0D-0B0A-0908-0706-050403020100}");
  itf.flags = TYPEFLAG_FDUAL;
  itf.functions = {{"Go", 0x60030000, 7, INVOKE_FUNC, {}, Hresult(), 0, {}, 0}};
  InterfaceDescription events;
  events.name = "__Evented";
  events.iid = guid("{6A1E0D0E-0B0A-0908-0706-050403020100}");
  events.dispinterface = true;
  events.functions = {
      {"Beat", kBeat, 0, INVOKE_FUNC, {in("Bar", I4()), in("Beat", I4())}, Void(), 0, {}, 0},
      {"Marker", kMarker, 0, INVOKE_FUNC, {in("Name", Bstr())}, Void(), 0, {}, 0}};
  CoclassDescription cls;
  cls.name = "Evented";
  cls.clsid = guid("{6A1E0D0F-0B0A-0908-0706-050403020100}");
  cls.interfaces = {{"_Evented", IMPLTYPEFLAG_FDEFAULT},
                    {"__Evented", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
  lib.types = {itf, events, cls};
  return lib;
}

ITypeInfo* type_named(ITypeLib* lib, const GUID& guid) {
  ITypeInfo* info = nullptr;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(guid, &info), S_OK);
  return info;
}

GUID raw(const orvan::com::Guid& g) {
  GUID out{g.data1, g.data2, g.data3, {}};
  std::memcpy(out.Data4, g.data4.data(), 8);
  return out;
}

// The object a provider answers for: only its reference count matters here.
struct Owner final : IUnknown {
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
};

TEST(EventSource, ADispinterfaceReadsBackWithItsMembersDispatchedByIdentifier) {
  const LibraryDescription description = library_with_events();
  const std::vector<std::uint8_t> bytes = write_type_library(description);
  ITypeLib* lib = nullptr;
  ASSERT_EQ(load_type_lib_from_image({bytes.data(), bytes.size()}, &lib), S_OK);
  ITypeInfo* events =
      type_named(lib, raw(std::get<InterfaceDescription>(description.types[1]).iid));
  ASSERT_NE(events, nullptr);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(events->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->cFuncs, 2);
  EXPECT_EQ(attr->cImplTypes, 1);
  EXPECT_EQ(attr->cbSizeVft, 7 * 8) << "IDispatch's table and nothing more";
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
  events->ReleaseTypeAttr(attr);

  FUNCDESC* beat = nullptr;
  ASSERT_EQ(events->GetFuncDesc(0, &beat), S_OK);
  EXPECT_EQ(beat->memid, kBeat);
  EXPECT_EQ(beat->funckind, FUNC_DISPATCH);
  EXPECT_EQ(beat->oVft, 0);
  EXPECT_EQ(beat->cParams, 2);
  EXPECT_EQ(beat->elemdescFunc.tdesc.vt, VT_VOID);
  events->ReleaseFuncDesc(beat);
  BSTR names[3] = {};
  UINT count = 0;
  ASSERT_EQ(events->GetNames(kBeat, names, 3, &count), S_OK);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(std::u16string(names[0]), u"Beat");
  EXPECT_EQ(std::u16string(names[1]), u"Bar");
  EXPECT_EQ(std::u16string(names[2]), u"Beat");
  for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
  OLECHAR marker_name[] = u"marker";
  LPOLESTR asked = marker_name;
  MEMBERID id = 0;
  EXPECT_EQ(events->GetIDsOfNames(&asked, 1, &id), S_OK);
  EXPECT_EQ(id, kMarker);
  // No function table to call through: a sink implements Invoke itself.
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  int instance = 0;
  EXPECT_EQ(events->Invoke(&instance, kMarker, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  events->Release();

  // The class names it as its default source; the provider finds it from that alone.
  Owner owner;
  ITypeInfo* cls = type_named(lib, raw(std::get<CoclassDescription>(description.types[2]).clsid));
  ASSERT_NE(cls, nullptr);
  {
    orvan::com::runtime::ClassInfoProvider provider(owner, cls);
    GUID source = IID_NULL;
    EXPECT_EQ(provider.GetGUID(GUIDKIND_DEFAULT_SOURCE_DISPIID, &source), S_OK);
    EXPECT_TRUE(source == raw(std::get<InterfaceDescription>(description.types[1]).iid));
    EXPECT_EQ(provider.GetGUID(2, &source), E_INVALIDARG);
    EXPECT_EQ(provider.GetGUID(GUIDKIND_DEFAULT_SOURCE_DISPIID, nullptr), E_POINTER);
    ITypeInfo* given = nullptr;
    ASSERT_EQ(provider.GetClassInfo(&given), S_OK);
    EXPECT_EQ(given, cls);
    given->Release();
    EXPECT_EQ(provider.AddRef(), 2u) << "the provider's references are the object's";
    owner.Release();
  }
  cls->Release();
  ITypeInfo* plain = type_named(lib, raw(std::get<InterfaceDescription>(description.types[0]).iid));
  orvan::com::runtime::ClassInfoProvider not_a_class(owner, plain);
  GUID source = IID_NULL;
  EXPECT_EQ(not_a_class.GetGUID(GUIDKIND_DEFAULT_SOURCE_DISPIID, &source), E_FAIL);
  plain->Release();
  lib->Release();
}

TEST(EventSource, TheFormatKeepsDispatchMembersApartAndStillReadsItsFirstVersion) {
  LibraryDescription lib = library_with_events();
  std::get<InterfaceDescription>(lib.types[1]).base = "IUnknown";
  try {
    write_type_library(lib);
    ADD_FAILURE() << "a dispinterface on IUnknown was accepted";
  } catch (const DescriptionError& e) {
    EXPECT_NE(std::string(e.what()).find("__Evented: is a dispinterface, whose base must be"),
              std::string::npos)
        << e.what();
  }

  std::vector<std::uint8_t> bytes = write_type_library(library_with_events());
  fmt::Header header;
  std::memcpy(&header, bytes.data(), sizeof header);
  EXPECT_EQ(header.format_minor, 1);
  ITypeLib* loaded = nullptr;
  // Function 0 is _Evented.Go, in a table; 1 and 2 are the dispinterface's.
  const auto funckind_at = [&](std::uint32_t function) {
    return header.functions.offset + function * sizeof(fmt::FuncRecord) +
           offsetof(fmt::FuncRecord, funckind);
  };
  for (const auto& [function, kind] : {std::pair{0u, FUNC_DISPATCH}, {1u, FUNC_PUREVIRTUAL}}) {
    std::vector<std::uint8_t> wrong = bytes;
    const auto value = static_cast<std::uint16_t>(kind);
    std::memcpy(wrong.data() + funckind_at(function), &value, 2);
    EXPECT_EQ(load_type_lib_from_image({wrong.data(), wrong.size()}, &loaded), TYPE_E_INVDATAREAD)
        << "function " << function << " accepted with kind " << kind;
  }

  // A library written before dispinterfaces existed says 1.0 and reads as before.
  LibraryDescription old = library_with_events();
  old.types.erase(old.types.begin() + 1);
  std::get<CoclassDescription>(old.types[1]).interfaces.pop_back();
  bytes = write_type_library(old);
  const std::uint16_t first_version = 0;
  std::memcpy(bytes.data() + offsetof(fmt::Header, format_minor), &first_version, 2);
  ASSERT_EQ(load_type_lib_from_image({bytes.data(), bytes.size()}, &loaded), S_OK);
  EXPECT_EQ(loaded->GetTypeInfoCount(), 2u);
  loaded->Release();
}

}  // namespace
