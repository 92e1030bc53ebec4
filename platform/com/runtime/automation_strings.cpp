// SysAllocString and friends: automation strings with the published layout, made by the
// same allocator as orvan::com::BStr so that either side may free what the other made.
#include <cstring>
#include <limits>

#include "orvan/component_runtime.h"
#include "platform/com/auto_string.h"

namespace {

using orvan::com::allocate_automation_string;

// Code units before the first NUL.
std::size_t length_of(const OLECHAR* text) {
  std::size_t n = 0;
  while (text[n] != u'\0') ++n;
  return n;
}

BSTR allocate_units(const OLECHAR* text, std::size_t units) {
  if (units > std::numeric_limits<std::uint32_t>::max() / sizeof(OLECHAR)) return nullptr;
  return allocate_automation_string(text, static_cast<std::uint32_t>(units * sizeof(OLECHAR)));
}

}  // namespace

extern "C" BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  return allocate_units(text, length_of(text));
}

// A null `text` gives `length` zeroed code units for the caller to fill in.
extern "C" BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  return allocate_units(text, length);
}

extern "C" BSTR SysAllocStringByteLen(const char* bytes, UINT length) {
  return allocate_automation_string(bytes, length);
}

// Returns TRUE (1) on success; on failure the old string stays. `text` may point into the
// old string itself, so the new one is made before the old one goes.
extern "C" INT SysReAllocString(BSTR* bstr, const OLECHAR* text) {
  if (!bstr) return 0;
  BSTR fresh = text ? SysAllocString(text) : nullptr;
  if (text && !fresh) return 0;
  orvan::com::free_automation_string(*bstr);
  *bstr = fresh;
  return 1;
}

extern "C" void SysFreeString(BSTR bstr) {
  orvan::com::free_automation_string(bstr);
}

extern "C" UINT SysStringLen(BSTR bstr) {
  return orvan::com::automation_string_bytes(bstr) / static_cast<UINT>(sizeof(OLECHAR));
}

extern "C" UINT SysStringByteLen(BSTR bstr) {
  return orvan::com::automation_string_bytes(bstr);
}
