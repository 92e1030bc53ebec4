#include "engine/component/type_info_cache.h"

#include <mutex>
#include <string>

#include "engine/component/library_path.h"
#include "orvan/tovel.h"
#include "platform/com/auto_string.h"

namespace orvan::engine::component {
namespace {

// One per library image: objects of every apartment share it, so it is guarded.
class Cache {
 public:
  ~Cache() {
    if (info_) info_->Release();
    if (lib_) lib_->Release();
  }

  HRESULT get(ITypeInfo** info) {
    std::lock_guard lock(mutex_);
    if (!info_) {
      const HRESULT hr = load();
      if (FAILED(hr)) return hr;
    }
    info_->AddRef();
    *info = info_;
    return S_OK;
  }

 private:
  HRESULT load() {
    const std::string path = own_library_path();
    if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
    const std::u16string wide = com::utf8_to_utf16(path);
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLib(wide.c_str(), &lib);
    if (FAILED(hr)) return hr;
    ITypeInfo* info = nullptr;
    hr = lib->GetTypeInfoOfGuid(IID__OrvanMusic2, &info);
    if (FAILED(hr)) {
      lib->Release();
      return hr;
    }
    lib_ = lib;
    info_ = info;
    return S_OK;
  }

  std::mutex mutex_;
  ITypeLib* lib_ = nullptr;
  ITypeInfo* info_ = nullptr;
};

Cache cache;

}  // namespace

HRESULT music_type_info(ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  return cache.get(info);
}

}  // namespace orvan::engine::component
