// The small type library of the dispatch benchmark, embedded in the benchmark program.
#include "platform/com/typelib/typelib_description.h"

using namespace orvan::typelib;

ResourceBundle describe_resources() {
  LibraryDescription lib;
  lib.name = "DispatchBench";
  lib.libid = guid("{0B1C2D30-4E5F-4A6B-8C7D-9E0F1A2B3C4D}");
  lib.imports = {stdole2_import()};

  InterfaceDescription itf;
  itf.name = "IBench";
  itf.iid = guid("{0B1C2D31-4E5F-4A6B-8C7D-9E0F1A2B3C4D}");
  itf.flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
  FunctionDescription add{"Add",
                          0x60030000,
                          7,
                          INVOKE_FUNC,
                          {in("a", I4()), in("b", I4()), retval(ptr(I4()))},
                          Hresult(),
                          0,
                          {},
                          0};
  FunctionDescription level{
      "SetLevel", 0x60030001, 8, INVOKE_FUNC, {in_out("Value", ptr(I4()))}, Hresult(), 0, {}, 0};
  FunctionDescription gain{
      "SetGain", 0x60030002, 9, INVOKE_FUNC, {in("Value", R4()), retval(ptr(Bool()))}, Hresult(),
      0,         {},         0};
  itf.functions = {add, level, gain};
  lib.types = {itf};
  return {{lib}, std::nullopt};
}
