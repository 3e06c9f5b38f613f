#include "testing/programs.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

namespace velmora::testing {

std::string program_folder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("./") : self.parent_path().string() + "/";
}

std::string built_program(const std::string& name) {
  const std::string path = program_folder() + name;
  return std::filesystem::is_regular_file(path) ? path : "";
}

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

CommandRun run_command(const std::string& command) {
  CommandRun run;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace velmora::testing
