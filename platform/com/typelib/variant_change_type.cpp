// VariantChangeType for the scalar automation types and strings: what a scripting client's
// arguments need to reach a typed method.
//
// Rules, as the platform applies them:
//   - numbers convert to any numeric type; a fraction going to an integer is rounded half to
//     even; a value outside the target's range is DISP_E_OVERFLOW;
//   - booleans are -1 (true) and 0 as numbers, any non-zero number is true;
//   - a string converts to a number when it is one (spaces around it allowed, decimal with
//     optional sign, point and exponent), else DISP_E_TYPEMISMATCH; to a boolean also from
//     "True"/"False" in any case;
//   - numbers become their decimal text; booleans "-1"/"0", or "True"/"False" with
//     VARIANT_ALPHABOOL;
//   - VT_EMPTY is 0, false or ""; VT_NULL, errors and objects convert to nothing but their
//     own type (DISP_E_TYPEMISMATCH);
//   - a VT_BYREF source is read through its pointer; the destination never is.
// Any other target type is DISP_E_BADVARTYPE. Arrays: variant_change_array.h.
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "orvan/component_runtime.h"
#include "platform/com/auto_string.h"
#include "platform/com/typelib/variant_change_array.h"

namespace {

constexpr USHORT kAlphaBool = 0x2;  // VARIANT_ALPHABOOL

struct Number {
  bool integral = true;
  std::int64_t i = 0;
  double d = 0;
  double as_double() const { return integral ? static_cast<double>(i) : d; }
};

// Reads the value behind a VT_BYREF source into a by-value variant that owns nothing.
bool dereference(const VARIANT& in, VARIANT& out) {
  out = in;
  if (!(in.vt & VT_BYREF)) return true;
  if (!in.byref) return false;
  const VARTYPE t = static_cast<VARTYPE>(in.vt & ~VT_BYREF);
  out.vt = t;
  switch (t) {
    case VT_I1:
      out.cVal = *static_cast<std::int8_t*>(in.byref);
      return true;
    case VT_UI1:
      out.bVal = *in.pbVal;
      return true;
    case VT_I2:
      out.iVal = *in.piVal;
      return true;
    case VT_UI2:
      out.uiVal = *static_cast<std::uint16_t*>(in.byref);
      return true;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      out.lVal = *in.plVal;
      return true;
    case VT_UI4:
    case VT_UINT:
      out.ulVal = *static_cast<std::uint32_t*>(in.byref);
      return true;
    case VT_I8:
      out.llVal = *static_cast<std::int64_t*>(in.byref);
      return true;
    case VT_UI8:
      out.ullVal = *static_cast<std::uint64_t*>(in.byref);
      return true;
    case VT_R4:
      out.fltVal = *in.pfltVal;
      return true;
    case VT_R8:
      out.dblVal = *in.pdblVal;
      return true;
    case VT_BOOL:
      out.boolVal = *in.pboolVal;
      return true;
    case VT_BSTR:
      out.bstrVal = *in.pbstrVal;
      return true;
    case VT_UNKNOWN:
      out.punkVal = *in.ppunkVal;
      return true;
    case VT_DISPATCH:
      out.pdispVal = *in.ppdispVal;
      return true;
    case VT_VARIANT:
      return dereference(*in.pvarVal, out) && !(out.vt & VT_BYREF);
    default:
      return false;
  }
}

bool parse_number(BSTR text, Number& out) {
  const std::string s =
      orvan::com::utf16_to_utf8({text ? text : u"", text ? SysStringLen(text) : 0u});
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  if (b == e) return false;
  const std::string body = s.substr(b, e - b);
  // Only plain decimal notation: strtod would also take "inf", "nan" and hexadecimal.
  bool digit = false;
  for (char c : body) {
    if (std::isdigit(static_cast<unsigned char>(c)))
      digit = true;
    else if (c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E')
      return false;
  }
  if (!digit) return false;
  char* end = nullptr;
  const double value = std::strtod(body.c_str(), &end);
  if (end != body.c_str() + body.size()) return false;
  out.integral = false;
  out.d = value;
  return true;
}

HRESULT to_number(const VARIANT& v, Number& n) {
  switch (v.vt) {
    case VT_EMPTY:
      n.i = 0;
      return S_OK;
    case VT_I1:
      n.i = v.cVal;
      return S_OK;
    case VT_UI1:
      n.i = v.bVal;
      return S_OK;
    case VT_I2:
      n.i = v.iVal;
      return S_OK;
    case VT_UI2:
      n.i = v.uiVal;
      return S_OK;
    case VT_I4:
    case VT_INT:
      n.i = v.lVal;
      return S_OK;
    case VT_UI4:
    case VT_UINT:
      n.i = v.ulVal;
      return S_OK;
    case VT_I8:
      n.i = v.llVal;
      return S_OK;
    case VT_UI8:
      if (v.ullVal > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        n.integral = false;
        n.d = static_cast<double>(v.ullVal);
      } else {
        n.i = static_cast<std::int64_t>(v.ullVal);
      }
      return S_OK;
    case VT_BOOL:
      n.i = v.boolVal ? -1 : 0;
      return S_OK;
    case VT_R4:
      n.integral = false;
      n.d = v.fltVal;
      return S_OK;
    case VT_R8:
      n.integral = false;
      n.d = v.dblVal;
      return S_OK;
    case VT_BSTR:
      return parse_number(v.bstrVal, n) ? S_OK : DISP_E_TYPEMISMATCH;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// An integer of [lo, hi] from a number, rounding half to even.
HRESULT to_integer(const Number& n, double lo, double hi, std::int64_t& out) {
  if (n.integral) {
    if (static_cast<double>(n.i) < lo || static_cast<double>(n.i) > hi) return DISP_E_OVERFLOW;
    out = n.i;
    return S_OK;
  }
  if (!std::isfinite(n.d)) return DISP_E_OVERFLOW;
  const double r = std::nearbyint(n.d);
  if (r < lo || r > hi) return DISP_E_OVERFLOW;
  out = static_cast<std::int64_t>(r);
  return S_OK;
}

BSTR text_of(const std::string& s) {
  const std::u16string u = orvan::com::utf8_to_utf16(s);
  return SysAllocStringLen(u.data(), static_cast<UINT>(u.size()));
}

HRESULT to_text(const VARIANT& v, USHORT flags, BSTR& out) {
  char buffer[64];
  switch (v.vt) {
    case VT_EMPTY:
      out = SysAllocStringLen(u"", 0);
      break;
    case VT_BOOL:
      out =
          text_of((flags & kAlphaBool) ? (v.boolVal ? "True" : "False") : (v.boolVal ? "-1" : "0"));
      break;
    case VT_R4:
      std::snprintf(buffer, sizeof buffer, "%.7G", static_cast<double>(v.fltVal));
      out = text_of(buffer);
      break;
    case VT_R8:
      std::snprintf(buffer, sizeof buffer, "%.15G", v.dblVal);
      out = text_of(buffer);
      break;
    case VT_UI8:
      std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(v.ullVal));
      out = text_of(buffer);
      break;
    default: {
      Number n;
      if (const HRESULT hr = to_number(v, n); FAILED(hr)) return hr;
      std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(n.i));
      out = text_of(buffer);
    }
  }
  return out ? S_OK : E_OUTOFMEMORY;
}

HRESULT to_bool(const VARIANT& v, VARIANT_BOOL& out) {
  if (v.vt == VT_BSTR) {
    const std::string s = orvan::com::utf16_to_utf8(
        {v.bstrVal ? v.bstrVal : u"", v.bstrVal ? SysStringLen(v.bstrVal) : 0u});
    std::string lower;
    for (char c : s)
      if (!std::isspace(static_cast<unsigned char>(c)))
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "true" || lower == "#true#") {
      out = VARIANT_TRUE;
      return S_OK;
    }
    if (lower == "false" || lower == "#false#") {
      out = VARIANT_FALSE;
      return S_OK;
    }
  }
  Number n;
  if (const HRESULT hr = to_number(v, n); FAILED(hr)) return hr;
  out = (n.integral ? n.i != 0 : n.d != 0) ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT& r) {
  r.vt = vt;
  if (src.vt == VT_NULL) return vt == VT_NULL ? S_OK : DISP_E_TYPEMISMATCH;
  if (src.vt == vt) return VariantCopy(&r, &src);
  if (src.vt == VT_ERROR || src.vt == VT_UNKNOWN || src.vt == VT_DISPATCH)
    return DISP_E_TYPEMISMATCH;
  Number n;
  std::int64_t i = 0;
  HRESULT hr = S_OK;
  auto integer = [&](double lo, double hi) {
    if (FAILED(hr = to_number(src, n))) return false;
    return SUCCEEDED(hr = to_integer(n, lo, hi, i));
  };
  switch (vt) {
    case VT_EMPTY:
      return S_OK;
    case VT_I1:
      if (integer(-128, 127)) r.cVal = static_cast<std::int8_t>(i);
      return hr;
    case VT_UI1:
      if (integer(0, 255)) r.bVal = static_cast<std::uint8_t>(i);
      return hr;
    case VT_I2:
      if (integer(-32768, 32767)) r.iVal = static_cast<std::int16_t>(i);
      return hr;
    case VT_UI2:
      if (integer(0, 65535)) r.uiVal = static_cast<std::uint16_t>(i);
      return hr;
    case VT_I4:
    case VT_INT:
      if (integer(-2147483648.0, 2147483647.0)) r.lVal = static_cast<std::int32_t>(i);
      return hr;
    case VT_UI4:
    case VT_UINT:
      if (integer(0, 4294967295.0)) r.ulVal = static_cast<std::uint32_t>(i);
      return hr;
    case VT_I8:
      if (integer(-9223372036854775808.0, 9223372036854774784.0)) r.llVal = i;
      return hr;
    case VT_UI8:
      if (integer(0, 9223372036854774784.0)) r.ullVal = static_cast<std::uint64_t>(i);
      return hr;
    case VT_R4: {
      if (FAILED(hr = to_number(src, n))) return hr;
      const double d = n.as_double();
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
      r.fltVal = static_cast<float>(d);
      return S_OK;
    }
    case VT_R8:
      if (FAILED(hr = to_number(src, n))) return hr;
      r.dblVal = n.as_double();
      return S_OK;
    case VT_BOOL:
      return to_bool(src, r.boolVal);
    case VT_BSTR:
      return to_text(src, flags, r.bstrVal);
    case VT_ERROR:
    case VT_NULL:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return DISP_E_TYPEMISMATCH;
    default:
      return DISP_E_BADVARTYPE;
  }
}

}  // namespace

extern "C" HRESULT VariantChangeType(VARIANTARG* destination, const VARIANTARG* source,
                                     USHORT flags, VARTYPE type) {
  if (!destination || !source) return E_INVALIDARG;
  VARIANT result;
  VariantInit(&result);
  const bool array = orvan::typelib::involves_array(*source, type);
  if (!array && (type & VT_BYREF)) return DISP_E_BADVARTYPE;
  VARIANT src;
  if (!array && !dereference(*source, src)) return DISP_E_BADVARTYPE;
  const HRESULT hr = array ? orvan::typelib::change_array_type(*source, type, result)
                           : convert(src, flags, type, result);
  if (FAILED(hr)) return hr;
  // The result is complete before the destination is cleared, so converting in place
  // (destination == source) reads the source intact.
  if (const HRESULT cleared = VariantClear(destination); FAILED(cleared)) {
    VariantClear(&result);  // a locked array in the destination stays where it is
    return cleared;
  }
  *destination = result;
  return S_OK;
}
