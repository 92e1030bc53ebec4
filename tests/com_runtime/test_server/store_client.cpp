// A small client for the trust tests: says which stores this process believes and whether
// it could create the test server's class. The tests run a setuid copy of it.
#include <cstdio>

#include "orvan/component_runtime.h"
#include "platform/com/runtime/registry.h"
#include "tests/com_runtime/test_server/test_server.h"

int main() {
  const auto paths = orvan::com::registry::store_paths();
  CoInitialize(nullptr);
  IUnknown* object = nullptr;
  const HRESULT hr = CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IUnknown, reinterpret_cast<void**>(&object));
  if (object) object->Release();
  CoUninitialize();
  std::printf("user=%s\nsystem=%s\nsingle=%d\ncreate=0x%08X\n", paths.user.c_str(),
              paths.system.c_str(), paths.single ? 1 : 0, static_cast<unsigned>(hr));
  return 0;
}
