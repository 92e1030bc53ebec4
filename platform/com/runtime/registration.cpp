// Registration of self-registering servers: the class and programmatic-identifier keys.
#include <cstdio>
#include <string>

#include "platform/com/runtime/class_loader.h"
#include "platform/com/runtime/registry.h"

namespace orvan::com::registry {
namespace {

std::string version_text(const ServerRecord& record) {
  return std::to_string(record.major) + "." + std::to_string(record.minor);
}

std::string prog_id(const ServerRecord& record, const ClassEntry& entry) {
  return record.project + "." + entry.name;
}

// A name that becomes one key component: not empty and without a backslash.
bool valid_component(std::string_view name) {
  return !name.empty() && name.find('\\') == std::string_view::npos;
}

bool valid(const ServerRecord& record, std::string_view library_path) {
  if (library_path.empty() || library_path.front() != '/') return false;
  if (!valid_component(record.project)) return false;
  for (const ClassEntry& entry : record.classes) {
    if (!valid_component(entry.name)) return false;
  }
  return true;
}

// Removes the value only while it still holds what this registration wrote.
HResult remove_if_ours(const std::string& key, std::string_view name, std::string_view ours) {
  std::string current;
  const HResult hr = get_own_value(key, name, &current);
  if (hr != S_OK) return failed(hr) ? hr : S_OK;
  if (current != ours) return S_OK;
  return failed(delete_value(key, name)) ? REGDB_E_WRITEREGDB : S_OK;
}

}  // namespace

std::string guid_text(const GUID& guid) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
                guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

HResult register_server(const ServerRecord& record, std::string_view loaded_path, Scope scope) {
  const std::string library_path = runtime::registered_name(loaded_path);
  if (!valid(record, library_path)) return E_INVALIDARG;
  Transaction tx(scope);
  if (failed(tx.status())) return tx.status();
  for (const ClassEntry& entry : record.classes) {
    const std::string clsid = guid_text(entry.clsid);
    const std::string key = "CLSID\\" + clsid;
    const std::string progid = prog_id(record, entry);
    const std::pair<std::string, std::string> defaults[] = {
        {key, entry.name},
        {key + "\\ProgID", progid},
        {key + "\\TypeLib", guid_text(record.libid)},
        {key + "\\Version", version_text(record)},
        {key + "\\InprocServer32", std::string(library_path)},
        {progid, entry.name},
        {progid + "\\CLSID", clsid},
    };
    for (const auto& [where, value] : defaults) {
      if (HResult hr = set_value(where, "", value); failed(hr)) return hr;
    }
    if (HResult hr = set_value(key + "\\InprocServer32", "ThreadingModel", record.threading_model);
        failed(hr)) {
      return hr;
    }
  }
  return tx.commit();
}

HResult unregister_server(const ServerRecord& record, std::string_view loaded_path, Scope scope) {
  const std::string library_path = runtime::registered_name(loaded_path);
  if (!valid(record, library_path)) return E_INVALIDARG;
  Transaction tx(scope);
  if (failed(tx.status())) return tx.status();
  HResult result = S_OK;
  for (const ClassEntry& entry : record.classes) {
    const std::string clsid = guid_text(entry.clsid);
    const std::string key = "CLSID\\" + clsid;
    const std::string progid = prog_id(record, entry);

    std::string server;
    HResult hr = get_own_value(key + "\\InprocServer32", "", &server);
    if (failed(hr)) return hr;
    if (hr == S_OK && server != library_path) {
      // Another library has registered this class since: its registration owns the keys.
      result = S_FALSE;
      continue;
    }
    const std::pair<std::string, std::string> ours[] = {
        {key, entry.name},
        {key + "\\ProgID", progid},
        {key + "\\TypeLib", guid_text(record.libid)},
        {key + "\\Version", version_text(record)},
    };
    for (const auto& [where, value] : ours) {
      if (hr = remove_if_ours(where, "", value); failed(hr)) return hr;
    }
    const std::string inproc = key + "\\InprocServer32";
    if (hr = remove_if_ours(inproc, "ThreadingModel", record.threading_model); failed(hr))
      return hr;
    if (hr = remove_if_ours(inproc, "", library_path); failed(hr)) return hr;

    // The programmatic identifier is ours only while it still leads to this class.
    std::string target;
    hr = get_own_value(progid + "\\CLSID", "", &target);
    if (failed(hr)) return hr;
    if (hr == S_OK && target == clsid) {
      if (hr = remove_if_ours(progid + "\\CLSID", "", clsid); failed(hr)) return hr;
      if (hr = remove_if_ours(progid, "", entry.name); failed(hr)) return hr;
    }
  }
  const HResult committed = tx.commit();
  return failed(committed) ? committed : result;
}

}  // namespace orvan::com::registry
