// What a store that is not the one being written, or that is damaged, does to reads and
// writes: a write reads its own scope only, and a failing store is never "absent".
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/com/auto_string.h"
#include "platform/com/runtime/registry.h"
#include "platform/com/typelib/load.h"
#include "tests/com_runtime/scratch_registry.h"
#include "tests/com_runtime/test_server_paths.h"
#include "tests/support/run_command.h"

namespace reg = orvan::com::registry;
using StoreScope = orvan::testing::ScratchRegistry;
using DamagedStore = orvan::testing::ScratchRegistry;

namespace {

// The runtime's own stdole2, registered the way a server registers its type library.
HRESULT register_stdole(reg::Scope scope) {
  setenv("ORVAN_REGISTRY_SCOPE", scope == reg::Scope::system ? "system" : "user", 1);
  const std::string path = orvan::typelib::runtime_library_path() + "\\1";
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLib(orvan::com::utf8_to_utf16(path).c_str(), &lib);
  if (SUCCEEDED(hr)) {
    hr = RegisterTypeLib(lib, orvan::com::utf8_to_utf16(path).c_str(), nullptr);
    lib->Release();
  }
  unsetenv("ORVAN_REGISTRY_SCOPE");
  return hr;
}

HRESULT unregister_stdole(reg::Scope scope) {
  setenv("ORVAN_REGISTRY_SCOPE", scope == reg::Scope::system ? "system" : "user", 1);
  const HRESULT hr = UnRegisterTypeLib(LIBID_stdole2, 2, 0, 0, SYS_WIN32);
  unsetenv("ORVAN_REGISTRY_SCOPE");
  return hr;
}

std::string key_of(int i) {
  return "CLSID\\{" + std::to_string(1000 + i) + "}\\InprocServer32";
}

// Enough rows for the table to span many pages.
constexpr int kRows = 400;
void fill(reg::Scope scope, const std::string& value) {
  reg::Transaction tx(scope);
  for (int i = 0; i < kRows; ++i) {
    ASSERT_EQ(reg::set_value(key_of(i), "", value + std::string(160, 'x'), scope), S_OK);
  }
  ASSERT_EQ(tx.commit(), S_OK);
}

std::vector<char> bytes_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Puts a new file with `bytes` in place of `path`, as a restored backup or a copy would.
void replace_file(const std::string& path, const std::vector<char>& bytes) {
  const std::string next = path + ".next";
  std::ofstream(next, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
  std::filesystem::permissions(
      next, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::filesystem::rename(next, path);
}

struct Outcomes {
  int own = 0;     // the damaged store's own value
  int failed = 0;  // REGDB_E_READREGDB
  int other = 0;   // absent, or the system store's value showing through
};

Outcomes read_every_row() {
  Outcomes outcomes;
  for (int i = 0; i < kRows; ++i) {
    std::string value;
    const HRESULT hr = reg::get_value(key_of(i), "", &value);
    if (hr == S_OK && value.rfind("user", 0) == 0) {
      ++outcomes.own;
    } else if (hr == REGDB_E_READREGDB) {
      ++outcomes.failed;
    } else {
      ++outcomes.other;
    }
  }
  return outcomes;
}

}  // namespace

// A component registered both system-wide and for a user: removing one registration reads
// and removes that scope alone, even while the other store is one that must not be opened.
TEST_F(StoreScope, UnregisteringInOneScopeReadsAndEmptiesThatScopeOnly) {
  use_layered_stores();
  ASSERT_EQ(register_stdole(reg::Scope::system), S_OK);
  ASSERT_EQ(register_stdole(reg::Scope::user), S_OK);
  const auto user_before = reg::dump(reg::Scope::user);
  ASSERT_GE(user_before.size(), 4u);
  ASSERT_EQ(reg::dump(reg::Scope::system), user_before);

  ASSERT_EQ(unregister_stdole(reg::Scope::system), S_OK);
  EXPECT_EQ(reg::dump(reg::Scope::system), std::vector<reg::Entry>{});
  EXPECT_EQ(reg::dump(reg::Scope::user), user_before);

  ASSERT_EQ(register_stdole(reg::Scope::system), S_OK);
  ASSERT_EQ(unregister_stdole(reg::Scope::user), S_OK);
  EXPECT_EQ(reg::dump(reg::Scope::user), std::vector<reg::Entry>{});
  EXPECT_EQ(reg::dump(reg::Scope::system), user_before);

  // Root removing the system registration with a user's data folder in its environment:
  // that user's store (refused here, because anyone may write it) is never consulted.
  ASSERT_EQ(register_stdole(reg::Scope::user), S_OK);
  const std::string user_store = reg::store_paths().user;
  ASSERT_EQ(chmod(user_store.c_str(), 0666), 0);
  ASSERT_EQ(unregister_stdole(reg::Scope::system), S_OK);
  ASSERT_EQ(chmod(user_store.c_str(), 0600), 0);
  EXPECT_EQ(reg::dump(reg::Scope::system), std::vector<reg::Entry>{});
  EXPECT_EQ(reg::dump(reg::Scope::user), user_before);
}

TEST_F(DamagedStore, ACorruptPageOrACutStoreFailsReadsAndRefusesWrites) {
  use_layered_stores();
  fill(reg::Scope::system, "system");
  fill(reg::Scope::user, "user");
  const std::string user_store = reg::store_paths().user;
  const std::vector<char> whole = bytes_of(user_store);
  ASSERT_GT(whole.size(), 20u * 4096u);
  Outcomes intact = read_every_row();
  ASSERT_EQ(intact.own, kRows);

  // A leaf page in the middle of the table overwritten; the store cut mid-page.
  std::vector<char> corrupt = whole;
  std::fill(corrupt.begin() + 10 * 4096, corrupt.begin() + 11 * 4096, '\x5a');
  std::vector<char> cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2 + 1000));
  for (const auto& [what, bytes] : {std::pair{"corrupt page", corrupt}, {"cut store", cut}}) {
    replace_file(user_store, bytes);
    const Outcomes damaged = read_every_row();
    EXPECT_EQ(damaged.other, 0) << what << ": a row read as absent or from the system store";
    EXPECT_GT(damaged.failed, 0) << what;
    reg::take_store_failure();
    EXPECT_EQ(reg::set_value("CLSID\\{B}", "", "b"), REGDB_E_WRITEREGDB) << what;
    const std::string why = reg::take_store_failure();
    EXPECT_EQ(why.rfind(user_store + ": ", 0), 0u) << why;
  }

  // orvan-regsvr refuses to register into it, and says which store and why.
  setenv("ORVAN_REGISTRY", user_store.c_str(), 1);
  const auto refused = orvan::testing::run_command(orvan::testing::regsvr_path() + " " +
                                                   orvan::testing::test_server_path());
  EXPECT_EQ(refused.status, 1) << refused.out;
  EXPECT_NE(refused.out.find("registry store " + user_store + ": "), std::string::npos)
      << refused.out;
  EXPECT_EQ(bytes_of(user_store), cut);
}

// A small store (one registered class: a header page and one data page) cut inside its
// data page, or to its first page alone: SQLite reads the lost page as no rows, so without
// a look at the file's length the class would read as not registered.
TEST_F(DamagedStore, AStoreCutShortOfItsPagesFailsReadsAsDamaged) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  ASSERT_EQ(orvan::testing::call_test_server("DllRegisterServer"), S_OK);
  ASSERT_EQ(orvan::testing::creation_status(), S_OK);
  const std::vector<char> whole = bytes_of(store_);
  ASSERT_EQ(whole.size(), 2u * 4096u) << "a store of two pages";
  for (const std::size_t length : {std::size_t{5120}, std::size_t{4096}}) {
    replace_file(store_, {whole.begin(), whole.begin() + static_cast<long>(length)});
    reg::take_store_failure();
    EXPECT_EQ(orvan::testing::creation_status(), REGDB_E_READREGDB) << length;
    const std::string why = reg::take_store_failure();
    EXPECT_NE(why.find("damaged"), std::string::npos) << length << ": " << why;
    EXPECT_EQ(reg::set_value("CLSID\\{B}", "", "b"), REGDB_E_WRITEREGDB) << length;
  }
  replace_file(store_, whole);
  EXPECT_EQ(orvan::testing::creation_status(), S_OK);
  CoUninitialize();
}
