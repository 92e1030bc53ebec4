// RegisterTypeLib and UnRegisterTypeLib: the registry entries that let LoadRegTypeLib find a
// library by its identity, and let the automation marshaller serve its interfaces.
//
// For every interface that is dual or automation-compatible, registration also writes
//   Interface\{iid}                     (default) = interface name
//   Interface\{iid}\ProxyStubClsid32    (default) = {00020424-0000-0000-C000-000000000046}
//   Interface\{iid}\TypeLib             (default) = {libid}; Version = "<major.minor>"
// Everything runs in one registry transaction, joining the caller's when it has one, so a
// server's registration commits or fails as a whole.
#include <string>
#include <vector>

#include "platform/com/runtime/class_loader.h"
#include "platform/com/runtime/registry.h"
#include "platform/com/typelib/load.h"
#include "platform/com/typelib/name_compare.h"
#include "platform/com/typelib/type_lib.h"

namespace {

namespace registry = orvan::com::registry;
using orvan::typelib::lcid_text;
using orvan::typelib::name_to_utf8;
using orvan::typelib::NameEqual;
using orvan::typelib::type_lib_key;
using orvan::typelib::version_text;

std::string platform_key(SYSKIND syskind) {
  switch (syskind) {
    case SYS_WIN16:
      return "win16";
    case SYS_WIN64:
      return "win64";
    case SYS_MAC:
      return "mac";
    default:
      return "win32";
  }
}

std::string bstr_text(BSTR text) {
  std::string s = name_to_utf8(text);
  SysFreeString(text);
  return s;
}

std::string interface_key(const GUID& iid) {
  return "Interface\\" + registry::guid_text(iid);
}

// The interfaces the automation marshaller serves for this library.
HRESULT marshalled_interfaces(ITypeLib* lib, std::vector<std::pair<GUID, std::string>>& out) {
  const UINT count = lib->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    ITypeInfo* info = nullptr;
    if (HRESULT hr = lib->GetTypeInfo(i, &info); FAILED(hr)) return hr;
    TYPEATTR* attr = nullptr;
    HRESULT hr = info->GetTypeAttr(&attr);
    if (SUCCEEDED(hr)) {
      const bool automation = (attr->typekind == TKIND_INTERFACE &&
                               (attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION))) ||
                              attr->typekind == TKIND_DISPATCH;
      if (automation) {
        BSTR name = nullptr;
        info->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
        out.emplace_back(attr->guid, bstr_text(name));
      }
      info->ReleaseTypeAttr(attr);
    }
    info->Release();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

extern "C" HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR full_path, LPCOLESTR help_dir) {
  if (!lib || !full_path || !full_path[0]) return E_INVALIDARG;
  // A server loaded by the runtime knows its file as /proc/self/fd/N: register its path.
  const std::string path = orvan::com::runtime::registered_name(name_to_utf8(full_path));
  if (path[0] != '/') return E_INVALIDARG;  // a registered path must not depend on the cwd
  TLIBATTR* attr = nullptr;
  if (HRESULT hr = lib->GetLibAttr(&attr); FAILED(hr)) return hr;
  const TLIBATTR a = *attr;
  lib->ReleaseTLibAttr(attr);
  BSTR name_bstr = nullptr;
  if (HRESULT hr = lib->GetDocumentation(-1, &name_bstr, nullptr, nullptr, nullptr); FAILED(hr))
    return hr;
  const std::string name = bstr_text(name_bstr);
  std::vector<std::pair<GUID, std::string>> interfaces;
  if (HRESULT hr = marshalled_interfaces(lib, interfaces); FAILED(hr)) return hr;

  const std::string version = version_text(a.wMajorVerNum, a.wMinorVerNum);
  const std::string base = type_lib_key(a.guid) + "\\" + version;
  const std::string libid = registry::guid_text(a.guid);
  registry::Transaction transaction;
  HRESULT hr = transaction.status();
  auto set = [&hr](const std::string& key, const char* value_name, const std::string& value) {
    if (SUCCEEDED(hr)) hr = registry::set_value(key, value_name, value);
  };
  set(base, "", name);
  set(base + "\\" + lcid_text(a.lcid) + "\\" + platform_key(a.syskind), "", path);
  set(base + "\\FLAGS", "", std::to_string(a.wLibFlags));
  set(base + "\\HELPDIR", "", help_dir ? name_to_utf8(help_dir) : folder_of(path));
  for (const auto& [iid, interface_name] : interfaces) {
    const std::string key = interface_key(iid);
    set(key, "", interface_name);
    set(key + "\\ProxyStubClsid32", "", registry::guid_text(CLSID_PSOAInterface));
    set(key + "\\TypeLib", "", libid);
    set(key + "\\TypeLib", "Version", version);
  }
  if (FAILED(hr)) return hr;
  return transaction.commit();
}

extern "C" HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid,
                                     SYSKIND syskind) {
  const std::string version = version_text(major, minor);
  const std::string base = type_lib_key(libid) + "\\" + version;
  const std::string locale_key = base + "\\" + lcid_text(lcid);
  const std::string file_key = locale_key + "\\" + platform_key(syskind);
  const std::string libid_text = registry::guid_text(libid);

  registry::Transaction transaction;
  HRESULT hr = transaction.status();
  if (FAILED(hr)) return hr;
  std::string registered;
  if (FAILED(hr = registry::get_own_value(file_key, "", &registered))) return hr;
  if (hr != S_OK) {
    // Nothing was written, so the transaction ends cleanly: a caller who joined it (a
    // server unregistering everything it may have written) still commits its own removals.
    const HRESULT ended = transaction.commit();
    return FAILED(ended) ? ended : TYPE_E_LIBNOTREGISTERED;
  }
  if (FAILED(hr = registry::delete_tree(locale_key))) return hr;

  // The version's own values go only with its last locale: another locale of the same
  // version keeps the library name, FLAGS and HELPDIR it shares. These reads see this
  // transaction's store alone, and a store that cannot be read stops the removal.
  std::vector<std::string> subkeys;
  if (FAILED(hr = registry::get_subkeys(base, &subkeys))) return hr;
  bool other_locale = false;
  for (const std::string& sub : subkeys) {
    if (!NameEqual{}(sub, "FLAGS") && !NameEqual{}(sub, "HELPDIR")) other_locale = true;
  }
  if (!other_locale) {
    if (FAILED(hr = registry::delete_tree(base))) return hr;
    // Interfaces point at the library by identity and version; only those of this version
    // go, and only while no other locale of it remains.
    std::vector<std::string> interfaces;
    if (FAILED(hr = registry::get_subkeys("Interface", &interfaces))) return hr;
    for (const std::string& iid : interfaces) {
      const std::string key = "Interface\\" + iid + "\\TypeLib";
      std::string owner, owner_version;
      if (FAILED(hr = registry::get_own_value(key, "", &owner))) return hr;
      if (hr != S_OK || !NameEqual{}(owner, libid_text)) continue;
      if (FAILED(hr = registry::get_own_value(key, "Version", &owner_version))) return hr;
      if (hr != S_OK || owner_version != version) continue;
      if (FAILED(hr = registry::delete_tree("Interface\\" + iid))) return hr;
    }
  }
  return transaction.commit();
}
