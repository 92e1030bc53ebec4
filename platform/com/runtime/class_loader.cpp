// The loaded-library table and class-object lookup.
#include "platform/com/runtime/class_loader.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/com/runtime/apartment.h"
#include "platform/com/runtime/registry.h"

namespace orvan::com::runtime {
namespace {

struct LoadedLibrary {
  std::string path;  // as registered
  void* handle = nullptr;
  // The descriptor the library was checked through, kept while it is loaded so that its
  // inode (the table's key) cannot be reused by another file meanwhile.
  int fd = -1;
  LPFNGETCLASSOBJECT get_class_object = nullptr;
  LPFNCANUNLOADNOW can_unload_now = nullptr;
  int calls_in_flight = 0;  // DllGetClassObject calls running: the library must stay
};

// One entry per file (by device and inode, so two registered spellings of one file share
// a load). Recursive, because a library's constructors or DllGetClassObject may themselves
// create objects of other classes on the same thread.
using FileId = std::pair<dev_t, ino_t>;
struct LibraryTable {
  std::recursive_mutex mutex;
  std::map<FileId, std::unique_ptr<LoadedLibrary>> libraries;
};

LibraryTable& table() {
  // Never destroyed: servers may still be unloaded from other threads' exit paths.
  static auto* instance = new LibraryTable;
  return *instance;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const noexcept { return fd_; }
  int release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

bool segments_inside_file(int fd, std::uint64_t file_size) {
  Elf64_Ehdr header{};
  if (pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return false;
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_phentsize != sizeof(Elf64_Phdr)) {
    return false;
  }
  const std::uint64_t table_size = std::uint64_t{header.e_phnum} * sizeof(Elf64_Phdr);
  if (header.e_phoff > file_size || table_size > file_size - header.e_phoff) return false;
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  if (pread(fd, segments.data(), table_size, static_cast<off_t>(header.e_phoff)) !=
      static_cast<ssize_t>(table_size)) {
    return false;
  }
  return std::all_of(segments.begin(), segments.end(), [file_size](const Elf64_Phdr& segment) {
    return segment.p_offset <= file_size && segment.p_filesz <= file_size - segment.p_offset;
  });
}

namespace {

// Whether the object behind `handle` is the file `expected`.
bool is_file(void* handle, const struct stat& expected) {
  link_map* map = nullptr;
  struct stat info {};
  return dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name &&
         stat(map->l_name, &info) == 0 && info.st_dev == expected.st_dev &&
         info.st_ino == expected.st_ino;
}

// dlopen of the registered path, then a check that the loader mapped the file that was
// checked. Loading through "/proc/self/fd/N" would pin the checked file, but the loader takes
// $ORIGIN from the name it was given, so a server that finds its own libraries beside it by
// $ORIGIN (as every installed one does) could not load. A file swapped in between the check
// and the load is refused here; swapping it needs write access to the server's folder, which
// already allows replacing the server itself.
void* load_checked(const std::string& path, const struct stat& file) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  if (is_file(handle, file)) return handle;
  dlclose(handle);
  return nullptr;
}

// Finds or loads the library; the caller holds the table's lock.
HRESULT load_library(const std::string& path, LoadedLibrary** out) {
  struct stat info {};
  // A relative path would make dlopen search the library path: never load that.
  if (path.empty() || path.front() != '/' || stat(path.c_str(), &info) != 0 ||
      !S_ISREG(info.st_mode)) {
    return CO_E_DLLNOTFOUND;
  }
  LibraryTable& libs = table();
  if (auto found = libs.libraries.find({info.st_dev, info.st_ino}); found != libs.libraries.end()) {
    *out = found->second.get();
    return S_OK;
  }
  // Checked through one descriptor, opened non-blocking so that a FIFO cannot hold the open;
  // the load is then checked to be of that same file.
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return CO_E_DLLNOTFOUND;
  }
  if (auto found = libs.libraries.find({info.st_dev, info.st_ino}); found != libs.libraries.end()) {
    *out = found->second.get();
    return S_OK;
  }
  if (!segments_inside_file(fd.get(), static_cast<std::uint64_t>(info.st_size))) {
    return CO_E_ERRORINDLL;
  }
  void* handle = load_checked(path, info);
  if (!handle) return CO_E_ERRORINDLL;
  auto library = std::make_unique<LoadedLibrary>();
  library->handle = handle;
  library->get_class_object =
      reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
  library->can_unload_now = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, "DllCanUnloadNow"));
  if (!library->get_class_object || !library->can_unload_now) {
    dlclose(handle);
    return CO_E_ERRORINDLL;
  }
  library->path = path;
  library->fd = fd.release();
  *out = library.get();
  libs.libraries.emplace(FileId{info.st_dev, info.st_ino}, std::move(library));
  return S_OK;
}

}  // namespace

HRESULT get_inproc_class_object(REFCLSID clsid, REFIID riid, void** object) {
  std::string path;
  const HRESULT found =
      registry::get_value("CLSID\\" + registry::guid_text(clsid) + "\\InprocServer32", "", &path);
  if (failed(found)) return found;
  if (found != S_OK) return REGDB_E_CLASSNOTREG;

  LibraryTable& libs = table();
  LoadedLibrary* library = nullptr;
  {
    std::lock_guard lock(libs.mutex);
    if (HRESULT hr = load_library(path, &library); failed(hr)) return hr;
    ++library->calls_in_flight;
  }
  // Outside the lock: the server may take its time or create other objects.
  const HRESULT hr = library->get_class_object(clsid, riid, object);
  {
    std::lock_guard lock(libs.mutex);
    --library->calls_in_flight;
  }
  return hr;
}

std::string registered_name(std::string_view name) {
  constexpr std::string_view kPrefix = "/proc/self/fd/";
  if (name.substr(0, kPrefix.size()) != kPrefix) return std::string(name);
  std::size_t end = kPrefix.size();
  int fd = 0;
  while (end < name.size() && end < kPrefix.size() + 9 && name[end] >= '0' && name[end] <= '9') {
    fd = fd * 10 + (name[end++] - '0');
  }
  if (end == kPrefix.size() || (end < name.size() && name[end] == '/')) return std::string(name);
  LibraryTable& libs = table();
  std::lock_guard lock(libs.mutex);
  for (const auto& [id, library] : libs.libraries) {
    if (library->fd == fd) return library->path + std::string(name.substr(end));
  }
  return std::string(name);
}

int free_unused_libraries() {
  LibraryTable& libs = table();
  std::lock_guard lock(libs.mutex);
  int unloaded = 0;
  for (auto it = libs.libraries.begin(); it != libs.libraries.end();) {
    LoadedLibrary& library = *it->second;
    if (library.calls_in_flight == 0 && library.can_unload_now() == S_OK) {
      dlclose(library.handle);
      close(library.fd);
      it = libs.libraries.erase(it);
      ++unloaded;
    } else {
      ++it;
    }
  }
  return unloaded;
}

}  // namespace orvan::com::runtime

extern "C" HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* /*server_info*/,
                                    REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (orvan::com::runtime::current_apartment() == orvan::com::runtime::kNoApartment)
    return CO_E_NOTINITIALIZED;
  // Only in-process servers exist here; a class asked for in another context is, for this
  // process, a class not registered for that context.
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  return orvan::com::runtime::get_inproc_class_object(clsid, riid, object);
}

extern "C" HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                                    void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  hr = factory->CreateInstance(outer, riid, object);
  factory->Release();
  return hr;
}

extern "C" void CoFreeUnusedLibraries() {
  orvan::com::runtime::free_unused_libraries();
}
