#include "demos/tests/recording_engine/recording_music.h"

#include <cstdio>
#include <sstream>

#include "platform/com/auto_string.h"

namespace orvan::demo_test {
namespace {

// What describe(LONG*) leaves in the caller's variable.
constexpr LONG kScribble = -7;

}  // namespace

std::string describe(LONG* value) {
  if (!value) return "null";
  const std::string text = std::to_string(*value);
  *value = kScribble;
  return text;
}
std::string describe(float value) {
  std::ostringstream out;
  out << value;
  return out.str();
}
std::string describe(float* value) {
  return value ? describe(*value) : "null";
}
std::string describe(BSTR* text) {
  return text && *text ? com::utf16_to_utf8(*text) : "null";
}
// Whole values read as the numbers they are.
std::string describe(LONG value) {
  return describe(static_cast<float>(value));
}
std::string describe(CONST_OSFX_PHASE value) {
  return describe(static_cast<LONG>(value));
}
std::string describe(CONST_OSFX_WAVE value) {
  return describe(static_cast<LONG>(value));
}
std::string describe(BSTR text) {
  return describe(&text);
}
std::string describe(OrvanBoundary value) {
  return describe(static_cast<LONG>(value));
}
std::string describe(IDispatch* object) {
  return object ? "object" : "null";
}

std::string describe(IUnknown* object) {
  return object ? "object" : "null";
}

std::string describe(SAFEARRAY* array) {
  if (!array) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "bytes:%u",
                static_cast<unsigned>(array->rgsabound[0].cElements));
  return text;
}

std::atomic<int>& live_objects() {
  static std::atomic<int> count{0};
  return count;
}

RecordingMusic::RecordingMusic() : number_(CallLog::instance().next_object()) {
  live_objects().fetch_add(1);
  CallLog::instance().record(number_, "Created");
}

HRESULT RecordingMusic::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__OrvanMusic ||
      riid == IID__OrvanMusic2) {
    AddRef();
    *object = static_cast<_OrvanMusic2*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG RecordingMusic::AddRef() {
  return references_.fetch_add(1) + 1;
}

ULONG RecordingMusic::Release() {
  const ULONG left = references_.fetch_sub(1) - 1;
  if (left == 0) {
    CallLog::instance().record(number_, "Released");
    live_objects().fetch_sub(1);
    delete this;
  }
  return left;
}

HRESULT RecordingMusic::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}
HRESULT RecordingMusic::GetTypeInfo(UINT, LCID, ITypeInfo**) {
  return E_NOTIMPL;
}
HRESULT RecordingMusic::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}
HRESULT RecordingMusic::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                               UINT*) {
  return E_NOTIMPL;
}

HRESULT RecordingMusic::note(const char* method, const std::string& args) {
  CallLog::instance().record(number_, std::string(method) + "(" + args + ")");
  return CallLog::instance().status_of(method);
}

HRESULT RecordingMusic::respond(const char* method, const std::string& args, LONG* result) {
  const HRESULT hr = note(method, args);
  if (SUCCEEDED(hr) && result) *result = CallLog::instance().answer_of(method);
  return hr;
}
HRESULT RecordingMusic::respond(const char* method, const std::string& args, float* result) {
  const HRESULT hr = note(method, args);
  if (SUCCEEDED(hr) && result) *result = static_cast<float>(CallLog::instance().answer_of(method));
  return hr;
}
HRESULT RecordingMusic::respond(const char* method, const std::string& args, double* result) {
  const HRESULT hr = note(method, args);
  if (SUCCEEDED(hr) && result) *result = static_cast<double>(CallLog::instance().answer_of(method));
  return hr;
}
HRESULT RecordingMusic::respond(const char* method, const std::string& args, VARIANT_BOOL* result) {
  const HRESULT hr = note(method, args);
  if (SUCCEEDED(hr) && result)
    *result = CallLog::instance().answer_of(method) ? VARIANT_TRUE : VARIANT_FALSE;
  return hr;
}

}  // namespace orvan::demo_test
