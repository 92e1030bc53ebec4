#include "platform/com/typelib/typelib_reader.h"

#include <cstring>

namespace orvan::typelib {
namespace {

namespace fmt = format;
using com::HResult;

bool valid_utf8(const std::uint8_t* s, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t c = s[i];
    std::size_t extra;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1Fu;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0Fu;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07u;
    } else {
      return false;
    }
    if (extra > n - i - 1) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3Fu);
    }
    const std::uint32_t min = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

class Validator {
 public:
  explicit Validator(ByteView blob) : blob_(blob) {}

  HResult run(fmt::Header& header) {
    if (!blob_.contains(0, sizeof(fmt::Header))) return TYPE_E_INVDATAREAD;
    h_ = blob_.load<fmt::Header>(0);
    if (std::memcmp(h_.magic, fmt::kMagic, 4) != 0 || h_.format_major != fmt::kFormatMajor)
      return TYPE_E_UNSUPFORMAT;
    if (h_.total_size > blob_.size || h_.total_size > fmt::kMaxBlobSize ||
        h_.header_size < sizeof(fmt::Header) || h_.header_size > h_.total_size)
      return TYPE_E_INVDATAREAD;
    blob_ = blob_.sub(0, h_.total_size);
    if (h_.syskind > SYS_WIN64) return TYPE_E_INVDATAREAD;
    if (!table(h_.imports, sizeof(fmt::ImportRecord)) ||
        !table(h_.external_refs, sizeof(fmt::ExternalRefRecord)) ||
        !table(h_.types, sizeof(fmt::TypeRecord)) ||
        !table(h_.functions, sizeof(fmt::FuncRecord)) ||
        !table(h_.params, sizeof(fmt::ParamRecord)) || !table(h_.vars, sizeof(fmt::VarRecord)) ||
        !table(h_.impls, sizeof(fmt::ImplRecord)) ||
        !table(h_.typedescs, sizeof(fmt::TypeDescRecord)) ||
        !table(h_.values, sizeof(fmt::ValueRecord)) || !table(h_.strings, 1))
      return TYPE_E_INVDATAREAD;
    strings_ = blob_.sub(h_.strings.offset, h_.strings.count);
    if (!string(h_.name, false) || !string(h_.doc) || !string(h_.help_file))
      return TYPE_E_INVDATAREAD;
    if (!imports() || !typedescs() || !values() || !types()) return TYPE_E_INVDATAREAD;
    header = h_;
    return S_OK;
  }

 private:
  bool table(const fmt::Table& t, std::size_t record_size) const {
    return t.offset >= h_.header_size && blob_.contains_array(t.offset, t.count, record_size);
  }
  template <class Record>
  Record at(const fmt::Table& t, std::uint32_t i) const {
    return blob_.load<Record>(t.offset + std::uint64_t{i} * sizeof(Record));
  }
  bool string(std::uint32_t ref, bool optional = true) const {
    if (ref == fmt::kNoString) return optional;
    if (!strings_.contains(ref, 4)) return false;
    const auto length = strings_.load<std::uint32_t>(ref);
    if (!strings_.contains(std::uint64_t{ref} + 4, length)) return false;
    return valid_utf8(strings_.data + ref + 4, length);
  }
  bool href(std::uint32_t ref) const {
    if (ref & fmt::kExternalRefBit) return (ref & ~fmt::kExternalRefBit) < h_.external_refs.count;
    return ref < h_.types.count;
  }
  bool typedesc_index(std::uint32_t i) const { return i < h_.typedescs.count; }

  bool imports() const {
    for (std::uint32_t i = 0; i < h_.imports.count; ++i)
      if (!string(at<fmt::ImportRecord>(h_.imports, i).name, false)) return false;
    for (std::uint32_t i = 0; i < h_.external_refs.count; ++i) {
      const auto ref = at<fmt::ExternalRefRecord>(h_.external_refs, i);
      if (ref.import >= h_.imports.count || !string(ref.name, false)) return false;
    }
    return true;
  }

  // A pointer's pointee comes earlier in the table, so every chain ends; its length is
  // bounded as well, so that nothing that walks a chain works long.
  bool typedescs() {
    depth_.assign(h_.typedescs.count, 0);
    for (std::uint32_t i = 0; i < h_.typedescs.count; ++i) {
      const auto td = at<fmt::TypeDescRecord>(h_.typedescs, i);
      if (td.vt == VT_PTR) {
        if (td.inner >= i) return false;
        depth_[i] = static_cast<std::uint8_t>(depth_[td.inner] + 1);
        if (depth_[i] > fmt::kMaxTypeDepth) return false;
      } else if (td.vt == VT_SAFEARRAY) {
        if (h_.format_minor < fmt::kFormatMinorArrays || td.inner >= i ||
            !fmt::is_array_element_type(at<fmt::TypeDescRecord>(h_.typedescs, td.inner).vt)) {
          return false;
        }
        depth_[i] = static_cast<std::uint8_t>(depth_[td.inner] + 1);
      } else if (td.vt == VT_USERDEFINED) {
        if (!href(td.inner)) return false;
      } else if (!fmt::is_scalar_type(td.vt)) {
        return false;
      }
    }
    return true;
  }

  bool values() const {
    for (std::uint32_t i = 0; i < h_.values.count; ++i) {
      const auto v = at<fmt::ValueRecord>(h_.values, i);
      switch (v.vt) {
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_BOOL:
          break;
        case VT_BSTR:
          if (!string(v.text, false)) return false;
          break;
        default:
          return false;
      }
    }
    return true;
  }

  static bool range(std::uint32_t first, std::uint32_t count, std::uint32_t table_count) {
    return first <= table_count && count <= table_count - first;
  }

  bool types() const {
    for (std::uint32_t i = 0; i < h_.types.count; ++i) {
      const auto t = at<fmt::TypeRecord>(h_.types, i);
      if (!string(t.name, false) || !string(t.doc)) return false;
      if (!range(t.first_function, t.function_count, h_.functions.count) ||
          !range(t.first_var, t.var_count, h_.vars.count) ||
          !range(t.first_impl, t.impl_count, h_.impls.count))
        return false;
      switch (t.kind) {
        case TKIND_INTERFACE:
        case TKIND_DISPATCH:
          if (t.var_count != 0 || t.impl_count > 1) return false;
          break;
        case TKIND_COCLASS:
          if (t.function_count != 0 || t.var_count != 0) return false;
          break;
        case TKIND_ENUM:
          if (t.function_count != 0 || t.impl_count != 0) return false;
          break;
        default:
          return false;
      }
      for (std::uint32_t k = 0; k < t.impl_count; ++k)
        if (!href(at<fmt::ImplRecord>(h_.impls, t.first_impl + k).href)) return false;
      for (std::uint32_t k = 0; k < t.function_count; ++k)
        if (!function(at<fmt::FuncRecord>(h_.functions, t.first_function + k), t)) return false;
      for (std::uint32_t k = 0; k < t.var_count; ++k)
        if (!var(at<fmt::VarRecord>(h_.vars, t.first_var + k))) return false;
    }
    return true;
  }

  bool function(const fmt::FuncRecord& f, const fmt::TypeRecord& owner) const {
    if (!string(f.name, false) || !string(f.doc)) return false;
    if (f.entry >= owner.vft_entries || !typedesc_index(f.result)) return false;
    if (f.invoke_kind != INVOKE_FUNC && f.invoke_kind != INVOKE_PROPERTYGET &&
        f.invoke_kind != INVOKE_PROPERTYPUT && f.invoke_kind != INVOKE_PROPERTYPUTREF)
      return false;
    if (f.callconv != CC_STDCALL && f.callconv != CC_CDECL) return false;
    // A dispinterface's members are dispatched by DISPID only; an interface's sit in its table.
    if (owner.kind == TKIND_DISPATCH ? f.funckind != FUNC_DISPATCH
                                     : f.funckind != FUNC_PUREVIRTUAL && f.funckind != FUNC_VIRTUAL)
      return false;
    if (f.param_count > fmt::kMaxParams || !range(f.first_param, f.param_count, h_.params.count))
      return false;
    for (std::uint32_t k = 0; k < f.param_count; ++k) {
      const auto p = at<fmt::ParamRecord>(h_.params, f.first_param + k);
      if (!string(p.name, false) || !typedesc_index(p.type)) return false;
      const bool has_default = (p.flags & PARAMFLAG_FHASDEFAULT) != 0;
      if (has_default != (p.default_value != fmt::kNoValue)) return false;
      if (has_default && p.default_value >= h_.values.count) return false;
      // Invoke hands a result back through the last parameter only, and only a pointer.
      if (p.flags & PARAMFLAG_FRETVAL) {
        if (k + 1 != f.param_count) return false;
        if (at<fmt::TypeDescRecord>(h_.typedescs, p.type).vt != VT_PTR) return false;
      }
    }
    return true;
  }

  bool var(const fmt::VarRecord& v) const {
    return string(v.name, false) && string(v.doc) && typedesc_index(v.type) &&
           v.value < h_.values.count;
  }

  ByteView blob_;
  ByteView strings_;
  fmt::Header h_{};
  std::vector<std::uint8_t> depth_;
};

}  // namespace

HResult TypeLibData::validate(ByteView blob) {
  fmt::Header header;
  return Validator(blob).run(header);
}

HResult TypeLibData::open(std::vector<std::uint8_t> bytes, std::unique_ptr<TypeLibData>& out) {
  auto data = std::unique_ptr<TypeLibData>(new TypeLibData);
  data->bytes_ = std::move(bytes);
  const HResult hr = Validator({data->bytes_.data(), data->bytes_.size()}).run(data->header_);
  if (hr < 0) return hr;
  out = std::move(data);
  return S_OK;
}

std::string_view TypeLibData::string(std::uint32_t ref) const noexcept {
  if (ref == fmt::kNoString) return {};
  const ByteView strings = bytes().sub(header_.strings.offset, header_.strings.count);
  const auto length = strings.load<std::uint32_t>(ref);
  return {reinterpret_cast<const char*>(strings.data + ref + 4), length};
}

fmt::TypeDescRecord TypeLibData::strip_pointers(std::uint32_t typedesc_index,
                                                int& levels) const noexcept {
  levels = 0;
  fmt::TypeDescRecord td = typedesc(typedesc_index);
  while (td.vt == VT_PTR) {
    ++levels;
    td = typedesc(td.inner);
  }
  return td;
}

}  // namespace orvan::typelib
