// orvan-regsvr against the test server: exit statuses, what registration leaves in the
// store, and registrations killed part-way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/runtime/registry.h"
#include "tests/com_runtime/scratch_registry.h"
#include "tests/com_runtime/test_server_paths.h"
#include "tests/support/run_command.h"

namespace reg = orvan::com::registry;
using orvan::testing::regsvr_path;
using orvan::testing::run_command;
using orvan::testing::test_server_path;
using Regsvr = orvan::testing::ScratchRegistry;

namespace {

orvan::testing::CommandOutcome regsvr(const std::string& arguments) {
  return run_command(regsvr_path() + " " + arguments);
}

// Runs orvan-regsvr on the test server in a child and kills it with SIGKILL once the
// server has written its first value (when `inside` is set) or after `delay` from the
// start. Returns whether the child was killed before it finished.
bool register_and_kill(std::chrono::microseconds delay, bool inside) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return false;
  // Everything the child needs is made before fork: after it, only exec is safe.
  const std::string tool = regsvr_path();
  const std::string server = test_server_path();
  std::vector<std::string> environment = {"ORVAN_TEST_SERVER_NOTIFY_FD=" +
                                          std::to_string(pipe_fds[1])};
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const char* argv[] = {tool.c_str(), "-s", server.c_str(), nullptr};

  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    execve(tool.c_str(), const_cast<char* const*>(argv), envp.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  if (inside) {
    char byte = 0;
    // The byte comes while the server's transaction is open (or EOF if it died first).
    if (read(pipe_fds[0], &byte, 1) != 1) {
      close(pipe_fds[0]);
      waitpid(child, nullptr, 0);
      return false;
    }
  }
  std::this_thread::sleep_for(delay);
  kill(child, SIGKILL);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace

TEST_F(Regsvr, ExitStatusSaysWhatHappened) {
  EXPECT_EQ(regsvr("").status, 2);
  EXPECT_EQ(regsvr("-x " + test_server_path()).status, 2);
  EXPECT_EQ(regsvr(test_server_path() + " " + test_server_path()).status, 2);
  EXPECT_EQ(regsvr((dir_ / "missing.so").string()).status, 2);
  const auto no_entry = regsvr(ORVAN_BINARY_DIR "/lib/liborvan_com.so");
  EXPECT_EQ(no_entry.status, 2);
  EXPECT_NE(no_entry.out.find("DllRegisterServer"), std::string::npos) << no_entry.out;

  const auto registered = regsvr(test_server_path());
  EXPECT_EQ(registered.status, 0) << registered.out;
  EXPECT_NE(registered.out.find("DllRegisterServer"), std::string::npos) << registered.out;
  EXPECT_NE(registered.out.find("succeeded"), std::string::npos) << registered.out;
  EXPECT_EQ(reg::read_value("OrvanTestServer.Counter\\CLSID", ""),
            reg::guid_text(CLSID_TestCounter));

  const auto silent = regsvr("-u -s " + test_server_path());
  EXPECT_EQ(silent.status, 0);
  EXPECT_EQ(silent.out, "");
  EXPECT_FALSE(reg::key_exists("OrvanTestServer.Counter"));

  // A store that cannot be written makes the entry point fail: status 1, its name, and
  // which store failed and why.
  const std::string blocker = (dir_ / "file").string();
  orvan::testing::write_text_file(blocker, "x");
  setenv("ORVAN_REGISTRY", (blocker + "/registry.sqlite3").c_str(), 1);
  const auto failed = regsvr(test_server_path());
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.find("SELFREG_E_CLASS"), std::string::npos) << failed.out;
  EXPECT_NE(failed.out.find("registry store " + blocker + "/registry.sqlite3: refused: " + blocker +
                            " is not a folder"),
            std::string::npos)
      << failed.out;
}

TEST_F(Regsvr, RegisteringTwiceChangesNothingAndUnregisteringRestoresTheStore) {
  ASSERT_EQ(reg::set_value("CLSID\\{00000000-0000-0000-0000-0000000000AA}", "", "Unrelated"), S_OK);
  ASSERT_EQ(reg::set_value("Unrelated.Class\\CLSID", "", "{00000000-0000-0000-0000-0000000000AA}"),
            S_OK);
  const auto before = reg::dump();

  ASSERT_EQ(regsvr(test_server_path()).status, 0);
  const auto once = reg::dump();
  ASSERT_EQ(regsvr(test_server_path()).status, 0);
  EXPECT_EQ(reg::dump(), once);
  EXPECT_GT(once.size(), before.size() + 7);

  ASSERT_EQ(regsvr("-u " + test_server_path()).status, 0);
  EXPECT_EQ(reg::dump(), before);
  ASSERT_EQ(regsvr("-u " + test_server_path()).status, 0) << "unregistering again is harmless";
  EXPECT_EQ(reg::dump(), before);
}

// Whenever a registering process dies, the store is either as before or fully registered.
TEST_F(Regsvr, AKilledRegistrationLeavesTheStoreWholeOrUntouched) {
  // A longer transaction, so that kills land inside it.
  setenv("ORVAN_TEST_SERVER_STEPS", "20", 1);
  ASSERT_EQ(reg::set_value("Unrelated\\Key", "", "kept"), S_OK);
  const auto untouched = reg::dump();
  ASSERT_EQ(regsvr(test_server_path()).status, 0);
  const auto registered = reg::dump();
  ASSERT_EQ(regsvr("-u " + test_server_path()).status, 0);
  ASSERT_EQ(reg::dump(), untouched);

  std::mt19937 random(20261208);
  constexpr int kKills = 24;
  int killed_inside = 0;
  int outcome_untouched = 0;
  int outcome_registered = 0;
  for (int i = 0; i < kKills; ++i) {
    // Half of the kills land while the transaction is open, the rest anywhere from start.
    const bool inside = i % 2 == 0;
    const auto delay = std::chrono::microseconds(
        std::uniform_int_distribution<int>(0, inside ? 35000 : 100000)(random));
    if (register_and_kill(delay, inside) && inside) ++killed_inside;
    const auto now = reg::dump();
    if (now == untouched) {
      ++outcome_untouched;
    } else if (now == registered) {
      ++outcome_registered;
      ASSERT_EQ(regsvr("-u " + test_server_path()).status, 0);
    } else {
      ADD_FAILURE() << "kill " << i << " left a partial registration (" << now.size() << " values)";
      for (std::size_t k = 0; k < now.size(); ++k) {
        if (k >= registered.size() || !(now[k] == registered[k])) {
          ADD_FAILURE() << now[k].key << " " << now[k].name << " " << now[k].value;
        }
      }
      break;
    }
  }
  RecordProperty("killed_inside_transaction", killed_inside);
  RecordProperty("left_untouched", outcome_untouched);
  RecordProperty("left_registered", outcome_registered);
  EXPECT_EQ(outcome_untouched + outcome_registered, kKills);
  // The kills that waited for the open transaction really interrupted it at least once.
  EXPECT_GT(killed_inside, 0);
  EXPECT_GT(outcome_untouched, 0);
}
