// ITypeLib: the library's attributes, its types by index and GUID, and name lookup.
#include "platform/com/typelib/type_lib.h"

#include <cstdlib>
#include <cstring>

#include "platform/com/auto_string.h"
#include "platform/com/typelib/name_compare.h"

namespace orvan::typelib {

namespace fmt = format;

BSTR make_bstr(std::string_view utf8) {
  const std::u16string text = com::utf8_to_utf16(utf8);
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

std::string name_to_utf8(const OLECHAR* name) {
  if (!name) return {};
  std::size_t n = 0;
  while (name[n]) ++n;
  return com::utf16_to_utf8({name, n});
}

TypeLib::TypeLib(std::unique_ptr<TypeLibData> data, std::string path)
    : data_(std::move(data)), path_(std::move(path)) {
  infos_.reserve(data_->type_count());
  for (std::uint32_t i = 0; i < data_->type_count(); ++i)
    infos_.push_back(std::make_unique<TypeInfo>(*this, i));
  external_.assign(data_->header().external_refs.count, nullptr);
}

TypeLib::~TypeLib() {
  for (ITypeInfo* info : external_)
    if (info) info->Release();
}

HRESULT TypeLib::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeLib) {
    *object = static_cast<ITypeLib*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeLib::AddRef() {
  return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG TypeLib::Release() {
  const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

UINT TypeLib::GetTypeInfoCount() {
  return data_->type_count();
}

HRESULT TypeLib::GetTypeInfo(UINT index, ITypeInfo** info) {
  if (!info) return E_INVALIDARG;
  *info = nullptr;
  if (index >= data_->type_count()) return TYPE_E_ELEMENTNOTFOUND;
  *info = infos_[index].get();
  (*info)->AddRef();
  return S_OK;
}

HRESULT TypeLib::GetTypeInfoType(UINT index, TYPEKIND* kind) {
  if (!kind) return E_INVALIDARG;
  if (index >= data_->type_count()) return TYPE_E_ELEMENTNOTFOUND;
  *kind = static_cast<TYPEKIND>(data_->type(index).kind);
  return S_OK;
}

HRESULT TypeLib::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) {
  if (!info) return E_INVALIDARG;
  *info = nullptr;
  for (std::uint32_t i = 0; i < data_->type_count(); ++i) {
    if (TypeLibData::to_guid(data_->type(i).guid) == guid) return GetTypeInfo(i, info);
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeLib::GetLibAttr(TLIBATTR** attr) {
  if (!attr) return E_INVALIDARG;
  auto* a = static_cast<TLIBATTR*>(std::calloc(1, sizeof(TLIBATTR)));
  if (!a) return E_OUTOFMEMORY;
  const fmt::Header& h = data_->header();
  a->guid = data_->libid();
  a->lcid = h.lcid;
  a->syskind = static_cast<SYSKIND>(h.syskind);
  a->wMajorVerNum = h.major;
  a->wMinorVerNum = h.minor;
  a->wLibFlags = h.lib_flags;
  *attr = a;
  return S_OK;
}

void TypeLib::ReleaseTLibAttr(TLIBATTR* attr) {
  std::free(attr);
}

HRESULT TypeLib::GetTypeComp(ITypeComp** comp) {
  if (comp) *comp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeLib::GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* help_context,
                                  BSTR* help_file) {
  const fmt::Header& h = data_->header();
  std::uint32_t name_ref = h.name, doc_ref = h.doc, context = h.help_context;
  if (index >= 0) {
    if (static_cast<std::uint32_t>(index) >= data_->type_count()) return TYPE_E_ELEMENTNOTFOUND;
    const fmt::TypeRecord t = data_->type(static_cast<std::uint32_t>(index));
    name_ref = t.name;
    doc_ref = t.doc;
    context = t.help_context;
  } else if (index != -1) {
    return TYPE_E_ELEMENTNOTFOUND;
  }
  if (name) *name = make_bstr(data_->string(name_ref));
  if (doc) *doc = doc_ref == fmt::kNoString ? nullptr : make_bstr(data_->string(doc_ref));
  if (help_context) *help_context = context;
  if (help_file)
    *help_file = h.help_file == fmt::kNoString ? nullptr : make_bstr(data_->string(h.help_file));
  return S_OK;
}

namespace {

// Calls `visit(type index, member id, stored name)` for every type, function, parameter and
// constant name of the library until it returns true.
template <class Visit>
bool for_each_name(const TypeLibData& data, Visit&& visit) {
  for (std::uint32_t t = 0; t < data.type_count(); ++t) {
    const fmt::TypeRecord type = data.type(t);
    if (visit(t, MEMBERID{-1}, data.string(type.name))) return true;
    for (std::uint32_t f = 0; f < type.function_count; ++f) {
      const fmt::FuncRecord fn = data.function(type.first_function + f);
      if (visit(t, fn.memid, data.string(fn.name))) return true;
      for (std::uint32_t p = 0; p < fn.param_count; ++p)
        if (visit(t, fn.memid, data.string(data.param(fn.first_param + p).name))) return true;
    }
    for (std::uint32_t v = 0; v < type.var_count; ++v) {
      const fmt::VarRecord var = data.var(type.first_var + v);
      if (visit(t, var.memid, data.string(var.name))) return true;
    }
  }
  return false;
}

}  // namespace

HRESULT TypeLib::IsName(LPOLESTR name, ULONG, BOOL* found) {
  if (!name || !found) return E_INVALIDARG;
  const std::string wanted = name_to_utf8(name);
  std::string_view match;
  *found = for_each_name(*data_, [&](std::uint32_t, MEMBERID, std::string_view stored) {
    if (!NameEqual{}(stored, wanted)) return false;
    match = stored;
    return true;
  });
  // As the platform does, the caller's buffer gets the stored spelling.
  if (*found) {
    const std::u16string stored = com::utf8_to_utf16(match);
    std::size_t n = 0;
    while (name[n]) ++n;
    if (stored.size() == n) std::memcpy(name, stored.data(), n * sizeof(OLECHAR));
  }
  return S_OK;
}

HRESULT TypeLib::FindName(LPOLESTR name, ULONG, ITypeInfo** infos, MEMBERID* ids, USHORT* found) {
  if (!name || !infos || !ids || !found) return E_INVALIDARG;
  const std::string wanted = name_to_utf8(name);
  const USHORT room = *found;
  USHORT n = 0;
  std::uint32_t last_type = ~0u;
  MEMBERID last_id = 0;
  for_each_name(*data_, [&](std::uint32_t t, MEMBERID id, std::string_view stored) {
    if (n >= room) return true;
    // A function matched through one of its parameters counts once.
    if (!NameEqual{}(stored, wanted) || (t == last_type && id == last_id)) return false;
    last_type = t;
    last_id = id;
    infos[n] = infos_[t].get();
    infos[n]->AddRef();
    ids[n] = id;
    ++n;
    return false;
  });
  *found = n;
  return S_OK;
}

HRESULT TypeLib::external_type(std::uint32_t ref_index, ITypeInfo** info) {
  *info = nullptr;
  if (ref_index >= external_.size()) return TYPE_E_ELEMENTNOTFOUND;
  {
    std::lock_guard lock(external_mutex_);
    if (ITypeInfo* cached = external_[ref_index]) {
      cached->AddRef();
      *info = cached;
      return S_OK;
    }
  }
  const fmt::ExternalRefRecord ref = data_->external_ref(ref_index);
  const fmt::ImportRecord imp = data_->import(ref.import);
  ITypeLib* other = nullptr;
  HRESULT hr = LoadRegTypeLib(TypeLibData::to_guid(imp.libid), imp.major, imp.minor, 0, &other);
  if (FAILED(hr)) return hr;
  ITypeInfo* found = nullptr;
  hr = other->GetTypeInfoOfGuid(TypeLibData::to_guid(ref.guid), &found);
  other->Release();
  if (FAILED(hr)) return hr;
  std::lock_guard lock(external_mutex_);
  if (external_[ref_index]) {
    found->Release();
  } else {
    external_[ref_index] = found;
  }
  external_[ref_index]->AddRef();
  *info = external_[ref_index];
  return S_OK;
}

}  // namespace orvan::typelib
