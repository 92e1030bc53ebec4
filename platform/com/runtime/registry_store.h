// Inside the registry: store files, SQLite connections and the thread's open transaction.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

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

// Opens a store for reading. An absent file, or one without our table yet, is an empty
// store: the result is then an empty Connection and S_FALSE. REGDB_E_READREGDB when the
// file exists but cannot be read as a store.
HResult open_for_reading(const std::string& path, Connection* out);

// The file a write in `scope` goes to.
std::string write_path(Scope scope);

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
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const noexcept { return stmt_ != nullptr; }
  Statement& bind(int index, std::string_view text);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  std::string column(int index) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace orvan::com::registry::detail
