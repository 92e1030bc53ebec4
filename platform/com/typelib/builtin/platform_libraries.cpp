// The platform's own type libraries, embedded in the runtime library: TYPELIB/1 is the
// standard automation library (IUnknown, IDispatch), TYPELIB/2 the music platform's
// automation library with its notification interface. LoadRegTypeLib finds both without
// any registry entry.
#include "platform/com/typelib/typelib_description.h"

using namespace orvan::typelib;

namespace {

constexpr WORD kRestricted = 0x1;  // FUNCFLAG_FRESTRICTED: not for scripting clients

LibraryDescription stdole2() {
  LibraryDescription lib;
  lib.name = "stdole2";
  lib.libid = guid("{00020430-0000-0000-C000-000000000046}");
  lib.major = 2;
  lib.minor = 0;
  lib.doc = "Standard automation types";

  // Interface identities and type-information handles are passed as untyped pointers here:
  // the format describes no records, and no client reads these three through Invoke.
  InterfaceDescription unknown;
  unknown.name = "IUnknown";
  unknown.iid = guid("{00000000-0000-0000-C000-000000000046}");
  unknown.base = "";
  unknown.flags = TYPEFLAG_FHIDDEN;
  unknown.functions = {
      {"QueryInterface",
       0x60000000,
       0,
       INVOKE_FUNC,
       {in("riid", ptr(Void())), {"ppvObj", ptr(ptr(Void())), PARAMFLAG_FOUT, std::nullopt}},
       Hresult(),
       kRestricted,
       {},
       0},
      {"AddRef", 0x60000001, 1, INVOKE_FUNC, {}, scalar(VT_UI4), kRestricted, {}, 0},
      {"Release", 0x60000002, 2, INVOKE_FUNC, {}, scalar(VT_UI4), kRestricted, {}, 0},
  };

  InterfaceDescription dispatch;
  dispatch.name = "IDispatch";
  dispatch.iid = guid("{00020400-0000-0000-C000-000000000046}");
  dispatch.base = "IUnknown";
  dispatch.flags = TYPEFLAG_FHIDDEN;
  dispatch.functions = {
      {"GetTypeInfoCount",
       0x60010000,
       3,
       INVOKE_FUNC,
       {{"pctinfo", ptr(scalar(VT_UINT)), PARAMFLAG_FOUT, std::nullopt}},
       Hresult(),
       kRestricted,
       {},
       0},
      {"GetTypeInfo",
       0x60010001,
       4,
       INVOKE_FUNC,
       {in("itinfo", scalar(VT_UINT)),
        in("lcid", scalar(VT_UI4)),
        {"pptinfo", ptr(ptr(Void())), PARAMFLAG_FOUT, std::nullopt}},
       Hresult(),
       kRestricted,
       {},
       0},
      {"GetIDsOfNames",
       0x60010002,
       5,
       INVOKE_FUNC,
       {in("riid", ptr(Void())),
        in("rgszNames", ptr(ptr(scalar(VT_UI2)))),
        in("cNames", scalar(VT_UINT)),
        in("lcid", scalar(VT_UI4)),
        {"rgdispid", ptr(I4()), PARAMFLAG_FOUT, std::nullopt}},
       Hresult(),
       kRestricted,
       {},
       0},
      {"Invoke",
       0x60010003,
       6,
       INVOKE_FUNC,
       {in("dispidMember", I4()),
        in("riid", ptr(Void())),
        in("lcid", scalar(VT_UI4)),
        in("wFlags", scalar(VT_UI2)),
        in("pdispparams", ptr(Void())),
        {"pvarResult", ptr(Variant()), PARAMFLAG_FOUT, std::nullopt},
        {"pexcepinfo", ptr(Void()), PARAMFLAG_FOUT, std::nullopt},
        {"puArgErr", ptr(scalar(VT_UINT)), PARAMFLAG_FOUT, std::nullopt}},
       Hresult(),
       kRestricted,
       {},
       0},
  };

  lib.types = {unknown, dispatch};
  return lib;
}

LibraryDescription dxvblib() {
  LibraryDescription lib;
  lib.name = "DxVBLibA";
  lib.libid = guid("{E1211242-8E94-11D1-8808-00C04FC2C603}");
  lib.major = 1;
  lib.minor = 0;
  lib.doc = "Music platform automation types";
  lib.imports = {stdole2_import()};

  InterfaceDescription event;
  event.name = "DirectXEvent8";
  event.iid = guid("{D1CA9B18-9ED2-43B5-8759-7A5C892D4C5C}");
  event.base = "IUnknown";
  event.functions = {
      {"DXCallback", 0x60010000, 3, INVOKE_FUNC, {in("eventid", I4())}, Hresult(), 0, {}, 0},
  };
  lib.types = {event};
  return lib;
}

}  // namespace

ResourceBundle describe_resources() {
  return {{stdole2(), dxvblib()}, std::nullopt};
}
