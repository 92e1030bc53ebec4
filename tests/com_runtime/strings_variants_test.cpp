// Automation strings and variants: the published layout, ownership, and interop with BStr.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "orvan/component_runtime.h"
#include "platform/com/auto_string.h"
#include "tests/com_runtime/counted_unknown.h"

namespace {

std::uint32_t prefix_of(BSTR bstr) {
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const char*>(bstr) - 4, 4);
  return bytes;
}

using orvan::testing::CountedUnknown;

}  // namespace

TEST(AutomationStrings, KeepTheirLengthPrefixAndTrailingNul) {
  BSTR text = SysAllocString(u"Theme.mid");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(prefix_of(text), 18u);
  EXPECT_EQ(SysStringLen(text), 9u);
  EXPECT_EQ(SysStringByteLen(text), 18u);
  EXPECT_EQ(text[9], u'\0');

  const char16_t with_nul[] = {u'a', u'\0', u'b'};
  BSTR embedded = SysAllocStringLen(with_nul, 3);
  EXPECT_EQ(SysStringLen(embedded), 3u);
  EXPECT_EQ(std::u16string_view(embedded, 3), std::u16string_view(with_nul, 3));
  EXPECT_EQ(embedded[3], u'\0');

  BSTR odd = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(SysStringByteLen(odd), 3u);
  EXPECT_EQ(SysStringLen(odd), 1u);
  EXPECT_EQ(odd[2], u'\0');  // a NUL code unit follows even an odd byte count

  BSTR blank = SysAllocStringLen(nullptr, 4);
  EXPECT_EQ(SysStringLen(blank), 4u);
  EXPECT_EQ(std::u16string_view(blank, 4), std::u16string_view(u"\0\0\0\0", 4));

  // Reallocating from the string's own tail must not read freed memory.
  ASSERT_EQ(SysReAllocString(&text, text + 6), 1);
  EXPECT_EQ(std::u16string_view(text), u"mid");
  EXPECT_EQ(SysStringLen(text), 3u);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  for (BSTR s : {text, embedded, odd, blank}) SysFreeString(s);
}

TEST(AutomationStrings, PassBetweenClientsAndBStrWithOneAllocator) {
  // Made by the runtime, owned and freed by a BStr (ASan reports a mismatched free).
  orvan::com::BStr adopted = orvan::com::BStr::adopt(SysAllocString(u"from client"));
  EXPECT_EQ(adopted.view(), u"from client");

  // Made by a BStr, handed to a client who frees it with SysFreeString.
  BSTR handed = orvan::com::BStr::from_utf8("zurück").release();
  EXPECT_EQ(SysStringLen(handed), 6u);
  EXPECT_EQ(std::u16string_view(handed), u"zurück");
  SysFreeString(handed);

  const char16_t with_nul[] = {u'x', u'\0', u'y'};
  BSTR original = SysAllocStringLen(with_nul, 3);
  const orvan::com::BStr copy = orvan::com::BStr::copy_of(original);
  SysFreeString(original);
  EXPECT_EQ(copy.view(), std::u16string_view(with_nul, 3));
  EXPECT_TRUE(orvan::com::BStr::copy_of(nullptr).empty());
}

TEST(Variants, ClearAndCopyFollowOwnership) {
  VARIANT text;
  VariantInit(&text);
  EXPECT_EQ(text.vt, VT_EMPTY);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocStringLen(u"a\0b", 3);

  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
  EXPECT_EQ(copy.vt, VT_BSTR);
  EXPECT_NE(copy.bstrVal, text.bstrVal);
  EXPECT_EQ(std::u16string_view(copy.bstrVal, SysStringLen(copy.bstrVal)),
            std::u16string_view(u"a\0b", 3));

  CountedUnknown unknown;
  VARIANT object;
  VariantInit(&object);
  object.vt = VT_UNKNOWN;
  object.punkVal = &unknown;
  unknown.AddRef();  // the variant's reference
  // Copying over a string frees it (ASan reports a leak otherwise) and takes a reference.
  ASSERT_EQ(VariantCopy(&copy, &object), S_OK);
  EXPECT_EQ(unknown.refs, 3u);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(copy.vt, VT_EMPTY);
  EXPECT_EQ(unknown.refs, 2u);

  // A reference variant owns nothing: clearing it leaves the referenced value alone.
  VARIANT by_ref;
  VariantInit(&by_ref);
  by_ref.vt = VT_BYREF | VT_BSTR;
  by_ref.pbstrVal = &text.bstrVal;
  EXPECT_EQ(VariantClear(&by_ref), S_OK);
  EXPECT_EQ(SysStringLen(text.bstrVal), 3u);

  VARIANT unsupported;
  VariantInit(&unsupported);
  unsupported.vt = 36;  // VT_RECORD
  VARIANT target;
  VariantInit(&target);
  target.vt = VT_I4;
  target.lVal = 42;
  EXPECT_EQ(VariantCopy(&target, &unsupported), DISP_E_BADVARTYPE);
  EXPECT_EQ(target.lVal, 42) << "a refused copy changed its destination";
  EXPECT_EQ(VariantClear(&unsupported), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);

  EXPECT_EQ(VariantClear(&object), S_OK);
  EXPECT_EQ(unknown.refs, 1u);
  EXPECT_EQ(VariantClear(&text), S_OK);
}

TEST(ClassIdentities, RoundTripThroughText) {
  const CLSID clsid = {
      0x2157ED08, 0x4B0C, 0x427B, {0x84, 0x75, 0x85, 0xD7, 0x54, 0xB9, 0x74, 0xCA}};
  OLECHAR text[39];
  EXPECT_EQ(StringFromGUID2(clsid, text, 38), 0);
  ASSERT_EQ(StringFromGUID2(clsid, text, 39), 39);
  EXPECT_EQ(std::u16string_view(text), u"{2157ED08-4B0C-427B-8475-85D754B974CA}");
  CLSID parsed{};
  EXPECT_EQ(CLSIDFromString(u"{2157ed08-4b0c-427b-8475-85d754b974ca}", &parsed), S_OK);
  EXPECT_EQ(parsed, clsid);
  EXPECT_EQ(CLSIDFromString(u"{2157ED08-4B0C-427B-8475-85D754B974C}", &parsed), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(u"", &parsed), CO_E_CLASSSTRING);
}
