// Class identities as text: CLSIDFromString, StringFromGUID2, CLSIDFromProgID.
#include <string>

#include "platform/com/auto_string.h"
#include "platform/com/guid.h"
#include "platform/com/runtime/registry.h"

namespace {

std::string narrow(LPCOLESTR text) {
  return orvan::com::utf16_to_utf8(std::u16string_view(text));
}

void store(const orvan::com::Guid& from, CLSID* to) {
  to->Data1 = from.data1;
  to->Data2 = from.data2;
  to->Data3 = from.data3;
  for (int i = 0; i < 8; ++i) to->Data4[i] = from.data4[static_cast<std::size_t>(i)];
}

// A programmatic identifier is one key name: not empty, no backslash.
HRESULT clsid_of_prog_id(const std::string& prog_id, CLSID* clsid) {
  if (prog_id.empty() || prog_id.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
  std::string text;
  const HRESULT hr = orvan::com::registry::get_value(prog_id + "\\CLSID", "", &text);
  if (FAILED(hr)) return hr;
  const auto guid = orvan::com::parse_guid(text);
  if (hr != S_OK || !guid) return CO_E_CLASSSTRING;
  store(*guid, clsid);
  return S_OK;
}

}  // namespace

extern "C" HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid) {
  if (!progid || !clsid) return E_INVALIDARG;
  return clsid_of_prog_id(narrow(progid), clsid);
}

// Accepts the braced form and, as the platform does, a programmatic identifier.
extern "C" HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  if (!text) {
    *clsid = IID_NULL;
    return S_OK;
  }
  const std::string narrow_text = narrow(text);
  if (const auto guid = orvan::com::parse_guid(narrow_text)) {
    store(*guid, clsid);
    return S_OK;
  }
  if (!narrow_text.empty() && narrow_text.front() == '{') return CO_E_CLASSSTRING;
  return clsid_of_prog_id(narrow_text, clsid);
}

extern "C" INT StringFromGUID2(REFGUID guid, LPOLESTR text, INT size) {
  const std::string braced = orvan::com::registry::guid_text(guid);
  const INT needed = static_cast<INT>(braced.size()) + 1;
  if (!text || size < needed) return 0;
  for (std::size_t i = 0; i < braced.size(); ++i) text[i] = static_cast<OLECHAR>(braced[i]);
  text[braced.size()] = u'\0';
  return needed;
}
