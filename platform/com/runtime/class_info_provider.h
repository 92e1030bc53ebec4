// IProvideClassInfo2 for any component: the type information of the object's class, and
// the identity of its default source interface, read from that class's description (the
// interface it lists with [default, source]), so that no component repeats it.
//
// Like the connection-point container, it lives inside the object: QueryInterface, AddRef
// and Release go to the object's controlling unknown. Free-threaded: it only reads type
// information.
#pragma once

#include "orvan/component_runtime.h"

namespace orvan::com::runtime {

class ClassInfoProvider final : public ::IProvideClassInfo2 {
 public:
  // `class_info` is the coclass's type information; the provider takes a reference when
  // given one. Null is allowed: GetClassInfo then answers TYPE_E_ELEMENTNOTFOUND.
  ClassInfoProvider(::IUnknown& owner, ::ITypeInfo* class_info) noexcept;
  ~ClassInfoProvider();
  ClassInfoProvider(const ClassInfoProvider&) = delete;
  ClassInfoProvider& operator=(const ClassInfoProvider&) = delete;

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetClassInfo(ITypeInfo** info) override;
  // GUIDKIND_DEFAULT_SOURCE_DISPIID only (else E_INVALIDARG); E_FAIL for a class without a
  // default source interface.
  HRESULT GetGUID(DWORD kind, GUID* guid) override;

 private:
  ::IUnknown& owner_;
  ::ITypeInfo* const class_info_;
};

// The default source interface of the class `class_info` describes: E_FAIL when it has none.
HRESULT default_source_interface(::ITypeInfo& class_info, IID& iid);

}  // namespace orvan::com::runtime
