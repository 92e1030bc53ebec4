#include "platform/com/typelib/variant_change_array.h"

#include <cstring>

namespace orvan::typelib {
namespace {

constexpr VARTYPE kByteArray = VT_ARRAY | VT_UI1;

// The array a variant holds or refers to; null when it holds none.
SAFEARRAY* array_of(const VARIANT& v) {
  if ((v.vt & (VT_ARRAY | VT_BYREF)) == VT_ARRAY) return v.parray;
  if ((v.vt & (VT_ARRAY | VT_BYREF)) == (VT_ARRAY | VT_BYREF)) {
    return v.pparray ? *v.pparray : nullptr;
  }
  return nullptr;
}

}  // namespace

bool involves_array(const VARIANT& source, VARTYPE type) {
  return ((source.vt | type) & VT_ARRAY) != 0;
}

HRESULT change_array_type(const VARIANT& source, VARTYPE type, VARIANT& result) {
  const VARTYPE from = static_cast<VARTYPE>(source.vt & ~VT_BYREF);
  if (type & VT_BYREF) return DISP_E_BADVARTYPE;
  if ((type & VT_ARRAY) && (type & ~(VT_ARRAY | VT_TYPEMASK))) return DISP_E_BADVARTYPE;
  if (type & VT_ARRAY) {
    // Probed with an empty array: the element types an array may hold.
    SAFEARRAY* probe = SafeArrayCreateVector(static_cast<VARTYPE>(type & VT_TYPEMASK), 0, 0);
    if (!probe) return DISP_E_BADVARTYPE;
    SafeArrayDestroy(probe);
  }
  SAFEARRAY* array = array_of(source);
  if (from == type) {
    result.vt = type;
    return SafeArrayCopy(array, &result.parray);
  }
  if (from == kByteArray && type == VT_BSTR) {
    if (!array || SafeArrayGetDim(array) != 1) return DISP_E_TYPEMISMATCH;
    const ULONG count = array->rgsabound[0].cElements;
    result.bstrVal = SysAllocStringByteLen(static_cast<const char*>(array->pvData), count);
    if (!result.bstrVal) return E_OUTOFMEMORY;
    result.vt = VT_BSTR;
    return S_OK;
  }
  if (from == VT_BSTR && type == kByteArray) {
    const BSTR text =
        (source.vt & VT_BYREF) ? (source.pbstrVal ? *source.pbstrVal : nullptr) : source.bstrVal;
    const UINT bytes = SysStringByteLen(text);
    SAFEARRAY* made = SafeArrayCreateVector(VT_UI1, 0, bytes);
    if (!made) return E_OUTOFMEMORY;
    if (bytes) std::memcpy(made->pvData, text, bytes);
    result.vt = kByteArray;
    result.parray = made;
    return S_OK;
  }
  return DISP_E_TYPEMISMATCH;
}

}  // namespace orvan::typelib
