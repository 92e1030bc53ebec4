// Where the build puts the runtime's test server and orvan-regsvr, and small helpers to
// register classes for a test.
#pragma once

#include <dlfcn.h>

#include <fstream>
#include <string>

#include "platform/com/runtime/registry.h"
#include "tests/com_runtime/test_server/test_server.h"

namespace orvan::testing {

inline std::string test_server_path() {
  return ORVAN_BINARY_DIR "/lib/liborvan_test_server.so";
}
inline std::string regsvr_path() {
  return ORVAN_BINARY_DIR "/bin/orvan-regsvr";
}

// Calls one of the test server's registration entry points in this process, then lets the
// library go again so that the loading tests start from an unloaded server.
inline HRESULT call_test_server(const char* entry) {
  void* library = dlopen(test_server_path().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return CO_E_ERRORINDLL;
  auto* call = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(library, entry));
  const HRESULT hr = call ? call() : CO_E_ERRORINDLL;
  dlclose(library);
  return hr;
}

// Points a class's InprocServer32 at `path`, whatever it is.
inline void register_class_at(const CLSID& clsid, const std::string& path) {
  com::registry::set_value("CLSID\\" + com::registry::guid_text(clsid) + "\\InprocServer32", "",
                           path);
}

// What creating the test server's counter class answers; the object, if any, is released.
inline HRESULT creation_status() {
  IUnknown* object = nullptr;
  const HRESULT hr = CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IUnknown, reinterpret_cast<void**>(&object));
  if (object) object->Release();
  return hr;
}

inline void write_text_file(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

}  // namespace orvan::testing
