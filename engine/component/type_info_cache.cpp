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
    if (class_info_) class_info_->Release();
    if (lib_) lib_->Release();
  }

  HRESULT get(ITypeInfo** info) { return get(info, info_); }
  HRESULT get_class(ITypeInfo** info) { return get(info, class_info_); }

 private:
  HRESULT get(ITypeInfo** info, ITypeInfo* const& which) {
    std::lock_guard lock(mutex_);
    if (!info_) {
      const HRESULT hr = load();
      if (FAILED(hr)) return hr;
    }
    which->AddRef();
    *info = which;
    return S_OK;
  }

  HRESULT load() {
    const std::string path = own_library_path();
    if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
    const std::u16string wide = com::utf8_to_utf16(path);
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLib(wide.c_str(), &lib);
    if (FAILED(hr)) return hr;
    ITypeInfo* info = nullptr;
    ITypeInfo* class_info = nullptr;
    hr = lib->GetTypeInfoOfGuid(IID__OrvanMusic2, &info);
    if (SUCCEEDED(hr)) hr = lib->GetTypeInfoOfGuid(CLSID_OrvanMusic, &class_info);
    if (FAILED(hr)) {
      if (info) info->Release();
      lib->Release();
      return hr;
    }
    lib_ = lib;
    info_ = info;
    class_info_ = class_info;
    return S_OK;
  }

  std::mutex mutex_;
  ITypeLib* lib_ = nullptr;
  ITypeInfo* info_ = nullptr;
  ITypeInfo* class_info_ = nullptr;
};

Cache cache;

}  // namespace

HRESULT music_type_info(ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  return cache.get(info);
}

HRESULT music_class_info(ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  return cache.get_class(info);
}

}  // namespace orvan::engine::component
