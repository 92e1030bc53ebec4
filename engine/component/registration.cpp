#include "engine/component/registration.h"

#include <string>

#include "engine/component/library_path.h"
#include "orvan/tovel.h"
#include "platform/com/auto_string.h"

namespace orvan::engine::component {

namespace registry = com::registry;

com::registry::ServerRecord server_record() {
  registry::ServerRecord record;
  record.project = "OrvanMusicEngine";
  record.libid = LIBID_OrvanMusicEngine;
  record.major = kOrvanMusicEngineMajor;
  record.minor = kOrvanMusicEngineMinor;
  record.threading_model = "Apartment";
  // No events interface: the class has no source interface.
  record.classes.push_back({"OrvanMusic", CLSID_OrvanMusic, IID__OrvanMusic2});
  return record;
}

namespace {

constexpr LCID kLibraryLocale = 0x0409;

HRESULT register_type_library(const std::string& path) {
  const std::u16string wide = com::utf8_to_utf16(path);
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLib(wide.c_str(), &lib);
  if (FAILED(hr)) return hr;
  // Registering the type library also registers its dual interface for the automation
  // marshaller.
  hr = RegisterTypeLib(lib, wide.c_str(), nullptr);
  lib->Release();
  return hr;
}

}  // namespace

HRESULT register_this_server() {
  const std::string path = own_library_path();
  if (path.empty()) return SELFREG_E_CLASS;
  // The type library and the class commit together or not at all: the type library's
  // registration joins this transaction.
  registry::Transaction transaction;
  if (FAILED(transaction.status())) return SELFREG_E_TYPELIB;
  if (FAILED(register_type_library(path))) return SELFREG_E_TYPELIB;
  if (FAILED(registry::register_server(server_record(), path))) return SELFREG_E_CLASS;
  return FAILED(transaction.commit()) ? SELFREG_E_CLASS : S_OK;
}

HRESULT unregister_this_server() {
  const std::string path = own_library_path();
  if (path.empty()) return SELFREG_E_CLASS;
  registry::Transaction transaction;
  if (FAILED(transaction.status())) return SELFREG_E_CLASS;
  // A class registered by another copy of the library is left to that copy (S_FALSE).
  if (FAILED(registry::unregister_server(server_record(), path))) return SELFREG_E_CLASS;
  // A type library that is not registered is already what unregistering wants; the
  // runtime then leaves the transaction intact for the removals above.
  const HRESULT removed = UnRegisterTypeLib(LIBID_OrvanMusicEngine, kOrvanMusicEngineMajor,
                                            kOrvanMusicEngineMinor, kLibraryLocale, SYS_WIN32);
  if (FAILED(removed) && removed != TYPE_E_LIBNOTREGISTERED) return SELFREG_E_TYPELIB;
  return FAILED(transaction.commit()) ? SELFREG_E_CLASS : S_OK;
}

}  // namespace orvan::engine::component
