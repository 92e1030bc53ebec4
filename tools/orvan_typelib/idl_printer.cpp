#include "tools/orvan_typelib/idl_printer.h"

#include <cstdio>
#include <sstream>
#include <vector>

#include "orvan/runtime.h"
#include "platform/com/auto_string.h"
#include "platform/com/typelib/type_lib.h"

namespace orvan::tools {
namespace {

std::string take(BSTR b) {
  std::string s = b ? com::utf16_to_utf8({b, SysStringLen(b)}) : std::string();
  SysFreeString(b);
  return s;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", through the runtime's own export.
std::string braced_guid(const GUID& g) {
  OLECHAR text[39] = {};
  const int length = StringFromGUID2(g, text, 39);
  return length > 0 ? com::utf16_to_utf8({text, static_cast<std::size_t>(length - 1)}) : "";
}

std::string uuid(const GUID& g) {
  const std::string braced = braced_guid(g);
  return braced.size() > 2 ? braced.substr(1, braced.size() - 2) : braced;
}

std::string hex(unsigned value, int width = 0) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*X", width, value);
  return text;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string scalar_name(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
      return "char";
    case VT_UI1:
      return "unsigned char";
    case VT_I2:
      return "short";
    case VT_UI2:
      return "unsigned short";
    case VT_I4:
      return "long";
    case VT_UI4:
      return "unsigned long";
    case VT_I8:
      return "int64";
    case VT_UI8:
      return "uint64";
    case VT_INT:
      return "int";
    case VT_UINT:
      return "unsigned int";
    case VT_R4:
      return "float";
    case VT_R8:
      return "double";
    case VT_BSTR:
      return "BSTR";
    case VT_BOOL:
      return "VARIANT_BOOL";
    case VT_VARIANT:
      return "VARIANT";
    case VT_ERROR:
      return "SCODE";
    case VT_HRESULT:
      return "HRESULT";
    case VT_VOID:
      return "void";
    case VT_UNKNOWN:
      return "IUnknown*";
    case VT_DISPATCH:
      return "IDispatch*";
    default:
      return "VARTYPE(" + std::to_string(vt) + ")";
  }
}

std::string type_text(ITypeInfo* owner, const TYPEDESC& td) {
  if (td.vt == VT_PTR) return type_text(owner, *td.lptdesc) + "*";
  if (td.vt == VT_SAFEARRAY) return "SAFEARRAY(" + type_text(owner, *td.lptdesc) + ")";
  if (td.vt != VT_USERDEFINED) return scalar_name(td.vt);
  ITypeInfo* target = nullptr;
  if (FAILED(owner->GetRefTypeInfo(td.hreftype, &target))) return "/* unresolved */ IUnknown";
  BSTR name = nullptr;
  target->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  target->Release();
  return take(name);
}

std::string value_text(const VARIANT& v) {
  VARIANT text{};
  if (v.vt == VT_BSTR) return quoted(com::utf16_to_utf8({v.bstrVal, SysStringLen(v.bstrVal)}));
  if (FAILED(VariantChangeType(&text, &v, 0, VT_BSTR))) return "?";
  std::string s = take(text.bstrVal);
  return s;
}

std::string join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
  return out;
}

std::vector<std::string> type_flag_names(WORD flags) {
  static const std::pair<WORD, const char*> names[] = {
      {TYPEFLAG_FAPPOBJECT, "appobject"},
      {TYPEFLAG_FLICENSED, "licensed"},
      {TYPEFLAG_FPREDECLID, "predeclid"},
      {TYPEFLAG_FHIDDEN, "hidden"},
      {TYPEFLAG_FCONTROL, "control"},
      {TYPEFLAG_FDUAL, "dual"},
      {TYPEFLAG_FNONEXTENSIBLE, "nonextensible"},
      {TYPEFLAG_FOLEAUTOMATION, "oleautomation"},
      {TYPEFLAG_FRESTRICTED, "restricted"},
      {TYPEFLAG_FAGGREGATABLE, "aggregatable"},
      {TYPEFLAG_FREPLACEABLE, "replaceable"},
  };
  std::vector<std::string> out;
  for (const auto& [bit, name] : names)
    if (flags & bit) out.push_back(name);
  return out;
}

class Printer {
 public:
  explicit Printer(ITypeLib* lib) : lib_(lib) {}

  std::string run() {
    TLIBATTR* attr = nullptr;
    if (FAILED(lib_->GetLibAttr(&attr))) return {};
    BSTR name = nullptr, doc = nullptr, help_file = nullptr;
    DWORD context = 0;
    lib_->GetDocumentation(-1, &name, &doc, &context, &help_file);
    std::vector<std::string> attrs = {"uuid(" + uuid(attr->guid) + ")",
                                      "version(" + std::to_string(attr->wMajorVerNum) + "." +
                                          std::to_string(attr->wMinorVerNum) + ")",
                                      "lcid(" + hex(attr->lcid, 4) + ")"};
    const std::string doc_text = take(doc), help_text = take(help_file);
    if (!doc_text.empty()) attrs.push_back("helpstring(" + quoted(doc_text) + ")");
    if (!help_text.empty()) attrs.push_back("helpfile(" + quoted(help_text) + ")");
    if (context) attrs.push_back("helpcontext(" + hex(context, 8) + ")");
    if (attr->wLibFlags & LIBFLAG_FRESTRICTED) attrs.push_back("restricted");
    if (attr->wLibFlags & LIBFLAG_FCONTROL) attrs.push_back("control");
    if (attr->wLibFlags & LIBFLAG_FHIDDEN) attrs.push_back("hidden");
    const char* sys[] = {"win16", "win32", "mac", "win64"};
    out_ << "// " << (attr->syskind >= 0 && attr->syskind <= 3 ? sys[attr->syskind] : "?")
         << " type library\n";
    print_attributes(attrs, "");
    out_ << "library " << take(name) << "\n{\n";
    lib_->ReleaseTLibAttr(attr);
    print_imports();
    for (UINT i = 0; i < lib_->GetTypeInfoCount(); ++i) {
      ITypeInfo* info = nullptr;
      if (FAILED(lib_->GetTypeInfo(i, &info))) continue;
      out_ << "\n";
      print_type(info);
      info->Release();
    }
    out_ << "};\n";
    return out_.str();
  }

 private:
  void print_attributes(const std::vector<std::string>& attrs, const std::string& indent) {
    out_ << indent << "[\n";
    for (std::size_t i = 0; i < attrs.size(); ++i)
      out_ << indent << "  " << attrs[i] << (i + 1 < attrs.size() ? "," : "") << "\n";
    out_ << indent << "]\n";
  }

  // The libraries this one refers to, as the loaded library records them.
  void print_imports() {
    auto* impl = dynamic_cast<typelib::TypeLib*>(lib_);
    if (!impl) return;
    const typelib::TypeLibData& d = impl->data();
    for (std::uint32_t i = 0; i < d.header().imports.count; ++i) {
      const auto imp = d.import(i);
      out_ << "  // " << d.string(imp.name) << " " << imp.major << "." << imp.minor << " "
           << braced_guid(typelib::TypeLibData::to_guid(imp.libid)) << "\n";
      out_ << "  importlib(" << quoted(std::string(d.string(imp.name))) << ");\n";
    }
  }

  void print_type(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return;
    BSTR name_b = nullptr, doc_b = nullptr;
    info->GetDocumentation(-1, &name_b, &doc_b, nullptr, nullptr);
    const std::string name = take(name_b), doc = take(doc_b);
    std::vector<std::string> attrs;
    if (attr->typekind == TKIND_INTERFACE) attrs.push_back("odl");
    attrs.push_back("uuid(" + uuid(attr->guid) + ")");
    if (attr->wMajorVerNum || attr->wMinorVerNum)
      attrs.push_back("version(" + std::to_string(attr->wMajorVerNum) + "." +
                      std::to_string(attr->wMinorVerNum) + ")");
    if (!doc.empty()) attrs.push_back("helpstring(" + quoted(doc) + ")");
    for (const std::string& f : type_flag_names(attr->wTypeFlags)) attrs.push_back(f);
    if (attr->typekind == TKIND_COCLASS && !(attr->wTypeFlags & TYPEFLAG_FCANCREATE))
      attrs.push_back("noncreatable");
    switch (attr->typekind) {
      case TKIND_INTERFACE:
      case TKIND_DISPATCH:
        print_interface(info, attr, name, attrs);
        break;
      case TKIND_COCLASS:
        print_coclass(info, attr, name, attrs);
        break;
      case TKIND_ENUM:
        print_enum(info, attr, name, attrs);
        break;
      default:
        out_ << "  // " << name << ": type kind " << attr->typekind << "\n";
        break;
    }
    info->ReleaseTypeAttr(attr);
  }

  // The name of implemented type `index`; `kind` (if given) receives its type kind.
  std::string referenced_name(ITypeInfo* info, UINT index, TYPEKIND* kind = nullptr) {
    HREFTYPE ref = 0;
    ITypeInfo* target = nullptr;
    if (FAILED(info->GetRefTypeOfImplType(index, &ref)) ||
        FAILED(info->GetRefTypeInfo(ref, &target)))
      return "/* unresolved */";
    BSTR name = nullptr;
    target->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
    TYPEATTR* attr = nullptr;
    if (kind && SUCCEEDED(target->GetTypeAttr(&attr))) {
      *kind = attr->typekind;
      target->ReleaseTypeAttr(attr);
    }
    target->Release();
    return take(name);
  }

  void print_interface(ITypeInfo* info, TYPEATTR* attr, const std::string& name,
                       const std::vector<std::string>& attrs) {
    print_attributes(attrs, "  ");
    // A dispinterface's members have no table entries: its base is IDispatch by definition.
    if (attr->typekind == TKIND_DISPATCH) {
      out_ << "  dispinterface " << name << " {\n  methods:\n";
    } else {
      out_ << "  interface " << name;
      if (attr->cImplTypes > 0) out_ << " : " << referenced_name(info, 0);
      out_ << " {\n";
    }
    for (UINT f = 0; f < attr->cFuncs; ++f) print_function(info, f);
    out_ << "  };\n";
  }

  void print_function(ITypeInfo* info, UINT index) {
    FUNCDESC* fd = nullptr;
    if (FAILED(info->GetFuncDesc(index, &fd))) return;
    BSTR names[80] = {};
    UINT count = 0;
    info->GetNames(fd->memid, names, 80, &count);
    BSTR doc_b = nullptr;
    info->GetDocumentation(fd->memid, nullptr, &doc_b, nullptr, nullptr);
    const std::string doc = take(doc_b);
    std::vector<std::string> attrs = {"id(" + hex(static_cast<unsigned>(fd->memid), 8) + ")"};
    if (fd->invkind == INVOKE_PROPERTYGET) attrs.push_back("propget");
    if (fd->invkind == INVOKE_PROPERTYPUT) attrs.push_back("propput");
    if (fd->invkind == INVOKE_PROPERTYPUTREF) attrs.push_back("propputref");
    if (fd->wFuncFlags & 0x1) attrs.push_back("restricted");
    if (fd->wFuncFlags & 0x40) attrs.push_back("hidden");
    if (!doc.empty()) attrs.push_back("helpstring(" + quoted(doc) + ")");
    out_ << "    [" << join(attrs) << "]\n";
    out_ << "    " << type_text(info, fd->elemdescFunc.tdesc) << " "
         << (count ? take(names[0]) : std::string("?")) << "(";
    if (fd->cParams == 0) out_ << ")";
    for (SHORT p = 0; p < fd->cParams; ++p) {
      const ELEMDESC& e = fd->lprgelemdescParam[p];
      const USHORT flags = e.paramdesc.wParamFlags;
      std::vector<std::string> pattrs;
      if (flags & PARAMFLAG_FIN) pattrs.push_back("in");
      if (flags & PARAMFLAG_FOUT) pattrs.push_back("out");
      if (flags & PARAMFLAG_FLCID) pattrs.push_back("lcid");
      if (flags & PARAMFLAG_FRETVAL) pattrs.push_back("retval");
      if (flags & PARAMFLAG_FOPT) pattrs.push_back("optional");
      if ((flags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
        pattrs.push_back("defaultvalue(" + value_text(e.paramdesc.pparamdescex->varDefaultValue) +
                         ")");
      const UINT name_index = static_cast<UINT>(p) + 1;
      out_ << "\n        [" << join(pattrs) << "] " << type_text(info, e.tdesc) << " "
           << (name_index < count ? take(names[name_index]) : std::string("?"))
           << (p + 1 < fd->cParams ? "," : ")");
    }
    if (fd->funckind == FUNC_DISPATCH)
      out_ << ";\n";
    else
      out_ << ";  // entry " << fd->oVft / 8 << "\n";
    info->ReleaseFuncDesc(fd);
  }

  void print_coclass(ITypeInfo* info, TYPEATTR* attr, const std::string& name,
                     const std::vector<std::string>& attrs) {
    print_attributes(attrs, "  ");
    out_ << "  coclass " << name << " {\n";
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
      INT flags = 0;
      info->GetImplTypeFlags(i, &flags);
      std::vector<std::string> fattrs;
      if (flags & IMPLTYPEFLAG_FDEFAULT) fattrs.push_back("default");
      if (flags & IMPLTYPEFLAG_FSOURCE) fattrs.push_back("source");
      if (flags & IMPLTYPEFLAG_FRESTRICTED) fattrs.push_back("restricted");
      if (flags & IMPLTYPEFLAG_FDEFAULTVTABLE) fattrs.push_back("defaultvtable");
      out_ << "    ";
      if (!fattrs.empty()) out_ << '[' << join(fattrs) << "] ";
      TYPEKIND kind = TKIND_INTERFACE;
      const std::string implemented = referenced_name(info, i, &kind);
      out_ << (kind == TKIND_DISPATCH ? "dispinterface " : "interface ") << implemented << ";\n";
    }
    out_ << "  };\n";
  }

  void print_enum(ITypeInfo* info, TYPEATTR* attr, const std::string& name,
                  const std::vector<std::string>& attrs) {
    out_ << "  typedef [" << join(attrs) << "]\n  enum {\n";
    for (UINT v = 0; v < attr->cVars; ++v) {
      VARDESC* vd = nullptr;
      if (FAILED(info->GetVarDesc(v, &vd))) continue;
      BSTR member = nullptr, help = nullptr;
      info->GetDocumentation(vd->memid, &member, &help, nullptr, nullptr);
      const std::string help_text = take(help);
      out_ << "    ";
      if (!help_text.empty()) out_ << "[helpstring(" << quoted(help_text) << ")] ";
      out_ << take(member) << " = " << value_text(*vd->lpvarValue)
           << (v + 1 < attr->cVars ? "," : "") << "\n";
      info->ReleaseVarDesc(vd);
    }
    out_ << "  } " << name << ";\n";
  }

  ITypeLib* lib_;
  std::ostringstream out_;
};

std::string version_text(const std::uint16_t v[4]) {
  return std::to_string(v[0]) + "," + std::to_string(v[1]) + "," + std::to_string(v[2]) + "," +
         std::to_string(v[3]);
}

}  // namespace

std::string print_type_library(ITypeLib* lib) {
  return Printer(lib).run();
}

std::string print_version_info(const typelib::VersionInfo& info) {
  std::ostringstream out;
  out << "FILEVERSION " << version_text(info.file_version) << "\n"
      << "PRODUCTVERSION " << version_text(info.product_version) << "\n"
      << "FILEFLAGS " << hex(info.file_flags) << "\n"
      << "FILEOS " << hex(info.file_os) << "\n"
      << "FILETYPE " << hex(info.file_type) << "\n"
      << "TRANSLATION " << hex(info.language, 4) << ", " << info.code_page << "\n";
  for (const auto& [name, value] : info.strings)
    out << "VALUE " << quoted(name) << ", " << quoted(value) << "\n";
  return out.str();
}

}  // namespace orvan::tools
