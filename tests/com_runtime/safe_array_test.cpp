// Automation arrays: bounds by dimension, locks, deep copies with their references
// counted, resizing, and arrays inside variants. (The layout is checked with the client
// headers, in C and C++.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "orvan/component_runtime.h"
#include "tests/com_runtime/counted_unknown.h"

namespace {

using orvan::testing::CountedUnknown;

template <typename T>
T* elements(SAFEARRAY* array) {
  return static_cast<T*>(array->pvData);
}

}  // namespace

TEST(SafeArray, AnswersBoundsInTheCreatorsOrderAndRefusesWhatItCannotHold) {
  SAFEARRAYBOUND bounds[] = {{3, -1}, {5, 10}};
  SAFEARRAY* array = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(SafeArrayGetDim(array), 2u);
  EXPECT_EQ(SafeArrayGetElemsize(array), 4u);
  // Stored last dimension first, as the platform does.
  EXPECT_EQ(array->rgsabound[0].cElements, 5u);
  EXPECT_EQ(array->rgsabound[1].lLbound, -1);
  LONG lower = 0, upper = 0;
  ASSERT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
  EXPECT_EQ(lower, -1);
  EXPECT_EQ(upper, 1);
  ASSERT_EQ(SafeArrayGetLBound(array, 2, &lower), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(array, 2, &upper), S_OK);
  EXPECT_EQ(lower, 10);
  EXPECT_EQ(upper, 14);
  EXPECT_EQ(SafeArrayGetLBound(array, 0, &lower), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(array, 3, &upper), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &lower), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, nullptr), E_INVALIDARG);
  VARTYPE type = VT_EMPTY;
  ASSERT_EQ(SafeArrayGetVartype(array, &type), S_OK);
  EXPECT_EQ(type, VT_I4);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(elements<std::int32_t>(array)[i], 0) << i;
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);

  SAFEARRAY* empty = SafeArrayCreateVector(VT_UI1, 0, 0);
  ASSERT_NE(empty, nullptr);
  ASSERT_EQ(SafeArrayGetUBound(empty, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  EXPECT_EQ(SafeArrayDestroy(empty), S_OK);

  // Types an array cannot hold, no dimensions, and sizes no memory holds.
  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 4), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_UI1 | VT_BYREF, 0, 4), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 0, bounds), nullptr);
  SAFEARRAYBOUND huge[] = {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 3, huge), nullptr);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArray, ALockedArrayIsNeitherDestroyedNorResizedAndLocksBalance) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 1, 4);
  ASSERT_NE(array, nullptr);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
  EXPECT_EQ(data, array->pvData);
  ASSERT_EQ(SafeArrayLock(array), S_OK);
  EXPECT_EQ(array->cLocks, 2u);
  SAFEARRAYBOUND bigger{8, 1};
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayRedim(array, &bigger), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(array->rgsabound[0].cElements, 4u);
  EXPECT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  EXPECT_EQ(array->cLocks, 0u);
  EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayAccessData(array, nullptr), E_INVALIDARG);
  EXPECT_EQ(array->cLocks, 0u);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArray, CopiesOwnTheirStringsAndReferencesAndResizingFreesWhatItCuts) {
  CountedUnknown first, second;
  SAFEARRAY* objects = SafeArrayCreateVector(VT_UNKNOWN, 0, 3);
  ASSERT_NE(objects, nullptr);
  elements<IUnknown*>(objects)[0] = &first;
  elements<IUnknown*>(objects)[2] = &second;
  first.AddRef();
  second.AddRef();
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(objects, &copy), S_OK);
  EXPECT_EQ(first.refs, 3u);
  EXPECT_EQ(elements<IUnknown*>(copy)[2], &second);
  EXPECT_EQ(elements<IUnknown*>(copy)[1], nullptr);
  // Copying into an array of the same shape releases what it held first.
  ASSERT_EQ(SafeArrayCopyData(objects, copy), S_OK);
  EXPECT_EQ(first.refs, 3u);
  SAFEARRAYBOUND one{1, 0};
  ASSERT_EQ(SafeArrayRedim(copy, &one), S_OK);
  EXPECT_EQ(second.refs, 2u) << "the cut element is released";
  SAFEARRAYBOUND five{5, 0};
  ASSERT_EQ(SafeArrayRedim(copy, &five), S_OK);
  EXPECT_EQ(elements<IUnknown*>(copy)[0], &first);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(elements<IUnknown*>(copy)[i], nullptr) << i;
  EXPECT_EQ(SafeArrayCopyData(objects, copy), E_INVALIDARG) << "shapes differ";
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(objects), S_OK);
  EXPECT_EQ(first.refs, 1u);
  EXPECT_EQ(second.refs, 1u);

  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 2);
  elements<BSTR>(strings)[1] = SysAllocString(u"Theme.mid");
  SAFEARRAY* strings_copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(strings, &strings_copy), S_OK);
  const BSTR copied = elements<BSTR>(strings_copy)[1];
  EXPECT_NE(copied, elements<BSTR>(strings)[1]);
  EXPECT_EQ(std::u16string(copied), u"Theme.mid");
  EXPECT_EQ(elements<BSTR>(strings_copy)[0], nullptr);
  EXPECT_EQ(SafeArrayDestroy(strings), S_OK);
  EXPECT_EQ(SafeArrayDestroy(strings_copy), S_OK);  // the sanitizers see a double free

  SAFEARRAY* none = objects;
  EXPECT_EQ(SafeArrayCopy(nullptr, &none), S_OK);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(SafeArrayCopy(nullptr, nullptr), E_INVALIDARG);
}

TEST(SafeArray, VariantsOwnTheirArraysAndBytesConvertToAndFromStrings) {
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 5);
  std::memcpy(bytes->pvData, "MThd\x01", 5);
  VARIANT held, copy, text, back;
  VariantInit(&held);
  VariantInit(&copy);
  VariantInit(&text);
  VariantInit(&back);
  held.vt = VT_ARRAY | VT_UI1;
  held.parray = bytes;

  ASSERT_EQ(VariantCopy(&copy, &held), S_OK);
  ASSERT_NE(copy.parray, bytes);
  EXPECT_EQ(std::memcmp(copy.parray->pvData, "MThd\x01", 5), 0);

  ASSERT_EQ(VariantChangeType(&text, &held, 0, VT_BSTR), S_OK);
  EXPECT_EQ(SysStringByteLen(text.bstrVal), 5u);
  ASSERT_EQ(VariantChangeType(&back, &text, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_EQ(back.parray->rgsabound[0].cElements, 5u);
  EXPECT_EQ(std::memcmp(back.parray->pvData, "MThd\x01", 5), 0);
  VARIANT number;
  VariantInit(&number);
  EXPECT_EQ(VariantChangeType(&number, &held, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&number, &held, 0, VT_ARRAY | VT_VOID), DISP_E_BADVARTYPE);

  // Through a reference: converted from, never freed.
  VARIANT by_ref;
  VariantInit(&by_ref);
  by_ref.vt = VT_BYREF | VT_ARRAY | VT_UI1;
  by_ref.pparray = &bytes;
  VARIANT from_ref;
  VariantInit(&from_ref);
  ASSERT_EQ(VariantChangeType(&from_ref, &by_ref, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_NE(from_ref.parray, bytes);
  EXPECT_EQ(VariantClear(&by_ref), S_OK);
  EXPECT_EQ(bytes->cbElements, 1u) << "still there";

  // A locked array keeps its variant.
  ASSERT_EQ(SafeArrayLock(held.parray), S_OK);
  EXPECT_EQ(VariantClear(&held), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(held.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(VariantCopy(&held, &copy), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnlock(held.parray), S_OK);
  for (VARIANT* v : {&held, &copy, &text, &back, &from_ref}) EXPECT_EQ(VariantClear(v), S_OK);
}
