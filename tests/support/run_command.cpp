#include "tests/support/run_command.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace orvan::testing {

CommandOutcome run_command(const std::string& command) {
  CommandOutcome result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer{};
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    result.out.append(buffer.data(), n);
  const int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

}  // namespace orvan::testing
