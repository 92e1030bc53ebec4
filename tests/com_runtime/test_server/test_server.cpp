// The test server's class, its factory and its four entry points.
#include "tests/com_runtime/test_server/test_server.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/com/runtime/apartment.h"
#include "platform/com/runtime/registry.h"

namespace {

namespace reg = orvan::com::registry;

// Objects and factory locks outstanding: the library may go only when both are zero.
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
std::atomic<IUnknown*> g_last_outer{nullptr};

class Counter final : public ITestCounter {
 public:
  Counter() { ++g_objects; }
  ~Counter() { --g_objects; }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITestCounter) {
      *object = static_cast<ITestCounter*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT Add(LONG amount, LONG* total) override {
    if (HRESULT hr = apartment_.check(); FAILED(hr)) return hr;
    if (!total) return E_POINTER;
    total_ += amount;
    *total = total_;
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  LONG total_ = 0;
  orvan::com::runtime::ApartmentAffinity apartment_;
};

class Factory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is a static object: its references keep nothing alive.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    g_last_outer = outer;
    // An aggregated object must hand out its own IUnknown first.
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    auto* counter = new Counter;
    const HRESULT hr = counter->QueryInterface(riid, object);
    counter->Release();
    return hr;
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      ++g_locks;
    } else {
      --g_locks;
    }
    return S_OK;
  }
};

Factory g_factory;

std::string own_path() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&own_path), &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

reg::ServerRecord record() {
  reg::ServerRecord r;
  r.project = "OrvanTestServer";
  r.libid = LIBID_TestServer;
  r.major = 1;
  r.minor = 0;
  r.classes.push_back({"Counter", CLSID_TestCounter, IID_ITestCounter});
  return r;
}

std::string steps_key() {
  return "CLSID\\" + reg::guid_text(CLSID_TestCounter) + "\\TestSteps";
}

int env_int(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID riid,
                                                                            void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_TestCounter) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, object);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  reg::Transaction tx;
  if (FAILED(tx.status())) return SELFREG_E_CLASS;
  if (FAILED(reg::register_server(record(), own_path()))) return SELFREG_E_CLASS;
  const int steps = env_int("ORVAN_TEST_SERVER_STEPS", 4);
  const int notify_fd = env_int("ORVAN_TEST_SERVER_NOTIFY_FD", -1);
  for (int i = 0; i < steps; ++i) {
    if (FAILED(reg::set_value(steps_key(), "step" + std::to_string(i), "done"))) {
      return SELFREG_E_CLASS;
    }
    if (i == 0 && notify_fd >= 0) {
      const char byte = 1;
      if (write(notify_fd, &byte, 1) != 1) return SELFREG_E_CLASS;
    }
    usleep(1000);
  }
  return FAILED(tx.commit()) ? SELFREG_E_CLASS : S_OK;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  reg::Transaction tx;
  if (FAILED(tx.status())) return SELFREG_E_CLASS;
  if (FAILED(reg::delete_tree(steps_key()))) return SELFREG_E_CLASS;
  if (FAILED(reg::unregister_server(record(), own_path()))) return SELFREG_E_CLASS;
  return FAILED(tx.commit()) ? SELFREG_E_CLASS : S_OK;
}

extern "C" __attribute__((visibility("default"))) IUnknown* TestServerLastOuter() {
  return g_last_outer;
}
