// Reading and writing keys and values, layered per-user over system.
#include "platform/com/runtime/registry.h"

#include <strings.h>
#include <algorithm>

#include "platform/com/runtime/registry_store.h"

namespace orvan::com::registry {
namespace {

using detail::Connection;
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

// One layer of the layered view: the thread's transaction connection when it writes this
// very file, so that a registration reads its own writes; otherwise a fresh read-only one.
class Layer {
 public:
  explicit Layer(const std::string& path) {
    const detail::Ambient& state = detail::ambient();
    if (state.depth > 0 && state.connection && state.path == path) {
      db_ = state.connection.get();
      return;
    }
    status_ = detail::open_for_reading(path, &owned_);
    db_ = owned_.get();
  }
  // Null for an empty store (or one that failed: see status()).
  sqlite3* db() const noexcept { return db_; }
  HResult status() const noexcept { return status_; }

 private:
  Connection owned_;
  sqlite3* db_ = nullptr;
  HResult status_ = S_OK;
};

bool has_key(sqlite3* db, const std::string& key) {
  if (!db) return false;
  if (key.empty()) {
    Statement any(db, "SELECT 1 FROM reg_values LIMIT 1");
    return any.step() == SQLITE_ROW;
  }
  const std::string sql = std::string("SELECT 1 FROM reg_values WHERE ") + kAtOrBelow + " LIMIT 1";
  Statement probe(db, sql.c_str());
  probe.bind(1, key);
  return probe.step() == SQLITE_ROW;
}

// The layers in reading order: per-user first, the system store after it.
std::vector<std::string> layer_paths() {
  const StorePaths paths = store_paths();
  if (paths.single || paths.user == paths.system) return {paths.user};
  return {paths.user, paths.system};
}

HResult read_one(sqlite3* db, const std::string& key, std::string_view name, std::string* value) {
  Statement query(db, "SELECT value FROM reg_values WHERE key = ?1 AND name = ?2");
  query.bind(1, key).bind(2, name);
  const int step = query.step();
  if (step == SQLITE_ROW) {
    if (value) *value = query.column(0);
    return S_OK;
  }
  return step == SQLITE_DONE ? S_FALSE : REGDB_E_READREGDB;
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
  for (const std::string& file : layer_paths()) {
    Layer layer(file);
    if (failed(layer.status())) return layer.status();
    // A key the per-user store has hides the system store's key entirely.
    if (has_key(layer.db(), *path)) return read_one(layer.db(), *path, name, value);
  }
  return S_FALSE;
}

std::optional<std::string> read_value(std::string_view key, std::string_view name) {
  std::string value;
  if (get_value(key, name, &value) != S_OK) return std::nullopt;
  return value;
}

HResult get_own_value(std::string_view key, std::string_view name, std::string* value) {
  const detail::Ambient& state = detail::ambient();
  if (state.depth == 0) return E_UNEXPECTED;
  if (!state.connection) return REGDB_E_READREGDB;
  const auto path = detail::normalize_key(key);
  if (!path) return E_INVALIDARG;
  return read_one(state.connection.get(), *path, name, value);
}

bool key_exists(std::string_view key) {
  const auto path = detail::normalize_key(key);
  if (!path) return false;
  for (const std::string& file : layer_paths()) {
    Layer layer(file);
    if (has_key(layer.db(), *path)) return true;
  }
  return false;
}

std::vector<std::string> list_subkeys(std::string_view key) {
  std::vector<std::string> names;
  const auto path = detail::normalize_key(key);
  if (!path) return names;
  const std::size_t prefix = path->empty() ? 0 : path->size() + 1;
  for (const std::string& file : layer_paths()) {
    Layer layer(file);
    if (!layer.db()) continue;
    const std::string sql = path->empty()
                                ? std::string("SELECT DISTINCT key FROM reg_values")
                                : std::string(
                                      "SELECT DISTINCT key FROM reg_values WHERE key > ?1 || '\\' "
                                      "AND key < ?1 || ']'");
    Statement query(layer.db(), sql.c_str());
    if (!path->empty()) query.bind(1, *path);
    while (query.step() == SQLITE_ROW) {
      const std::string below = query.column(0);
      if (below.size() <= prefix) continue;
      std::string child = below.substr(prefix, below.find('\\', prefix) - prefix);
      const bool known = std::any_of(names.begin(), names.end(),
                                     [&](const std::string& n) { return same_name(n, child); });
      if (!known) names.push_back(std::move(child));
    }
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  return names;
}

std::vector<NamedValue> list_values(std::string_view key) {
  std::vector<NamedValue> values;
  const auto path = detail::normalize_key(key);
  if (!path) return values;
  for (const std::string& file : layer_paths()) {
    Layer layer(file);
    if (!has_key(layer.db(), *path)) continue;
    Statement query(layer.db(), "SELECT name, value FROM reg_values WHERE key = ?1 ORDER BY name");
    query.bind(1, *path);
    while (query.step() == SQLITE_ROW) values.push_back({query.column(0), query.column(1)});
    break;
  }
  return values;
}

std::vector<Entry> dump(Scope scope) {
  std::vector<Entry> entries;
  Layer layer(detail::write_path(scope));
  if (!layer.db()) return entries;
  Statement query(layer.db(), "SELECT key, name, value FROM reg_values ORDER BY key, name");
  while (query.step() == SQLITE_ROW) {
    entries.push_back({query.column(0), query.column(1), query.column(2)});
  }
  return entries;
}

}  // namespace orvan::com::registry
