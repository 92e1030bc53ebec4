#include "engine/component/library_path.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace orvan::engine::component {

std::string own_library_path() {
  Dl_info info{};
  // Any address inside this library names it; this function's own will do.
  if (::dladdr(reinterpret_cast<const void*>(&own_library_path), &info) == 0 || !info.dli_fname ||
      !*info.dli_fname)
    return {};
  // The loader reports the path it was given, which may be relative to the working directory
  // of the moment; the registry needs one that holds from anywhere.
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(info.dli_fname, error);
  return error ? std::string() : path.lexically_normal().string();
}

}  // namespace orvan::engine::component
