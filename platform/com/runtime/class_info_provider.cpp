// IProvideClassInfo2 from a class's type information.
#include "platform/com/runtime/class_info_provider.h"

namespace orvan::com::runtime {

HRESULT default_source_interface(ITypeInfo& class_info, IID& iid) {
  TYPEATTR* attr = nullptr;
  HRESULT hr = class_info.GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  const WORD implemented = attr->cImplTypes;
  const bool is_class = attr->typekind == TKIND_COCLASS;
  class_info.ReleaseTypeAttr(attr);
  if (!is_class) return E_FAIL;
  constexpr INT kDefaultSource = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
  for (UINT i = 0; i < implemented; ++i) {
    INT flags = 0;
    if (FAILED(class_info.GetImplTypeFlags(i, &flags)) ||
        (flags & kDefaultSource) != kDefaultSource)
      continue;
    HREFTYPE ref = 0;
    ITypeInfo* source = nullptr;
    hr = class_info.GetRefTypeOfImplType(i, &ref);
    if (SUCCEEDED(hr)) hr = class_info.GetRefTypeInfo(ref, &source);
    if (FAILED(hr)) return hr;
    hr = source->GetTypeAttr(&attr);
    if (SUCCEEDED(hr)) {
      iid = attr->guid;
      source->ReleaseTypeAttr(attr);
    }
    source->Release();
    return hr;
  }
  return E_FAIL;
}

ClassInfoProvider::ClassInfoProvider(IUnknown& owner, ITypeInfo* class_info) noexcept
    : owner_(owner), class_info_(class_info) {
  if (class_info_) class_info_->AddRef();
}

ClassInfoProvider::~ClassInfoProvider() {
  if (class_info_) class_info_->Release();
}

HRESULT ClassInfoProvider::QueryInterface(REFIID riid, void** object) {
  return owner_.QueryInterface(riid, object);
}

ULONG ClassInfoProvider::AddRef() {
  return owner_.AddRef();
}

ULONG ClassInfoProvider::Release() {
  return owner_.Release();
}

HRESULT ClassInfoProvider::GetClassInfo(ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = class_info_;
  if (!class_info_) return TYPE_E_ELEMENTNOTFOUND;
  class_info_->AddRef();
  return S_OK;
}

HRESULT ClassInfoProvider::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  *guid = IID_NULL;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISPIID) return E_INVALIDARG;
  if (!class_info_) return E_FAIL;
  return default_source_interface(*class_info_, *guid);
}

}  // namespace orvan::com::runtime
