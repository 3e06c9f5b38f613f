// The build's own programs and shell commands that run them, for end-to-end
// tests. Every program of the build, the test programs too, lands in one
// folder (bin/), so a built program is found beside the running test.
#pragma once

#include <string>

namespace velmora::testing {

// The folder of the running program, ending in '/'.
std::string program_folder();
// The path of the build's program `name`; "" when it is not there.
std::string built_program(const std::string& name);

// `text` as one word of a /bin/sh command line, whatever it holds.
std::string shell_quote(const std::string& text);

struct CommandRun {
  int exit_code = -1;  // -1: did not start or did not exit
  std::string output;  // standard output and standard error together
};
// Runs a /bin/sh command line and waits for it.
CommandRun run_command(const std::string& command);

}  // namespace velmora::testing
