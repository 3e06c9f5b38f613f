// ProcessRunner: starts one child program with no window and waits for it,
// keeping the operator's window responsive.
//
// The batch comparison runs tarvikx once per batch of library extracts and
// must wait for each run before it writes the next list. start_and_wait
// starts the program, then every 100 ms lets the panel's pending window
// events run and looks whether the child has ended. The command is a program
// path and an argument vector, never a shell line, so folders holding
// blanks, quotes or other shell characters reach the child unchanged.
//
// What the child prints (standard output and error together) is collected,
// keeping the last kKeptOutput bytes, so that a failure can be shown to the
// operator with the child's own words; its standard input is empty.
//
// The child never outlives the thread that started it: the kernel ends it
// when that thread ends, however it ends, so a killed workstation leaves no
// comparison program writing to a results file. When the panel reports
// stop_requested() the child is killed at the next poll and the outcome says
// "stopped".
//
// Implementations: PosixProcessRunner (fork and exec, below, no Qt) and, in
// builds with the windows, QtProcessRunner (process_runner_qt.h). Tests
// inject a fake. One runner serves one thread; it keeps no state between
// calls.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {
class ControlPanel;
}

namespace velmora::matching {

struct ProcessCommand {
  std::string program;                 // path of the executable (found relative to the caller's
                                       // current folder, not the child's)
  std::vector<std::string> arguments;  // argv[1] ... in order
  std::string working_folder;          // the child's current folder; "" = the caller's
  // "NAME=value" settings added to (or replacing those of) the caller's
  // environment for the child.
  std::vector<std::string> environment;
  // Called with each piece of output as it arrives (not split into lines),
  // on the caller's thread, between polls. May be empty.
  std::function<void(std::string_view bytes)> on_output;

  // The command as one line for messages: program and arguments separated
  // by blanks, a piece holding a blank, a quote or nothing in double quotes.
  // For showing only; it is never given to a shell.
  std::string text() const;
};

struct [[nodiscard]] ProcessOutcome {
  static constexpr size_t kKeptOutput = 4096;

  bool started = false;     // the program was found and began to run
  std::string start_error;  // why it could not be started (started == false)
  bool exited = false;      // ended by itself; exit_code is its code
  int exit_code = -1;
  bool crashed = false;  // ended by a signal or a crash
  int signal = 0;        // the signal, when known (0 otherwise)
  std::string output;    // the last kKeptOutput bytes it printed
  bool stopped = false;  // ended because the operator stopped the run

  // Started, ended by itself and returned exit code 0.
  bool succeeded() const { return started && exited && exit_code == 0; }
  // "exit code 1", "ended by signal 11 (Segmentation fault)", "could not be
  // started: No such file or directory", ...
  std::string describe() const;
  // The last few non-empty lines of the output, for a message (at most
  // `lines` lines, each cut to 200 characters, control bytes as '?').
  std::string output_tail(int lines = 6) const;
  // Appends bytes to `output`, keeping the last kKeptOutput.
  void keep_output(const char* bytes, size_t n);
};

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  // Runs `command` to its end; `panel` (may be null) gets process_events()
  // about every 100 ms while the child runs. Every outcome (not started,
  // non-zero exit, crash) is reported in the result; the caller decides
  // what a failure means.
  virtual ProcessOutcome start_and_wait(const ProcessCommand& command, ControlPanel* panel) = 0;
};

// fork and exec without a shell; polls with waitpid every `poll_ms`
// milliseconds (100 by default) and drains the child's output meanwhile.
class PosixProcessRunner : public ProcessRunner {
 public:
  explicit PosixProcessRunner(int poll_ms = 100) : poll_ms_(poll_ms) {}
  ProcessOutcome start_and_wait(const ProcessCommand& command, ControlPanel* panel) override;

 private:
  int poll_ms_;
};

// The comparison program's name, and its path beside the running program's
// own executable (the folder of /proc/self/exe), where the build and an
// installation put every program of the project.
inline constexpr const char* kTarvikxName = "tarvikx";
std::string tarvikx_beside_program();

}  // namespace velmora::matching
