// VariantChangeType over the scalar automation types and strings.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "orvan/component_runtime.h"

namespace {

VARIANT make(VARTYPE vt) {
  VARIANT v{};
  v.vt = vt;
  return v;
}
VARIANT i4(LONG x) {
  VARIANT v = make(VT_I4);
  v.lVal = x;
  return v;
}
VARIANT r8(double x) {
  VARIANT v = make(VT_R8);
  v.dblVal = x;
  return v;
}
VARIANT r4(float x) {
  VARIANT v = make(VT_R4);
  v.fltVal = x;
  return v;
}
VARIANT boolean(bool x) {
  VARIANT v = make(VT_BOOL);
  v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
VARIANT text(const char16_t* s) {
  VARIANT v = make(VT_BSTR);
  v.bstrVal = SysAllocString(s);
  return v;
}

std::u16string as_text(const VARIANT& v) {
  return std::u16string(v.bstrVal, SysStringLen(v.bstrVal));
}

TEST(VariantChangeType, NumbersConvertWithRoundingHalfToEvenAndRangeChecks) {
  struct Case {
    VARIANT from;
    VARTYPE to;
    HRESULT hr;
    double expected;
  };
  const Case cases[] = {
      {r8(2.5), VT_I4, S_OK, 2},
      {r8(3.5), VT_I4, S_OK, 4},
      {r8(-2.5), VT_I4, S_OK, -2},
      {r8(-0.4), VT_I2, S_OK, 0},
      {r4(1.5f), VT_I2, S_OK, 2},
      {i4(32767), VT_I2, S_OK, 32767},
      {i4(32768), VT_I2, DISP_E_OVERFLOW, 0},
      {i4(-1), VT_UI1, DISP_E_OVERFLOW, 0},
      {i4(255), VT_UI1, S_OK, 255},
      {r8(2147483647.4), VT_I4, S_OK, 2147483647},
      {r8(2147483647.5), VT_I4, DISP_E_OVERFLOW, 0},
      {r8(NAN), VT_I4, DISP_E_OVERFLOW, 0},
      {r8(1e300), VT_R4, DISP_E_OVERFLOW, 0},
      {r8(0.1), VT_R4, S_OK, 0.1f},
      {i4(7), VT_R8, S_OK, 7},
      {boolean(true), VT_I4, S_OK, -1},
      {boolean(false), VT_R4, S_OK, 0},
      {make(VT_EMPTY), VT_I4, S_OK, 0},
      {i4(-12), VT_BOOL, S_OK, -1},
      {r8(0.0), VT_BOOL, S_OK, 0},
  };
  for (const Case& c : cases) {
    VARIANT out{};
    const HRESULT hr = VariantChangeType(&out, &c.from, 0, c.to);
    ASSERT_EQ(hr, c.hr) << "from " << c.from.vt << " to " << c.to;
    if (FAILED(hr)) continue;
    ASSERT_EQ(out.vt, c.to);
    double got = 0;
    switch (c.to) {
      case VT_I4:
        got = out.lVal;
        break;
      case VT_I2:
        got = out.iVal;
        break;
      case VT_UI1:
        got = out.bVal;
        break;
      case VT_R4:
        got = out.fltVal;
        break;
      case VT_R8:
        got = out.dblVal;
        break;
      case VT_BOOL:
        got = out.boolVal;
        break;
    }
    EXPECT_DOUBLE_EQ(got, c.expected) << "from " << c.from.vt << " to " << c.to;
  }
}

TEST(VariantChangeType, StringsParseAndPrint) {
  struct Parse {
    const char16_t* text;
    VARTYPE to;
    HRESULT hr;
    double expected;
  };
  const Parse parses[] = {
      {u"42", VT_I4, S_OK, 42},
      {u"  -7  ", VT_I4, S_OK, -7},
      {u"1.5e3", VT_R8, S_OK, 1500},
      {u"2.5", VT_I4, S_OK, 2},
      {u"abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"inf", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {u"0x10", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"99999", VT_I2, DISP_E_OVERFLOW, 0},
      {u"True", VT_BOOL, S_OK, -1},
      {u"false", VT_BOOL, S_OK, 0},
      {u"3", VT_BOOL, S_OK, -1},
      {u"maybe", VT_BOOL, DISP_E_TYPEMISMATCH, 0},
  };
  for (const Parse& p : parses) {
    VARIANT from = text(p.text);
    VARIANT out{};
    const HRESULT hr = VariantChangeType(&out, &from, 0, p.to);
    EXPECT_EQ(hr, p.hr) << std::string(p.text, p.text + std::char_traits<char16_t>::length(p.text));
    if (SUCCEEDED(hr)) {
      const double got = p.to == VT_I4 ? out.lVal : p.to == VT_R8 ? out.dblVal : out.boolVal;
      EXPECT_DOUBLE_EQ(got, p.expected);
    }
    VariantClear(&from);
  }

  struct Print {
    VARIANT from;
    USHORT flags;
    const char16_t* expected;
  };
  const Print prints[] = {
      {i4(-123), 0, u"-123"},   {r8(1.5), 0, u"1.5"},      {r4(0.1f), 0, u"0.1"},
      {r8(1e20), 0, u"1E+20"},  {boolean(true), 0, u"-1"}, {boolean(false), 0x2, u"False"},
      {make(VT_EMPTY), 0, u""},
  };
  for (const Print& p : prints) {
    VARIANT out{};
    ASSERT_EQ(VariantChangeType(&out, &p.from, p.flags, VT_BSTR), S_OK);
    ASSERT_EQ(out.vt, VT_BSTR);
    EXPECT_EQ(as_text(out), p.expected);
    VariantClear(&out);
  }
}

TEST(VariantChangeType, ReferencesAreReadThroughAndNullErrorsAndBadTypesAreRefused) {
  LONG target = 41;
  VARIANT ref = make(VT_I4 | VT_BYREF);
  ref.plVal = &target;
  VARIANT out{};
  ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_R8), S_OK);
  EXPECT_DOUBLE_EQ(out.dblVal, 41);
  VARIANT inner = text(u"5");
  VARIANT through = make(VT_VARIANT | VT_BYREF);
  through.pvarVal = &inner;
  ASSERT_EQ(VariantChangeType(&out, &through, 0, VT_I2), S_OK);
  EXPECT_EQ(out.iVal, 5);
  VariantClear(&inner);

  const VARIANT null_value = make(VT_NULL);
  EXPECT_EQ(VariantChangeType(&out, &null_value, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VARIANT error = make(VT_ERROR);
  error.scode = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(VariantChangeType(&out, &error, 0, VT_I4), DISP_E_TYPEMISMATCH);
  const VARIANT number = i4(1);
  EXPECT_EQ(VariantChangeType(&out, &number, 0, VT_I4 | VT_BYREF), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&out, &number, 0, VT_CY), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(nullptr, &number, 0, VT_I4), E_INVALIDARG);

  // In place: the string is read before the variant is replaced by the number.
  VARIANT in_place = text(u"12");
  ASSERT_EQ(VariantChangeType(&in_place, &in_place, 0, VT_I4), S_OK);
  EXPECT_EQ(in_place.vt, VT_I4);
  EXPECT_EQ(in_place.lVal, 12);
  // A string to a string is a copy the caller owns separately.
  VARIANT original = text(u"copy me");
  VARIANT copy{};
  ASSERT_EQ(VariantChangeType(&copy, &original, 0, VT_BSTR), S_OK);
  EXPECT_NE(copy.bstrVal, original.bstrVal);
  EXPECT_EQ(as_text(copy), u"copy me");
  VariantClear(&copy);
  VariantClear(&original);
}

}  // namespace
