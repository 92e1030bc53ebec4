// A description with a mistake is refused when the build writes it, naming where it is.
#include <gtest/gtest.h>

#include <functional>

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

}  // namespace
