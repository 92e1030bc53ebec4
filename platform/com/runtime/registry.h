// The component registry: keys and named string values, as the platform's registry holds
// them for classes, programmatic identifiers, type libraries and interfaces.
//
// Keys are backslash paths ("CLSID\{2157ED08-4B0C-427B-8475-85D754B974CA}\InprocServer32"),
// compared without regard to ASCII case; a leading or trailing backslash is ignored, an
// empty component ("A\\B") is refused. A value has a name (the empty name is the key's
// default value) and a UTF-8 text. A key exists while it, or a key below it, holds a value:
// removing the last value of a key removes the key, so no empty keys are left behind.
//
// Stores (SQLite files):
//   - ORVAN_REGISTRY=FILE names the only store: every read and write goes there (tests use
//     a fresh one each);
//   - otherwise reads see the per-user store ($XDG_DATA_HOME/orvan/registry.sqlite3, or
//     $HOME/.local/share/orvan/registry.sqlite3; relative values are ignored, then the
//     passwd entry's home is used, and without one there is no per-user store) over the
//     system store (/var/lib/orvan/registry.sqlite3; ORVAN_SYSTEM_REGISTRY=FILE names another
//     one). A key present in the per-user store hides the same key of the system store,
//     values and all; subkey lists are the union of both.
//   - writes go to the per-user store, or to the system store when the caller passes
//     Scope::system or the environment says ORVAN_REGISTRY_SCOPE=system (the package's
//     maintainer scripts register system-wide as root that way). Created stores are 0600 in
//     0700 folders (per-user) or 0644 in 0755 folders (system), whatever the umask.
//
// Trust: a store names the code a process loads, so it is believed only when the file is a
// regular file (not a link, a FIFO or a device) and it and every folder above it, up to the
// user's data folder (for the per-user store) or its own folder (other stores), belong to
// the effective user or root and are writable by nobody else. Anything else is refused
// with REGDB_E_READREGDB (REGDB_E_WRITEREGDB for a write). A secure-execution process
// (setuid, setgid, file capabilities) ignores ORVAN_*, XDG_DATA_HOME and HOME and reads the
// system store alone. Any store error is a read or write failure, never an absent value;
// a write refuses a store that fails SQLite's quick check.
//
// Transactions: every write runs inside one. A Transaction opened on a thread that already
// has one open joins it, so that everything a registration writes (its type library, its
// classes) commits or rolls back as one; only the outermost commits. Writes take the
// store's write lock at the start (BEGIN IMMEDIATE) and wait up to ten seconds for another
// process to finish; the rollback journal and full syncs mean that a process killed at any
// point leaves the store as it was before its transaction or as it was after.
// While a thread has a transaction open, its reads see that transaction's store alone: a
// write in one scope reads and writes that scope only.
//
// Every function may be called from any thread; each thread works on its own connections,
// and keeps its read connections open while their files stay the same.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvan/component_runtime.h"
#include "platform/com/status.h"

namespace orvan::com::registry {

enum class Scope {
  from_environment,  // the system store when ORVAN_REGISTRY_SCOPE=system, else the per-user
  user,
  system,
};

// The files in use, as resolved from the environment at the time of the call.
struct StorePaths {
  std::string user;    // where per-user reads and writes go; empty when there is none
  std::string system;  // equal to `user` when ORVAN_REGISTRY names a single store
  bool single = false;
};
StorePaths store_paths();

// "FILE: reason" for the latest store failure of the process (a refused, unreadable,
// locked or damaged store) since the previous call, which it clears: for tools to tell the
// user what a failing status code cannot. Empty when there was none.
std::string take_store_failure();

// One unit of writing. Construct it, write through the functions below (which join it),
// then call commit(); destroying it uncommitted rolls back. A nested Transaction joins the
// thread's open one whatever scope it asks for; its commit() only records that its part
// succeeded, and a nested Transaction destroyed without commit() makes the outermost
// commit() fail and roll back.
class Transaction {
 public:
  explicit Transaction(Scope scope = Scope::from_environment);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // S_OK when the store is open and locked for writing; otherwise the failure
  // (REGDB_E_WRITEREGDB), and every write in it fails with that status.
  HResult status() const noexcept { return status_; }
  // Outermost: commits and returns S_OK, or rolls back and returns the failure. Nested:
  // returns S_OK and leaves the decision to the outermost. Calling it twice is E_UNEXPECTED.
  HResult commit();

 private:
  HResult status_;
  bool outermost_ = false;
  bool finished_ = false;
};

// Writes: each joins the thread's transaction, or runs in one of its own.
HResult set_value(std::string_view key, std::string_view name, std::string_view value,
                  Scope scope = Scope::from_environment);
// S_OK when the value was there, S_FALSE when it was not.
HResult delete_value(std::string_view key, std::string_view name,
                     Scope scope = Scope::from_environment);
// Removes the key, every key below it and all their values. S_FALSE when there was none.
HResult delete_tree(std::string_view key, Scope scope = Scope::from_environment);

// Layered reads (per-user over system). A read on a thread with an open transaction sees
// that transaction's store alone, its own writes included.
// S_OK and *value set; S_FALSE when absent (value untouched); REGDB_E_READREGDB when a
// store cannot be read or is refused.
HResult get_value(std::string_view key, std::string_view name, std::string* value);
// S_OK and *exists set, or the store's failure.
HResult find_key(std::string_view key, bool* exists);
// Names of the keys directly below `key` ("" lists the top level), sorted, in the case
// they were written; or the store's failure.
HResult get_subkeys(std::string_view key, std::vector<std::string>* names);
struct NamedValue {
  std::string name;
  std::string value;
  friend bool operator==(const NamedValue&, const NamedValue&) = default;
};
// The values of `key` itself, sorted by name; or the store's failure.
HResult get_values(std::string_view key, std::vector<NamedValue>* values);

// Shorthands for callers to whom a failing store and an absent entry mean the same: the
// value, or nothing; whether the key exists; the subkeys and values, or none.
std::optional<std::string> read_value(std::string_view key, std::string_view name);
bool key_exists(std::string_view key);
std::vector<std::string> list_subkeys(std::string_view key);
std::vector<NamedValue> list_values(std::string_view key);

// Reads the store of the thread's open transaction only, without layering: what a removal
// checks before deleting. Same results as get_value; E_UNEXPECTED without a transaction.
HResult get_own_value(std::string_view key, std::string_view name, std::string* value);

// Every value of one store (not layered), sorted: for tests and tools that compare a store
// before and after an operation.
struct Entry {
  std::string key;
  std::string name;
  std::string value;
  friend bool operator==(const Entry&, const Entry&) = default;
};
std::vector<Entry> dump(Scope scope = Scope::from_environment);

// --- Self-registering servers ------------------------------------------------------------

// "{2157ED08-4B0C-427B-8475-85D754B974CA}": upper-case hex in braces.
std::string guid_text(const GUID& guid);

struct ClassEntry {
  std::string name;  // "OrvanMusic"
  CLSID clsid;
  IID default_interface;
};

// What a server library says about itself.
struct ServerRecord {
  std::string project;  // "OrvanMusicEngine"
  GUID libid;
  WORD major = 0;
  WORD minor = 0;
  std::string threading_model = "Apartment";
  std::vector<ClassEntry> classes;
};

// Writes, for every class:
//   CLSID\{clsid}                  (default) = class name
//   CLSID\{clsid}\InprocServer32   (default) = library_path (absolute); ThreadingModel
//   CLSID\{clsid}\ProgID           (default) = "<project>.<class>"
//   CLSID\{clsid}\TypeLib          (default) = "{libid}"
//   CLSID\{clsid}\Version          (default) = "<major>.<minor>"
//   <project>.<class>              (default) = class name
//   <project>.<class>\CLSID        (default) = "{clsid}"
// in one transaction (joining the thread's). Registering again overwrites the same values.
// A server loaded by the class loader may pass the name it is loaded by
// ("/proc/self/fd/N"): the path it was registered under is written instead.
// E_INVALIDARG for a relative path or an empty name; the store's failure otherwise.
HResult register_server(const ServerRecord& record, std::string_view library_path,
                        Scope scope = Scope::from_environment);

// Removes what register_server wrote, and nothing another registration owns: a class whose
// InprocServer32 names a different library is left alone (the result is then S_FALSE), a
// value is removed only while it still holds what this registration wrote (a programmatic
// identifier since taken over by another class stays), and no other value of those keys is
// touched. Keys go with their last value. S_OK when everything of this registration is gone.
HResult unregister_server(const ServerRecord& record, std::string_view library_path,
                          Scope scope = Scope::from_environment);

}  // namespace orvan::com::registry
