// Store files, connections and transactions of the registry.
#include "platform/com/runtime/registry_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace orvan::com::registry {
namespace detail {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr const char* kSystemStore = "/var/lib/orvan/registry.sqlite3";

// One table of values; keys are implied by the values below them, so no empty key can be
// left behind. NOCASE folds ASCII letters, which is the case rule of key and value names.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_values("
    " key TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " value TEXT NOT NULL,"
    " PRIMARY KEY(key, name)) WITHOUT ROWID";

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string home_directory() {
  std::string home = env("HOME");
  if (!home.empty()) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

// Creates every missing directory above `file`.
bool make_parent_directories(const std::string& file) {
  for (std::size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1)) {
    const std::string dir = file.substr(0, slash);
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool file_exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

bool exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

HResult open_for_writing(const std::string& path, Connection* out) {
  if (path.empty() || !make_parent_directories(path)) return REGDB_E_WRITEREGDB;
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection db(raw);
  if (rc != SQLITE_OK) return REGDB_E_WRITEREGDB;
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  // A rollback journal with full syncs: a process killed mid-transaction leaves a hot
  // journal that the next opener plays back, so the store is as before or as after.
  if (!exec(db.get(), "PRAGMA journal_mode=DELETE") || !exec(db.get(), "PRAGMA synchronous=FULL")) {
    return REGDB_E_WRITEREGDB;
  }
  *out = std::move(db);
  return S_OK;
}

}  // namespace

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    if (db_) sqlite3_close_v2(db_);
    db_ = other.db_;
    other.db_ = nullptr;
  }
  return *this;
}

Connection::~Connection() {
  if (db_) sqlite3_close_v2(db_);
}

HResult open_for_reading(const std::string& path, Connection* out) {
  *out = Connection();
  if (path.empty() || !file_exists(path)) return S_FALSE;
  // Read-write when we may, so that a hot journal left by a killed writer is played back
  // instead of blocking the read.
  const int mode = access(path.c_str(), W_OK) == 0 ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, mode | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection db(raw);
  if (rc != SQLITE_OK) return REGDB_E_READREGDB;
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  Statement probe(db.get(), "SELECT 1 FROM sqlite_master WHERE type='table' AND name='reg_values'");
  if (!probe.ok()) return REGDB_E_READREGDB;
  const int step = probe.step();
  if (step == SQLITE_DONE) return S_FALSE;
  if (step != SQLITE_ROW) return REGDB_E_READREGDB;
  *out = std::move(db);
  return S_OK;
}

std::string write_path(Scope scope) {
  const StorePaths paths = store_paths();
  if (scope == Scope::from_environment) {
    scope = env("ORVAN_REGISTRY_SCOPE") == "system" ? Scope::system : Scope::user;
  }
  return scope == Scope::system ? paths.system : paths.user;
}

Ambient& ambient() {
  thread_local Ambient state;
  return state;
}

std::optional<std::string> normalize_key(std::string_view key) {
  while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  if (key.find("\\\\") != std::string_view::npos) return std::nullopt;
  return std::string(key);
}

Statement::Statement(sqlite3* db, const char* sql) {
  if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() {
  sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, std::string_view text) {
  if (stmt_) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  return *this;
}

int Statement::step() {
  return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE;
}

std::string Statement::column(int index) const {
  const auto* text = sqlite3_column_text(stmt_, index);
  const int size = sqlite3_column_bytes(stmt_, index);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
              : std::string();
}

}  // namespace detail

StorePaths store_paths() {
  StorePaths paths;
  if (std::string single = detail::env("ORVAN_REGISTRY"); !single.empty()) {
    paths.user = single;
    paths.system = single;
    paths.single = true;
    return paths;
  }
  // XDG says a relative XDG_DATA_HOME is invalid and must be ignored.
  std::string data_home = detail::env("XDG_DATA_HOME");
  if (data_home.empty() || data_home.front() != '/') {
    data_home = detail::home_directory() + "/.local/share";
  }
  paths.user = data_home + "/orvan/registry.sqlite3";
  std::string system = detail::env("ORVAN_SYSTEM_REGISTRY");
  paths.system = system.empty() ? detail::kSystemStore : system;
  return paths;
}

Transaction::Transaction(Scope scope) : status_(S_OK) {
  detail::Ambient& state = detail::ambient();
  if (state.depth > 0) {
    ++state.depth;
    status_ = state.connection ? S_OK : REGDB_E_WRITEREGDB;
    return;
  }
  outermost_ = true;
  state.depth = 1;
  state.failed = false;
  state.path = detail::write_path(scope);
  detail::Connection db;
  status_ = detail::open_for_writing(state.path, &db);
  if (succeeded(status_) &&
      (!detail::exec(db.get(), "BEGIN IMMEDIATE") || !detail::exec(db.get(), detail::kSchema))) {
    status_ = REGDB_E_WRITEREGDB;
  }
  if (succeeded(status_)) {
    state.connection = std::move(db);
  } else {
    state.failed = true;
  }
}

Transaction::~Transaction() {
  detail::Ambient& state = detail::ambient();
  if (!finished_) {
    // An abandoned part spoils the whole: the outermost rolls back.
    state.failed = true;
    if (outermost_ && state.connection) detail::exec(state.connection.get(), "ROLLBACK");
  }
  if (--state.depth == 0) {
    state.connection = detail::Connection();
    state.path.clear();
    state.failed = false;
  }
}

HResult Transaction::commit() {
  if (finished_) return E_UNEXPECTED;
  finished_ = true;
  detail::Ambient& state = detail::ambient();
  if (!outermost_) return failed(status_) ? status_ : S_OK;
  if (!state.connection) return status_;
  if (state.failed) {
    detail::exec(state.connection.get(), "ROLLBACK");
    return REGDB_E_WRITEREGDB;
  }
  if (!detail::exec(state.connection.get(), "COMMIT")) {
    detail::exec(state.connection.get(), "ROLLBACK");
    return REGDB_E_WRITEREGDB;
  }
  return S_OK;
}

}  // namespace orvan::com::registry
