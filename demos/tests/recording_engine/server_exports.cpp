// The recording engine as an in-process server: registered under OrvanMusic's class
// identity in a test's throwaway registry, it is what a window under test creates through
// CoCreateInstance.
#include <dlfcn.h>

#include <atomic>
#include <new>

#include "demos/tests/recording_engine/recording_music.h"
#include "platform/com/runtime/registry.h"

namespace orvan::demo_test {
namespace {

std::atomic<int> server_locks{0};

class Factory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // One factory for the library's life: counting is not needed.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* music = new (std::nothrow) RecordingMusic();
    if (!music) return E_OUTOFMEMORY;
    const HRESULT hr = music->QueryInterface(riid, object);
    music->Release();
    return hr;
  }
  HRESULT LockServer(BOOL lock) override {
    server_locks.fetch_add(lock ? 1 : -1);
    return S_OK;
  }
};

Factory factory;

com::registry::ServerRecord server_record() {
  // The class the windows ask for, served by a project of its own name.
  com::registry::ServerRecord record;
  record.project = "OrvanRecordingEngine";
  record.libid = {0x6B0E3D21, 0x1F4A, 0x4C55, {0x9E, 0x21, 0x4D, 0x7A, 0x10, 0x52, 0x33, 0x90}};
  record.major = 1;
  record.minor = 0;
  record.classes.push_back({"OrvanMusic", CLSID_OrvanMusic, IID__OrvanMusic});
  return record;
}

std::string own_path() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&server_record), &info) == 0 || !info.dli_fname) {
    return {};
  }
  return info.dli_fname;
}

}  // namespace
}  // namespace orvan::demo_test

using orvan::demo_test::factory;

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID riid,
                                                                            void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(clsid == CLSID_OrvanMusic)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, object);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  const bool busy =
      orvan::demo_test::live_objects().load() > 0 || orvan::demo_test::server_locks.load() > 0;
  return busy ? S_FALSE : S_OK;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  return orvan::com::registry::register_server(orvan::demo_test::server_record(),
                                               orvan::demo_test::own_path());
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  return orvan::com::registry::unregister_server(orvan::demo_test::server_record(),
                                                 orvan::demo_test::own_path());
}
