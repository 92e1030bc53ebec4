// Helpers for description sources: GUID literals and the platform's importable libraries.
#include <stdexcept>
#include <string>

#include "platform/com/typelib/typelib_description.h"

namespace orvan::typelib {

Guid guid(const char* text) {
  const auto parsed = com::parse_guid(text ? text : "");
  if (!parsed) throw std::invalid_argument(std::string("not a GUID: ") + (text ? text : ""));
  return *parsed;
}

ImportedLibrary stdole2_import() {
  return {"stdole2",
          guid("{00020430-0000-0000-C000-000000000046}"),
          2,
          0,
          {{"IUnknown", guid("{00000000-0000-0000-C000-000000000046}")},
           {"IDispatch", guid("{00020400-0000-0000-C000-000000000046}")}}};
}

ImportedLibrary dxvblib_import() {
  return {"DxVBLibA",
          guid("{E1211242-8E94-11D1-8808-00C04FC2C603}"),
          1,
          0,
          {{"DirectXEvent8", guid("{D1CA9B18-9ED2-43B5-8759-7A5C892D4C5C}")}}};
}

}  // namespace orvan::typelib
