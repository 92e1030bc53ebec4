// Inside the registry: store files, SQLite connections and the thread's open transaction.
#pragma once

#include <sqlite3.h>

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/runtime/registry.h"

namespace orvan::com::registry::detail {

// One SQLite connection, closed with the object.
class Connection {
 public:
  Connection() = default;
  explicit Connection(sqlite3* db) : db_(db) {}
  Connection(Connection&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  sqlite3* get() const noexcept { return db_; }
  explicit operator bool() const noexcept { return db_ != nullptr; }

 private:
  sqlite3* db_ = nullptr;
};

// A store file and the folder its trust is checked up to: the file and every folder from
// its own up to and including `root` must belong to the effective user or root and be
// writable by nobody else.
struct StoreFile {
  std::string path;  // empty: no such store (no per-user store in a secure process)
  std::string root;
};

// The store a read sees. An absent file, or one without our table yet, is an empty store:
// the result is then S_FALSE and *db null. REGDB_E_READREGDB when the file, or a folder
// above it, is refused or cannot be read as a store (the reason goes to
// note_store_failure). The connection stays open in a per-thread cache, reused while the
// path still names the same file, and is valid until the thread's next trim_read_cache().
HResult open_for_reading(const StoreFile& store, sqlite3** db);
// Closes cached read connections of files since removed or replaced, and all of them when
// too many are open. Called before a read opens its layers, never while it holds one.
void trim_read_cache();

// The file a write in `scope` goes to, and the mode it is created with (0600 per-user,
// 0644 system); folders the write creates get the matching search mode.
struct WriteTarget {
  StoreFile store;
  mode_t file_mode = 0600;
};
WriteTarget write_target(Scope scope);

// The store of each layer in reading order (per-user, then system), resolved from the
// environment unless the process runs with elevated rights.
std::vector<StoreFile> read_layers();

// Records why a store failed, for last_store_failure().
void note_store_failure(const std::string& path, const std::string& reason);

// The thread's open transaction, if any.
struct Ambient {
  Connection connection;  // empty when the outermost transaction could not begin
  std::string path;
  int depth = 0;  // 0: none open
  bool failed = false;
};
Ambient& ambient();

// The normalised form of a key path: no leading or trailing backslash. Nothing for a path
// with an empty component.
std::optional<std::string> normalize_key(std::string_view key);

// A prepared statement, finalised with the object.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  // For SQL text with static storage, run often: on a cached read connection the prepared
  // statement is kept with the connection and only reset afterwards.
  struct Reused {};
  Statement(sqlite3* db, const char* sql, Reused);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const noexcept { return stmt_ != nullptr; }
  Statement& bind(int index, std::string_view text);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  std::string column(int index) const;
  int column_int(int index) const { return sqlite3_column_int(stmt_, index); }
  bool column_is_null(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  bool borrowed_ = false;
};

}  // namespace orvan::com::registry::detail
