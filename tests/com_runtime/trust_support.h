// Helpers for the tests of whom the runtime trusts: another user without a passwd entry,
// programs run as that user, and a file's mode bits.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace orvan::testing {

// A user that exists only by number: nothing on the machine belongs to it.
inline constexpr uid_t kOtherUser = 54321;

inline bool running_as_root() {
  return geteuid() == 0;
}

inline mode_t mode_of(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Runs `program` with exactly `environment`, as kOtherUser when `drop` is set, and returns
// what it printed (stdout and stderr), or "" when it could not be started.
inline std::string run_program(const std::string& program,
                               const std::vector<std::string>& environment, bool drop) {
  std::vector<char*> envp;
  std::vector<std::string> entries = environment;
  for (auto& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const char* argv[] = {program.c_str(), nullptr};
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(out[0]);
    if (drop && (setgroups(0, nullptr) != 0 || setresgid(kOtherUser, kOtherUser, kOtherUser) != 0 ||
                 setresuid(kOtherUser, kOtherUser, kOtherUser) != 0)) {
      _exit(126);
    }
    execve(program.c_str(), const_cast<char* const*>(argv), envp.data());
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buffer[512];
  ssize_t got;
  while ((got = read(out[0], buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(got));
  close(out[0]);
  waitpid(child, nullptr, 0);
  return text;
}

}  // namespace orvan::testing
