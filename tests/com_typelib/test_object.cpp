#include "tests/com_typelib/test_object.h"

#include <cstring>

namespace typelib_test {

ITypeLib* load_test_library() {
  ITypeLib* lib = nullptr;
  const HRESULT hr = LoadTypeLib(u"/proc/self/exe", &lib);
  EXPECT_EQ(hr, S_OK);
  return lib;
}

ITypeInfo* test_interface_info() {
  ITypeLib* lib = load_test_library();
  if (!lib) return nullptr;
  ITypeInfo* info = nullptr;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(kIid, &info), S_OK);
  lib->Release();
  return info;
}

HRESULT TestCalc::QueryInterface(REFIID riid, void** object) {
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIid) {
    *object = static_cast<ITestCalc*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT TestCalc::GetTypeInfoCount(UINT* count) {
  *count = 1;
  return S_OK;
}

HRESULT TestCalc::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (index != 0) return DISP_E_BADINDEX;
  info_->AddRef();
  *info = info_;
  return S_OK;
}

HRESULT TestCalc::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  return DispGetIDsOfNames(info_, names, count, ids);
}

HRESULT TestCalc::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* excepinfo, UINT* arg_err) {
  return DispInvoke(static_cast<ITestCalc*>(this), info_, id, flags, params, result, excepinfo,
                    arg_err);
}

HRESULT TestCalc::Subtract(LONG a, LONG b, LONG* result) {
  ++calls;
  *result = a - b;
  return S_OK;
}

HRESULT TestCalc::Scale(float value, LONG* factor, float* result) {
  ++calls;
  factor_address = factor;
  *result = value * static_cast<float>(*factor);
  *factor += 1;  // an [in, out] parameter: the caller's variable sees this
  return S_OK;
}

HRESULT TestCalc::Greet(BSTR* name, BSTR* result) {
  ++calls;
  text.assign(*name, SysStringLen(*name));
  const std::u16string greeting = u"Hello, " + text;
  *result = SysAllocStringLen(greeting.data(), static_cast<UINT>(greeting.size()));
  return S_OK;
}

HRESULT TestCalc::Configure(LONG* rate_in, LONG* loops_in) {
  ++calls;
  rate = rate_in ? *rate_in : -1;
  loops_null = loops_in == nullptr;
  loops = loops_in ? *loops_in : -1;
  return S_OK;
}

HRESULT TestCalc::IsPositive(double x, VARIANT_BOOL* result) {
  ++calls;
  *result = x > 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT TestCalc::Fail(LONG status) {
  ++calls;
  return status;
}

HRESULT TestCalc::SetPhase(LONG phase_in, LONG* result) {
  ++calls;
  phase = phase_in;
  *result = phase_in * 10;
  return S_OK;
}

HRESULT TestCalc::Describe(VARIANT v, LONG* vt) {
  ++calls;
  described = v;
  *vt = v.vt;
  return S_OK;
}

HRESULT TestCalc::Mix(VARIANT_BOOL flag, SHORT small, double big, double* result) {
  ++calls;
  *result = (flag ? 1000.0 : 0.0) + small + big;
  return S_OK;
}

HRESULT TestCalc::Nothing() {
  ++calls;
  return S_OK;
}

HRESULT TestCalc::Label(BSTR label, BSTR* result) {
  ++calls;
  text.assign(label ? label : u"", label ? SysStringLen(label) : 0);
  *result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return S_OK;
}

HRESULT TestCalc::Echo(VARIANT v, VARIANT* result) {
  ++calls;
  return VariantCopy(result, &v);
}

Args::~Args() {
  for (VARIANT& v : natural_) VariantClear(&v);
}

Args& Args::push(const VARIANT& v) {
  natural_.push_back(v);
  return *this;
}

Args& Args::i4(LONG v) {
  VARIANT x{};
  x.vt = VT_I4;
  x.lVal = v;
  return push(x);
}
Args& Args::i2(SHORT v) {
  VARIANT x{};
  x.vt = VT_I2;
  x.iVal = v;
  return push(x);
}
Args& Args::r4(float v) {
  VARIANT x{};
  x.vt = VT_R4;
  x.fltVal = v;
  return push(x);
}
Args& Args::r8(double v) {
  VARIANT x{};
  x.vt = VT_R8;
  x.dblVal = v;
  return push(x);
}
Args& Args::boolean(bool v) {
  VARIANT x{};
  x.vt = VT_BOOL;
  x.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
  return push(x);
}
Args& Args::text(const char16_t* v) {
  VARIANT x{};
  x.vt = VT_BSTR;
  x.bstrVal = SysAllocString(v);
  return push(x);
}
Args& Args::omitted() {
  VARIANT x{};
  x.vt = VT_ERROR;
  x.scode = DISP_E_PARAMNOTFOUND;
  return push(x);
}
Args& Args::byref_i4(LONG* v) {
  VARIANT x{};
  x.vt = VT_I4 | VT_BYREF;
  x.plVal = v;
  return push(x);
}
Args& Args::byref_bstr(BSTR* v) {
  VARIANT x{};
  x.vt = VT_BSTR | VT_BYREF;
  x.pbstrVal = v;
  return push(x);
}
Args& Args::byref_r4(float* v) {
  VARIANT x{};
  x.vt = VT_R4 | VT_BYREF;
  x.pfltVal = v;
  return push(x);
}
Args& Args::byref_variant(VARIANT* v) {
  VARIANT x{};
  x.vt = VT_VARIANT | VT_BYREF;
  x.pvarVal = v;
  return push(x);
}
Args& Args::empty() {
  VARIANT x{};
  return push(x);
}

DISPPARAMS* Args::params() {
  reversed_.assign(natural_.rbegin(), natural_.rend());
  params_.rgvarg = reversed_.empty() ? nullptr : reversed_.data();
  params_.cArgs = static_cast<UINT>(reversed_.size());
  params_.cNamedArgs = 0;
  params_.rgdispidNamedArgs = nullptr;
  return &params_;
}

}  // namespace typelib_test
