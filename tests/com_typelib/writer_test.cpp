// A description with a mistake is refused when the build writes it, naming where it is.
#include <gtest/gtest.h>

#include <functional>

#include "platform/com/auto_string.h"
#include "platform/com/typelib/load.h"
#include "platform/com/typelib/typelib_writer.h"

namespace {

using namespace orvan::typelib;

LibraryDescription valid_library() {
  LibraryDescription lib;
  lib.name = "Small";
  lib.libid = guid("{0F0E0D0C-0B0A-0908-0706-050403020100}");
  lib.imports = {stdole2_import()};
  InterfaceDescription itf;
  itf.name = "ISmall";
  itf.iid = guid("{1F0E0D0C-0B0A-0908-0706-050403020100}");
  itf.functions = {{"Go", 0x60030000, 7, INVOKE_FUNC, {in("n", I4())}, Hresult(), 0, {}, 0},
                   {"Stop", 0x60030001, 8, INVOKE_FUNC, {}, Hresult(), 0, {}, 0}};
  EnumDescription en;
  en.name = "SMALL_ENUM";
  en.guid = guid("{2F0E0D0C-0B0A-0908-0706-050403020100}");
  en.members = {{"A", 1, ""}};
  lib.types = {itf, en};
  return lib;
}

InterfaceDescription& interface_of(LibraryDescription& lib) {
  return std::get<InterfaceDescription>(lib.types[0]);
}

TEST(DescriptionWriter, MistakesAreRefusedWithTheirPlaceNamed) {
  EXPECT_FALSE(write_type_library(valid_library()).empty());
  struct Mistake {
    const char* expected;  // part of the message
    std::function<void(LibraryDescription&)> make;
  };
  const Mistake mistakes[] = {
      {"ISmall.Go(n): refers to the unknown type 'NO_SUCH'",
       [](auto& l) { interface_of(l).functions[0].params[0].type = user("NO_SUCH"); }},
      {"ISmall.Stop: repeats a DISPID",
       [](auto& l) { interface_of(l).functions[1].dispid = 0x60030000; }},
      {"ISmall.Stop: repeats a function-table entry",
       [](auto& l) { interface_of(l).functions[1].entry = 7; }},
      {"ISmall.Go: takes a function-table entry of its base",
       [](auto& l) { interface_of(l).functions[0].entry = 6; }},
      {"ISmall.Go(n): has a default value but is not optional",
       [](auto& l) { interface_of(l).functions[0].params[0].default_value = Value::i4(1); }},
      {"ISmall.Go(r): is a result but not the last parameter",
       [](auto& l) {
         auto& params = interface_of(l).functions[0].params;
         params.push_back(retval(ptr(I4())));
         params.back().name = "r";
         std::swap(params.front(), params.back());
       }},
      {"ISmall.Go(n): is a result but not a pointer",
       [](auto& l) { interface_of(l).functions[0].params[0] = retval(I4(), "n"); }},
      {"ISmall: derives from 'SMALL_ENUM', which is not an interface",
       [](auto& l) { interface_of(l).base = "SMALL_ENUM"; }},
      {"SMALL_ENUM: is described twice",
       [](auto& l) { l.types.push_back(std::get<EnumDescription>(l.types[1])); }},
      {"ISmall.go: is described twice", [](auto& l) { interface_of(l).functions[1].name = "go"; }},
  };
  for (const Mistake& m : mistakes) {
    LibraryDescription lib = valid_library();
    m.make(lib);
    try {
      write_type_library(lib);
      ADD_FAILURE() << "accepted: " << m.expected;
    } catch (const DescriptionError& e) {
      EXPECT_NE(std::string(e.what()).find(m.expected), std::string::npos)
          << e.what() << " / expected " << m.expected;
    }
  }
  EXPECT_THROW(guid("{not-a-guid}"), std::invalid_argument);
}

// The flag is the writer's to set: an interface reaching IDispatch through its bases, directly
// or through one of the library's own interfaces, is dispatchable; one on IUnknown is not.
TEST(DescriptionWriter, InterfacesDerivedFromIDispatchAreMarkedDispatchable) {
  LibraryDescription lib = valid_library();
  InterfaceDescription derived;
  derived.name = "ISmallDerived";
  derived.iid = guid("{3F0E0D0C-0B0A-0908-0706-050403020100}");
  derived.base = "ISmall";
  derived.flags = TYPEFLAG_FDUAL;
  derived.functions = {{"More", 0x60040000, 9, INVOKE_FUNC, {}, Hresult(), 0, {}, 0}};
  InterfaceDescription plain;
  plain.name = "IPlain";
  plain.iid = guid("{4F0E0D0C-0B0A-0908-0706-050403020100}");
  plain.base = "IUnknown";
  plain.functions = {{"Go", 0x60010000, 3, INVOKE_FUNC, {}, Hresult(), 0, {}, 0}};
  lib.types.push_back(derived);
  lib.types.push_back(plain);
  const std::vector<std::uint8_t> bytes = write_type_library(lib);
  ITypeLib* loaded = nullptr;
  ASSERT_EQ(load_type_lib_from_image({bytes.data(), bytes.size()}, &loaded), S_OK);
  const std::pair<const char*, WORD> expected[] = {
      {"ISmall", TYPEFLAG_FDISPATCHABLE},
      {"ISmallDerived", TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FDUAL},
      {"IPlain", 0},
  };
  int matched = 0;
  for (UINT index = 0; index < loaded->GetTypeInfoCount(); ++index) {
    ITypeInfo* info = nullptr;
    ASSERT_EQ(loaded->GetTypeInfo(index, &info), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(info->GetDocumentation(DISPID_UNKNOWN, &name, nullptr, nullptr, nullptr), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    for (const auto& [type_name, flags] : expected) {
      if (std::u16string(name) == orvan::com::utf8_to_utf16(type_name)) {
        EXPECT_EQ(attr->wTypeFlags, flags) << type_name;
        ++matched;
      }
    }
    if (attr->typekind == TKIND_ENUM) {
      EXPECT_EQ(attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE, 0);
    }
    info->ReleaseTypeAttr(attr);
    SysFreeString(name);
    info->Release();
  }
  EXPECT_EQ(matched, 3);
  EXPECT_EQ(loaded->GetTypeInfoCount(), 4u);
  loaded->Release();
}

}  // namespace
