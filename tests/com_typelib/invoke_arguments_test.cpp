// Late-bound calls with byte arrays and objects: what the callee receives, what it may do
// with it, and that every reference and lock Invoke takes is given back, on success and
// on refusal alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/com_typelib/test_object.h"

namespace typelib_test {
namespace {

inline constexpr IID kArgumentsIid = {
    0x5A7C1D24, 0x3B4E, 0x4F61, {0x9A, 0x82, 0x0C, 0x1D, 0x2E, 0x3F, 0x4A, 0x5B}};
enum : DISPID { kSum = 0x60030000, kFill, kHold, kDifference, kClear };

struct ITestArguments : IDispatch {
  virtual HRESULT Sum(SAFEARRAY* data, LONG* result) = 0;
  virtual HRESULT Fill(SAFEARRAY** data, LONG count) = 0;
  virtual HRESULT Hold(IUnknown* object) = 0;
  virtual HRESULT Difference(ITestCalc* calc, LONG* result) = 0;
  virtual HRESULT Clear(IDispatch** object) = 0;

 protected:
  ~ITestArguments() = default;
};

// Records what each method saw; Invoke reaches it through DispInvoke alone.
class TestArguments final : public ITestArguments {
 public:
  explicit TestArguments(ITypeInfo* info) : info_(info) {}
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepinfo, UINT* arg_err) override {
    return DispInvoke(static_cast<ITestArguments*>(this), info_, id, flags, params, result,
                      excepinfo, arg_err);
  }

  HRESULT Sum(SAFEARRAY* data, LONG* result) override {
    ++calls;
    locks_seen = data ? static_cast<int>(data->cLocks) : -1;
    // A borrowed array cannot be taken from the caller while the call lasts.
    destroy_refused = data && SafeArrayDestroy(data) == DISP_E_ARRAYISLOCKED;
    *result = 0;
    const auto* bytes = data ? static_cast<const std::uint8_t*>(data->pvData) : nullptr;
    for (ULONG i = 0; data && i < data->rgsabound[0].cElements; ++i) *result += bytes[i] * (i + 1);
    return S_OK;
  }
  HRESULT Fill(SAFEARRAY** data, LONG count) override {
    ++calls;
    SafeArrayDestroy(*data);
    *data = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
    for (LONG i = 0; i < count; ++i)
      static_cast<std::uint8_t*>((*data)->pvData)[i] = static_cast<std::uint8_t>(10 + i);
    return S_OK;
  }
  HRESULT Hold(IUnknown* object) override {
    ++calls;
    held = object;
    return S_OK;
  }
  HRESULT Difference(ITestCalc* calc, LONG* result) override {
    ++calls;
    return calc ? calc->Subtract(9, 4, result) : E_POINTER;
  }
  HRESULT Clear(IDispatch** object) override {
    ++calls;
    if (*object) (*object)->Release();
    *object = nullptr;
    return S_OK;
  }

  int calls = 0;
  int locks_seen = 0;
  bool destroy_refused = false;
  IUnknown* held = nullptr;

 private:
  ITypeInfo* info_;
};

// An object that answers IUnknown only, with its references counted.
struct PlainObject final : IUnknown {
  HRESULT QueryInterface(REFIID riid, void** object) override {
    *object = riid == IID_IUnknown ? this : nullptr;
    if (!*object) return E_NOINTERFACE;
    ++refs;
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
};

class InvokeArguments : public ::testing::Test {
 protected:
  void SetUp() override {
    ITypeLib* lib = load_test_library();
    ASSERT_NE(lib, nullptr);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(kArgumentsIid, &info_), S_OK);
    lib->Release();
    calc_info_ = test_interface_info();
    target_ = std::make_unique<TestArguments>(info_);
    calc_ = std::make_unique<TestCalc>(calc_info_);
  }
  void TearDown() override {
    calc_.reset();
    target_.reset();
    if (calc_info_) calc_info_->Release();
    if (info_) info_->Release();
  }

  // Calls `id` with `args` given first to last.
  HRESULT call(DISPID id, std::initializer_list<VARIANT> args, VARIANT* result = nullptr) {
    std::vector<VARIANT> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    arg_err_ = 99;
    return target_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, nullptr, &arg_err_);
  }
  static VARIANT value(VARTYPE vt, void* pointer) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.byref = pointer;
    return v;
  }
  static VARIANT number(LONG n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
  }
  static SAFEARRAY* bytes(std::initializer_list<std::uint8_t> values) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 1, static_cast<ULONG>(values.size()));
    std::memcpy(array->pvData, values.begin(), values.size());
    return array;
  }

  ITypeInfo* info_ = nullptr;
  ITypeInfo* calc_info_ = nullptr;
  std::unique_ptr<TestArguments> target_;
  std::unique_ptr<TestCalc> calc_;
  UINT arg_err_ = 0;
};

TEST_F(InvokeArguments, AByteArrayIsLentLockedForTheCallAndChecked) {
  SAFEARRAY* data = bytes({3, 5, 7});
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(call(kSum, {value(VT_ARRAY | VT_UI1, data)}, &result), S_OK);
  EXPECT_EQ(result.lVal, 3 * 1 + 5 * 2 + 7 * 3);
  EXPECT_EQ(target_->locks_seen, 1);
  EXPECT_TRUE(target_->destroy_refused);
  EXPECT_EQ(data->cLocks, 0u);
  // Through a reference to the caller's variable, and from a string's bytes.
  ASSERT_EQ(call(kSum, {value(VT_BYREF | VT_ARRAY | VT_UI1, &data)}, &result), S_OK);
  EXPECT_EQ(result.lVal, 34);
  EXPECT_EQ(data->cLocks, 0u);
  BSTR text = SysAllocStringByteLen("\x01\x02", 2);
  ASSERT_EQ(call(kSum, {value(VT_BSTR, text)}, &result), S_OK);
  EXPECT_EQ(result.lVal, 1 + 2 * 2);
  SysFreeString(text);
  // No array at all is a null array; the callee decides what that means.
  ASSERT_EQ(call(kSum, {value(VT_ARRAY | VT_UI1, nullptr)}, &result), S_OK);
  EXPECT_EQ(target_->locks_seen, -1);

  // Refused before the call: another element type, two dimensions, a number, a bad reference.
  const int calls = target_->calls;
  SAFEARRAY* words = SafeArrayCreateVector(VT_I2, 0, 3);
  SAFEARRAYBOUND square[] = {{2, 0}, {2, 0}};
  SAFEARRAY* matrix = SafeArrayCreate(VT_UI1, 2, square);
  EXPECT_EQ(call(kSum, {value(VT_ARRAY | VT_I2, words)}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(call(kSum, {value(VT_ARRAY | VT_UI1, matrix)}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(call(kSum, {number(4)}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(call(kSum, {value(VT_BYREF | VT_ARRAY | VT_UI1, nullptr)}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err_, 0u);
  EXPECT_EQ(target_->calls, calls);
  for (SAFEARRAY* array : {words, matrix, data}) {
    EXPECT_EQ(array->cLocks, 0u);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  }
}

TEST_F(InvokeArguments, AByReferenceArrayMayBeReplacedByTheCallee) {
  SAFEARRAY* data = bytes({1, 2, 3, 4, 5});
  ASSERT_EQ(call(kFill, {value(VT_BYREF | VT_ARRAY | VT_UI1, &data), number(2)}), S_OK);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->rgsabound[0].cElements, 2u);
  EXPECT_EQ(static_cast<std::uint8_t*>(data->pvData)[1], 11);
  // A by-value array goes as a copy the call frees: the caller's stays as it was.
  SAFEARRAY* kept = data;
  ASSERT_EQ(call(kFill, {value(VT_ARRAY | VT_UI1, data), number(4)}), S_OK);
  EXPECT_EQ(data, kept);
  EXPECT_EQ(data->rgsabound[0].cElements, 2u);
  EXPECT_EQ(SafeArrayDestroy(data), S_OK);
}

TEST_F(InvokeArguments, ObjectsArriveAsTheInterfaceAskedForWithReferencesBalanced) {
  PlainObject plain;
  ASSERT_EQ(call(kHold, {value(VT_UNKNOWN, &plain)}), S_OK);
  EXPECT_EQ(target_->held, &plain);
  EXPECT_EQ(plain.refs, 1u);
  ASSERT_EQ(call(kHold, {value(VT_EMPTY, nullptr)}), S_OK);
  EXPECT_EQ(target_->held, nullptr);

  // A _TestCalc* parameter asks the object for _TestCalc, whatever the caller held.
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(call(kDifference, {value(VT_DISPATCH, static_cast<IDispatch*>(calc_.get()))}, &result),
            S_OK);
  EXPECT_EQ(result.lVal, 5);
  IUnknown* as_unknown = calc_.get();
  ASSERT_EQ(call(kDifference, {value(VT_BYREF | VT_UNKNOWN, &as_unknown)}, &result), S_OK);
  EXPECT_EQ(result.lVal, 5);
  EXPECT_EQ(calc_->Release(), 0u) << "every reference Invoke took was given back";
  calc_->AddRef();

  const int calls = target_->calls;
  EXPECT_EQ(call(kDifference, {value(VT_UNKNOWN, &plain)}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(call(kHold, {number(1)}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(target_->calls, calls);
  EXPECT_EQ(plain.refs, 1u);

  // By reference: the callee works on the caller's variable.
  IDispatch* variable = calc_.get();
  calc_->AddRef();
  ASSERT_EQ(call(kClear, {value(VT_BYREF | VT_DISPATCH, &variable)}), S_OK);
  EXPECT_EQ(variable, nullptr);
  EXPECT_EQ(calc_->Release(), 0u);
  calc_->AddRef();
}

}  // namespace
}  // namespace typelib_test
