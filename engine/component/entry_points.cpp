// The four functions the library exports, the standard entry points of an in-process server.
// Nothing else is visible outside the library (exports.map); no exception leaves it.
#include <new>

#include "engine/component/class_factory.h"
#include "engine/component/registration.h"
#include "engine/component/server_lifetime.h"
#include "orvan/tovel.h"

#define TOVEL_EXPORT extern "C" __attribute__((visibility("default")))

using namespace orvan::engine::component;

TOVEL_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_OrvanMusic) return CLASS_E_CLASSNOTAVAILABLE;
  return music_class_factory()->QueryInterface(riid, object);
}

TOVEL_EXPORT HRESULT DllCanUnloadNow() {
  return server_idle() ? S_OK : S_FALSE;
}

TOVEL_EXPORT HRESULT DllRegisterServer() {
  try {
    return register_this_server();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

TOVEL_EXPORT HRESULT DllUnregisterServer() {
  try {
    return unregister_this_server();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}
