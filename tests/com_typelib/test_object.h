// The object behind the test library's _TestCalc interface, and helpers for the tests.
//
// Its function table follows the description: IUnknown (0-2), IDispatch (3-6), three
// reserved entries (7-9), then the methods from entry 10. Each method records what it
// received, so a test can see exactly what Invoke passed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvan/component_runtime.h"
#include "platform/com/auto_string.h"

namespace typelib_test {

inline constexpr GUID kLibid = {
    0x5A7C1D20, 0x3B4E, 0x4F61, {0x9A, 0x82, 0x0C, 0x1D, 0x2E, 0x3F, 0x4A, 0x5B}};
inline constexpr IID kIid = {
    0x5A7C1D21, 0x3B4E, 0x4F61, {0x9A, 0x82, 0x0C, 0x1D, 0x2E, 0x3F, 0x4A, 0x5B}};
inline constexpr CLSID kClsid = {
    0x5A7C1D22, 0x3B4E, 0x4F61, {0x9A, 0x82, 0x0C, 0x1D, 0x2E, 0x3F, 0x4A, 0x5B}};
inline constexpr GUID kPhaseGuid = {
    0x5A7C1D23, 0x3B4E, 0x4F61, {0x9A, 0x82, 0x0C, 0x1D, 0x2E, 0x3F, 0x4A, 0x5B}};

// DISPIDs: 0x60030000 + entry - 7.
enum : DISPID {
  kSubtract = 0x60030003,
  kScale,
  kGreet,
  kConfigure,
  kIsPositive,
  kFail,
  kSetPhase,
  kDescribe,
  kMix,
  kNothing,
  kLabel,
  kEcho,
};

struct ITestCalc : IDispatch {
  virtual HRESULT Reserved7() = 0;
  virtual HRESULT Reserved8() = 0;
  virtual HRESULT Reserved9() = 0;
  virtual HRESULT Subtract(LONG a, LONG b, LONG* result) = 0;
  virtual HRESULT Scale(float value, LONG* factor, float* result) = 0;
  virtual HRESULT Greet(BSTR* name, BSTR* result) = 0;
  virtual HRESULT Configure(LONG* rate, LONG* loops) = 0;
  virtual HRESULT IsPositive(double x, VARIANT_BOOL* result) = 0;
  virtual HRESULT Fail(LONG status) = 0;
  virtual HRESULT SetPhase(LONG phase, LONG* result) = 0;
  virtual HRESULT Describe(VARIANT v, LONG* vt) = 0;
  virtual HRESULT Mix(VARIANT_BOOL flag, SHORT small, double big, double* result) = 0;
  virtual HRESULT Nothing() = 0;
  virtual HRESULT Label(BSTR text, BSTR* result) = 0;
  virtual HRESULT Echo(VARIANT v, VARIANT* result) = 0;

 protected:
  ~ITestCalc() = default;
};

// Loads the test library from this program's own resource section.
ITypeLib* load_test_library();
ITypeInfo* test_interface_info();  // AddRef'd _TestCalc

class TestCalc final : public ITestCalc {
 public:
  explicit TestCalc(ITypeInfo* info) : info_(info) { info_->AddRef(); }
  ~TestCalc() { info_->Release(); }

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return --refs_; }  // lives on the test's stack
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepinfo, UINT* arg_err) override;
  HRESULT Reserved7() override { return E_UNEXPECTED; }
  HRESULT Reserved8() override { return E_UNEXPECTED; }
  HRESULT Reserved9() override { return E_UNEXPECTED; }

  HRESULT Subtract(LONG a, LONG b, LONG* result) override;
  HRESULT Scale(float value, LONG* factor, float* result) override;
  HRESULT Greet(BSTR* name, BSTR* result) override;
  HRESULT Configure(LONG* rate, LONG* loops) override;
  HRESULT IsPositive(double x, VARIANT_BOOL* result) override;
  HRESULT Fail(LONG status) override;
  HRESULT SetPhase(LONG phase, LONG* result) override;
  HRESULT Describe(VARIANT v, LONG* vt) override;
  HRESULT Mix(VARIANT_BOOL flag, SHORT small, double big, double* result) override;
  HRESULT Nothing() override;
  HRESULT Label(BSTR text, BSTR* result) override;
  HRESULT Echo(VARIANT v, VARIANT* result) override;

  // What the last call received.
  int calls = 0;
  LONG rate = 0;
  bool loops_null = false;
  LONG loops = 0;
  LONG* factor_address = nullptr;
  LONG phase = 0;
  std::u16string text;
  VARIANT described{};

 private:
  ITypeInfo* info_;
  ULONG refs_ = 1;
};

// Arguments in the order a client writes them; params() hands them over reversed, as
// DISPPARAMS carries them.
class Args {
 public:
  Args() = default;
  ~Args();
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;

  Args& i4(LONG v);
  Args& i2(SHORT v);
  Args& r4(float v);
  Args& r8(double v);
  Args& boolean(bool v);
  Args& text(const char16_t* v);
  Args& omitted();
  Args& byref_i4(LONG* v);
  Args& byref_bstr(BSTR* v);
  Args& byref_r4(float* v);
  Args& byref_variant(VARIANT* v);
  Args& empty();
  DISPPARAMS* params();

 private:
  Args& push(const VARIANT& v);
  std::vector<VARIANT> natural_;
  std::vector<VARIANT> reversed_;
  DISPPARAMS params_{};
};

// Frees a BSTR on scope exit.
struct BstrHolder {
  BSTR value = nullptr;
  ~BstrHolder() { SysFreeString(value); }
  std::u16string text() const { return value ? std::u16string(value, SysStringLen(value)) : u""; }
};

}  // namespace typelib_test
