// The loaded-library table and class-object lookup.
#include "platform/com/runtime/class_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/com/runtime/apartment.h"
#include "platform/com/runtime/registry.h"

namespace orvan::com::runtime {
namespace {

struct LoadedLibrary {
  void* handle = nullptr;
  LPFNGETCLASSOBJECT get_class_object = nullptr;
  LPFNCANUNLOADNOW can_unload_now = nullptr;
  int calls_in_flight = 0;  // DllGetClassObject calls running: the library must stay
};

// One entry per file (by its resolved path, so two registered spellings of one file share
// a load). Recursive, because a library's constructors or DllGetClassObject may themselves
// create objects of other classes on the same thread.
struct LibraryTable {
  std::recursive_mutex mutex;
  std::map<std::string, std::unique_ptr<LoadedLibrary>> libraries;
};

LibraryTable& table() {
  // Never destroyed: servers may still be unloaded from other threads' exit paths.
  static auto* instance = new LibraryTable;
  return *instance;
}

std::string resolved_path(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

// Finds or loads the library; the caller holds the table's lock.
HRESULT load_library(const std::string& path, LoadedLibrary** out) {
  struct stat info {};
  // A relative path would make dlopen search the library path: never load that.
  if (path.empty() || path.front() != '/' || stat(path.c_str(), &info) != 0 ||
      !S_ISREG(info.st_mode)) {
    return CO_E_DLLNOTFOUND;
  }
  LibraryTable& libs = table();
  const std::string key = resolved_path(path);
  if (auto found = libs.libraries.find(key); found != libs.libraries.end()) {
    *out = found->second.get();
    return S_OK;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return CO_E_ERRORINDLL;
  auto library = std::make_unique<LoadedLibrary>();
  library->handle = handle;
  library->get_class_object =
      reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
  library->can_unload_now = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, "DllCanUnloadNow"));
  if (!library->get_class_object || !library->can_unload_now) {
    dlclose(handle);
    return CO_E_ERRORINDLL;
  }
  *out = library.get();
  libs.libraries.emplace(key, std::move(library));
  return S_OK;
}

}  // namespace

HRESULT get_inproc_class_object(REFCLSID clsid, REFIID riid, void** object) {
  std::string path;
  const HRESULT found =
      registry::get_value("CLSID\\" + registry::guid_text(clsid) + "\\InprocServer32", "", &path);
  if (failed(found)) return found;
  if (found != S_OK) return REGDB_E_CLASSNOTREG;

  LibraryTable& libs = table();
  LoadedLibrary* library = nullptr;
  {
    std::lock_guard lock(libs.mutex);
    if (HRESULT hr = load_library(path, &library); failed(hr)) return hr;
    ++library->calls_in_flight;
  }
  // Outside the lock: the server may take its time or create other objects.
  const HRESULT hr = library->get_class_object(clsid, riid, object);
  {
    std::lock_guard lock(libs.mutex);
    --library->calls_in_flight;
  }
  return hr;
}

int free_unused_libraries() {
  LibraryTable& libs = table();
  std::lock_guard lock(libs.mutex);
  int unloaded = 0;
  for (auto it = libs.libraries.begin(); it != libs.libraries.end();) {
    LoadedLibrary& library = *it->second;
    if (library.calls_in_flight == 0 && library.can_unload_now() == S_OK) {
      dlclose(library.handle);
      it = libs.libraries.erase(it);
      ++unloaded;
    } else {
      ++it;
    }
  }
  return unloaded;
}

}  // namespace orvan::com::runtime

extern "C" HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* /*server_info*/,
                                    REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (orvan::com::runtime::current_apartment() == orvan::com::runtime::kNoApartment)
    return CO_E_NOTINITIALIZED;
  // Only in-process servers exist here; a class asked for in another context is, for this
  // process, a class not registered for that context.
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  return orvan::com::runtime::get_inproc_class_object(clsid, riid, object);
}

extern "C" HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                                    void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  hr = factory->CreateInstance(outer, riid, object);
  factory->Release();
  return hr;
}

extern "C" void CoFreeUnusedLibraries() {
  orvan::com::runtime::free_unused_libraries();
}
