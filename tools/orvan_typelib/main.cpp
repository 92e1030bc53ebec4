// orvan-typelib LIBRARY: prints the type library embedded in a library file as IDL-like
// text, then its version information. Exit status 1 when the file has no type library.
#include <cstdio>
#include <cstring>
#include <string>

#include "orvan/component_runtime.h"
#include "orvan/status.h"
#include "platform/com/auto_string.h"
#include "platform/com/typelib/version_info.h"
#include "tools/orvan_typelib/idl_printer.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fprintf(argc == 2 ? stdout : stderr,
                 "usage: orvan-typelib LIBRARY\n"
                 "Prints the type library embedded in LIBRARY (LIBRARY\\N for resource N) as\n"
                 "IDL-like text, then the library's version information.\n");
    return argc == 2 ? 0 : 2;
  }
  const std::string path = argv[1];
  const std::u16string wide = orvan::com::utf8_to_utf16(path);
  ITypeLib* lib = nullptr;
  const HRESULT hr = LoadTypeLib(wide.c_str(), &lib);
  if (FAILED(hr)) {
    char fallback[ORVAN_STATUS_FALLBACK_SIZE];
    const char* name = orvan_status_name(hr);
    std::fprintf(stderr, "orvan-typelib: %s has no type library we can read: %s (%s)\n",
                 path.c_str(), orvan_status_describe(hr, fallback), name ? name : "");
    return 1;
  }
  std::fputs(orvan::tools::print_type_library(lib).c_str(), stdout);
  lib->Release();

  std::string file = path;
  if (const std::size_t slash = file.rfind('\\'); slash != std::string::npos)
    file = file.substr(0, slash);
  orvan::typelib::VersionInfo version;
  std::fputs("\n// Version information\n", stdout);
  if (SUCCEEDED(orvan::typelib::read_version_info(file, version)))
    std::fputs(orvan::tools::print_version_info(version).c_str(), stdout);
  else
    std::fputs("// none\n", stdout);
  return 0;
}
