// Late-bound calls through IDispatch, answered by DispInvoke from the test library alone.
#include <gtest/gtest.h>

#include <vector>

#include "platform/com/status.h"
#include "tests/com_typelib/test_object.h"

namespace typelib_test {
namespace {

class InvokeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    info_ = test_interface_info();
    ASSERT_NE(info_, nullptr);
    calc_ = std::make_unique<TestCalc>(info_);
  }
  void TearDown() override {
    calc_.reset();
    if (info_) info_->Release();
  }

  HRESULT call(DISPID id, Args& args, VARIANT* result = nullptr, WORD flags = DISPATCH_METHOD) {
    arg_err_ = 12345;
    return calc_->Invoke(id, IID_NULL, 0, flags, args.params(), result, &excep_, &arg_err_);
  }
  DISPID id_of(const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    EXPECT_EQ(calc_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    return id;
  }

  ITypeInfo* info_ = nullptr;
  std::unique_ptr<TestCalc> calc_;
  EXCEPINFO excep_{};
  UINT arg_err_ = 0;
};

TEST_F(InvokeTest, NamesMapToDispidsWithoutRegardToCaseAndUnknownNamesAreRefused) {
  EXPECT_EQ(id_of(u"Subtract"), kSubtract);
  EXPECT_EQ(id_of(u"sUBTRACT"), kSubtract);
  EXPECT_EQ(id_of(u"label"), kLabel);
  // Parameter names come back as their positions.
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"scale"), const_cast<LPOLESTR>(u"FACTOR"),
                      const_cast<LPOLESTR>(u"value")};
  DISPID ids[3] = {};
  EXPECT_EQ(calc_->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
  EXPECT_EQ(ids[0], kScale);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 0);
  // An inherited name is answered by the base interface in stdole2.
  LPOLESTR inherited[] = {const_cast<LPOLESTR>(u"GetTypeInfoCount")};
  DISPID id = 0;
  EXPECT_EQ(calc_->GetIDsOfNames(IID_NULL, inherited, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 0x60010000);

  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"Subtrakt"), const_cast<LPOLESTR>(u"a")};
  DISPID out[2] = {7, 7};
  EXPECT_EQ(calc_->GetIDsOfNames(IID_NULL, unknown, 2, 0, out), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(out[0], DISPID_UNKNOWN);
  EXPECT_EQ(out[1], DISPID_UNKNOWN);
  LPOLESTR bad_param[] = {const_cast<LPOLESTR>(u"Subtract"), const_cast<LPOLESTR>(u"c")};
  EXPECT_EQ(calc_->GetIDsOfNames(IID_NULL, bad_param, 2, 0, out), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(out[0], kSubtract);
  EXPECT_EQ(out[1], DISPID_UNKNOWN);
}

TEST_F(InvokeTest, ArgumentsArriveInDeclarationOrderAndTheResultComesBack) {
  Args args;
  args.i4(10).i4(3);
  VARIANT result{};
  ASSERT_EQ(call(kSubtract, args, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 7);  // 10 - 3, not 3 - 10

  // A call with METHOD|PROPERTYGET, as scripting clients send for a function, also works.
  Args again;
  again.i4(1).i4(5);
  ASSERT_EQ(call(kSubtract, again, &result, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
  EXPECT_EQ(result.lVal, -4);

  Args none;
  ASSERT_EQ(call(kNothing, none, &result), S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY);
  EXPECT_EQ(calc_->calls, 3);
}

TEST_F(InvokeTest, ByReferenceParametersGetTheCallersVariableOrATemporary) {
  // VT_I4|VT_BYREF of the right type: the callee works on the caller's own variable.
  LONG factor = 4;
  Args byref;
  byref.r4(2.5f).byref_i4(&factor);
  VARIANT result{};
  ASSERT_EQ(call(kScale, byref, &result), S_OK);
  EXPECT_EQ(result.vt, VT_R4);
  EXPECT_FLOAT_EQ(result.fltVal, 10.0f);
  EXPECT_EQ(calc_->factor_address, &factor);
  EXPECT_EQ(factor, 5);

  // A by-value argument goes into a temporary, converted: the double 3.0 as a long.
  Args byvalue;
  byvalue.r4(2.0f).r8(3.0);
  ASSERT_EQ(call(kScale, byvalue, &result), S_OK);
  EXPECT_FLOAT_EQ(result.fltVal, 6.0f);
  EXPECT_NE(calc_->factor_address, nullptr);

  // VT_VARIANT|VT_BYREF is read through: here to a VARIANT holding a long by value.
  VARIANT inner{};
  inner.vt = VT_I4;
  inner.lVal = 7;
  Args through;
  through.r4(1.0f).byref_variant(&inner);
  ASSERT_EQ(call(kScale, through, &result), S_OK);
  EXPECT_FLOAT_EQ(result.fltVal, 7.0f);

  // A reference to a variable of another type cannot be passed as a long*.
  float wrong = 1;
  Args mismatch;
  mismatch.r4(1.0f).byref_r4(&wrong);
  EXPECT_EQ(call(kScale, mismatch, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err_, 0u);  // rgvarg[0] is the last argument

  // Strings by reference: the callee reads the caller's BSTR; the BSTR result is the caller's.
  BSTR name = SysAllocString(u"Ann");
  Args text;
  text.byref_bstr(&name);
  VARIANT greeting{};
  ASSERT_EQ(call(kGreet, text, &greeting), S_OK);
  EXPECT_EQ(greeting.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(greeting.bstrVal), u"Hello, Ann");
  VariantClear(&greeting);
  SysFreeString(name);
}

TEST_F(InvokeTest, ScriptingTypesAreCoercedToTheParameterTypes) {
  VARIANT result{};
  struct Case {
    const char* what;
    void (*fill)(Args&);
    double expected;
  };
  const Case cases[] = {
      {"bool, short, double", [](Args& a) { a.boolean(true).i2(2).r8(0.5); }, 1002.5},
      {"long for bool", [](Args& a) { a.i4(0).i2(2).r8(0.5); }, 2.5},
      {"numeric string for short", [](Args& a) { a.boolean(false).text(u" 12 ").r8(0); }, 12},
      {"float for double", [](Args& a) { a.boolean(false).i2(0).r4(0.25f); }, 0.25},
      {"long for short", [](Args& a) { a.boolean(false).i4(-300).r8(0); }, -300},
      {"string for double", [](Args& a) { a.boolean(false).i2(0).text(u"1.5e2"); }, 150},
      {"half to even", [](Args& a) { a.boolean(false).r8(2.5).r8(0); }, 2},
      {"empty is zero", [](Args& a) { a.empty().empty().r8(1); }, 1},
      {"string bool", [](Args& a) { a.text(u"True").i2(0).r8(0); }, 1000},
  };
  for (const Case& c : cases) {
    Args args;
    c.fill(args);
    ASSERT_EQ(call(kMix, args, &result), S_OK) << c.what;
    EXPECT_EQ(result.vt, VT_R8) << c.what;
    EXPECT_DOUBLE_EQ(result.dblVal, c.expected) << c.what;
  }

  // Failures name the argument by its index in rgvarg (last argument first).
  Args not_a_number;
  not_a_number.boolean(false).text(u"twelve").r8(0);
  EXPECT_EQ(call(kMix, not_a_number, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err_, 1u);
  Args too_big;
  too_big.boolean(false).i4(70000).r8(0);
  EXPECT_EQ(call(kMix, too_big, &result), DISP_E_OVERFLOW);
  EXPECT_EQ(arg_err_, 1u);
  Args null_value;
  VARIANT null_variant{};
  null_variant.vt = VT_NULL;
  null_value.boolean(false).i2(0).byref_variant(&null_variant);
  EXPECT_EQ(call(kMix, null_value, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err_, 0u);

  // An enum parameter takes a long, or anything that converts to one.
  Args phase;
  phase.text(u"4");
  ASSERT_EQ(call(kSetPhase, phase, &result), S_OK);
  EXPECT_EQ(calc_->phase, 4);
  EXPECT_EQ(result.lVal, 40);

  // A VARIANT result comes back whole, with its own type.
  Args echo;
  echo.text(u"round");
  VARIANT echoed{};
  ASSERT_EQ(call(kEcho, echo, &echoed), S_OK);
  ASSERT_EQ(echoed.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(echoed.bstrVal), u"round");
  VariantClear(&echoed);

  Args positive;
  positive.i4(3);
  ASSERT_EQ(call(kIsPositive, positive, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
}

TEST_F(InvokeTest, OmittedOptionalParametersTakeTheirDefaultOrTheOmittedValue) {
  // No arguments at all: SampleRate has 48000 in the library, Loops has no default and
  // arrives as a null pointer.
  Args none;
  ASSERT_EQ(call(kConfigure, none), S_OK);
  EXPECT_EQ(calc_->rate, 48000);
  EXPECT_TRUE(calc_->loops_null);

  // The explicit "missing" marker means the same.
  Args marked;
  marked.omitted().omitted();
  ASSERT_EQ(call(kConfigure, marked), S_OK);
  EXPECT_EQ(calc_->rate, 48000);
  EXPECT_TRUE(calc_->loops_null);

  // Given values win.
  LONG loops = 3;
  Args given;
  given.i4(22050).byref_i4(&loops);
  ASSERT_EQ(call(kConfigure, given), S_OK);
  EXPECT_EQ(calc_->rate, 22050);
  EXPECT_FALSE(calc_->loops_null);
  EXPECT_EQ(calc_->loops, 3);

  // A VARIANT parameter without a default receives the platform's omitted value.
  VARIANT result{};
  Args no_variant;
  ASSERT_EQ(call(kDescribe, no_variant, &result), S_OK);
  EXPECT_EQ(result.lVal, VT_ERROR);
  EXPECT_EQ(calc_->described.scode, DISP_E_PARAMNOTFOUND);
  Args some_variant;
  some_variant.r4(1.0f);
  ASSERT_EQ(call(kDescribe, some_variant, &result), S_OK);
  EXPECT_EQ(result.lVal, VT_R4);
  EXPECT_FLOAT_EQ(calc_->described.fltVal, 1.0f);

  // A string default comes from the library as well.
  Args no_label;
  VARIANT label{};
  ASSERT_EQ(call(kLabel, no_label, &label), S_OK);
  EXPECT_EQ(calc_->text, u"none");
  EXPECT_EQ(std::u16string(label.bstrVal), u"none");
  VariantClear(&label);
}

TEST_F(InvokeTest, EveryCallerMistakeHasItsStatusAndNothingIsCalled) {
  VARIANT result{};
  Args two;
  two.i4(1).i4(2);
  EXPECT_EQ(call(0x60039999, two, &result), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(call(kSubtract, two, &result, DISPATCH_PROPERTYPUT), DISP_E_MEMBERNOTFOUND);

  Args three;
  three.i4(1).i4(2).i4(3);
  EXPECT_EQ(call(kSubtract, three, &result), DISP_E_BADPARAMCOUNT);
  Args one;
  one.i4(1);
  EXPECT_EQ(call(kSubtract, one, &result), DISP_E_BADPARAMCOUNT);
  Args missing;
  missing.i4(1).omitted();
  EXPECT_EQ(call(kSubtract, missing, &result), DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(calc_->calls, 0);
}

// A call as a client with keyword arguments makes it: the positional arguments in order,
// then (position, value) pairs. rgvarg holds the named ones first, the positional ones after
// them, last first.
class NamedCall {
 public:
  NamedCall& positional(VARIANT v) {
    positional_.push_back(v);
    return *this;
  }
  NamedCall& named(DISPID position, VARIANT v) {
    names_.push_back(position);
    named_.push_back(v);
    return *this;
  }
  DISPPARAMS* params() {
    args_ = named_;
    args_.insert(args_.end(), positional_.rbegin(), positional_.rend());
    params_ = {args_.data(), names_.empty() ? nullptr : names_.data(),
               static_cast<UINT>(args_.size()), static_cast<UINT>(names_.size())};
    return &params_;
  }

 private:
  std::vector<VARIANT> positional_, named_, args_;
  std::vector<DISPID> names_;
  DISPPARAMS params_{};
};

VARIANT i4(LONG value) {
  VARIANT v{};
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}
VARIANT r8(double value) {
  VARIANT v{};
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}

TEST_F(InvokeTest, NamedArgumentsReachTheParametersTheyName) {
  const auto invoke = [&](DISPID id, NamedCall& named_call, VARIANT* result) {
    arg_err_ = 12345;
    return calc_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, named_call.params(), result, &excep_,
                         &arg_err_);
  };
  VARIANT result{};
  NamedCall reversed;  // Subtract(b := 3, a := 10)
  reversed.named(1, i4(3)).named(0, i4(10));
  ASSERT_EQ(invoke(kSubtract, reversed, &result), S_OK);
  EXPECT_EQ(result.lVal, 7);

  // Mix(true, Big := 2.5, Small := 4): swapped, Small would get 2 and Big 4.
  VARIANT flag{};
  flag.vt = VT_BOOL;
  flag.boolVal = VARIANT_TRUE;
  NamedCall mixed;
  mixed.positional(flag).named(2, r8(2.5)).named(1, i4(4));
  ASSERT_EQ(invoke(kMix, mixed, &result), S_OK);
  EXPECT_EQ(result.vt, VT_R8);
  EXPECT_DOUBLE_EQ(result.dblVal, 1006.5);

  // Configure(Loops := 5): the optional parameter before it takes its default.
  NamedCall skipping;
  skipping.named(1, i4(5));
  ASSERT_EQ(invoke(kConfigure, skipping, nullptr), S_OK);
  EXPECT_EQ(calc_->rate, 48000);
  EXPECT_FALSE(calc_->loops_null);
  EXPECT_EQ(calc_->loops, 5);

  // A named argument that cannot be converted is reported by its own index in rgvarg.
  VARIANT word{};
  word.vt = VT_BSTR;
  word.bstrVal = SysAllocString(u"many");
  NamedCall bad_value;
  bad_value.positional(i4(1)).named(1, word);
  EXPECT_EQ(invoke(kSubtract, bad_value, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err_, 0u);
  SysFreeString(word.bstrVal);
  EXPECT_EQ(calc_->calls, 3);
}

TEST_F(InvokeTest, UnknownRepeatedOrMisplacedNamesAreRefusedBeforeTheCall) {
  struct Case {
    const char* what;
    std::vector<LONG> positional;
    std::vector<DISPID> names;
    HRESULT status;
    UINT arg_err;  // 12345: not set
  };
  const Case cases[] = {
      {"a position past the inputs (the result)", {}, {0, 2}, DISP_E_PARAMNOTFOUND, 1},
      {"a negative position", {}, {-7, 0}, DISP_E_PARAMNOTFOUND, 0},
      {"the same name twice", {}, {1, 1}, DISP_E_PARAMNOTFOUND, 1},
      {"a name the positional arguments already gave", {10}, {0}, DISP_E_PARAMNOTFOUND, 0},
      {"the property-put name on a method", {10}, {DISPID_PROPERTYPUT}, DISP_E_PARAMNOTFOUND, 0},
      {"a required parameter left out", {}, {1}, DISP_E_BADPARAMCOUNT, 12345},
      {"more arguments than inputs", {10, 3}, {1}, DISP_E_BADPARAMCOUNT, 12345},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NamedCall named_call;
    for (LONG v : c.positional) named_call.positional(i4(v));
    for (DISPID position : c.names) named_call.named(position, i4(1));
    VARIANT result{};
    arg_err_ = 12345;
    EXPECT_EQ(calc_->Invoke(kSubtract, IID_NULL, 0, DISPATCH_METHOD, named_call.params(), &result,
                            &excep_, &arg_err_),
              c.status);
    EXPECT_EQ(arg_err_, c.arg_err);
  }
  // More names than arguments, or names without their array, is a malformed DISPPARAMS.
  VARIANT one = i4(1);
  DISPID ids[] = {0, 1};
  DISPPARAMS too_many_names{&one, ids, 1, 2};
  EXPECT_EQ(calc_->Invoke(kSubtract, IID_NULL, 0, DISPATCH_METHOD, &too_many_names, nullptr,
                          nullptr, nullptr),
            E_INVALIDARG);
  DISPPARAMS no_array{&one, nullptr, 1, 1};
  EXPECT_EQ(
      calc_->Invoke(kSubtract, IID_NULL, 0, DISPATCH_METHOD, &no_array, nullptr, nullptr, nullptr),
      E_INVALIDARG);
  EXPECT_EQ(calc_->calls, 0);
}

TEST_F(InvokeTest, AFailingMethodBecomesAnExceptionWithItsStatusAndText) {
  Args args;
  args.i4(static_cast<LONG>(orvan::com::E_INVALIDARG));
  ASSERT_EQ(call(kFail, args), DISP_E_EXCEPTION);
  EXPECT_EQ(excep_.scode, orvan::com::E_INVALIDARG);
  ASSERT_NE(excep_.bstrDescription, nullptr);
  EXPECT_EQ(std::u16string(excep_.bstrDescription), u"The parameter is incorrect.");
  ASSERT_NE(excep_.bstrSource, nullptr);
  EXPECT_EQ(std::u16string(excep_.bstrSource), u"TypeLibTest._TestCalc");
  SysFreeString(excep_.bstrDescription);
  SysFreeString(excep_.bstrSource);

  // A success status other than S_OK is still success.
  Args qualified;
  qualified.i4(S_FALSE);
  EXPECT_EQ(call(kFail, qualified), S_OK);
}

TEST(DispCallFunc, CallsAPlainFunctionAndAFunctionTableEntry) {
  struct Plain {
    static double combine(std::int32_t a, float b, double c, std::int16_t d) {
      return a * 1000.0 + b * 100.0 + c + d;
    }
  };
  VARIANT a{}, b{}, c{}, d{};
  a.vt = VT_I4;
  a.lVal = 2;
  b.vt = VT_R4;
  b.fltVal = 0.5f;
  c.vt = VT_R8;
  c.dblVal = 7.25;
  d.vt = VT_I2;
  d.iVal = -1;
  VARTYPE types[] = {VT_I4, VT_R4, VT_R8, VT_I2};
  VARIANTARG* args[] = {&a, &b, &c, &d};
  VARIANT result{};
  ASSERT_EQ(DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&Plain::combine), CC_STDCALL, VT_R8,
                         4, types, args, &result),
            S_OK);
  EXPECT_EQ(result.vt, VT_R8);
  EXPECT_DOUBLE_EQ(result.dblVal, 2056.25);

  ITypeInfo* info = test_interface_info();
  ASSERT_NE(info, nullptr);
  TestCalc calc(info);
  LONG out = 0;
  VARIANT x{}, y{}, r{};
  x.vt = VT_I4;
  x.lVal = 9;
  y.vt = VT_I4;
  y.lVal = 4;
  r.vt = VT_I4 | VT_BYREF;
  r.plVal = &out;
  VARTYPE entry_types[] = {VT_I4, VT_I4, VT_I4 | VT_BYREF};
  VARIANTARG* entry_args[] = {&x, &y, &r};
  ASSERT_EQ(DispCallFunc(static_cast<ITestCalc*>(&calc), 10 * sizeof(void*), CC_STDCALL, VT_HRESULT,
                         3, entry_types, entry_args, &result),
            S_OK);
  EXPECT_EQ(result.vt, VT_HRESULT);
  EXPECT_EQ(result.lVal, S_OK);
  EXPECT_EQ(out, 5);
  EXPECT_EQ(DispCallFunc(&calc, 3, CC_STDCALL, VT_HRESULT, 0, nullptr, nullptr, &result),
            E_INVALIDARG);  // not an entry boundary
  EXPECT_EQ(DispCallFunc(&calc, 0, CC_PASCAL, VT_HRESULT, 0, nullptr, nullptr, &result),
            E_INVALIDARG);
  info->Release();
}

}  // namespace
}  // namespace typelib_test
