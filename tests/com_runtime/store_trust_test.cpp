// Whom the registry believes: ownership and modes of a store and its folders, files that
// are not stores, secure-execution processes, and the modes a store is created with.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/com/runtime/registry.h"
#include "tests/com_runtime/scratch_registry.h"
#include "tests/com_runtime/test_server_paths.h"
#include "tests/com_runtime/trust_support.h"

namespace reg = orvan::com::registry;
using orvan::testing::call_test_server;
using orvan::testing::creation_status;
using orvan::testing::kOtherUser;
using orvan::testing::mode_of;
using orvan::testing::run_program;
using orvan::testing::running_as_root;
using StoreTrust = orvan::testing::ScratchRegistry;

namespace {

constexpr const char* kKey = "CLSID\\{A}\\InprocServer32";

HRESULT read_status() {
  std::string value;
  return reg::get_value(kKey, "", &value);
}

std::string store_client_path() {
  return ORVAN_BINARY_DIR "/bin/orvan_store_client";
}

}  // namespace

TEST_F(StoreTrust, AStoreOthersMayWriteOrThatIsNoFileIsRefusedAndSaysWhy) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  ASSERT_EQ(call_test_server("DllRegisterServer"), S_OK);
  ASSERT_EQ(reg::set_value(kKey, "", "/lib/a.so"), S_OK);
  ASSERT_EQ(creation_status(), S_OK);
  reg::take_store_failure();

  struct Case {
    const char* what;
    const std::string path;
    mode_t mode;
  };
  const Case writable[] = {
      {"store writable by others", store_, 0606},
      {"store writable by its group", store_, 0660},
      {"folder writable by others", dir_.string(), 0757},
      {"sticky folder writable by all", dir_.string(), 01777},
  };
  for (const Case& c : writable) {
    ASSERT_EQ(chmod(c.path.c_str(), c.mode), 0);
    EXPECT_EQ(read_status(), REGDB_E_READREGDB) << c.what;
    // The class is not "not registered": its store is not believed.
    EXPECT_EQ(creation_status(), REGDB_E_READREGDB) << c.what;
    EXPECT_EQ(reg::set_value(kKey, "", "/lib/b.so"), REGDB_E_WRITEREGDB) << c.what;
    const std::string why = reg::take_store_failure();
    EXPECT_NE(why.find(store_), std::string::npos) << why;
    EXPECT_NE(why.find("may write it"), std::string::npos) << why;
    ASSERT_EQ(chmod(c.path.c_str(), c.path == store_ ? 0600 : 0700), 0);
  }
  EXPECT_EQ(reg::read_value(kKey, ""), "/lib/a.so");
  EXPECT_EQ(creation_status(), S_OK);

  // A link, a FIFO (which would block its reader) and a folder are no stores. Nothing is
  // created in their place either.
  const std::string link = (dir_ / "link.sqlite3").string();
  const std::string fifo = (dir_ / "fifo.sqlite3").string();
  const std::string folder = (dir_ / "folder.sqlite3").string();
  ASSERT_EQ(symlink(store_.c_str(), link.c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const std::string& path : {link, fifo, folder}) {
    setenv("ORVAN_REGISTRY", path.c_str(), 1);
    EXPECT_EQ(read_status(), REGDB_E_READREGDB) << path;
    EXPECT_EQ(reg::set_value(kKey, "", "/lib/b.so"), REGDB_E_WRITEREGDB) << path;
    EXPECT_NE(reg::take_store_failure().find(path), std::string::npos);
  }
  EXPECT_EQ(reg::take_store_failure(), "") << "taking the failure clears it";
  CoUninitialize();
}

TEST_F(StoreTrust, AStoreOrFolderOfAnotherUserIsRefusedEvenByRoot) {
  if (!running_as_root()) GTEST_SKIP() << "giving a store to another user needs root";
  ASSERT_EQ(reg::set_value(kKey, "", "/lib/a.so"), S_OK);
  for (const std::string& path : {store_, dir_.string()}) {
    ASSERT_EQ(chown(path.c_str(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(read_status(), REGDB_E_READREGDB) << path;
    EXPECT_EQ(reg::set_value(kKey, "", "/lib/b.so"), REGDB_E_WRITEREGDB) << path;
    EXPECT_NE(reg::take_store_failure().find("belongs to user 54321"), std::string::npos);
    ASSERT_EQ(chown(path.c_str(), 0, 0), 0);
  }
  EXPECT_EQ(reg::read_value(kKey, ""), "/lib/a.so");

  // The per-user store's folders up to the data folder count; the home above it does not.
  use_layered_stores();
  ASSERT_EQ(reg::set_value(kKey, "", "/home/a.so"), S_OK);
  EXPECT_EQ(reg::read_value(kKey, ""), "/home/a.so");
  const std::string data_home = (dir_ / "user").string();
  ASSERT_EQ(chown(data_home.c_str(), kOtherUser, kOtherUser), 0);
  EXPECT_EQ(read_status(), REGDB_E_READREGDB);
  ASSERT_EQ(chown(data_home.c_str(), 0, 0), 0);
  ASSERT_EQ(chown(dir_.c_str(), kOtherUser, kOtherUser), 0);
  EXPECT_EQ(read_status(), S_OK);
  ASSERT_EQ(chown(dir_.c_str(), 0, 0), 0);
}

// Run by another user, the client believes the store its environment names (root's, in a
// folder only root may write); as a setuid copy it ignores that environment altogether.
TEST_F(StoreTrust, ASetuidClientIgnoresTheEnvironmentAndUsesTheSystemStoreAlone) {
  if (!running_as_root()) GTEST_SKIP() << "running a client as another user needs root";
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(call_test_server("DllRegisterServer"), S_OK);
  ASSERT_EQ(chmod(store_.c_str(), 0644), 0);
  const std::vector<std::string> environment = {
      "ORVAN_REGISTRY=" + store_, "XDG_DATA_HOME=" + (dir_ / "user").string(),
      "HOME=" + dir_.string(), "ORVAN_SYSTEM_REGISTRY=" + store_};

  const std::string plain = run_program(store_client_path(), environment, true);
  EXPECT_NE(plain.find("user=" + store_ + "\n"), std::string::npos) << plain;
  EXPECT_NE(plain.find("create=0x00000000"), std::string::npos) << plain;

  const std::string copy = (dir_ / "setuid_client").string();
  std::filesystem::copy_file(store_client_path(), copy);
  ASSERT_EQ(chmod(copy.c_str(), 04755), 0);
  const std::string elevated = run_program(copy, environment, true);
  EXPECT_NE(elevated.find("user=\nsystem=/var/lib/orvan/registry.sqlite3\nsingle=0\n"),
            std::string::npos)
      << elevated;
  EXPECT_EQ(elevated.find("create=0x00000000"), std::string::npos) << elevated;
  EXPECT_NE(elevated.find("create=0x"), std::string::npos) << elevated;

  // A relative HOME, and no passwd entry to fall back on: no per-user store at all, rather
  // than one below the working directory or the root folder.
  const std::string homeless = run_program(store_client_path(), {"HOME=rel"}, true);
  EXPECT_NE(homeless.find("user=\nsystem=/var/lib/orvan/registry.sqlite3\n"), std::string::npos)
      << homeless;
}

TEST_F(StoreTrust, ARelativeHomeOrDataHomeIsIgnored) {
  const char* original_home = getenv("HOME");
  const std::string saved_home = original_home ? original_home : "";
  unsetenv("ORVAN_REGISTRY");
  setenv("HOME", (dir_ / "home").c_str(), 1);
  setenv("XDG_DATA_HOME", "rel/data", 1);
  EXPECT_EQ(reg::store_paths().user, (dir_ / "home/.local/share/orvan/registry.sqlite3").string());
  setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
  EXPECT_EQ(reg::store_paths().user, (dir_ / "data/orvan/registry.sqlite3").string());
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", "rel", 1);
  const std::string user = reg::store_paths().user;
  EXPECT_TRUE(user.empty() || user.front() == '/') << user;
  EXPECT_EQ(user.find("rel/"), std::string::npos) << user;
  if (original_home) {
    setenv("HOME", saved_home.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

// Under umask 077 a system store would otherwise be unreadable for every other user, who
// would then be told that nothing is registered.
TEST_F(StoreTrust, StoreModesFollowTheScopeNotTheUmask) {
  use_layered_stores();
  const mode_t saved = umask(077);
  ASSERT_EQ(reg::set_value(kKey, "", "/usr/lib/a.so", reg::Scope::system), S_OK);
  ASSERT_EQ(reg::set_value(kKey, "", "/home/a.so", reg::Scope::user), S_OK);
  umask(saved);
  const std::string system_store = (dir_ / "system/registry.sqlite3").string();
  const std::string user_store = (dir_ / "user/orvan/registry.sqlite3").string();
  EXPECT_EQ(mode_of(system_store), 0644u);
  EXPECT_EQ(mode_of((dir_ / "system").string()), 0755u);
  EXPECT_EQ(mode_of(user_store), 0600u);
  EXPECT_EQ(mode_of((dir_ / "user/orvan").string()), 0700u);
  EXPECT_EQ(mode_of((dir_ / "user").string()), 0700u);

  // An existing system store of the wrong mode is brought back by the next write.
  ASSERT_EQ(chmod(system_store.c_str(), 0600), 0);
  ASSERT_EQ(reg::set_value("CLSID\\{B}", "", "b", reg::Scope::system), S_OK);
  EXPECT_EQ(mode_of(system_store), 0644u);

  if (!running_as_root()) GTEST_SKIP() << "reading as another user needs root";
  // Another user who cannot read the system store is told so, not "not registered".
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  const std::vector<std::string> environment = {"ORVAN_SYSTEM_REGISTRY=" + system_store,
                                                "HOME=/nonexistent"};
  EXPECT_NE(run_program(store_client_path(), environment, true).find("create=0x80040154"),
            std::string::npos)
      << "readable: the class is simply not registered";
  for (const auto& [path, mode] :
       {std::pair{system_store, 0600}, {(dir_ / "system").string(), 0700}}) {
    ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(mode)), 0);
    EXPECT_NE(run_program(store_client_path(), environment, true).find("create=0x80040150"),
              std::string::npos)
        << path;
    ASSERT_EQ(chmod(path.c_str(), path == system_store ? 0644 : 0755), 0);
  }
}
