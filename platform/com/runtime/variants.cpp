// VariantInit, VariantClear and VariantCopy: the ownership rules of variants. A variant
// owns its automation string, one reference of its interface, or its array (VT_ARRAY);
// a VT_BYREF variant points at the caller's storage and owns nothing.
#include <cstring>

#include "orvan/component_runtime.h"

namespace {

// Types whose value is plain bits (copied as they are, nothing to free).
bool plain_type(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool owning_type(VARTYPE vt) {
  return vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH;
}

// What this runtime can clear and copy: plain values, strings, interfaces, arrays of any
// of those or of variants, and references to any of those. Records are not supported.
bool supported(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_ARRAY) {
    return (vt & ~(VT_BYREF | VT_ARRAY | VT_TYPEMASK)) == 0 && base != VT_EMPTY &&
           base != VT_NULL && (plain_type(base) || owning_type(base) || base == VT_VARIANT);
  }
  if (vt & VT_BYREF) {
    return (vt & ~(VT_BYREF | VT_TYPEMASK)) == 0 &&
           (plain_type(base) || owning_type(base) || base == VT_VARIANT);
  }
  return (vt & ~VT_TYPEMASK) == 0 && (plain_type(vt) || owning_type(vt));
}

bool owned_array(VARTYPE vt) {
  return (vt & (VT_ARRAY | VT_BYREF)) == VT_ARRAY;
}

}  // namespace

extern "C" void VariantInit(VARIANTARG* value) {
  if (!value) return;
  std::memset(static_cast<void*>(value), 0, sizeof *value);
  value->vt = VT_EMPTY;
}

extern "C" HRESULT VariantClear(VARIANTARG* value) {
  if (!value) return E_INVALIDARG;
  if (!supported(value->vt)) return DISP_E_BADVARTYPE;
  // A locked array stays, and so does the variant that holds it.
  if (owned_array(value->vt)) {
    if (const HRESULT hr = SafeArrayDestroy(value->parray); FAILED(hr)) return hr;
  }
  switch (value->vt) {
    case VT_BSTR:
      SysFreeString(value->bstrVal);
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (value->punkVal) value->punkVal->Release();
      break;
    default:
      break;
  }
  VariantInit(value);
  return S_OK;
}

extern "C" HRESULT VariantCopy(VARIANTARG* destination, const VARIANTARG* source) {
  if (!destination || !source) return E_INVALIDARG;
  if (destination == source) return S_OK;
  if (!supported(source->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy;
  std::memcpy(static_cast<void*>(&copy), source, sizeof copy);
  if (source->vt == VT_BSTR && source->bstrVal) {
    copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(source->bstrVal),
                                         SysStringByteLen(source->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  }
  if (owned_array(source->vt)) {
    if (const HRESULT hr = SafeArrayCopy(source->parray, &copy.parray); FAILED(hr)) return hr;
  }
  if (const HRESULT hr = VariantClear(destination); FAILED(hr)) {
    if (copy.vt == VT_BSTR) SysFreeString(copy.bstrVal);
    if (owned_array(copy.vt)) SafeArrayDestroy(copy.parray);
    return hr;
  }
  if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal) copy.punkVal->AddRef();
  std::memcpy(static_cast<void*>(destination), &copy, sizeof copy);
  return S_OK;
}
