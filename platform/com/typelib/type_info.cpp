// ITypeInfo: one type's attributes, functions, constants, names and references.
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/com/typelib/name_compare.h"
#include "platform/com/typelib/type_lib.h"

namespace orvan::typelib {

namespace fmt = format;

namespace {

constexpr MEMBERID kMemberNil = -1;

// A description block: the public struct first, then the arrays it points into, in one
// allocation that the matching Release call frees with one std::free.
class Block {
 public:
  explicit Block(std::size_t size) : base_(static_cast<std::uint8_t*>(std::calloc(1, size))) {}
  explicit operator bool() const { return base_ != nullptr; }
  template <class T>
  T* take(std::size_t count) {
    used_ = (used_ + alignof(T) - 1) / alignof(T) * alignof(T);
    T* p = reinterpret_cast<T*>(base_ + used_);
    used_ += sizeof(T) * count;
    return p;
  }
  template <class T>
  static std::size_t room(std::size_t count) {
    return sizeof(T) * count + alignof(T);
  }

 private:
  std::uint8_t* base_;
  std::size_t used_ = 0;
};

// Counts the TYPEDESCs a chain needs beyond the one embedded in its ELEMDESC.
std::size_t chain_length(const TypeLibData& data, std::uint32_t typedesc) {
  int levels = 0;
  const format::TypeDescRecord last = data.strip_pointers(typedesc, levels);
  return static_cast<std::size_t>(levels) + (last.vt == VT_SAFEARRAY ? 1 : 0);
}

void fill_typedesc(const TypeLibData& data, std::uint32_t index, TYPEDESC& out, TYPEDESC*& spare) {
  const fmt::TypeDescRecord td = data.typedesc(index);
  out.vt = td.vt;
  if (td.vt == VT_PTR || td.vt == VT_SAFEARRAY) {
    out.lptdesc = spare++;
    fill_typedesc(data, td.inner, *out.lptdesc, spare);
  } else if (td.vt == VT_USERDEFINED) {
    out.hreftype = td.inner;
  }
}

void fill_value(const TypeLibData& data, std::uint32_t index, VARIANT& out) {
  const fmt::ValueRecord v = data.value(index);
  std::int64_t integer;
  double real;
  std::memcpy(&integer, v.bits, 8);
  std::memcpy(&real, v.bits, 8);
  out.vt = v.vt;
  switch (v.vt) {
    case VT_I2:
      out.iVal = static_cast<std::int16_t>(integer);
      break;
    case VT_I4:
      out.lVal = static_cast<std::int32_t>(integer);
      break;
    case VT_BOOL:
      out.boolVal = integer ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_R4:
      out.fltVal = static_cast<float>(real);
      break;
    case VT_R8:
      out.dblVal = real;
      break;
    case VT_BSTR:
      out.bstrVal = make_bstr(data.string(v.text));
      break;
    default:
      out.vt = VT_EMPTY;
      break;
  }
}

}  // namespace

// Used by the dispatcher to read a default value.
void read_value(const TypeLibData& data, std::uint32_t index, VARIANT& out) {
  fill_value(data, index, out);
}

TypeInfo::TypeInfo(TypeLib& lib, std::uint32_t index)
    : lib_(lib), index_(index), record_(lib.data().type(index)) {}

const TypeLibData& TypeInfo::data() const noexcept {
  return lib_.data();
}

HRESULT TypeInfo::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
    *object = static_cast<ITypeInfo*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeInfo::AddRef() {
  return lib_.AddRef();
}

ULONG TypeInfo::Release() {
  return lib_.Release();
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** attr) {
  if (!attr) return E_INVALIDARG;
  auto* a = static_cast<TYPEATTR*>(std::calloc(1, sizeof(TYPEATTR)));
  if (!a) return E_OUTOFMEMORY;
  a->guid = TypeLibData::to_guid(record_.guid);
  a->lcid = data().header().lcid;
  a->memidConstructor = kMemberNil;
  a->memidDestructor = kMemberNil;
  a->typekind = static_cast<TYPEKIND>(record_.kind);
  a->cFuncs = static_cast<WORD>(record_.function_count);
  a->cVars = static_cast<WORD>(record_.var_count);
  a->cImplTypes = static_cast<WORD>(record_.impl_count);
  a->cbSizeVft = static_cast<WORD>(record_.vft_entries * sizeof(void*));
  a->cbAlignment = record_.kind == TKIND_ENUM ? 4 : 8;
  a->cbSizeInstance = record_.kind == TKIND_ENUM ? 4 : 8;
  a->wTypeFlags = record_.type_flags;
  a->wMajorVerNum = record_.major;
  a->wMinorVerNum = record_.minor;
  *attr = a;
  return S_OK;
}

void TypeInfo::ReleaseTypeAttr(TYPEATTR* attr) {
  std::free(attr);
}

HRESULT TypeInfo::GetTypeComp(ITypeComp** comp) {
  if (comp) *comp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC** desc) {
  if (!desc) return E_INVALIDARG;
  *desc = nullptr;
  if (index >= record_.function_count) return TYPE_E_ELEMENTNOTFOUND;
  const TypeLibData& d = data();
  const fmt::FuncRecord fn = d.function(record_.first_function + index);
  std::size_t chains = chain_length(d, fn.result);
  std::size_t defaults = 0;
  for (std::uint32_t p = 0; p < fn.param_count; ++p) {
    const fmt::ParamRecord param = d.param(fn.first_param + p);
    chains += chain_length(d, param.type);
    if (param.default_value != fmt::kNoValue) ++defaults;
  }
  Block block(Block::room<FUNCDESC>(1) + Block::room<ELEMDESC>(fn.param_count) +
              Block::room<TYPEDESC>(chains) + Block::room<PARAMDESCEX>(defaults));
  if (!block) return E_OUTOFMEMORY;
  FUNCDESC* f = block.take<FUNCDESC>(1);
  ELEMDESC* params = block.take<ELEMDESC>(fn.param_count);
  TYPEDESC* spare = block.take<TYPEDESC>(chains);
  PARAMDESCEX* ex = block.take<PARAMDESCEX>(defaults);

  f->memid = fn.memid;
  f->lprgelemdescParam = fn.param_count ? params : nullptr;
  f->funckind = static_cast<FUNCKIND>(fn.funckind);
  f->invkind = static_cast<INVOKEKIND>(fn.invoke_kind);
  f->callconv = static_cast<CALLCONV>(fn.callconv);
  f->cParams = static_cast<SHORT>(fn.param_count);
  f->oVft = static_cast<SHORT>(fn.entry * sizeof(void*));
  f->wFuncFlags = fn.func_flags;
  fill_typedesc(d, fn.result, f->elemdescFunc.tdesc, spare);
  for (std::uint32_t p = 0; p < fn.param_count; ++p) {
    const fmt::ParamRecord param = d.param(fn.first_param + p);
    fill_typedesc(d, param.type, params[p].tdesc, spare);
    params[p].paramdesc.wParamFlags = param.flags;
    if (param.flags & PARAMFLAG_FOPT) ++f->cParamsOpt;
    if (param.default_value != fmt::kNoValue) {
      ex->cBytes = sizeof(PARAMDESCEX);
      fill_value(d, param.default_value, ex->varDefaultValue);
      params[p].paramdesc.pparamdescex = ex++;
    }
  }
  *desc = f;
  return S_OK;
}

void TypeInfo::ReleaseFuncDesc(FUNCDESC* desc) {
  if (!desc) return;
  for (SHORT p = 0; p < desc->cParams; ++p) {
    PARAMDESC& pd = desc->lprgelemdescParam[p].paramdesc;
    if ((pd.wParamFlags & PARAMFLAG_FHASDEFAULT) && pd.pparamdescex)
      VariantClear(&pd.pparamdescex->varDefaultValue);
  }
  std::free(desc);
}

HRESULT TypeInfo::GetVarDesc(UINT index, VARDESC** desc) {
  if (!desc) return E_INVALIDARG;
  *desc = nullptr;
  if (index >= record_.var_count) return TYPE_E_ELEMENTNOTFOUND;
  const TypeLibData& d = data();
  const fmt::VarRecord var = d.var(record_.first_var + index);
  const std::size_t chains = chain_length(d, var.type);
  Block block(Block::room<VARDESC>(1) + Block::room<VARIANT>(1) + Block::room<TYPEDESC>(chains));
  if (!block) return E_OUTOFMEMORY;
  VARDESC* v = block.take<VARDESC>(1);
  VARIANT* value = block.take<VARIANT>(1);
  TYPEDESC* spare = block.take<TYPEDESC>(chains);
  v->memid = var.memid;
  v->varkind = VAR_CONST;
  v->lpvarValue = value;
  fill_value(d, var.value, *value);
  fill_typedesc(d, var.type, v->elemdescVar.tdesc, spare);
  *desc = v;
  return S_OK;
}

void TypeInfo::ReleaseVarDesc(VARDESC* desc) {
  if (!desc) return;
  if (desc->varkind == VAR_CONST && desc->lpvarValue) VariantClear(desc->lpvarValue);
  std::free(desc);
}

bool TypeInfo::find_function(MEMBERID id, int kinds, fmt::FuncRecord& fn) const noexcept {
  const TypeLibData& d = data();
  fmt::TypeRecord type = record_;
  // Base interfaces of this library are searched too; the chain is at most as long as the
  // library has types, so a looping blob cannot keep us here.
  for (std::uint32_t hops = 0; hops <= d.type_count(); ++hops) {
    for (std::uint32_t i = 0; i < type.function_count; ++i) {
      fn = d.function(type.first_function + i);
      if (fn.memid == id && (fn.invoke_kind & kinds)) return true;
    }
    if (type.kind != TKIND_INTERFACE || type.impl_count == 0) return false;
    const std::uint32_t base = d.impl(type.first_impl).href;
    if (base & fmt::kExternalRefBit) return false;
    type = d.type(base);
  }
  return false;
}

bool TypeInfo::has_member(MEMBERID id) const noexcept {
  fmt::FuncRecord fn;
  return find_function(
      id, INVOKE_FUNC | INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF, fn);
}

HRESULT TypeInfo::GetNames(MEMBERID id, BSTR* names, UINT max_names, UINT* count) {
  if (!names || !count) return E_INVALIDARG;
  *count = 0;
  const TypeLibData& d = data();
  fmt::FuncRecord fn;
  if (find_function(
          id, INVOKE_FUNC | INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF, fn)) {
    if (max_names == 0) return S_OK;
    names[(*count)++] = make_bstr(d.string(fn.name));
    for (std::uint32_t p = 0; p < fn.param_count && *count < max_names; ++p)
      names[(*count)++] = make_bstr(d.string(d.param(fn.first_param + p).name));
    return S_OK;
  }
  for (std::uint32_t i = 0; i < record_.var_count; ++i) {
    const fmt::VarRecord var = d.var(record_.first_var + i);
    if (var.memid != id) continue;
    if (max_names > 0) names[(*count)++] = make_bstr(d.string(var.name));
    return S_OK;
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* ref) {
  if (!ref) return E_INVALIDARG;
  if (index >= record_.impl_count) return TYPE_E_ELEMENTNOTFOUND;
  *ref = data().impl(record_.first_impl + index).href;
  return S_OK;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT* flags) {
  if (!flags) return E_INVALIDARG;
  if (index >= record_.impl_count) return TYPE_E_ELEMENTNOTFOUND;
  *flags = data().impl(record_.first_impl + index).flags;
  return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (!names || !ids) return E_INVALIDARG;
  if (count == 0) return S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const TypeLibData& d = data();
  const std::string wanted = name_to_utf8(names[0]);
  fmt::TypeRecord type = record_;
  for (std::uint32_t hops = 0; hops <= d.type_count(); ++hops) {
    for (std::uint32_t f = 0; f < type.function_count; ++f) {
      const fmt::FuncRecord fn = d.function(type.first_function + f);
      if (!NameEqual{}(d.string(fn.name), wanted)) continue;
      ids[0] = fn.memid;
      // Further names are the function's parameters, answered with their positions.
      HRESULT hr = S_OK;
      for (UINT n = 1; n < count; ++n) {
        const std::string param_name = name_to_utf8(names[n]);
        for (std::uint32_t p = 0; p < fn.param_count; ++p) {
          if (NameEqual{}(d.string(d.param(fn.first_param + p).name), param_name)) {
            ids[n] = static_cast<MEMBERID>(p);
            break;
          }
        }
        if (ids[n] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
      }
      return hr;
    }
    for (std::uint32_t v = 0; v < type.var_count; ++v) {
      const fmt::VarRecord var = d.var(type.first_var + v);
      if (!NameEqual{}(d.string(var.name), wanted)) continue;
      ids[0] = var.memid;
      return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    if (type.kind != TKIND_INTERFACE || type.impl_count == 0) break;
    const std::uint32_t base = d.impl(type.first_impl).href;
    if (base & fmt::kExternalRefBit) {
      // The base lives in another library (IDispatch in stdole2): ask it.
      ITypeInfo* other = nullptr;
      if (FAILED(lib_.external_type(base & ~fmt::kExternalRefBit, &other))) break;
      const HRESULT hr = other->GetIDsOfNames(names, count, ids);
      other->Release();
      return hr;
    }
    type = d.type(base);
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfo::GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* help_context,
                                   BSTR* help_file) {
  const TypeLibData& d = data();
  std::uint32_t name_ref = fmt::kNoString, doc_ref = fmt::kNoString, context = 0;
  bool found = false;
  if (id == kMemberNil) {
    name_ref = record_.name;
    doc_ref = record_.doc;
    context = record_.help_context;
    found = true;
  }
  fmt::FuncRecord fn;
  if (!found &&
      find_function(
          id, INVOKE_FUNC | INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF, fn)) {
    name_ref = fn.name;
    doc_ref = fn.doc;
    context = fn.help_context;
    found = true;
  }
  for (std::uint32_t i = 0; !found && i < record_.var_count; ++i) {
    const fmt::VarRecord var = d.var(record_.first_var + i);
    if (var.memid != id) continue;
    name_ref = var.name;
    doc_ref = var.doc;
    context = var.help_context;
    found = true;
  }
  if (!found) return TYPE_E_ELEMENTNOTFOUND;
  if (name) *name = make_bstr(d.string(name_ref));
  if (doc) *doc = doc_ref == fmt::kNoString ? nullptr : make_bstr(d.string(doc_ref));
  if (help_context) *help_context = context;
  if (help_file) {
    const std::uint32_t file = d.header().help_file;
    *help_file = file == fmt::kNoString ? nullptr : make_bstr(d.string(file));
  }
  return S_OK;
}

HRESULT TypeInfo::GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name, WORD* ordinal) {
  if (dll) *dll = nullptr;
  if (name) *name = nullptr;
  if (ordinal) *ordinal = 0;
  return E_NOTIMPL;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) {
  if (!info) return E_INVALIDARG;
  *info = nullptr;
  if (ref & fmt::kExternalRefBit) return lib_.external_type(ref & ~fmt::kExternalRefBit, info);
  if (ref >= data().type_count()) return TYPE_E_ELEMENTNOTFOUND;
  *info = &lib_.info(ref);
  (*info)->AddRef();
  return S_OK;
}

HRESULT TypeInfo::AddressOfMember(MEMBERID, INVOKEKIND, void** address) {
  if (address) *address = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfo::CreateInstance(IUnknown*, REFIID, void** object) {
  if (object) *object = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfo::GetMops(MEMBERID, BSTR* mops) {
  if (mops) *mops = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
  if (lib) {
    *lib = &lib_;
    lib_.AddRef();
  }
  if (index) *index = index_;
  return S_OK;
}

}  // namespace orvan::typelib
