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
// start_all_and_wait runs several commands with up to a given number of
// children at once (velmora-batch's --jobs: the library lists of one side
// are independent runs). A runner that cannot keep several children going
// says so (runs_side_by_side() is false) and refuses such a request instead
// of running the children one after another, which would look like success
// but take as long as before: the caller asked for the time.
//
// Implementations: PosixProcessRunner (fork and exec, below, no Qt; side by
// side) and, in builds with the windows, QtProcessRunner
// (process_runner_qt.h; one child at a time, as the window asks for no
// more). Tests inject a fake. One runner serves one thread; it keeps no
// state between calls.
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
  // Killed, or never started, because another command of the same
  // start_all_and_wait failed first.
  bool cut_short = false;

  // Started, ended by itself and returned exit code 0.
  bool succeeded() const { return started && exited && exit_code == 0; }
  // "exit code 1", "ended by signal 11 (Segmentation fault)", "could not be
  // started: No such file or directory", "stopped by the operator", "ended
  // when another program of the run failed", ...
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

  // Whether start_all_and_wait keeps more than one child running at once.
  virtual bool runs_side_by_side() const { return false; }

  // Runs every command, at most `at_once` (1 or more) at a time, starting
  // them in the order given and the next as soon as one ends; returns one
  // outcome per command, in the order given. Each command's on_output gets
  // only its own child's output. The first command that does not succeed
  // ends the run: the children still running are killed and waited for and
  // the commands not yet started are not started (both `cut_short`). A stop
  // request of the panel kills every child (each `stopped`); commands not
  // yet started are then `stopped` too, with started false.
  //
  // This default runs the commands one after another through
  // start_and_wait when no more than one child would run at once, and
  // otherwise starts nothing: every outcome says that this runner starts one
  // program at a time.
  virtual std::vector<ProcessOutcome> start_all_and_wait(
      const std::vector<ProcessCommand>& commands, int at_once, ControlPanel* panel);
};

// fork and exec without a shell; polls with waitpid every `poll_ms`
// milliseconds (100 by default) and drains the child's output meanwhile.
class PosixProcessRunner : public ProcessRunner {
 public:
  explicit PosixProcessRunner(int poll_ms = 100) : poll_ms_(poll_ms) {}
  ProcessOutcome start_and_wait(const ProcessCommand& command, ControlPanel* panel) override;
  bool runs_side_by_side() const override { return true; }
  // All children are polled together, every `poll_ms`, with one round of
  // the panel's events per poll.
  std::vector<ProcessOutcome> start_all_and_wait(const std::vector<ProcessCommand>& commands,
                                                 int at_once, ControlPanel* panel) override;

 private:
  int poll_ms_;
};

// The comparison program's name, and its path beside the running program's
// own executable (the folder of /proc/self/exe), where the build and an
// installation put every program of the project.
inline constexpr const char* kTarvikxName = "tarvikx";
std::string tarvikx_beside_program();

}  // namespace velmora::matching
