#include "platform/com/typelib/typelib_writer.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "platform/com/typelib/append_record.h"
#include "platform/com/typelib/name_compare.h"
#include "platform/com/typelib/typelib_format.h"

namespace orvan::typelib {
namespace {

namespace fmt = format;

void guid_bytes(const Guid& g, std::uint8_t out[16]) {
  GUID raw{g.data1, g.data2, g.data3, {}};
  std::memcpy(raw.Data4, g.data4.data(), 8);
  std::memcpy(out, &raw, 16);
}

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw DescriptionError(where + ": " + what);
}

// Where a user-defined type name leads: a type of this library or an imported one.
struct TypeTarget {
  std::uint32_t href = 0;
  bool local = false;
  TYPEKIND local_kind = TKIND_ENUM;
  std::string name;
};

class Writer {
 public:
  explicit Writer(const LibraryDescription& library) : lib_(library) {}

  std::vector<std::uint8_t> write() {
    if (lib_.name.empty()) fail("library", "has no name");
    index_types();
    header_ = {};
    std::memcpy(header_.magic, fmt::kMagic, 4);
    header_.format_major = fmt::kFormatMajor;
    header_.format_minor = 0;  // 1.1 once a dispinterface or an array type is written
    header_.header_size = sizeof(fmt::Header);
    guid_bytes(lib_.libid, header_.libid);
    header_.major = lib_.major;
    header_.minor = lib_.minor;
    header_.lcid = lib_.lcid;
    header_.syskind = static_cast<std::uint32_t>(lib_.syskind);
    header_.lib_flags = lib_.flags;
    header_.name = string(lib_.name);
    header_.doc = optional_string(lib_.doc);
    header_.help_file = optional_string(lib_.help_file);
    header_.help_context = lib_.help_context;
    for (const TypeDescription& type : lib_.types) {
      std::visit([this](const auto& t) { add_type(t); }, type);
    }
    return assemble();
  }

 private:
  void index_types() {
    std::set<std::string, NameLess> seen;
    for (std::size_t i = 0; i < lib_.types.size(); ++i) {
      const std::string& name =
          std::visit([](const auto& t) -> const std::string& { return t.name; }, lib_.types[i]);
      if (name.empty()) fail("type " + std::to_string(i), "has no name");
      if (!seen.insert(name).second) fail(name, "is described twice");
      TypeTarget target;
      target.href = static_cast<std::uint32_t>(i);
      target.local = true;
      target.name = name;
      const auto* itf = std::get_if<InterfaceDescription>(&lib_.types[i]);
      target.local_kind = itf ? (itf->dispinterface ? TKIND_DISPATCH : TKIND_INTERFACE)
                          : std::holds_alternative<CoclassDescription>(lib_.types[i])
                              ? TKIND_COCLASS
                              : TKIND_ENUM;
      local_[name] = target;
    }
    for (std::size_t i = 0; i < lib_.imports.size(); ++i) {
      const ImportedLibrary& imp = lib_.imports[i];
      if (imp.name.empty()) fail("import " + std::to_string(i), "has no name");
      fmt::ImportRecord record{};
      guid_bytes(imp.libid, record.libid);
      record.major = imp.major;
      record.minor = imp.minor;
      record.name = string(imp.name);
      imports_.push_back(record);
      for (const ImportedType& type : imp.types) {
        fmt::ExternalRefRecord ref{};
        ref.import = static_cast<std::uint32_t>(i);
        ref.name = string(type.name);
        guid_bytes(type.guid, ref.guid);
        TypeTarget target;
        target.href = fmt::kExternalRefBit | static_cast<std::uint32_t>(external_refs_.size());
        target.name = type.name;
        external_refs_.push_back(ref);
        // An unqualified name finds the first import that has it; the qualified one is exact.
        external_.try_emplace(type.name, target);
        external_.try_emplace(imp.name + "." + type.name, target);
      }
    }
  }

  const TypeTarget& resolve(const std::string& where, const std::string& name) {
    if (auto it = local_.find(name); it != local_.end()) return it->second;
    if (auto it = external_.find(name); it != external_.end()) return it->second;
    fail(where, "refers to the unknown type '" + name + "'");
  }

  std::uint32_t string(const std::string& text) {
    if (auto it = string_offsets_.find(text); it != string_offsets_.end()) return it->second;
    const auto offset = static_cast<std::uint32_t>(strings_.size());
    const auto length = static_cast<std::uint32_t>(text.size());
    const auto* length_bytes = reinterpret_cast<const std::uint8_t*>(&length);
    strings_.insert(strings_.end(), length_bytes, length_bytes + 4);
    strings_.insert(strings_.end(), text.begin(), text.end());
    string_offsets_.emplace(text, offset);
    return offset;
  }
  std::uint32_t optional_string(const std::string& text) {
    return text.empty() ? fmt::kNoString : string(text);
  }

  std::uint32_t typedesc(const std::string& where, const TypeSpec& spec, int depth = 0) {
    if (depth > static_cast<int>(fmt::kMaxTypeDepth)) fail(where, "has too many pointer levels");
    fmt::TypeDescRecord record{};
    record.vt = spec.vt;
    if (spec.vt == VT_PTR) {
      if (spec.inner.size() != 1) fail(where, "has a pointer type without its pointee");
      record.inner = typedesc(where, spec.inner[0], depth + 1);
    } else if (spec.vt == VT_SAFEARRAY) {
      if (spec.inner.size() != 1 || !fmt::is_array_element_type(spec.inner[0].vt)) {
        fail(where, "has an array whose element type is not a scalar automation type");
      }
      record.inner = typedesc(where, spec.inner[0], depth + 1);
      header_.format_minor = fmt::kFormatMinorArrays;
    } else if (spec.vt == VT_USERDEFINED) {
      record.inner = resolve(where, spec.user_type).href;
    } else if (!fmt::is_scalar_type(spec.vt)) {
      fail(where, "has the unsupported type " + std::to_string(spec.vt));
    }
    const auto key = std::make_pair(record.vt, record.inner);
    if (auto it = typedesc_index_.find(key); it != typedesc_index_.end()) return it->second;
    const auto index = static_cast<std::uint32_t>(typedescs_.size());
    typedescs_.push_back(record);
    typedesc_index_.emplace(key, index);
    return index;
  }

  std::uint32_t value(const std::string& where, const Value& v) {
    fmt::ValueRecord record{};
    record.vt = v.vt;
    record.text = fmt::kNoString;
    switch (v.vt) {
      case VT_I2:
      case VT_I4:
      case VT_BOOL:
        std::memcpy(record.bits, &v.integer, 8);
        break;
      case VT_R4:
      case VT_R8:
        std::memcpy(record.bits, &v.real, 8);
        break;
      case VT_BSTR:
        record.text = string(v.text);
        break;
      default:
        fail(where, "has a constant of unsupported type " + std::to_string(v.vt));
    }
    const auto index = static_cast<std::uint32_t>(values_.size());
    values_.push_back(record);
    return index;
  }

  std::uint16_t base_entries(const std::string& base) {
    if (base.empty()) return 0;
    const TypeTarget& target = resolve("base", base);
    if (target.local) return local_vft_[target.name];
    // The platform's two root interfaces; other imported bases must state their entries.
    if (NameEqual{}(target.name, "IUnknown")) return 3;
    if (NameEqual{}(target.name, "IDispatch")) return 7;
    return 0;
  }

  fmt::TypeRecord begin_type(TYPEKIND kind, const Guid& guid, const std::string& name,
                             const std::string& doc, DWORD help_context, WORD flags, WORD major,
                             WORD minor) {
    fmt::TypeRecord record{};
    record.kind = static_cast<std::uint32_t>(kind);
    record.type_flags = flags;
    guid_bytes(guid, record.guid);
    record.name = string(name);
    record.doc = optional_string(doc);
    record.help_context = help_context;
    record.major = major;
    record.minor = minor;
    record.first_function = static_cast<std::uint32_t>(functions_.size());
    record.first_var = static_cast<std::uint32_t>(vars_.size());
    record.first_impl = static_cast<std::uint32_t>(impls_.size());
    return record;
  }

  void add_type(const InterfaceDescription& itf) {
    fmt::TypeRecord record =
        begin_type(itf.dispinterface ? TKIND_DISPATCH : TKIND_INTERFACE, itf.iid, itf.name, itf.doc,
                   itf.help_context, itf.flags, itf.major, itf.minor);
    if (itf.dispinterface && !NameEqual{}(itf.base, "IDispatch"))
      fail(itf.name, "is a dispinterface, whose base must be IDispatch");
    if (itf.dispinterface) header_.format_minor = fmt::kFormatMinor;
    std::uint16_t entries = 0;
    if (!itf.base.empty()) {
      const TypeTarget& base = resolve(itf.name, itf.base);
      if (base.local && base.local_kind != TKIND_INTERFACE)
        fail(itf.name, "derives from '" + itf.base + "', which is not an interface");
      impls_.push_back({base.href, 0});
      entries = base_entries(itf.base);
      // Every interface that reaches IDispatch through its bases is dispatchable, whatever
      // its description says: generic clients test the flag before calling Invoke.
      const bool dispatchable = base.local ? local_dispatchable_.contains(base.name)
                                           : NameEqual{}(base.name, "IDispatch");
      if (dispatchable) {
        record.type_flags = static_cast<std::uint16_t>(record.type_flags | TYPEFLAG_FDISPATCHABLE);
        local_dispatchable_.insert(itf.name);
      }
    }
    const std::uint16_t first_own_entry = entries;
    std::set<DISPID> dispids;
    std::set<std::uint16_t> slots;
    std::set<std::string, NameLess> names;
    for (const FunctionDescription& fn : itf.functions) {
      const std::string where = itf.name + "." + fn.name;
      if (fn.name.empty()) fail(itf.name, "has a function without a name");
      if (!dispids.insert(fn.dispid).second) fail(where, "repeats a DISPID");
      if (itf.dispinterface) {
        add_function(where, fn, FUNC_DISPATCH);
        continue;
      }
      if (!slots.insert(fn.entry).second) fail(where, "repeats a function-table entry");
      if (fn.entry < first_own_entry) fail(where, "takes a function-table entry of its base");
      if (fn.invoke_kind == INVOKE_FUNC && !names.insert(fn.name).second)
        fail(where, "is described twice");
      if (fn.params.size() > fmt::kMaxParams) fail(where, "has too many parameters");
      entries = std::max<std::uint16_t>(entries, static_cast<std::uint16_t>(fn.entry + 1));
      add_function(where, fn, FUNC_PUREVIRTUAL);
    }
    record.vft_entries = entries;
    record.function_count = static_cast<std::uint32_t>(functions_.size()) - record.first_function;
    record.impl_count = static_cast<std::uint32_t>(impls_.size()) - record.first_impl;
    local_vft_[itf.name] = entries;
    types_.push_back(record);
  }

  void add_function(const std::string& where, const FunctionDescription& fn, FUNCKIND kind) {
    fmt::FuncRecord record{};
    record.memid = fn.dispid;
    record.name = string(fn.name);
    record.doc = optional_string(fn.doc);
    record.help_context = fn.help_context;
    record.entry = kind == FUNC_DISPATCH ? 0 : fn.entry;
    record.invoke_kind = static_cast<std::uint16_t>(fn.invoke_kind);
    record.func_flags = fn.flags;
    record.param_count = static_cast<std::uint16_t>(fn.params.size());
    record.first_param = static_cast<std::uint32_t>(params_.size());
    record.result = typedesc(where, fn.result);
    record.callconv = CC_STDCALL;
    record.funckind = static_cast<std::uint16_t>(kind);
    if (fn.invoke_kind != INVOKE_FUNC && fn.invoke_kind != INVOKE_PROPERTYGET &&
        fn.invoke_kind != INVOKE_PROPERTYPUT && fn.invoke_kind != INVOKE_PROPERTYPUTREF)
      fail(where, "has an unknown invoke kind");
    std::set<std::string, NameLess> names;
    for (std::size_t i = 0; i < fn.params.size(); ++i) {
      const ParamDescription& p = fn.params[i];
      const std::string pwhere = where + "(" + p.name + ")";
      if (p.name.empty()) fail(where, "has a parameter without a name");
      if (!names.insert(p.name).second) fail(pwhere, "repeats a parameter name");
      if (p.flags & PARAMFLAG_FHASDEFAULT) fail(pwhere, "sets FHASDEFAULT itself; give a value");
      if ((p.flags & PARAMFLAG_FRETVAL) && i + 1 != fn.params.size())
        fail(pwhere, "is a result but not the last parameter");
      if ((p.flags & PARAMFLAG_FRETVAL) && p.type.vt != VT_PTR)
        fail(pwhere, "is a result but not a pointer");
      if (p.default_value && !(p.flags & PARAMFLAG_FOPT))
        fail(pwhere, "has a default value but is not optional");
      fmt::ParamRecord param{};
      param.name = string(p.name);
      param.type = typedesc(pwhere, p.type);
      param.flags = p.flags;
      param.default_value = fmt::kNoValue;
      if (p.default_value) {
        param.flags = static_cast<std::uint16_t>(param.flags | PARAMFLAG_FHASDEFAULT);
        param.default_value = value(pwhere, *p.default_value);
      }
      params_.push_back(param);
    }
    functions_.push_back(record);
  }

  void add_type(const CoclassDescription& cls) {
    fmt::TypeRecord record = begin_type(TKIND_COCLASS, cls.clsid, cls.name, cls.doc,
                                        cls.help_context, cls.flags, cls.major, cls.minor);
    for (const ImplementedInterface& impl : cls.interfaces) {
      const TypeTarget& target = resolve(cls.name, impl.name);
      if (target.local && target.local_kind != TKIND_INTERFACE &&
          target.local_kind != TKIND_DISPATCH)
        fail(cls.name, "implements '" + impl.name + "', which is not an interface");
      impls_.push_back({target.href, impl.flags});
    }
    record.impl_count = static_cast<std::uint32_t>(impls_.size()) - record.first_impl;
    types_.push_back(record);
  }

  void add_type(const EnumDescription& en) {
    fmt::TypeRecord record = begin_type(TKIND_ENUM, en.guid, en.name, en.doc, en.help_context,
                                        en.flags, en.major, en.minor);
    const std::uint32_t i4 = typedesc(en.name, I4());
    std::set<std::string, NameLess> names;
    for (std::size_t i = 0; i < en.members.size(); ++i) {
      const EnumMember& m = en.members[i];
      const std::string where = en.name + "." + m.name;
      if (m.name.empty()) fail(en.name, "has a member without a name");
      if (!names.insert(m.name).second) fail(where, "is described twice");
      fmt::VarRecord var{};
      // The platform numbers an enum's constants from 0x40000000 in their stored order.
      var.memid = 0x40000000 + static_cast<std::int32_t>(i);
      var.name = string(m.name);
      var.doc = optional_string(m.help);
      var.type = i4;
      var.value = value(where, Value::i4(m.value));
      vars_.push_back(var);
    }
    record.var_count = static_cast<std::uint32_t>(vars_.size()) - record.first_var;
    types_.push_back(record);
  }

  template <class Record>
  fmt::Table place(std::vector<std::uint8_t>& out, const std::vector<Record>& records) {
    while (out.size() % 8) out.push_back(0);
    fmt::Table table{static_cast<std::uint32_t>(out.size()),
                     static_cast<std::uint32_t>(records.size())};
    for (const Record& r : records) append_record(out, r);
    return table;
  }

  std::vector<std::uint8_t> assemble() {
    std::vector<std::uint8_t> out(sizeof(fmt::Header), 0);
    header_.imports = place(out, imports_);
    header_.external_refs = place(out, external_refs_);
    header_.types = place(out, types_);
    header_.functions = place(out, functions_);
    header_.params = place(out, params_);
    header_.vars = place(out, vars_);
    header_.impls = place(out, impls_);
    header_.typedescs = place(out, typedescs_);
    header_.values = place(out, values_);
    while (out.size() % 8) out.push_back(0);
    header_.strings = {static_cast<std::uint32_t>(out.size()),
                       static_cast<std::uint32_t>(strings_.size())};
    out.insert(out.end(), strings_.begin(), strings_.end());
    while (out.size() % 8) out.push_back(0);
    if (out.size() > fmt::kMaxBlobSize) fail(lib_.name, "is too large");
    header_.total_size = static_cast<std::uint32_t>(out.size());
    std::memcpy(out.data(), &header_, sizeof header_);
    return out;
  }

  const LibraryDescription& lib_;
  fmt::Header header_{};
  std::map<std::string, TypeTarget, NameLess> local_;
  std::map<std::string, TypeTarget> external_;
  std::map<std::string, std::uint16_t, NameLess> local_vft_;
  std::set<std::string, NameLess> local_dispatchable_;
  std::map<std::string, std::uint32_t> string_offsets_;
  std::map<std::pair<std::uint16_t, std::uint32_t>, std::uint32_t> typedesc_index_;
  std::vector<std::uint8_t> strings_;
  std::vector<fmt::ImportRecord> imports_;
  std::vector<fmt::ExternalRefRecord> external_refs_;
  std::vector<fmt::TypeRecord> types_;
  std::vector<fmt::FuncRecord> functions_;
  std::vector<fmt::ParamRecord> params_;
  std::vector<fmt::VarRecord> vars_;
  std::vector<fmt::ImplRecord> impls_;
  std::vector<fmt::TypeDescRecord> typedescs_;
  std::vector<fmt::ValueRecord> values_;
};

}  // namespace

std::vector<std::uint8_t> write_type_library(const LibraryDescription& library) {
  return Writer(library).write();
}

}  // namespace orvan::typelib
