// Late binding: every method called by name through IDispatch, with the DISPIDs and argument
// kinds of the hand-written member table; defaults of omitted arguments seen in the engine;
// bad calls answered with their dispatch status and without touching the engine.
#include <cmath>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "platform/com/auto_string.h"
#include "tests/component/component_fixture.h"
#include "tests/component/member_table.h"
#include "tests/support/dls_writer.h"

namespace orvan::component_test {
namespace {

constexpr HRESULT kUnknownInterface = static_cast<HRESULT>(0x80020001u);

class DispatchTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    if (HasFatalFailure()) return;
    music_ = create();
    ASSERT_TRUE(music_);
    ASSERT_EQ(music_->QueryInterface(IID_IDispatch, dispatch_.out_void()), S_OK);
  }
  void TearDown() override {
    dispatch_.reset();
    music_.reset();
    ComponentTest::TearDown();
  }

  DISPID id_of(const std::string& name, HRESULT* status = nullptr) {
    std::u16string wide = com::utf8_to_utf16(name);
    LPOLESTR names[1] = {wide.data()};
    DISPID id = 0;
    const HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (status) *status = hr;
    return id;
  }

  // Calls a method with its arguments in declaration order (DISPPARAMS takes them reversed).
  HRESULT call(DISPID id, std::vector<VARIANT> args, VARIANT* result = nullptr,
               UINT* arg_err = nullptr, EXCEPINFO* excepinfo = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                      static_cast<UINT>(reversed.size()), 0};
    return dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                             excepinfo, arg_err);
  }

  static VARIANT i4(LONG value) {
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = value;
    return v;
  }
  static VARIANT omitted() {
    VARIANT v{};
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
  }

  LONG volume() {
    LONG v = 0;
    EXPECT_EQ(music_->GetMasterVolume(&v), S_OK);
    return v;
  }

  ComPtr<_OrvanMusic> music_;
  ComPtr<IDispatch> dispatch_;
};

// One call of the scenario: the method and the values of its inputs in declaration order.
using Input = std::variant<LONG, float, std::string>;
struct Step {
  std::string method;
  std::vector<Input> inputs;
  std::variant<std::monostate, LONG, float, VARIANT_BOOL> expect;  // the result, when checked
};

TEST_F(DispatchTest, AllFiftyMethodsByNameWithTheTableDispidsAndArgumentKinds) {
  const std::vector<TableMember> table = read_member_table();
  std::map<std::string, const TableMember*> by_name;
  for (const TableMember& m : table) by_name[m.name] = &m;

  UINT count = 0;
  ASSERT_EQ(dispatch_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), S_OK);
  EXPECT_EQ(dispatch_->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.out()), DISP_E_BADINDEX);

  const std::string dls = (dir_ / "sine.dls").string();
  ASSERT_TRUE(test::save_bytes(dls, test::write_dls(test::sine_and_square_collection())));
  const VARIANT_BOOL yes = VARIANT_TRUE;
  // A channel's whole life, every method once, in an order in which each one succeeds.
  const std::vector<Step> scenario = {
      {"InitOrvanAudio", {LONG{0}, LONG{48000}}, {}},
      {"Music_Load", {organ_.string()}, {}},
      {"Music_Play", {LONG{2}}, {}},
      {"GetLengh", {}, LONG{8 * 768}},
      {"GetCurrentPosition", {}, {}},
      {"GetRepeats", {}, LONG{2}},
      {"SetPosition", {LONG{768}}, {}},
      {"IsPlaying", {}, yes},
      {"Effect_DistortionOn", {}, {}},
      {"Effect_ChorusOn", {}, {}},
      {"Effect_ReverbOn", {}, {}},
      {"Effect_3DReverb_On", {}, {}},
      {"SetFX_Dist_Gain", {-20.0f}, yes},
      {"SetFX_Dist_Edge", {50.0f}, yes},
      {"SetFX_Dist_PostEQBandwidth", {2400.0f}, yes},
      {"SetFX_Dist_PostEQCenterFrequency", {2400.0f}, yes},
      {"SetFX_Dist_PreLowpassCutoff", {8000.0f}, yes},
      {"SetFX_Cho_Feedback", {25.0f}, yes},
      {"SetFX_Cho_Delay", {16.0f}, yes},
      {"SetFX_Cho_Depth", {10.0f}, yes},
      {"SetFX_Cho_Frequency", {1.1f}, yes},
      {"SetFX_Cho_WetDryMix", {50.0f}, yes},
      {"SetFX_Cho_Phase", {LONG{OSFX_PHASE_90}}, yes},
      {"SetFX_Cho_Waveform", {LONG{OSFX_WAVE_TRIANGLE}}, yes},
      {"SetFX_Rev_Gain", {-3.0f}, yes},
      {"SetFX_Rev_Mix", {-6.0f}, yes},
      {"SetFX_Rev_Time", {1000.0f}, yes},
      {"SetFX_Rev_HighFreqRTRatio", {0.5f}, yes},
      {"SetFX_Rev3D_DecayHFRatio", {0.83f}, yes},
      {"SetFX_Rev3D_DecayTime", {1.49f}, yes},
      {"SetFX_Rev3D_Density", {100.0f}, yes},
      {"SetFX_Rev3D_Diffusion", {100.0f}, yes},
      {"SetFX_Rev3D_HFReference", {5000.0f}, yes},
      {"SetFX_Rev3D_ReflectionsDelay", {0.007f}, yes},
      {"SetFX_Rev3D_ReverbDelay", {0.011f}, yes},
      {"SetFX_Rev3D_RoomRolloffFactor", {0.0f}, yes},
      {"SetFX_Rev3D_Reflections", {LONG{-2602}}, yes},
      {"SetFX_Rev3D_Reverb", {LONG{200}}, yes},
      {"SetFX_Rev3D_Room", {LONG{-1000}}, yes},
      {"SetFX_Rev3D_RoomHF", {LONG{-100}}, yes},
      {"Effect_Clear", {}, {}},
      {"SetMasterTempo", {1.5f}, {}},
      {"SetMasterVolume", {LONG{-500}}, {}},
      {"GetMasterTempo", {}, 1.5f},
      {"GetMasterVolume", {}, LONG{-500}},
      {"Change_MaxDLS", {LONG{20}}, {}},
      {"LoadDLS", {dls, LONG{3}}, {}},
      {"ApplyDLS", {LONG{3}}, {}},
      {"Music_Stop", {}, {}},
      {"CleanupAudio", {}, {}},
  };

  std::map<std::string, int> called;
  for (const Step& step : scenario) {
    SCOPED_TRACE(step.method);
    ASSERT_TRUE(by_name.count(step.method));
    const TableMember& member = *by_name.at(step.method);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(id_of(step.method, &hr), member.dispid);
    EXPECT_EQ(hr, S_OK);
    ASSERT_EQ(step.inputs.size(), member.params.size());

    // Arguments of the kinds the member table gives: a reference to the caller's own
    // variable for by-reference parameters, the value itself otherwise.
    std::vector<LONG> longs(step.inputs.size());
    std::vector<float> floats(step.inputs.size());
    std::vector<BSTR> strings(step.inputs.size(), nullptr);
    std::vector<VARIANT> args(step.inputs.size());
    for (std::size_t i = 0; i < step.inputs.size(); ++i) {
      const TableParam& p = member.params[i];
      VARIANT& v = args[i];
      if (p.type == "BSTR") {
        strings[i] =
            SysAllocString(com::utf8_to_utf16(std::get<std::string>(step.inputs[i])).c_str());
        v.vt = VT_BSTR | VT_BYREF;
        v.pbstrVal = &strings[i];
      } else if (p.type == "R4") {
        floats[i] = std::get<float>(step.inputs[i]);
        v.vt = p.by_ref ? VT_R4 | VT_BYREF : VT_R4;
        if (p.by_ref) {
          v.pfltVal = &floats[i];
        } else {
          v.fltVal = floats[i];
        }
      } else {  // I4 and the two enums
        longs[i] = std::get<LONG>(step.inputs[i]);
        v.vt = p.by_ref ? VT_I4 | VT_BYREF : VT_I4;
        if (p.by_ref) {
          v.plVal = &longs[i];
        } else {
          v.lVal = longs[i];
        }
      }
    }
    VARIANT result{};
    EXCEPINFO error{};
    hr = call(member.dispid, args, &result, nullptr, &error);
    EXPECT_EQ(hr, S_OK) << std::hex << "0x" << static_cast<unsigned>(hr) << " scode 0x"
                        << static_cast<unsigned>(error.scode);
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrHelpFile);
    // By-reference inputs are only read.
    for (std::size_t i = 0; i < step.inputs.size(); ++i) {
      if (!member.params[i].by_ref) continue;
      if (member.params[i].type == "I4") {
        EXPECT_EQ(longs[i], std::get<LONG>(step.inputs[i]));
      } else if (member.params[i].type == "R4") {
        EXPECT_EQ(floats[i], std::get<float>(step.inputs[i]));
      } else if (member.params[i].type == "BSTR") {
        EXPECT_EQ(com::utf16_to_utf8(strings[i]), std::get<std::string>(step.inputs[i]));
      }
    }
    for (BSTR s : strings) SysFreeString(s);

    const VARTYPE want_vt = member.result == "I4"     ? VT_I4
                            : member.result == "R4"   ? VT_R4
                            : member.result == "R8"   ? VT_R8
                            : member.result == "BOOL" ? VT_BOOL
                                                      : VT_EMPTY;
    EXPECT_EQ(result.vt, want_vt);
    if (const auto* l = std::get_if<LONG>(&step.expect)) {
      EXPECT_EQ(result.lVal, *l);
    } else if (const auto* f = std::get_if<float>(&step.expect)) {
      EXPECT_FLOAT_EQ(result.fltVal, *f);
    } else if (const auto* b = std::get_if<VARIANT_BOOL>(&step.expect)) {
      EXPECT_EQ(result.boolVal, *b);
    }
    VariantClear(&result);
    ++called[step.method];
  }
  // Every member of the table, each exactly once.
  EXPECT_EQ(called.size(), table.size());
  for (const TableMember& m : table) EXPECT_EQ(called[m.name], 1) << m.name;
}

TEST_F(DispatchTest, OmittedSampleRateIs48000AndOmittedRepeatCountIsZero) {
  const DISPID init = id_of("InitOrvanAudio");
  const DISPID play = id_of("Music_Play");
  const DISPID repeats = id_of("GetRepeats");
  const DISPID load = id_of("Music_Load");

  // Given explicitly, the rate is the one passed; left out (by count or by marker), 48000.
  ASSERT_EQ(call(init, {i4(0), i4(22050)}), S_OK);
  ASSERT_NE(music::output::last_manual_device(), nullptr);
  EXPECT_EQ(music::output::last_manual_device()->sample_rate(), 22050);
  ASSERT_EQ(call(init, {i4(0)}), S_OK);
  EXPECT_EQ(music::output::last_manual_device()->sample_rate(), 48000);
  ASSERT_EQ(music_->CleanupAudio(), S_OK);
  ASSERT_EQ(call(init, {i4(0), omitted()}), S_OK);
  EXPECT_EQ(music::output::last_manual_device()->sample_rate(), 48000);

  VARIANT file{};
  file.vt = VT_BSTR;
  file.bstrVal = SysAllocString(com::utf8_to_utf16(organ_.string()).c_str());
  ASSERT_EQ(call(load, {file}), S_OK);
  SysFreeString(file.bstrVal);

  VARIANT result{};
  ASSERT_EQ(call(play, {i4(5)}), S_OK);
  ASSERT_EQ(call(repeats, {}, &result), S_OK);
  EXPECT_EQ(result.lVal, 5);
  ASSERT_EQ(call(play, {}), S_OK);
  ASSERT_EQ(call(repeats, {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 0);
  ASSERT_EQ(call(play, {omitted()}), S_OK);
  ASSERT_EQ(call(repeats, {}, &result), S_OK);
  EXPECT_EQ(result.lVal, 0);
  ASSERT_EQ(music_->CleanupAudio(), S_OK);
}

TEST_F(DispatchTest, KeywordArgumentsByTheParameterNamesTheLibraryGives) {
  // A keyword call as a scripting client makes it: the method's and the parameters' names in
  // one GetIDsOfNames, the named values first in rgvarg and the positional ones after them.
  const auto call_named = [&](const std::vector<std::u16string>& names,
                              std::vector<VARIANT> positional, std::vector<VARIANT> named,
                              VARIANT* result = nullptr) {
    std::vector<std::u16string> copies = names;
    std::vector<LPOLESTR> pointers;
    for (std::u16string& n : copies) pointers.push_back(n.data());
    std::vector<DISPID> ids(names.size());
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(ids.size()),
                                       LOCALE_USER_DEFAULT, ids.data()),
              S_OK);
    std::vector<VARIANT> args = named;
    args.insert(args.end(), positional.rbegin(), positional.rend());
    DISPPARAMS params{args.data(), ids.data() + 1, static_cast<UINT>(args.size()),
                      static_cast<UINT>(named.size())};
    return dispatch_->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                             result, nullptr, nullptr);
  };

  ASSERT_EQ(call_named({u"InitOrvanAudio", u"SampleRate"}, {i4(0)}, {i4(22050)}), S_OK);
  ASSERT_NE(music::output::last_manual_device(), nullptr);
  EXPECT_EQ(music::output::last_manual_device()->sample_rate(), 22050);
  ASSERT_EQ(music_->CleanupAudio(), S_OK);
  // Both by name, in the other order, and the names in any case.
  ASSERT_EQ(call_named({u"initorvanaudio", u"SAMPLERATE", u"hwnd"}, {}, {i4(32000), i4(0)}), S_OK);
  EXPECT_EQ(music::output::last_manual_device()->sample_rate(), 32000);

  ASSERT_EQ(call_named({u"SetMasterVolume", u"Value"}, {}, {i4(-100)}), S_OK);
  EXPECT_EQ(volume(), -100);

  VARIANT file{};
  file.vt = VT_BSTR;
  file.bstrVal = SysAllocString(com::utf8_to_utf16(organ_.string()).c_str());
  ASSERT_EQ(call_named({u"Music_Load", u"Filename"}, {}, {file}), S_OK);
  SysFreeString(file.bstrVal);
  ASSERT_EQ(call_named({u"Music_Play", u"nLoop"}, {}, {i4(2)}), S_OK);
  VARIANT result{};
  ASSERT_EQ(call(id_of("GetRepeats"), {}, &result), S_OK);
  EXPECT_EQ(result.lVal, 2);
  ASSERT_EQ(music_->CleanupAudio(), S_OK);
}

TEST_F(DispatchTest, BadCallsGetTheirDispatchStatusAndTouchNothing) {
  LONG hwnd = 0;
  ASSERT_EQ(music_->InitOrvanAudio(&hwnd, nullptr), S_OK);
  LONG start = -300;
  ASSERT_EQ(music_->SetMasterVolume(&start), S_OK);
  const DISPID set_volume = id_of("SetMasterVolume");
  const DISPID gain = id_of("SetFX_Dist_Gain");

  HRESULT hr = S_OK;
  EXPECT_EQ(id_of("NoSuchMethod", &hr), DISPID_UNKNOWN);
  EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
  // The interface argument of GetIDsOfNames and Invoke is reserved: IID_NULL only.
  std::u16string name = u"SetMasterVolume";
  LPOLESTR names[1] = {name.data()};
  DISPID id = 0;
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID__OrvanMusic, names, 1, 0, &id), kUnknownInterface);
  VARIANT volume_arg = i4(-900);
  DISPPARAMS one{&volume_arg, nullptr, 1, 0};
  EXPECT_EQ(dispatch_->Invoke(set_volume, IID__OrvanMusic, 0, DISPATCH_METHOD, &one, nullptr,
                              nullptr, nullptr),
            kUnknownInterface);

  EXPECT_EQ(call(0x60030099, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(call(set_volume, {i4(-900), i4(1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(call(set_volume, {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(call(set_volume, {omitted()}), DISP_E_PARAMNOTOPTIONAL);

  VARIANT word{};
  word.vt = VT_BSTR;
  word.bstrVal = SysAllocString(u"loud");
  UINT arg_err = 99;
  EXPECT_EQ(call(set_volume, {word}, nullptr, &arg_err), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err, 0u);
  VARIANT result{};
  EXPECT_EQ(call(gain, {word}, &result), DISP_E_TYPEMISMATCH);
  SysFreeString(word.bstrVal);
  // A reference to a variable of another type is refused rather than reinterpreted.
  double wide_value = -900.0;
  VARIANT by_ref_double{};
  by_ref_double.vt = VT_R8 | VT_BYREF;
  by_ref_double.pdblVal = &wide_value;
  EXPECT_EQ(call(set_volume, {by_ref_double}), DISP_E_TYPEMISMATCH);

  // SetMasterVolume has one parameter: position 1 names nothing.
  DISPID named_id = 1;
  DISPPARAMS named{&volume_arg, &named_id, 1, 1};
  UINT named_err = 99;
  EXPECT_EQ(dispatch_->Invoke(set_volume, IID_NULL, 0, DISPATCH_METHOD, &named, nullptr, nullptr,
                              &named_err),
            DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(named_err, 0u);

  EXPECT_EQ(volume(), -300);  // none of them reached the engine
  // A call the engine refuses comes back as an exception carrying the engine's status.
  EXCEPINFO error{};
  EXPECT_EQ(call(set_volume, {i4(-30000)}, nullptr, nullptr, &error), DISP_E_EXCEPTION);
  EXPECT_EQ(error.scode, E_INVALIDARG);
  SysFreeString(error.bstrSource);
  SysFreeString(error.bstrDescription);
  SysFreeString(error.bstrHelpFile);
  EXPECT_EQ(volume(), -300);
  // And a good call still works.
  EXPECT_EQ(call(set_volume, {i4(-900)}), S_OK);
  EXPECT_EQ(volume(), -900);
  EXPECT_EQ(music_->CleanupAudio(), S_OK);
}

}  // namespace
}  // namespace orvan::component_test
