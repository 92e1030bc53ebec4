// orvan-regsvr: registers or unregisters an in-process component server by calling its
// DllRegisterServer or DllUnregisterServer entry point.
//
//   orvan-regsvr [-u] [-s] LIBRARY
//     -u  unregister instead of register
//     -s  silent: no message, only the exit status
//
// Exit status: 0 when the entry point succeeded, 1 when it failed, 2 for bad usage or a
// library that cannot be loaded or lacks the entry point.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "orvan/component_runtime.h"
#include "platform/com/status.h"

namespace {

constexpr int kSucceeded = 0;
constexpr int kEntryPointFailed = 1;
constexpr int kCannotRun = 2;

struct Options {
  bool unregister = false;
  bool silent = false;
  std::string library;
};

void print_usage() {
  std::fprintf(stderr, "usage: orvan-regsvr [-u] [-s] LIBRARY\n");
}

bool parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-u") {
      options->unregister = true;
    } else if (arg == "-s") {
      options->silent = true;
    } else if (arg == "--") {
      if (i + 2 != argc || !options->library.empty()) return false;
      options->library = argv[i + 1];
      return true;
    } else if (arg.empty() || arg.front() == '-' || !options->library.empty()) {
      return false;
    } else {
      options->library = std::string(arg);
    }
  }
  return !options->library.empty();
}

// "E_FAIL (0x80004005): Unspecified error."
std::string status_text(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  const std::string_view name = orvan::com::status_name(hr);
  std::string text = name.empty() ? std::string(code) : std::string(name) + " (" + code + ")";
  return text + ": " + orvan::com::describe_status(hr);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, &options)) {
    print_usage();
    return kCannotRun;
  }
  const char* entry = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";

  // The server records the path it was loaded from, so load it by an absolute path. Links
  // are kept as given: a registered "libX.so" link survives an upgrade of the file behind it.
  std::error_code error;
  const std::string path =
      std::filesystem::absolute(options.library, error).lexically_normal().string();
  if (error || !std::filesystem::is_regular_file(path, error)) {
    if (!options.silent) {
      std::fprintf(stderr, "orvan-regsvr: %s: no such library\n", options.library.c_str());
    }
    return kCannotRun;
  }

  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    if (!options.silent) {
      const char* reason = dlerror();
      std::fprintf(stderr, "orvan-regsvr: %s cannot be loaded: %s\n", path.c_str(),
                   reason ? reason : "unknown reason");
    }
    return kCannotRun;
  }
  auto* call = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(library, entry));
  if (!call) {
    if (!options.silent) {
      std::fprintf(stderr, "orvan-regsvr: %s has no entry point %s\n", path.c_str(), entry);
    }
    dlclose(library);
    return kCannotRun;
  }

  // Servers may create objects while they register, so give them an apartment.
  const HRESULT init = CoInitialize(nullptr);
  const HRESULT hr = call();
  if (SUCCEEDED(init)) CoUninitialize();
  dlclose(library);

  if (FAILED(hr)) {
    if (!options.silent) {
      std::fprintf(stderr, "orvan-regsvr: %s in %s failed: %s\n", entry, path.c_str(),
                   status_text(hr).c_str());
    }
    return kEntryPointFailed;
  }
  if (!options.silent) {
    std::printf("orvan-regsvr: %s in %s succeeded.\n", entry, path.c_str());
  }
  return kSucceeded;
}
