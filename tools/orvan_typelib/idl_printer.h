// Prints a loaded type library as IDL-like text, from what a client reads through ITypeLib
// and ITypeInfo: what a person sees here is exactly what a client sees.
#pragma once

#include <string>

#include "orvan/component_runtime.h"
#include "platform/com/typelib/version_info.h"

namespace orvan::tools {

std::string print_type_library(ITypeLib* lib);
std::string print_version_info(const typelib::VersionInfo& info);

}  // namespace orvan::tools
