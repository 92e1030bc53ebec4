// The component object's identity, reference counting, interface queries and dispatch.
#include "engine/component/music_object.h"

#include <new>
#include <span>
#include <string_view>

#include "engine/component/server_lifetime.h"
#include "engine/component/stream_bytes.h"
#include "engine/component/type_info_cache.h"
#include "platform/com/auto_string.h"

namespace orvan::engine::component {
namespace {

// The interface identifier argument of the IDispatch members is reserved and must be
// IID_NULL.
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001u);

// Answered only by MusicObject, with the object itself: how a member that takes another
// OrvanMusic object (a leader) finds its engine channel without trusting a foreign pointer.
constexpr GUID kChannelIdentity = {
    0xFB9ADED6, 0x63F8, 0x45AE, {0x81, 0xFC, 0xEF, 0x09, 0xFB, 0xBE, 0x5F, 0x42}};

}  // namespace

HRESULT MusicObject::Create(IUnknown* outer, IUnknown** inner) {
  if (!inner) return E_POINTER;
  *inner = nullptr;
  try {
    // The engine channel comes first: its creation runs the channel's own initialisation,
    // and a failure there leaves no half-made object behind.
    auto* object = new MusicObject(outer, com::make_ref<OrvanMusic>());
    *inner = &object->inner_;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

MusicObject::MusicObject(IUnknown* outer, com::Ref<OrvanMusic> engine)
    : outer_(outer ? outer : &inner_), engine_(std::move(engine)) {
  start_events();
  object_created();
}

MusicObject::~MusicObject() {
  // No event is fired into the connection point once it starts to go.
  engine_->SetEventHandler(nullptr);
  // The engine goes first (its farewell box and its platform objects), then the count that
  // lets the library unload.
  engine_.reset();
  object_destroyed();
}

// --- Identity and counting --------------------------------------------------------------------

HRESULT MusicObject::InnerUnknown::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  IUnknown* found = nullptr;
  if (riid == IID_IUnknown)
    found = this;
  else if (riid == IID__OrvanMusic2 || riid == IID__OrvanMusic || riid == IID_IDispatch ||
           riid == kChannelIdentity)
    found = static_cast<_OrvanMusic2*>(&owner_);
  else if (riid == IID_DirectXEvent8)
    found = static_cast<::DirectXEvent8*>(&owner_);
  else if (riid == IID_IConnectionPointContainer)
    found = owner_.points_.container();
  else if ((riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2) && owner_.class_info_)
    found = &*owner_.class_info_;
  *object = found;
  if (!found) return E_NOINTERFACE;
  found->AddRef();
  return S_OK;
}

ULONG MusicObject::InnerUnknown::AddRef() {
  return owner_.refs_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG MusicObject::InnerUnknown::Release() {
  const ULONG left = owner_.refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete &owner_;
  return left;
}

HRESULT MusicObject::QueryInterface(REFIID riid, void** object) {
  return outer_->QueryInterface(riid, object);
}
ULONG MusicObject::AddRef() {
  return outer_->AddRef();
}
ULONG MusicObject::Release() {
  return outer_->Release();
}

// --- IDispatch ----------------------------------------------------------------------------------

HRESULT MusicObject::GetTypeInfoCount(UINT* count) {
  return on_apartment([&](OrvanMusic&) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  });
}

HRESULT MusicObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  return on_apartment([&](OrvanMusic&) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return music_type_info(info);
  });
}

HRESULT MusicObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  return on_apartment([&](OrvanMusic&) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = music_type_info(&info);
    if (FAILED(hr)) return hr;
    hr = DispGetIDsOfNames(info, names, count, ids);
    info->Release();
    return hr;
  });
}

HRESULT MusicObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excepinfo, UINT* arg_err) {
  return on_apartment([&](OrvanMusic&) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = music_type_info(&info);
    if (FAILED(hr)) return hr;
    // The type information calls the method's own table entry on this interface.
    hr = info->Invoke(static_cast<_OrvanMusic2*>(this), id, flags, params, result, excepinfo,
                      arg_err);
    info->Release();
    return hr;
  });
}

// --- Places no client calls ---------------------------------------------------------------------

HRESULT MusicObject::Reserved7() {
  return E_NOTIMPL;
}
HRESULT MusicObject::Reserved8() {
  return E_NOTIMPL;
}
HRESULT MusicObject::Reserved9() {
  return E_NOTIMPL;
}

// --- Notification sink --------------------------------------------------------------------------

HRESULT MusicObject::DXCallback(LONG eventid) {
  try {
    return engine_->DXCallback(eventid);
  } catch (...) {
    return E_UNEXPECTED;
  }
}

OrvanMusic* MusicObject::channel_of(IDispatch* object) {
  if (!object) return nullptr;
  void* found = nullptr;
  if (FAILED(object->QueryInterface(kChannelIdentity, &found)) || !found) return nullptr;
  auto* music = static_cast<MusicObject*>(static_cast<_OrvanMusic2*>(found));
  music->Release();  // the caller's reference keeps it
  return music->engine_.get();
}

com::BStr MusicObject::string_argument(BSTR text) {
  if (!text) return {};
  return com::BStr(std::u16string_view(text, SysStringLen(text)));
}

MusicObject::ByteArrayArgument::ByteArrayArgument(SAFEARRAY* array) {
  if (!array) return;
  // An array a client laid out itself may carry no element type: one-byte elements that are
  // no strings, objects or variants are bytes, as Invoke takes them too.
  constexpr USHORT kKinds = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD;
  VARTYPE type = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &type)))
    type = array->fFeatures & kKinds ? VT_EMPTY : VT_UI1;
  if (SafeArrayGetDim(array) != 1 || (type != VT_UI1 && type != VT_I1) || array->cbElements != 1) {
    status_ = E_INVALIDARG;
    return;
  }
  void* data = nullptr;
  // A locked array cannot be destroyed or resized under the read.
  if (FAILED(SafeArrayAccessData(array, &data))) {
    status_ = E_INVALIDARG;
    return;
  }
  locked_ = array;
  bytes_.emplace(std::span(static_cast<const std::uint8_t*>(data), array->rgsabound[0].cElements));
}

MusicObject::ByteArrayArgument::~ByteArrayArgument() {
  if (locked_) SafeArrayUnaccessData(locked_);
}

MusicObject::StreamArgument::StreamArgument(IUnknown* object) : object_(object) {
  if (!object) {
    status_ = E_POINTER;
    return;
  }
  void* found = nullptr;
  if (FAILED(object->QueryInterface(IID_ISequentialStream, &found)) || !found) {
    status_ = E_NOINTERFACE;
    return;
  }
  stream_ = static_cast<ISequentialStream*>(found);
}

MusicObject::StreamArgument::~StreamArgument() {
  if (stream_) stream_->Release();
}

com::HResult MusicObject::StreamArgument::read(std::uint8_t* into, std::uint32_t size,
                                               std::uint32_t& got) const {
  got = 0;
  if (!stream_) return status_;
  ULONG read = 0;
  const HRESULT hr = stream_->Read(into, size, &read);
  if (FAILED(hr)) return hr;
  got = read;
  return S_OK;
}

std::shared_ptr<const music::wave::ByteStore> MusicObject::StreamArgument::bytes_in_place() const {
  return stream_ ? stream_bytes(object_) : nullptr;
}

}  // namespace orvan::engine::component
