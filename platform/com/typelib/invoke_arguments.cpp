#include "platform/com/typelib/invoke_arguments.h"

namespace orvan::typelib {
namespace {

bool is_object_type(VARTYPE vt) {
  return vt == VT_UNKNOWN || vt == VT_DISPATCH;
}

// The element type of an array, from its stored type or, for an array a client laid out
// itself, from its element size.
bool element_type(SAFEARRAY* array, VARTYPE& type) {
  if (SUCCEEDED(SafeArrayGetVartype(array, &type))) return true;
  constexpr USHORT kKinds = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD;
  if ((array->fFeatures & kKinds) || array->cbElements != 1) return false;
  type = VT_UI1;
  return true;
}

bool fits(SAFEARRAY* array, const ParamShape& shape) {
  VARTYPE type = VT_EMPTY;
  return !array || (SafeArrayGetDim(array) == 1 && element_type(array, type) &&
                    type == (shape.base & VT_TYPEMASK));
}

}  // namespace

HRESULT pass_object(const VARIANT& arg, const ParamShape& shape, VARIANT& temp,
                    PassedArgument& passed) {
  const VARTYPE vt = static_cast<VARTYPE>(arg.vt & ~VT_BYREF);
  const bool by_ref_arg = (arg.vt & VT_BYREF) != 0;
  if (vt != VT_EMPTY && !is_object_type(vt)) return DISP_E_TYPEMISMATCH;
  if (vt == VT_EMPTY && by_ref_arg) return DISP_E_TYPEMISMATCH;
  if (by_ref_arg && !arg.ppunkVal) return DISP_E_TYPEMISMATCH;
  IUnknown* given = vt == VT_EMPTY ? nullptr : by_ref_arg ? *arg.ppunkVal : arg.punkVal;
  IUnknown* asked = nullptr;
  if (given) {
    void* found = nullptr;
    if (FAILED(given->QueryInterface(shape.iid, &found)) || !found) return DISP_E_TYPEMISMATCH;
    asked = static_cast<IUnknown*>(found);
  }
  // A reference to the caller's variable goes through when that variable already holds
  // the interface asked for (or nothing): the callee may then replace what it holds.
  if (shape.by_ref && by_ref_arg) {
    if (asked) asked->Release();
    if (asked != given) return DISP_E_TYPEMISMATCH;
    passed.callers_variable = arg.ppunkVal;
    return S_OK;
  }
  temp.vt = shape.base;
  temp.punkVal = asked;
  passed.owned = true;  // the reference QueryInterface added, released after the call
  return S_OK;
}

HRESULT pass_array(const VARIANT& arg, const ParamShape& shape, VARIANT& temp,
                   PassedArgument& passed) {
  const bool by_ref_arg = (arg.vt & VT_BYREF) != 0;
  if ((arg.vt & ~VT_BYREF) != shape.base) {
    if (by_ref_arg) return DISP_E_TYPEMISMATCH;
    // A string becomes the bytes it holds; anything else is refused by the conversion.
    if (const HRESULT hr = VariantChangeType(&temp, &arg, 0, shape.base); FAILED(hr)) return hr;
    passed.owned = true;
    if (!fits(temp.parray, shape)) return DISP_E_TYPEMISMATCH;
    // Lent by value like any other array: the frame, not the callee, frees it.
    if (!shape.by_ref && temp.parray) {
      if (const HRESULT hr = SafeArrayLock(temp.parray); FAILED(hr)) return hr;
      passed.locked = temp.parray;
    }
    return S_OK;
  }
  if (by_ref_arg && !arg.pparray) return DISP_E_TYPEMISMATCH;
  SAFEARRAY* array = by_ref_arg ? *arg.pparray : arg.parray;
  if (!fits(array, shape)) return DISP_E_TYPEMISMATCH;
  if (shape.by_ref) {
    if (by_ref_arg) {
      passed.callers_variable = arg.pparray;
      return S_OK;
    }
    // The callee may replace or free what it gets: it gets a copy, freed after the call.
    temp.vt = shape.base;
    passed.owned = true;
    return SafeArrayCopy(array, &temp.parray);
  }
  if (array) {
    if (const HRESULT hr = SafeArrayLock(array); FAILED(hr)) return hr;
    passed.locked = array;
  }
  temp.vt = shape.base;
  temp.parray = array;  // lent for the call
  return S_OK;
}

}  // namespace orvan::typelib
