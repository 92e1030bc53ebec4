// The type library the type-library tests load: one dual interface with a method for each
// way an argument can travel, an enum, a class that also implements the music platform's
// notification interface, and an interface taking byte arrays and objects. Built into the test
// program's own resource section.
#include "platform/com/typelib/typelib_description.h"

using namespace orvan::typelib;

namespace {

FunctionDescription method(const char* name, std::uint16_t entry,
                           std::vector<ParamDescription> params) {
  FunctionDescription fn;
  fn.name = name;
  fn.entry = entry;
  fn.dispid = 0x60030000 + (entry - 7);
  fn.params = std::move(params);
  return fn;
}

}  // namespace

ResourceBundle describe_resources() {
  LibraryDescription lib;
  lib.name = "TypeLibTest";
  lib.libid = guid("{5A7C1D20-3B4E-4F61-9A82-0C1D2E3F4A5B}");
  lib.major = 17;  // registered as "11.2": the registry spells versions in hexadecimal
  lib.minor = 2;
  lib.lcid = 0x0409;
  lib.doc = "Type library of the dispatch tests";
  lib.imports = {stdole2_import(), dxvblib_import()};

  InterfaceDescription calc;
  calc.name = "_TestCalc";
  calc.iid = guid("{5A7C1D21-3B4E-4F61-9A82-0C1D2E3F4A5B}");
  calc.base = "IDispatch";
  calc.flags =
      TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
  calc.functions = {
      method("Subtract", 10, {in("a", I4()), in("b", I4()), retval(ptr(I4()))}),
      method("Scale", 11, {in("Value", R4()), in_out("Factor", ptr(I4())), retval(ptr(R4()))}),
      method("Greet", 12, {in_out("Name", ptr(Bstr())), retval(ptr(Bstr()))}),
      method("Configure", 13,
             {optional_in_out("SampleRate", ptr(I4()), Value::i4(48000)),
              optional_in_out("Loops", ptr(I4()))}),
      method("IsPositive", 14, {in("x", R8()), retval(ptr(Bool()))}),
      method("Fail", 15, {in("Status", I4())}),
      method("SetPhase", 16, {in("Phase", user("TEST_PHASE")), retval(ptr(I4()))}),
      method("Describe", 17, {optional_in("v", Variant()), retval(ptr(I4()))}),
      method("Mix", 18,
             {in("Flag", Bool()), in("Small", I2()), in("Big", R8()), retval(ptr(R8()))}),
      method("Nothing", 19, {}),
      method("Label", 20, {optional_in("Text", Bstr(), Value::bstr("none")), retval(ptr(Bstr()))}),
      method("Echo", 21, {in("v", Variant()), retval(ptr(Variant()))}),
  };

  CoclassDescription cls;
  cls.name = "TestCalc";
  cls.clsid = guid("{5A7C1D22-3B4E-4F61-9A82-0C1D2E3F4A5B}");
  cls.interfaces = {{"_TestCalc", IMPLTYPEFLAG_FDEFAULT}, {"DirectXEvent8", 0}};

  EnumDescription phase;
  phase.name = "TEST_PHASE";
  phase.guid = guid("{5A7C1D23-3B4E-4F61-9A82-0C1D2E3F4A5B}");
  phase.members = {{"PHASE_ZERO", 0, "PHASE_ZERO"},
                   {"PHASE_ONE", 1, "PHASE_ONE"},
                   {"PHASE_MAX", 1, "PHASE_MAX"},
                   {"PHASE_NEG", -5, "PHASE_NEG"}};

  InterfaceDescription args;
  args.name = "_TestArguments";
  args.iid = guid("{5A7C1D24-3B4E-4F61-9A82-0C1D2E3F4A5B}");
  args.flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
  args.functions = {
      method("Sum", 7, {in("Data", safe_array(scalar(VT_UI1))), retval(ptr(I4()))}),
      method("Fill", 8, {in_out("Data", ptr(safe_array(scalar(VT_UI1)))), in("Count", I4())}),
      method("Hold", 9, {in("Object", scalar(VT_UNKNOWN))}),
      method("Difference", 10, {in("Calc", ptr(user("_TestCalc"))), retval(ptr(I4()))}),
      method("Clear", 11, {in_out("Object", ptr(scalar(VT_DISPATCH)))}),
  };

  lib.types = {calc, cls, phase, args};

  VersionDescription version;
  version.file_version[0] = 3;
  version.file_version[3] = 9;
  version.strings = {
      {"FileVersion", "3.00"}, {"InternalName", "TypeLibTest"}, {"OLESelfRegister", ""}};
  return {{lib}, version};
}
