// An engine object for window tests: implements _OrvanMusic2 (and so _OrvanMusic) by recording
// every call with its arguments in the CallLog and answering as the test scripted. It plays
// nothing.
#pragma once

#include <atomic>
#include <string>

#include "demos/tests/recording_engine/call_log.h"
#include "orvan/tovel.h"

namespace orvan::demo_test {

// Objects alive in this library, for DllCanUnloadNow.
std::atomic<int>& live_objects();

// How the log writes an argument: numbers as numbers, strings as UTF-8, a null pointer as
// "null". Reading a variable passed by reference also scribbles over it, as an engine might:
// a window that passes fresh temporaries never sees that.
std::string describe(LONG* value);
std::string describe(float value);
std::string describe(float* value);
std::string describe(BSTR* text);
std::string describe(LONG value);
std::string describe(CONST_OSFX_PHASE value);
std::string describe(CONST_OSFX_WAVE value);
std::string describe(BSTR text);
std::string describe(OrvanBoundary value);
std::string describe(IDispatch* object);  // "object" or "null"
std::string describe(IUnknown* object);   // "object" or "null"
std::string describe(SAFEARRAY* array);   // "bytes:N" (its element count) or "null"

class RecordingMusic final : public _OrvanMusic2 {
 public:
  RecordingMusic();

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepinfo, UINT* arg_err) override;
  HRESULT Reserved7() override { return E_NOTIMPL; }
  HRESULT Reserved8() override { return E_NOTIMPL; }
  HRESULT Reserved9() override { return E_NOTIMPL; }

  // The methods of both interfaces: recording_methods.cpp, which the build makes from the
  // interface's description.
#include "engine/component/generated/orvan_music_overrides.inc"

 private:
  ~RecordingMusic() = default;
  // Records "method(args)" and returns the status the test scripted for the method.
  HRESULT note(const char* method, const std::string& args = {});
  // The same, and on success writes the answer the test scripted (0 unless set) to result.
  HRESULT respond(const char* method, const std::string& args, LONG* result);
  HRESULT respond(const char* method, const std::string& args, float* result);
  HRESULT respond(const char* method, const std::string& args, double* result);
  HRESULT respond(const char* method, const std::string& args, VARIANT_BOOL* result);

  std::atomic<ULONG> references_{1};
  const int number_;
};

}  // namespace orvan::demo_test
