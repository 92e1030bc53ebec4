// orvan-regsvr: registers or unregisters an in-process component server by calling its
// DllRegisterServer or DllUnregisterServer entry point.
//
//   orvan-regsvr [-u] [-s] LIBRARY
//     -u  unregister instead of register
//     -s  silent: no message, only the exit status
//
// Exit status: 0 when the entry point succeeded, 1 when it failed, 2 for bad usage or a
// library that cannot be loaded or lacks the entry point. When the entry point fails
// because of the registry, the message names the store and the reason.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "orvan/component_runtime.h"
#include "orvan/status.h"
#include "platform/com/runtime/class_loader.h"
#include "platform/com/runtime/registry.h"

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
  const char* name = orvan_status_name(hr);
  std::string text = name ? std::string(name) + " (" + code + ")" : std::string(code);
  char fallback[ORVAN_STATUS_FALLBACK_SIZE];
  return text + ": " + orvan_status_describe(hr, fallback);
}

// Why the file at `path` must not be loaded, or empty. A library cut short would kill this
// process with SIGBUS as it is mapped, so its segments are checked first.
std::string unloadable(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "cannot be opened";
  struct stat info {};
  std::string why;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    why = "is not a regular file";
  } else if (!orvan::com::runtime::segments_inside_file(fd,
                                                        static_cast<std::uint64_t>(info.st_size))) {
    why = "is not a whole ELF library (cut short?)";
  }
  close(fd);
  return why;
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

  // Loaded by its path, not through the checked descriptor: the server registers the name
  // it was loaded by.
  if (const std::string why = unloadable(path); !why.empty()) {
    if (!options.silent) std::fprintf(stderr, "orvan-regsvr: %s %s\n", path.c_str(), why.c_str());
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
  orvan::com::registry::take_store_failure();
  const HRESULT init = CoInitialize(nullptr);
  const HRESULT hr = call();
  if (SUCCEEDED(init)) CoUninitialize();
  dlclose(library);

  if (FAILED(hr)) {
    if (!options.silent) {
      std::fprintf(stderr, "orvan-regsvr: %s in %s failed: %s\n", entry, path.c_str(),
                   status_text(hr).c_str());
      // The server's status says which part failed; the store's own reason says why.
      if (const std::string store = orvan::com::registry::take_store_failure(); !store.empty()) {
        std::fprintf(stderr, "orvan-regsvr: registry store %s\n", store.c_str());
      }
    }
    return kEntryPointFailed;
  }
  if (!options.silent) {
    std::printf("orvan-regsvr: %s in %s succeeded.\n", entry, path.c_str());
  }
  return kSucceeded;
}
