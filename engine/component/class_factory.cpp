#include "engine/component/class_factory.h"

#include "engine/component/music_object.h"
#include "engine/component/server_lifetime.h"

namespace orvan::engine::component {
namespace {

class MusicClassFactory final : public IClassFactory {
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
  // Static lifetime: the counts only look like a counted object's.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    // An outer object must hold our inner unknown; any other interface would have to
    // delegate to an outer object it could not keep apart from us.
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    IUnknown* inner = nullptr;
    HRESULT hr = MusicObject::Create(outer, &inner);
    if (FAILED(hr)) return hr;
    hr = inner->QueryInterface(riid, object);
    inner->Release();
    return hr;
  }

  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      server_locked();
      return S_OK;
    }
    return server_unlocked() ? S_OK : E_UNEXPECTED;
  }
};

MusicClassFactory factory;

}  // namespace

IClassFactory* music_class_factory() {
  return &factory;
}

}  // namespace orvan::engine::component
