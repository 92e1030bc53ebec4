// IUnknown for the runtime's own small objects that show one interface: QueryInterface
// answers IUnknown and the identities listed, and the last Release deletes the object.
// The count is atomic, so such objects may be used from any thread.
#pragma once

#include <atomic>

#include "orvan/component_runtime.h"

namespace orvan::com::runtime {

// `Derived` is the final class (deleted as such); `Interface` the one it implements and
// `kIids` the identities it answers besides IUnknown (the interface's and its bases').
template <class Derived, class Interface, const IID&... kIids>
class CountedObject : public Interface {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || ((riid == kIids) || ...)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 protected:
  CountedObject() = default;
  ~CountedObject() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace orvan::com::runtime
