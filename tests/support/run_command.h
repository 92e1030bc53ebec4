// Runs a program the way a person at a shell would, for tests of the command-line player.
#pragma once

#include <string>

namespace orvan::testing {

struct CommandOutcome {
  int status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string out;  // stdout and stderr together
};

// Runs `command` through the shell with stderr joined to stdout.
CommandOutcome run_command(const std::string& command);

// The whole of a file a program wrote, byte for byte; empty when there is none.
std::string file_bytes(const std::string& path);

}  // namespace orvan::testing
