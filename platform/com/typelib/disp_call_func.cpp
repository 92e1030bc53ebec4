// DispCallFunc: calls a function-table entry (or a plain function) with arguments described
// only by their automation types, through libffi. This is the one place where a call's
// shape is built at run time; nothing here knows any method.
#include <ffi.h>

#include <cstring>

#include "orvan/component_runtime.h"

namespace {

constexpr UINT kMaxArguments = 128;

// A VARIANT passed by value: 24 bytes, which the x86-64 calling convention passes in memory.
ffi_type* variant_type() {
  static ffi_type* elements[] = {&ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16,
                                 &ffi_type_uint16, &ffi_type_uint64, &ffi_type_uint64,
                                 nullptr};
  // libffi fills in the size and alignment on first use; do it once, before any thread
  // can share the description.
  static ffi_type type = [] {
    ffi_type t{};
    t.type = FFI_TYPE_STRUCT;
    t.elements = elements;
    ffi_cif cif;
    ffi_type* args[] = {&t};
    ffi_prep_cif(&cif, FFI_DEFAULT_ABI, 1, &ffi_type_void, args);
    return t;
  }();
  return &type;
}

// The libffi type for an argument or result of automation type `vt`; nullptr when the type
// cannot be passed.
ffi_type* ffi_type_of(VARTYPE vt) {
  if (vt & (VT_BYREF | VT_ARRAY)) return &ffi_type_pointer;
  switch (vt) {
    case VT_EMPTY:
    case VT_VOID:
      return &ffi_type_void;
    case VT_I1:
      return &ffi_type_sint8;
    case VT_UI1:
      return &ffi_type_uint8;
    case VT_I2:
    case VT_BOOL:
      return &ffi_type_sint16;
    case VT_UI2:
      return &ffi_type_uint16;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
    case VT_HRESULT:
      return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT:
      return &ffi_type_uint32;
    case VT_I8:
      return &ffi_type_sint64;
    case VT_UI8:
      return &ffi_type_uint64;
    case VT_R4:
      return &ffi_type_float;
    case VT_R8:
    case VT_DATE:
      return &ffi_type_double;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
    case VT_PTR:
    case VT_LPSTR:
    case VT_LPWSTR:
      return &ffi_type_pointer;
    case VT_VARIANT:
      return variant_type();
    default:
      return nullptr;
  }
}

// Where the value of an argument of type `vt` lies inside its VARIANT.
void* value_address(VARIANTARG* arg, VARTYPE vt) {
  if (vt == VT_VARIANT) return arg;  // the whole VARIANT, by value
  return &arg->llVal;
}

void store_result(VARTYPE vt, const void* raw, VARIANT& out) {
  // libffi widens integral results narrower than a register to ffi_arg.
  ffi_arg integral;
  std::memcpy(&integral, raw, sizeof integral);
  out.vt = vt;
  switch (vt) {
    case VT_EMPTY:
    case VT_VOID:
      out.vt = VT_EMPTY;
      break;
    case VT_I1:
      out.cVal = static_cast<std::int8_t>(integral);
      break;
    case VT_UI1:
      out.bVal = static_cast<std::uint8_t>(integral);
      break;
    case VT_I2:
    case VT_BOOL:
      out.iVal = static_cast<std::int16_t>(integral);
      break;
    case VT_UI2:
      out.uiVal = static_cast<std::uint16_t>(integral);
      break;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
    case VT_HRESULT:
      out.lVal = static_cast<std::int32_t>(integral);
      break;
    case VT_UI4:
    case VT_UINT:
      out.ulVal = static_cast<std::uint32_t>(integral);
      break;
    case VT_R4:
      std::memcpy(&out.fltVal, raw, sizeof(float));
      break;
    case VT_R8:
    case VT_DATE:
      std::memcpy(&out.dblVal, raw, sizeof(double));
      break;
    case VT_VARIANT:
      std::memcpy(&out, raw, sizeof(VARIANT));
      break;
    default:
      std::memcpy(&out.llVal, raw, sizeof(std::int64_t));
      break;
  }
}

}  // namespace

extern "C" HRESULT DispCallFunc(void* instance, ULONG_PTR vtable_offset, CALLCONV cc,
                                VARTYPE return_type, UINT count, VARTYPE* types, VARIANTARG** args,
                                VARIANT* result) {
  // On x86-64 the platform's calling conventions are one and the same.
  if (cc != CC_STDCALL && cc != CC_CDECL) return E_INVALIDARG;
  if (count > kMaxArguments || (count && (!types || !args))) return E_INVALIDARG;
  if (!instance && vtable_offset == 0) return E_INVALIDARG;
  if (instance && vtable_offset % sizeof(void*) != 0) return E_INVALIDARG;

  ffi_type* arg_types[kMaxArguments + 1];
  void* arg_values[kMaxArguments + 1];
  UINT n = 0;
  if (instance) {
    arg_types[n] = &ffi_type_pointer;
    arg_values[n++] = &instance;
  }
  for (UINT i = 0; i < count; ++i) {
    ffi_type* t = ffi_type_of(types[i]);
    if (!t || t == &ffi_type_void || !args[i]) return E_INVALIDARG;
    arg_types[n] = t;
    arg_values[n++] = value_address(args[i], types[i]);
  }
  ffi_type* ret = ffi_type_of(return_type);
  if (!ret) return E_INVALIDARG;

  ffi_cif cif;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, n, ret, arg_types) != FFI_OK) return E_INVALIDARG;
  void* function;
  if (instance) {
    void* const* table = *static_cast<void* const* const*>(instance);
    function = table[vtable_offset / sizeof(void*)];
  } else {
    function = reinterpret_cast<void*>(vtable_offset);
  }
  alignas(16) std::uint8_t raw[sizeof(VARIANT) > sizeof(ffi_arg) ? sizeof(VARIANT) : 16] = {};
  ffi_call(&cif, reinterpret_cast<void (*)()>(function), raw, arg_values);
  if (result) store_result(return_type, raw, *result);
  return S_OK;
}
