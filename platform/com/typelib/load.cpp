// LoadTypeLib and LoadRegTypeLib: from a library file (or a registry entry naming one) to
// an ITypeLib over the validated type library.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/com/runtime/registry.h"
#include "platform/com/typelib/elf_resources.h"
#include "platform/com/typelib/load.h"
#include "platform/com/typelib/resource_format.h"
#include "platform/com/typelib/type_lib.h"

namespace orvan::typelib {
namespace {

namespace fmt = format;

// Picks the type library out of a file image: an ELF library with a resource section, a
// resource section on its own (what the build writes beside each library), or a bare type
// library blob.
HRESULT extract(ByteView file, std::uint32_t id, std::vector<std::uint8_t>& blob) {
  if (file.size >= sizeof fmt::kMagic && std::memcmp(file.data, fmt::kMagic, 4) == 0) {
    if (id != 1) return TYPE_E_CANTLOADLIBRARY;
    blob.assign(file.data, file.data + file.size);
    return S_OK;
  }
  std::vector<std::uint8_t> section;
  if (file.size >= sizeof fmt::kResourceMagic &&
      std::memcmp(file.data, fmt::kResourceMagic, sizeof fmt::kResourceMagic) == 0) {
    section.assign(file.data, file.data + file.size);
  } else if (const HRESULT hr = read_resource_section(file, section); FAILED(hr)) {
    return hr;
  }
  ByteView resource;
  if (const HRESULT hr =
          find_resource({section.data(), section.size()}, fmt::kResourceTypeLib, id, resource);
      FAILED(hr))
    return hr;
  blob.assign(resource.data, resource.data + resource.size);
  return S_OK;
}

HRESULT make_lib(std::vector<std::uint8_t> blob, std::string path, ITypeLib** lib) {
  std::unique_ptr<TypeLibData> data;
  if (const HRESULT hr = TypeLibData::open(std::move(blob), data); FAILED(hr)) return hr;
  *lib = new TypeLib(std::move(data), std::move(path));
  return S_OK;
}

// Reads only the first bytes of a file to tell its kind; an ELF library is then read
// section by section, never whole. Opened without blocking and refused unless it is a
// regular file: a FIFO named as a type library must not hang its reader.
HRESULT load_file(const std::string& path, std::uint32_t id, ITypeLib** lib) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return TYPE_E_CANTLOADLIBRARY;
  struct stat info {};
  char magic[8] = {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  const bool read_magic = regular && ::pread(fd, magic, sizeof magic, 0) >= 0;
  std::vector<std::uint8_t> bytes;
  bool whole = false;
  if (read_magic && (std::memcmp(magic, fmt::kMagic, 4) == 0 ||
                     std::memcmp(magic, fmt::kResourceMagic, sizeof magic) == 0)) {
    whole = true;
    if (static_cast<std::uint64_t>(info.st_size) > fmt::kMaxSectionSize) {
      ::close(fd);
      return TYPE_E_INVDATAREAD;
    }
    bytes.resize(static_cast<std::size_t>(info.st_size));
    const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), 0);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  }
  ::close(fd);
  if (!read_magic) return TYPE_E_CANTLOADLIBRARY;
  std::vector<std::uint8_t> blob;
  if (whole) {
    if (const HRESULT hr = extract({bytes.data(), bytes.size()}, id, blob); FAILED(hr)) return hr;
  } else {
    std::vector<std::uint8_t> section;
    if (const HRESULT hr = read_resource_section(path, section); FAILED(hr)) return hr;
    ByteView resource;
    if (const HRESULT hr =
            find_resource({section.data(), section.size()}, fmt::kResourceTypeLib, id, resource);
        FAILED(hr))
      return hr;
    blob.assign(resource.data, resource.data + resource.size);
  }
  return make_lib(std::move(blob), path, lib);
}

// "FILE\N" names resource TYPELIB/N of FILE, as on the platform; a plain path means N = 1.
void split_resource_suffix(const std::string& text, std::string& path, std::uint32_t& id) {
  path = text;
  id = 1;
  const std::size_t slash = text.rfind('\\');
  if (slash == std::string::npos || slash + 1 == text.size() || slash + 6 < text.size()) return;
  std::uint32_t n = 0;
  for (std::size_t i = slash + 1; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return;
    n = n * 10 + static_cast<std::uint32_t>(text[i] - '0');
  }
  path = text.substr(0, slash);
  id = n;
}

char anchor;  // an address inside this library, for finding its file

struct Builtin {
  GUID libid;
  WORD major;
  WORD minor;
  std::uint32_t resource;
};
constexpr Builtin kBuiltins[] = {{LIBID_stdole2, 2, 0, 1}, {LIBID_DxVBLibA, 1, 0, 2}};

std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

// The registered version of `libid` with this major number and the highest minor at least
// `minor`; empty when there is none.
HRESULT registered_version(const GUID& libid, WORD major, WORD minor, std::string* best) {
  std::vector<std::string> versions;
  if (const HRESULT hr = com::registry::get_subkeys(type_lib_key(libid), &versions); FAILED(hr))
    return hr;
  unsigned best_minor = 0;
  for (const std::string& key : versions) {
    unsigned maj = 0, min = 0;
    char tail = 0;
    if (std::sscanf(key.c_str(), "%x.%x%c", &maj, &min, &tail) != 2) continue;
    if (maj != major || min < minor) continue;
    if (best->empty() || min > best_minor) {
      *best = key;
      best_minor = min;
    }
  }
  return S_OK;
}

// The file registered for one version: the exact locale, then the neutral one, then
// whichever is registered. S_FALSE when none is.
HRESULT registered_file(const std::string& base, LCID lcid, std::string* path) {
  std::vector<std::string> locales = {lcid_text(lcid), "0"};
  std::vector<std::string> others;
  if (const HRESULT hr = com::registry::get_subkeys(base, &others); FAILED(hr)) return hr;
  locales.insert(locales.end(), others.begin(), others.end());
  for (const std::string& locale : locales) {
    for (const char* platform : {"win32", "win64"}) {
      const HRESULT hr = com::registry::get_value(base + locale + "\\" + platform, "", path);
      if (hr != S_FALSE) return hr;
    }
  }
  return S_FALSE;
}

// A registered type library is held to the rules of a registered server: an absolute path
// of a regular file (a relative one would depend on the working directory), and it must be
// the library asked for.
HRESULT load_registered(const std::string& registered, const GUID& libid, WORD major, WORD minor,
                        ITypeLib** lib) {
  std::string path;
  std::uint32_t id;
  split_resource_suffix(registered, path, id);
  struct stat info {};
  if (path.empty() || path.front() != '/' || ::stat(path.c_str(), &info) != 0 ||
      !S_ISREG(info.st_mode)) {
    return TYPE_E_CANTLOADLIBRARY;
  }
  ITypeLib* loaded = nullptr;
  if (const HRESULT hr = load_file(path, id, &loaded); FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  bool same = false;
  if (SUCCEEDED(loaded->GetLibAttr(&attr))) {
    same = attr->guid == libid && attr->wMajorVerNum == major && attr->wMinorVerNum >= minor;
    loaded->ReleaseTLibAttr(attr);
  }
  if (!same) {
    loaded->Release();
    return TYPE_E_LIBNOTREGISTERED;
  }
  *lib = loaded;
  return S_OK;
}

}  // namespace

std::string runtime_library_path() {
  Dl_info info{};
  if (!dladdr(&anchor, &info) || !info.dli_fname) return {};
  return info.dli_fname;
}

std::string type_lib_key(const GUID& libid) {
  return "TypeLib\\" + com::registry::guid_text(libid);
}

std::string version_text(WORD major, WORD minor) {
  return hex(major) + "." + hex(minor);
}

std::string lcid_text(LCID lcid) {
  return hex(lcid);
}

HRESULT load_type_lib(const std::string& path_with_suffix, ITypeLib** lib) {
  if (!lib) return E_INVALIDARG;
  *lib = nullptr;
  std::string path;
  std::uint32_t id;
  split_resource_suffix(path_with_suffix, path, id);
  return load_file(path, id, lib);
}

HRESULT load_type_lib_from_image(ByteView file, ITypeLib** lib) {
  if (!lib) return E_INVALIDARG;
  *lib = nullptr;
  std::vector<std::uint8_t> blob;
  if (const HRESULT hr = extract(file, 1, blob); FAILED(hr)) return hr;
  return make_lib(std::move(blob), {}, lib);
}

HRESULT load_builtin(const GUID& libid, WORD major, WORD minor, ITypeLib** lib) {
  for (const Builtin& b : kBuiltins) {
    if (!(b.libid == libid) || b.major != major || minor > b.minor) continue;
    // Loaded once per process: every library that imports these resolves through here.
    static std::mutex mutex;
    static ITypeLib* loaded[std::size(kBuiltins)] = {};
    const std::size_t slot = static_cast<std::size_t>(&b - kBuiltins);
    std::lock_guard lock(mutex);
    if (!loaded[slot]) {
      const HRESULT hr =
          load_type_lib(runtime_library_path() + "\\" + std::to_string(b.resource), &loaded[slot]);
      if (FAILED(hr)) return hr;
    }
    loaded[slot]->AddRef();
    *lib = loaded[slot];
    return S_OK;
  }
  return TYPE_E_LIBNOTREGISTERED;
}

}  // namespace orvan::typelib

using namespace orvan::typelib;

extern "C" HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** lib) {
  if (!file || !lib) return E_INVALIDARG;
  return load_type_lib(name_to_utf8(file), lib);
}

extern "C" HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid,
                                  ITypeLib** lib) {
  if (!lib) return E_INVALIDARG;
  *lib = nullptr;
  std::string version;
  if (const HRESULT hr = registered_version(libid, major, minor, &version); FAILED(hr)) return hr;
  if (!version.empty()) {
    std::string path;
    const HRESULT found = registered_file(type_lib_key(libid) + "\\" + version + "\\", lcid, &path);
    if (FAILED(found)) return found;
    if (found == S_OK) return load_registered(path, libid, major, minor, lib);
  }
  return load_builtin(libid, major, minor, lib);
}
