// Loading type libraries: the C++ entry points behind LoadTypeLib and LoadRegTypeLib, and
// the registry spelling shared with RegisterTypeLib.
//
// A path may end in "\N" to name resource TYPELIB/N of the file (as the platform allows);
// the file may be an ELF library with a `.orvan.rsrc` section, a resource section on its own,
// or a bare type library blob.
//
// Registry layout (versions and locales in hexadecimal without leading zeros, as the
// platform writes them: version 53.0 is "35.0", locale 0x0409 is "409"):
//   TypeLib\{libid}\<major.minor>              (default) = library name
//   TypeLib\{libid}\<major.minor>\<lcid>\win32 (default) = library file
//   TypeLib\{libid}\<major.minor>\FLAGS        (default) = library flags, decimal
//   TypeLib\{libid}\<major.minor>\HELPDIR      (default) = help folder
#pragma once

#include <string>

#include "orvan/component_runtime.h"
#include "platform/com/typelib/byte_view.h"

namespace orvan::typelib {

HRESULT load_type_lib(const std::string& path, ITypeLib** lib);
// From a file image in memory: an ELF library, a resource section or a type library blob.
HRESULT load_type_lib_from_image(ByteView file, ITypeLib** lib);
// The platform's built-in libraries (stdole2 2.0, DxVBLibA 1.0); TYPE_E_LIBNOTREGISTERED for
// any other.
HRESULT load_builtin(const GUID& libid, WORD major, WORD minor, ITypeLib** lib);

// The file of the runtime library itself, which carries the built-in libraries.
std::string runtime_library_path();

std::string type_lib_key(const GUID& libid);       // "TypeLib\{...}"
std::string version_text(WORD major, WORD minor);  // "35.0"
std::string lcid_text(LCID lcid);                  // "409"

}  // namespace orvan::typelib
