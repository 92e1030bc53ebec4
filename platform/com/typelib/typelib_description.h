// Describing a type library (and a library's version information) in C++.
//
// A library that carries its own type library describes it in one or more description
// sources and hands them to the CMake function orvan_add_resources(<target> <sources...>).
// At build time those sources are compiled, with the writer, into a small host program that
// calls describe_resources() once, turns the result into the binary type-library format
// (typelib_format.h) and the resource directory (resource_format.h), and emits them into the
// target's `.orvan.rsrc` section. A mistake in a description (a dangling type name, two
// members with one DISPID, a default on a parameter that is not optional...) stops the build
// with a message naming the type and member.
//
//   orvan::typelib::ResourceBundle describe_resources() {
//     using namespace orvan::typelib;
//     LibraryDescription lib{.name = "Demo", .libid = guid("{...}"), .major = 1};
//     lib.imports.push_back(stdole2_import());
//     InterfaceDescription itf{.name = "_Demo", .iid = guid("{...}"), .base = "IDispatch",
//                              .flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION};
//     itf.functions.push_back({.name = "Play", .dispid = 0x60030000, .entry = 7,
//                              .params = {in_out("nLoop", ptr(I4()), Value::i4(0))}});
//     lib.types.emplace_back(std::move(itf));
//     return {.type_libraries = {std::move(lib)}};
//   }
//
// The first library in a bundle becomes resource TYPELIB/1, the next TYPELIB/2, and so on;
// the version information becomes VERSION/1.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "orvan/component_runtime.h"
#include "platform/com/guid.h"

namespace orvan::typelib {

using com::Guid;

// Reads "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; a malformed text throws
// std::invalid_argument, which fails the generator and so the build.
Guid guid(const char* text);

// A type as a parameter, result or constant has it: a scalar automation type (VT_I4, VT_R4,
// VT_BSTR, VT_BOOL, VT_VARIANT, VT_HRESULT, VT_VOID, VT_UNKNOWN, VT_DISPATCH, ...), a pointer
// to another type, an automation array of a scalar type (SAFEARRAY(unsigned char)), or a
// user-defined type named by its type name: an enum or interface of
// this library, or a type of an imported library (plain "IDispatch", or qualified
// "stdole2.IDispatch" when two imports share a name).
struct TypeSpec {
  VARTYPE vt = VT_EMPTY;        // VT_PTR, VT_SAFEARRAY and VT_USERDEFINED: compound forms
  std::string user_type;        // VT_USERDEFINED: the type's name
  std::vector<TypeSpec> inner;  // VT_PTR, VT_SAFEARRAY: exactly one, the pointee or element

  friend bool operator==(const TypeSpec&, const TypeSpec&) = default;
};

inline TypeSpec scalar(VARTYPE vt) {
  return TypeSpec{vt, {}, {}};
}
inline TypeSpec I2() {
  return scalar(VT_I2);
}
inline TypeSpec I4() {
  return scalar(VT_I4);
}
inline TypeSpec R4() {
  return scalar(VT_R4);
}
inline TypeSpec R8() {
  return scalar(VT_R8);
}
inline TypeSpec Bstr() {
  return scalar(VT_BSTR);
}
inline TypeSpec Bool() {
  return scalar(VT_BOOL);
}
inline TypeSpec Variant() {
  return scalar(VT_VARIANT);
}
inline TypeSpec Hresult() {
  return scalar(VT_HRESULT);
}
inline TypeSpec Void() {
  return scalar(VT_VOID);
}
inline TypeSpec ptr(TypeSpec to) {
  return TypeSpec{VT_PTR, {}, {std::move(to)}};
}
// SAFEARRAY(element): passed as a SAFEARRAY*; ptr(safe_array(...)) is SAFEARRAY**.
inline TypeSpec safe_array(TypeSpec element) {
  return TypeSpec{VT_SAFEARRAY, {}, {std::move(element)}};
}
inline TypeSpec user(std::string type_name) {
  return TypeSpec{VT_USERDEFINED, std::move(type_name), {}};
}

// A constant: a parameter's default value or an enum member's value.
struct Value {
  VARTYPE vt = VT_EMPTY;  // VT_I2, VT_I4, VT_R4, VT_R8, VT_BOOL or VT_BSTR
  std::int64_t integer = 0;
  double real = 0;
  std::string text;  // VT_BSTR, UTF-8

  static Value i4(std::int32_t v) { return Value{VT_I4, v, 0, {}}; }
  static Value i2(std::int16_t v) { return Value{VT_I2, v, 0, {}}; }
  static Value r4(float v) { return Value{VT_R4, 0, v, {}}; }
  static Value r8(double v) { return Value{VT_R8, 0, v, {}}; }
  static Value boolean(bool v) { return Value{VT_BOOL, v ? -1 : 0, 0, {}}; }
  static Value bstr(std::string v) { return Value{VT_BSTR, 0, 0, std::move(v)}; }
};

struct ParamDescription {
  std::string name;
  TypeSpec type;
  USHORT flags = PARAMFLAG_FIN;        // PARAMFLAG_FIN, FOUT, FRETVAL, FOPT; FHASDEFAULT is derived
  std::optional<Value> default_value;  // only on an optional parameter
};

// Shorthands for the usual parameter kinds.
inline ParamDescription in(std::string name, TypeSpec type) {
  return {std::move(name), std::move(type), PARAMFLAG_FIN, std::nullopt};
}
inline ParamDescription in_out(std::string name, TypeSpec type) {
  return {std::move(name), std::move(type), PARAMFLAG_FIN | PARAMFLAG_FOUT, std::nullopt};
}
// Optional, with or without a default value. Omitted without one, a pointer parameter
// (long*, BSTR*) reaches the callee as a null pointer, a VARIANT as VT_ERROR with
// DISP_E_PARAMNOTFOUND, and a by-value scalar as zero (invoke.cpp).
inline ParamDescription optional_in_out(std::string name, TypeSpec type,
                                        std::optional<Value> default_value = std::nullopt) {
  return {std::move(name), std::move(type),
          static_cast<USHORT>(PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FOPT),
          std::move(default_value)};
}
inline ParamDescription optional_in(std::string name, TypeSpec type,
                                    std::optional<Value> default_value = std::nullopt) {
  return {std::move(name), std::move(type), static_cast<USHORT>(PARAMFLAG_FIN | PARAMFLAG_FOPT),
          std::move(default_value)};
}
// The [out, retval] result: `type` is the pointer the callee writes through.
inline ParamDescription retval(TypeSpec type, std::string name = "result") {
  return {std::move(name), std::move(type), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, std::nullopt};
}

struct FunctionDescription {
  std::string name;
  DISPID dispid = 0;
  std::uint16_t entry = 0;  // function-table index; the entry's byte offset is 8 * entry
  INVOKEKIND invoke_kind = INVOKE_FUNC;
  std::vector<ParamDescription> params;  // in declaration order, [out, retval] last
  TypeSpec result = Hresult();
  WORD flags = 0;  // FUNCFLAG_ values
  std::string doc;
  DWORD help_context = 0;
};

// An interface with a function table (dual when flags has TYPEFLAG_FDUAL). Its base is named
// like a user-defined type: "IUnknown", "IDispatch" (from stdole2) or one of this library's.
struct InterfaceDescription {
  std::string name;
  Guid iid;
  std::string base = "IDispatch";
  WORD flags = 0;  // TYPEFLAG_ values
  std::vector<FunctionDescription> functions;
  std::string doc;
  DWORD help_context = 0;
  WORD major = 0;
  WORD minor = 0;
  // A dispinterface (TKIND_DISPATCH), such as a class's event source: its members are
  // reached only through IDispatch::Invoke by DISPID and take no function-table entries
  // (`entry` is ignored); its base must be IDispatch.
  bool dispinterface = false;
};

struct ImplementedInterface {
  std::string name;  // an interface or dispinterface of this library or of an imported one
  INT flags = 0;     // IMPLTYPEFLAG_ values: FDEFAULT | FSOURCE marks the default event source
};

struct CoclassDescription {
  std::string name;
  Guid clsid;
  WORD flags = TYPEFLAG_FCANCREATE;
  std::vector<ImplementedInterface> interfaces;
  std::string doc;
  DWORD help_context = 0;
  WORD major = 0;
  WORD minor = 0;
};

struct EnumMember {
  std::string name;
  std::int32_t value = 0;
  std::string help;  // the member's help string
};

struct EnumDescription {
  std::string name;
  Guid guid;
  WORD flags = 0;
  std::vector<EnumMember> members;  // in the order the library stores them
  std::string doc;
  DWORD help_context = 0;
  WORD major = 0;
  WORD minor = 0;
};

using TypeDescription = std::variant<InterfaceDescription, CoclassDescription, EnumDescription>;

// A type of another library that this one refers to by name.
struct ImportedType {
  std::string name;
  Guid guid;
};

// A referenced library: found at run time through LoadRegTypeLib(libid, major, minor).
struct ImportedLibrary {
  std::string name;
  Guid libid;
  WORD major = 0;
  WORD minor = 0;
  std::vector<ImportedType> types;  // the types this library refers to
};

// The platform's own libraries, ready to import.
ImportedLibrary stdole2_import();  // IUnknown, IDispatch
ImportedLibrary dxvblib_import();  // DirectXEvent8

struct LibraryDescription {
  std::string name;
  Guid libid;
  WORD major = 1;
  WORD minor = 0;
  LCID lcid = 0;
  SYSKIND syskind = SYS_WIN32;
  WORD flags = 0;  // LIBFLAG_ values
  std::string doc;
  std::string help_file;
  DWORD help_context = 0;
  std::vector<ImportedLibrary> imports;
  std::vector<TypeDescription> types;  // in the order the library stores them
};

// The version information of a library file.
struct VersionDescription {
  std::uint16_t file_version[4] = {1, 0, 0, 0};
  std::uint16_t product_version[4] = {1, 0, 0, 0};
  std::uint32_t file_os = 0x4;    // VOS__WINDOWS32
  std::uint32_t file_type = 0x2;  // VFT_DLL
  std::uint32_t file_flags = 0;
  std::uint16_t language = 0x0409;
  std::uint16_t code_page = 1200;  // Unicode
  // Name and value, in order; a value may be empty ("OLESelfRegister").
  std::vector<std::pair<std::string, std::string>> strings;
};

struct ResourceBundle {
  std::vector<LibraryDescription> type_libraries;
  std::optional<VersionDescription> version;
};

}  // namespace orvan::typelib

// Defined by the description sources of a target (see orvan_add_resources).
orvan::typelib::ResourceBundle describe_resources();
