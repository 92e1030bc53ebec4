// Store files, connections and transactions of the registry.
#include "platform/com/runtime/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

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

// The environment as this process may believe it: nothing in a secure-execution process
// (setuid, setgid or with file capabilities), whose environment comes from its caller.
std::string env(const char* name) {
  const char* value = secure_getenv(name);
  return value ? std::string(value) : std::string();
}

bool secure_execution() {
  return getauxval(AT_SECURE) != 0;
}

// The user's data folder; empty when there is no absolute one to be had.
std::string data_home() {
  // XDG says a relative XDG_DATA_HOME is invalid and must be ignored; a relative HOME is
  // no better, as it would put the store wherever the process happens to run.
  if (std::string xdg = env("XDG_DATA_HOME"); !xdg.empty() && xdg.front() == '/') return xdg;
  std::string home = env("HOME");
  if (home.empty() || home.front() != '/') {
    const passwd* entry = getpwuid(geteuid());
    home = entry && entry->pw_dir ? entry->pw_dir : "";
    if (home.empty() || home.front() != '/') return {};
  }
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return (home == "/" ? std::string() : home) + "/.local/share";
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

StoreFile store_in_own_folder(const std::string& path) {
  return {path, parent_of(path)};
}

std::string errno_text(int error) {
  return std::strerror(error);
}

// Why `info` (of a store or a folder above it) is not to be believed; empty when it is.
std::string distrust(const struct stat& info) {
  if (info.st_uid != geteuid() && info.st_uid != 0) {
    return "it belongs to user " + std::to_string(info.st_uid) + ", neither this user nor root";
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "others than its owner may write it";
  return {};
}

// Checks the folders above the store up to its root. Empty when all are trusted.
std::string check_folders(const StoreFile& store) {
  std::string folder = parent_of(store.path);
  for (;;) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) return folder + ": " + errno_text(errno);
    if (!S_ISDIR(info.st_mode)) return folder + " is not a folder";
    if (std::string why = distrust(info); !why.empty()) return "folder " + folder + ": " + why;
    if (folder == store.root || folder == "/" || folder == ".") return {};
    folder = parent_of(folder);
  }
}

// Checks the store file and the folders above it up to its root. `file` receives the
// store's own status. Empty when everything is trusted; *absent is set when there is no
// such file (and no folder on the way is in doubt).
std::string check_trust(const StoreFile& store, struct stat* file, bool* absent = nullptr) {
  // Not followed: a store is a regular file where it is named, never a link, a device or
  // a FIFO (which would block its reader).
  if (lstat(store.path.c_str(), file) != 0) {
    if (absent && errno == ENOENT) *absent = true;
    return errno_text(errno);
  }
  if (!S_ISREG(file->st_mode)) return "it is not a regular file";
  if (std::string why = distrust(*file); !why.empty()) return why;
  return check_folders(store);
}

// Creates every missing folder above `file` with `mode`, whatever the umask.
bool make_parent_directories(const std::string& file, mode_t mode) {
  for (std::size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1)) {
    const std::string dir = file.substr(0, slash);
    if (mkdir(dir.c_str(), mode) == 0) {
      if (chmod(dir.c_str(), mode) != 0) return false;
    } else if (errno != EEXIST) {
      return false;
    }
  }
  return true;
}

// Creates the store file with exactly `mode`, or brings an existing one of ours to it (a
// system store made under a strict umask would otherwise be unreadable for every user).
// A store others could write is left as it is, to be refused: its content is not ours to
// vouch for. SQLite gives its journal the mode of the store.
std::string prepare_store_file(const std::string& path, mode_t mode) {
  const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return errno_text(errno);
  struct stat info {};
  std::string why;
  if (fstat(fd, &info) != 0) {
    why = errno_text(errno);
  } else if (!S_ISREG(info.st_mode)) {
    why = "it is not a regular file";
  } else if (info.st_uid == geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
             (info.st_mode & 07777) != mode && fchmod(fd, mode) != 0) {
    why = errno_text(errno);
  }
  close(fd);
  return why;
}

bool exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

HResult open_for_writing(const WriteTarget& target, Connection* out) {
  const std::string& path = target.store.path;
  if (path.empty()) {
    note_store_failure("(none)", "this process has no per-user store");
    return REGDB_E_WRITEREGDB;
  }
  // Folders get the search bits that go with the file's read bits: 0700 or 0755.
  const mode_t folder_mode = target.file_mode | ((target.file_mode & 0444) >> 2);
  if (!make_parent_directories(path, folder_mode)) {
    note_store_failure(path, "cannot create its folder: " + errno_text(errno));
    return REGDB_E_WRITEREGDB;
  }
  // Nothing is created in a folder that is not trusted.
  if (std::string why = check_folders(target.store); !why.empty()) {
    note_store_failure(path, "refused: " + why);
    return REGDB_E_WRITEREGDB;
  }
  if (std::string why = prepare_store_file(path, target.file_mode); !why.empty()) {
    note_store_failure(path, why);
    return REGDB_E_WRITEREGDB;
  }
  struct stat info {};
  if (std::string why = check_trust(target.store, &info); !why.empty()) {
    note_store_failure(path, "refused: " + why);
    return REGDB_E_WRITEREGDB;
  }
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection db(raw);
  if (rc != SQLITE_OK) {
    note_store_failure(path, raw ? sqlite3_errmsg(raw) : "cannot open it");
    return REGDB_E_WRITEREGDB;
  }
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  // A rollback journal with full syncs: a process killed mid-transaction leaves a hot
  // journal that the next opener plays back, so the store is as before or as after.
  if (!exec(db.get(), "PRAGMA journal_mode=DELETE") || !exec(db.get(), "PRAGMA synchronous=FULL")) {
    note_store_failure(path, sqlite3_errmsg(db.get()));
    return REGDB_E_WRITEREGDB;
  }
  *out = std::move(db);
  return S_OK;
}

// Why the store's length shows it damaged; empty when it does not. SQLite reads a page
// past a file's end as absent rows without an error, so a store cut short could otherwise
// pass for one without the keys it lost. Every store is whole pages, and no shorter than
// the page count its header gives (when the header vouches for that count).
std::string length_fault(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};  // the caller's own open says what is wrong
  struct stat info {};
  unsigned char header[100] = {};
  const bool stated = ::fstat(fd, &info) == 0;
  const ssize_t got = stated && info.st_size > 0 ? ::pread(fd, header, sizeof header, 0) : 0;
  ::close(fd);
  if (!stated || info.st_size == 0) return {};  // an empty file is an empty store
  if (got != static_cast<ssize_t>(sizeof header)) return "it is shorter than a store's header";
  const auto be = [&](int at, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | header[at + i];
    return value;
  };
  if (std::memcmp(header, "SQLite format 3", 16) != 0) return {};  // SQLite says what it is
  const std::uint32_t page = be(16, 2) == 1 ? 65536 : be(16, 2);
  if (page < 512 || (page & (page - 1)) != 0) return {};
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size % page != 0) {
    return "its length (" + std::to_string(size) + " bytes) is not a whole number of its " +
           std::to_string(page) + "-byte pages";
  }
  // The header's page count holds only while the change counter matches the count's stamp.
  const std::uint64_t pages = be(24, 4) == be(92, 4) ? be(28, 4) : 0;
  if (size < pages * page) {
    return "it has " + std::to_string(size / page) + " pages of the " + std::to_string(pages) +
           " its header counts";
  }
  return {};
}

// A writer rewrites the first page (and so the page count) before it extends the file, and
// a writer killed mid-way leaves a journal that puts the file back: a length that looks
// wrong is looked at again under a read lock, which waits for the one and plays back the
// other.
HResult check_length(sqlite3* db, const std::string& path) {
  if (length_fault(path).empty()) return S_OK;
  std::string why;
  if (exec(db, "BEGIN")) {
    {
      Statement touch(db, "SELECT count(*) FROM sqlite_master");
      const int step = touch.ok() ? touch.step() : SQLITE_ERROR;
      why = step == SQLITE_ROW ? length_fault(path) : sqlite3_errmsg(db);
    }
    exec(db, "COMMIT");
  } else {
    why = sqlite3_errmsg(db);
  }
  if (why.empty()) return S_OK;
  note_store_failure(path, "damaged: " + why);
  return REGDB_E_READREGDB;
}

// After the write lock is taken: a store that fails its check is not written to, since
// rows SQLite cannot read would otherwise pass for absent ones.
HResult check_integrity(sqlite3* db, const std::string& path) {
  Statement check(db, "PRAGMA quick_check");
  std::string verdict;
  int step = check.step();
  if (step == SQLITE_ROW) {
    verdict = check.column(0);
    step = check.step();
  }
  if (step == SQLITE_DONE && verdict == "ok") {
    if (const std::string why = length_fault(path); !why.empty()) {
      note_store_failure(path, "damaged: " + why);
      return REGDB_E_WRITEREGDB;
    }
    return S_OK;
  }
  note_store_failure(path, "it fails its integrity check: " +
                               (verdict.empty() ? std::string(sqlite3_errmsg(db)) : verdict));
  return REGDB_E_WRITEREGDB;
}

// Read connections kept open per thread, so that a read costs a few status calls instead
// of opening the store again.
struct CachedStore {
  CachedStore(Connection connection, const struct stat& file)
      : db(std::move(connection)), device(file.st_dev), inode(file.st_ino) {}
  CachedStore(const CachedStore&) = delete;
  CachedStore& operator=(const CachedStore&) = delete;
  ~CachedStore() {
    // Before the connection closes, which would otherwise wait for them.
    for (const auto& [sql, statement] : statements) sqlite3_finalize(statement);
  }

  Connection db;
  dev_t device = 0;
  ino_t inode = 0;
  std::vector<std::pair<const char*, sqlite3_stmt*>> statements;  // by SQL text address
};
constexpr std::size_t kMaxCachedStores = 8;

std::map<std::string, CachedStore>& read_cache() {
  thread_local std::map<std::string, CachedStore> cache;
  return cache;
}

// Whether the cached connection still reads the file now at its path: the same file by
// identity, not renamed or removed underneath.
bool still_same_file(const CachedStore& cached, const struct stat& now) {
  if (cached.device != now.st_dev || cached.inode != now.st_ino) return false;
  int moved = 1;
  return sqlite3_file_control(cached.db.get(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) ==
             SQLITE_OK &&
         moved == 0;
}

std::mutex& failure_mutex() {
  static std::mutex mutex;
  return mutex;
}
std::string& failure_text() {
  static std::string text;
  return text;
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

HResult open_for_reading(const StoreFile& store, sqlite3** db) {
  *db = nullptr;
  if (store.path.empty()) return S_FALSE;
  auto& cache = read_cache();
  struct stat info {};
  bool absent = false;
  if (std::string why = check_trust(store, &info, &absent); !why.empty()) {
    cache.erase(store.path);
    if (absent) return S_FALSE;
    note_store_failure(store.path, "refused: " + why);
    return REGDB_E_READREGDB;
  }
  if (auto found = cache.find(store.path); found != cache.end()) {
    if (still_same_file(found->second, info)) {
      if (HResult hr = check_length(found->second.db.get(), store.path); failed(hr)) return hr;
      *db = found->second.db.get();
      return S_OK;
    }
    cache.erase(found);
  }
  // Read-write when we may, so that a hot journal left by a killed writer is played back
  // instead of blocking the read; the trust check above means it is ours or root's.
  const int mode =
      access(store.path.c_str(), W_OK) == 0 ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(store.path.c_str(), &raw, mode | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection opened(raw);
  if (rc != SQLITE_OK) {
    note_store_failure(store.path, raw ? sqlite3_errmsg(raw) : "cannot open it");
    return REGDB_E_READREGDB;
  }
  sqlite3_busy_timeout(opened.get(), kBusyTimeoutMs);
  if (HResult hr = check_length(opened.get(), store.path); failed(hr)) return hr;
  Statement probe(opened.get(),
                  "SELECT 1 FROM sqlite_master WHERE type='table' AND name='reg_values'");
  const int step = probe.ok() ? probe.step() : SQLITE_ERROR;
  if (step == SQLITE_DONE) return S_FALSE;  // not cached: the table may come any moment
  if (step != SQLITE_ROW) {
    note_store_failure(store.path, sqlite3_errmsg(opened.get()));
    return REGDB_E_READREGDB;
  }
  const auto [entry, added] = cache.try_emplace(store.path, std::move(opened), info);
  *db = entry->second.db.get();
  return S_OK;
}

void trim_read_cache() {
  auto& cache = read_cache();
  if (cache.size() < kMaxCachedStores) return;
  // Stores since removed or replaced (a test's scratch folders) go first; should the
  // thread really read that many live stores, they are all opened afresh.
  for (auto it = cache.begin(); it != cache.end();) {
    struct stat info {};
    const bool live = lstat(it->first.c_str(), &info) == 0 && still_same_file(it->second, info);
    it = live ? std::next(it) : cache.erase(it);
  }
  if (cache.size() >= kMaxCachedStores) cache.clear();
}

std::vector<StoreFile> read_layers() {
  const StorePaths paths = store_paths();
  if (paths.single) return {store_in_own_folder(paths.user)};
  std::vector<StoreFile> layers;
  if (!paths.user.empty()) layers.push_back({paths.user, data_home()});
  layers.push_back(store_in_own_folder(paths.system));
  return layers;
}

WriteTarget write_target(Scope scope) {
  const StorePaths paths = store_paths();
  if (scope == Scope::from_environment) {
    scope = env("ORVAN_REGISTRY_SCOPE") == "system" ? Scope::system : Scope::user;
  }
  WriteTarget target;
  target.file_mode = scope == Scope::system ? 0644 : 0600;
  if (paths.single) {
    target.store = store_in_own_folder(paths.user);
  } else if (scope == Scope::system) {
    target.store = store_in_own_folder(paths.system);
  } else {
    target.store = {paths.user, data_home()};
  }
  return target;
}

void note_store_failure(const std::string& path, const std::string& reason) {
  std::lock_guard lock(failure_mutex());
  failure_text() = path + ": " + reason;
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

Statement::Statement(sqlite3* db, const char* sql, Reused) {
  for (auto& [path, cached] : read_cache()) {
    if (cached.db.get() != db) continue;
    for (const auto& [text, statement] : cached.statements) {
      // A statement still stepping elsewhere is not shared: this one gets its own.
      if (text == sql && !sqlite3_stmt_busy(statement)) {
        stmt_ = statement;
        borrowed_ = true;
        return;
      }
    }
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &prepared, nullptr) ==
        SQLITE_OK) {
      cached.statements.emplace_back(sql, prepared);
      stmt_ = prepared;
      borrowed_ = true;
      return;
    }
    sqlite3_finalize(prepared);
    break;
  }
  if (!borrowed_ && sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() {
  if (borrowed_) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  } else {
    sqlite3_finalize(stmt_);
  }
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
  paths.system = detail::kSystemStore;
  // A secure-execution process runs with rights its caller lacks: it believes the system
  // store alone, never a file its caller's environment names.
  if (detail::secure_execution()) return paths;
  if (std::string single = detail::env("ORVAN_REGISTRY"); !single.empty()) {
    paths.user = single;
    paths.system = single;
    paths.single = true;
    return paths;
  }
  if (const std::string data = detail::data_home(); !data.empty()) {
    paths.user = data + "/orvan/registry.sqlite3";
  }
  if (std::string system = detail::env("ORVAN_SYSTEM_REGISTRY"); !system.empty()) {
    paths.system = system;
  }
  return paths;
}

std::string take_store_failure() {
  std::lock_guard lock(detail::failure_mutex());
  return std::exchange(detail::failure_text(), std::string());
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
  const detail::WriteTarget target = detail::write_target(scope);
  state.path = target.store.path;
  detail::Connection db;
  status_ = detail::open_for_writing(target, &db);
  if (succeeded(status_) && !detail::exec(db.get(), "BEGIN IMMEDIATE")) {
    detail::note_store_failure(state.path, sqlite3_errmsg(db.get()));
    status_ = REGDB_E_WRITEREGDB;
  }
  if (succeeded(status_)) status_ = detail::check_integrity(db.get(), state.path);
  if (succeeded(status_) && !detail::exec(db.get(), detail::kSchema)) {
    detail::note_store_failure(state.path, sqlite3_errmsg(db.get()));
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
