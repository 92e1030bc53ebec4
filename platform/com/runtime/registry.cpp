// Reading and writing keys and values, layered per-user over system.
#include "platform/com/runtime/registry.h"

#include <strings.h>
#include <algorithm>

#include "platform/com/runtime/registry_store.h"

namespace orvan::com::registry {
namespace {

using detail::Statement;

// `key` itself, or a key below it: "K" or "K\..." without regard to case. Under NOCASE,
// every key that starts with "K\" sorts between "K\" and "K]" (']' follows '\').
constexpr const char* kAtOrBelow = "(key = ?1 OR (key > ?1 || '\\' AND key < ?1 || ']'))";

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Runs `write(db)` inside the thread's transaction, or in one of its own. A failing write
// abandons its part, which makes the whole transaction roll back.
template <typename Write>
HResult with_write(Scope scope, Write write) {
  Transaction tx(scope);
  if (failed(tx.status())) return tx.status();
  const HResult hr = write(detail::ambient().connection.get());
  if (failed(hr)) return hr;
  const HResult committed = tx.commit();
  return failed(committed) ? committed : hr;
}

// The stores a read looks at, in order: the thread's transaction store alone while one is
// open (a write in one scope reads that scope only), otherwise the per-user store over the
// system store. A null connection stands for an empty store.
HResult open_layers(std::vector<sqlite3*>* layers) {
  const detail::Ambient& state = detail::ambient();
  if (state.depth > 0) {
    if (!state.connection) return REGDB_E_READREGDB;
    layers->push_back(state.connection.get());
    return S_OK;
  }
  detail::trim_read_cache();
  for (const detail::StoreFile& store : detail::read_layers()) {
    sqlite3* db = nullptr;
    if (const HResult hr = detail::open_for_reading(store, &db); failed(hr)) return hr;
    layers->push_back(db);
  }
  return S_OK;
}

HResult query_failed(sqlite3* db) {
  const char* file = sqlite3_db_filename(db, "main");
  detail::note_store_failure(file ? file : "(store)", sqlite3_errmsg(db));
  return REGDB_E_READREGDB;
}

// S_OK when the store has `key` (or a key below it), S_FALSE when not.
HResult has_key(sqlite3* db, const std::string& key) {
  if (!db) return S_FALSE;
  const std::string sql =
      key.empty() ? std::string("SELECT 1 FROM reg_values LIMIT 1")
                  : std::string("SELECT 1 FROM reg_values WHERE ") + kAtOrBelow + " LIMIT 1";
  Statement probe(db, sql.c_str());
  if (!key.empty()) probe.bind(1, key);
  const int step = probe.step();
  if (step == SQLITE_ROW) return S_OK;
  return step == SQLITE_DONE ? S_FALSE : query_failed(db);
}

HResult read_one(sqlite3* db, const std::string& key, std::string_view name, std::string* value) {
  Statement query(db, "SELECT value FROM reg_values WHERE key = ?1 AND name = ?2");
  query.bind(1, key).bind(2, name);
  const int step = query.step();
  if (step == SQLITE_ROW) {
    if (value) *value = query.column(0);
    return S_OK;
  }
  return step == SQLITE_DONE ? S_FALSE : query_failed(db);
}

// The first layer that has `key` (null when none has), for reads where the per-user key
// hides the system one.
HResult owning_layer(const std::string& key, sqlite3** owner) {
  std::vector<sqlite3*> layers;
  if (const HResult hr = open_layers(&layers); failed(hr)) return hr;
  *owner = nullptr;
  for (sqlite3* db : layers) {
    const HResult hr = has_key(db, key);
    if (failed(hr)) return hr;
    if (hr == S_OK) {
      *owner = db;
      return S_OK;
    }
  }
  return S_FALSE;
}

}  // namespace

HResult set_value(std::string_view key, std::string_view name, std::string_view value,
                  Scope scope) {
  const auto path = detail::normalize_key(key);
  if (!path || path->empty()) return E_INVALIDARG;
  return with_write(scope, [&](sqlite3* db) {
    Statement insert(db,
                     "INSERT INTO reg_values(key, name, value) VALUES(?1, ?2, ?3) "
                     "ON CONFLICT(key, name) DO UPDATE SET value = excluded.value");
    insert.bind(1, *path).bind(2, name).bind(3, value);
    return insert.step() == SQLITE_DONE ? S_OK : REGDB_E_WRITEREGDB;
  });
}

HResult delete_value(std::string_view key, std::string_view name, Scope scope) {
  const auto path = detail::normalize_key(key);
  if (!path || path->empty()) return E_INVALIDARG;
  return with_write(scope, [&](sqlite3* db) {
    Statement remove(db, "DELETE FROM reg_values WHERE key = ?1 AND name = ?2");
    remove.bind(1, *path).bind(2, name);
    if (remove.step() != SQLITE_DONE) return REGDB_E_WRITEREGDB;
    return sqlite3_changes(db) > 0 ? S_OK : S_FALSE;
  });
}

HResult delete_tree(std::string_view key, Scope scope) {
  const auto path = detail::normalize_key(key);
  if (!path || path->empty()) return E_INVALIDARG;
  return with_write(scope, [&](sqlite3* db) {
    const std::string sql = std::string("DELETE FROM reg_values WHERE ") + kAtOrBelow;
    Statement remove(db, sql.c_str());
    remove.bind(1, *path);
    if (remove.step() != SQLITE_DONE) return REGDB_E_WRITEREGDB;
    return sqlite3_changes(db) > 0 ? S_OK : S_FALSE;
  });
}

HResult get_value(std::string_view key, std::string_view name, std::string* value) {
  const auto path = detail::normalize_key(key);
  if (!path) return E_INVALIDARG;
  if (path->empty()) {
    sqlite3* owner = nullptr;
    if (const HResult hr = owning_layer(*path, &owner); hr != S_OK) return hr;
    return read_one(owner, *path, name, value);
  }
  // The hot path of every object creation: per layer, one statement answers both whether
  // the layer has the key (which then hides the layers below) and the value.
  static constexpr const char* kLookup =
      "SELECT (SELECT value FROM reg_values WHERE key = ?1 AND name = ?2),"
      " EXISTS(SELECT 1 FROM reg_values WHERE key = ?1)"
      " OR EXISTS(SELECT 1 FROM reg_values WHERE key > ?1 || '\\' AND key < ?1 || ']')";
  std::vector<sqlite3*> layers;
  if (const HResult hr = open_layers(&layers); failed(hr)) return hr;
  for (sqlite3* db : layers) {
    if (!db) continue;
    Statement lookup(db, kLookup, Statement::Reused{});
    lookup.bind(1, *path).bind(2, name);
    if (lookup.step() != SQLITE_ROW) return query_failed(db);
    if (!lookup.column_int(1)) continue;
    if (lookup.column_is_null(0)) return S_FALSE;
    if (value) *value = lookup.column(0);
    return S_OK;
  }
  return S_FALSE;
}

HResult find_key(std::string_view key, bool* exists) {
  const auto path = detail::normalize_key(key);
  *exists = false;
  if (!path) return S_OK;
  sqlite3* owner = nullptr;
  const HResult hr = owning_layer(*path, &owner);
  if (failed(hr)) return hr;
  *exists = hr == S_OK;
  return S_OK;
}

HResult get_subkeys(std::string_view key, std::vector<std::string>* names) {
  names->clear();
  const auto path = detail::normalize_key(key);
  if (!path) return S_OK;
  std::vector<sqlite3*> layers;
  if (const HResult hr = open_layers(&layers); failed(hr)) return hr;
  const std::size_t prefix = path->empty() ? 0 : path->size() + 1;
  const char* sql = path->empty() ? "SELECT DISTINCT key FROM reg_values"
                                  : "SELECT DISTINCT key FROM reg_values WHERE key > ?1 || '\\' "
                                    "AND key < ?1 || ']'";
  for (sqlite3* db : layers) {
    if (!db) continue;
    Statement query(db, sql);
    if (!path->empty()) query.bind(1, *path);
    int step;
    while ((step = query.step()) == SQLITE_ROW) {
      const std::string below = query.column(0);
      if (below.size() <= prefix) continue;
      std::string child = below.substr(prefix, below.find('\\', prefix) - prefix);
      const bool known = std::any_of(names->begin(), names->end(),
                                     [&](const std::string& n) { return same_name(n, child); });
      if (!known) names->push_back(std::move(child));
    }
    if (step != SQLITE_DONE) {
      names->clear();
      return query_failed(db);
    }
  }
  std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  return S_OK;
}

HResult get_values(std::string_view key, std::vector<NamedValue>* values) {
  values->clear();
  const auto path = detail::normalize_key(key);
  if (!path) return S_OK;
  sqlite3* owner = nullptr;
  const HResult found = owning_layer(*path, &owner);
  if (found != S_OK) return failed(found) ? found : S_OK;
  Statement query(owner, "SELECT name, value FROM reg_values WHERE key = ?1 ORDER BY name");
  query.bind(1, *path);
  int step;
  while ((step = query.step()) == SQLITE_ROW) values->push_back({query.column(0), query.column(1)});
  if (step == SQLITE_DONE) return S_OK;
  values->clear();
  return query_failed(owner);
}

std::optional<std::string> read_value(std::string_view key, std::string_view name) {
  std::string value;
  if (get_value(key, name, &value) != S_OK) return std::nullopt;
  return value;
}

bool key_exists(std::string_view key) {
  bool exists = false;
  return succeeded(find_key(key, &exists)) && exists;
}

std::vector<std::string> list_subkeys(std::string_view key) {
  std::vector<std::string> names;
  get_subkeys(key, &names);
  return names;
}

std::vector<NamedValue> list_values(std::string_view key) {
  std::vector<NamedValue> values;
  get_values(key, &values);
  return values;
}

HResult get_own_value(std::string_view key, std::string_view name, std::string* value) {
  const detail::Ambient& state = detail::ambient();
  if (state.depth == 0) return E_UNEXPECTED;
  if (!state.connection) return REGDB_E_READREGDB;
  const auto path = detail::normalize_key(key);
  if (!path) return E_INVALIDARG;
  return read_one(state.connection.get(), *path, name, value);
}

std::vector<Entry> dump(Scope scope) {
  std::vector<Entry> entries;
  const detail::WriteTarget target = detail::write_target(scope);
  const detail::Ambient& state = detail::ambient();
  sqlite3* db = nullptr;
  if (state.depth > 0 && state.connection && state.path == target.store.path) {
    db = state.connection.get();
  } else {
    detail::trim_read_cache();
    if (detail::open_for_reading(target.store, &db) != S_OK) return entries;
  }
  Statement query(db, "SELECT key, name, value FROM reg_values ORDER BY key, name");
  while (query.step() == SQLITE_ROW) {
    entries.push_back({query.column(0), query.column(1), query.column(2)});
  }
  return entries;
}

}  // namespace orvan::com::registry
