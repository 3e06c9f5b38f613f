// Starting and waiting for a child program (see process_runner.h): the
// message helpers shared by every runner and the fork-and-exec runner.
//
// The child gets /dev/null as standard input and one pipe as standard output
// and error. The parent keeps the pipe's read end non-blocking and, in each
// 100 ms slice, reads whatever arrives until the slice is over, then lets the
// window's events run and asks waitpid (WNOHANG) whether the child has ended.
// A child that prints a lot therefore never blocks on a full pipe. Several
// children are watched in the same slices (one poll over all their pipes),
// so that running side by side costs the window no more event rounds than
// one child does; start_and_wait is start_all_and_wait with one command.
#include "workstation/matching/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "workstation/common/control_panel.h"
#include "workstation/config/folder_file.h"

extern char** environ;

namespace velmora::matching {
namespace {

using OutputFn = std::function<void(std::string_view)>;

using Clock = std::chrono::steady_clock;

bool needs_quotes(const std::string& piece) {
  if (piece.empty()) return true;
  for (char c : piece) {
    if (c == ' ' || c == '\t' || c == '"' || c == '\'') return true;
  }
  return false;
}

std::string shown(const std::string& piece) {
  return needs_quotes(piece) ? "\"" + piece + "\"" : piece;
}

std::string error_text(int err) {
  return std::strerror(err);
}

// Reads everything the pipe holds now. Returns false once the write end is
// closed (end of file) or the pipe fails.
bool drain(int fd, ProcessOutcome* out, const OutputFn& seen) {
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      out->keep_output(buf, static_cast<size_t>(n));
      if (seen) seen(std::string_view(buf, static_cast<size_t>(n)));
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
}

// One child of a start_all_and_wait: its command, its outcome, and while it
// runs its process and the read end of its output pipe (-1 once closed).
struct Child {
  const ProcessCommand* command = nullptr;
  ProcessOutcome* out = nullptr;
  pid_t pid = -1;
  int fd = -1;
};

// Waits until `deadline`, reading the output of every child whose pipe is
// open; a pipe is closed (fd -1) at its end.
void read_until(Clock::time_point deadline, const std::vector<Child*>& children) {
  std::vector<pollfd> fds;
  std::vector<Child*> whose;
  for (;;) {
    const auto now = Clock::now();
    if (now >= deadline) return;
    const int ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1);
    fds.clear();
    whose.clear();
    for (Child* c : children) {
      if (c->fd < 0) continue;
      fds.push_back(pollfd{c->fd, POLLIN, 0});
      whose.push_back(c);
    }
    if (fds.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      continue;
    }
    const int r = poll(fds.data(), fds.size(), ms);
    if (r < 0 && errno == EINTR) continue;
    for (size_t i = 0; i < fds.size(); ++i) {
      Child* c = whose[i];
      if (r < 0 || (fds[i].revents != 0 && !drain(c->fd, c->out, c->command->on_output))) {
        close(c->fd);
        c->fd = -1;
      }
    }
  }
}

// Checks what exec would only report as a bare errno, so that the
// operator learns which of the two was wrong.
bool check_before_start(const ProcessCommand& c, const std::string& program, ProcessOutcome* out) {
  if (program.empty()) {
    out->start_error = "no program was given";
    return false;
  }
  auto has_zero = [](const std::string& s) { return s.find('\0') != std::string::npos; };
  bool zero = has_zero(program) || has_zero(c.working_folder);
  for (const std::string& a : c.arguments) zero = zero || has_zero(a);
  if (zero) {
    out->start_error = "a piece of the command holds a zero byte";
    return false;
  }
  std::error_code ec;
  if (!c.working_folder.empty() && !std::filesystem::is_directory(c.working_folder, ec)) {
    out->start_error = "the working folder '" + c.working_folder + "' does not exist";
    return false;
  }
  if (std::filesystem::is_directory(program, ec)) {
    out->start_error = "'" + program + "' is a folder, not a program";
    return false;
  }
  if (access(program.c_str(), X_OK) != 0) {
    out->start_error = "'" + program + "': " + error_text(errno);
    return false;
  }
  return true;
}

// Starts the child with /dev/null as standard input, `out_fd` as standard
// output and error, in `folder` (when given). The child is ended by the
// kernel when this thread ends, however it ends (a SIGKILL included), so a
// killed workstation never leaves a comparison program writing to a
// results file that the next run will read. Returns 0 or the errno of what
// failed (in the child, reported through a close-on-exec pipe).
int spawn_child(const std::string& program, char* const argv[], char* const envp[],
                const std::string& folder, int out_fd, pid_t* pid_out) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t parent = getpid();
  const char* folder_c = folder.empty() ? nullptr : folder.c_str();
  const pid_t pid = fork();
  if (pid < 0) {
    const int e = errno;
    close(report[0]);
    close(report[1]);
    return e;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    int e = 0;
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) e = errno;
    // The parent may have died before the line above took effect.
    if (e == 0 && getppid() != parent) _exit(127);
    const int in = e == 0 ? open("/dev/null", O_RDONLY) : -1;
    if (e == 0 && in < 0) e = errno;
    if (e == 0 && (dup2(in, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(out_fd, 2) < 0)) e = errno;
    if (e == 0 && folder_c != nullptr && chdir(folder_c) != 0) e = errno;
    if (e == 0) {
      execve(program.c_str(), argv, envp);
      e = errno;
    }
    ssize_t w = write(report[1], &e, sizeof e);
    (void)w;
    _exit(127);
  }
  close(report[1]);
  int child_error = 0;
  ssize_t n;
  do {
    n = read(report[0], &child_error, sizeof child_error);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof child_error)) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return child_error;
  }
  *pid_out = pid;
  return 0;
}

}  // namespace

std::string ProcessCommand::text() const {
  std::string line = shown(program);
  for (const std::string& a : arguments) line += " " + shown(a);
  return line;
}

std::string ProcessOutcome::describe() const {
  if (cut_short) {
    return started ? "ended when another program of the run failed"
                   : "not started, as another program of the run had failed";
  }
  if (stopped) return "stopped by the operator";
  if (!started) return "could not be started: " + start_error;
  if (exited) return "exit code " + std::to_string(exit_code);
  if (signal != 0) {
    const char* name = strsignal(signal);
    return "ended by signal " + std::to_string(signal) +
           (name ? std::string(" (") + name + ")" : "");
  }
  return "crashed";
}

std::string ProcessOutcome::output_tail(int lines) const {
  std::vector<std::string> found;
  std::string current;
  auto finish = [&] {
    if (!current.empty()) found.push_back(current);
    current.clear();
  };
  for (char c : output) {
    if (c == '\n' || c == '\r') {
      // How far a program got says nothing of why it ended.
      if (current.rfind("progress ", 0) == 0) current.clear();
      finish();
    } else if (current.size() < 200) {
      const unsigned char u = static_cast<unsigned char>(c);
      current += u < 0x20 || u == 0x7f ? '?' : c;
    }
  }
  finish();
  std::string tail;
  const size_t first = found.size() > static_cast<size_t>(lines) ? found.size() - lines : 0;
  for (size_t i = first; i < found.size(); ++i) {
    if (!tail.empty()) tail += "\n";
    tail += found[i];
  }
  return tail;
}

void ProcessOutcome::keep_output(const char* bytes, size_t n) {
  if (n >= kKeptOutput) {
    output.assign(bytes + (n - kKeptOutput), kKeptOutput);
    return;
  }
  output.append(bytes, n);
  if (output.size() > kKeptOutput) output.erase(0, output.size() - kKeptOutput);
}

namespace {

// Starts c.command; on success c.pid and c.fd are set and c.out->started.
void start_child(Child& c) {
  const ProcessCommand& command = *c.command;
  ProcessOutcome& out = *c.out;
  // The child changes folder before it starts the program, so a relative
  // program path is made absolute against the caller's folder first.
  std::string program = command.program;
  if (!program.empty() && program.find('\0') == std::string::npos && program.front() != '/') {
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(program, ec);
    if (!ec) program = abs.string();
  }
  if (!check_before_start(command, program, &out)) return;

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    out.start_error = "no pipe for its output: " + error_text(errno);
    return;
  }
  std::vector<std::string> pieces;
  pieces.reserve(command.arguments.size() + 1);
  pieces.push_back(program);
  pieces.insert(pieces.end(), command.arguments.begin(), command.arguments.end());
  std::vector<char*> argv;
  for (std::string& p : pieces) argv.push_back(p.data());
  argv.push_back(nullptr);

  // The child's environment: this process's, with the command's own
  // settings in place of any of the same name. Built before the fork, as the
  // child may not allocate.
  std::vector<std::string> env_pieces;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    bool replaced = false;
    for (const std::string& own : command.environment) {
      const size_t eq = own.find('=');
      if (eq != std::string::npos &&
          entry.substr(0, eq + 1) == std::string_view(own).substr(0, eq + 1))
        replaced = true;
    }
    if (!replaced) env_pieces.emplace_back(entry);
  }
  env_pieces.insert(env_pieces.end(), command.environment.begin(), command.environment.end());
  std::vector<char*> envp;
  for (std::string& e : env_pieces) envp.push_back(e.data());
  envp.push_back(nullptr);

  const int rc =
      spawn_child(program, argv.data(), envp.data(), command.working_folder, fds[1], &c.pid);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    out.start_error = "'" + program + "': " + error_text(rc);
    return;
  }
  out.started = true;
  c.fd = fds[0];
  fcntl(c.fd, F_SETFL, fcntl(c.fd, F_GETFL) | O_NONBLOCK);
}

// Takes the end of a child that waitpid reported with `status`.
void finish_child(Child& c, int status) {
  ProcessOutcome& out = *c.out;
  if (c.fd >= 0) {
    drain(c.fd, &out, c.command->on_output);
    close(c.fd);
    c.fd = -1;
  }
  if (WIFEXITED(status)) {
    out.exited = true;
    out.exit_code = WEXITSTATUS(status);
  } else {
    out.crashed = true;
    if (WIFSIGNALED(status)) out.signal = WTERMSIG(status);
  }
}

}  // namespace

ProcessOutcome PosixProcessRunner::start_and_wait(const ProcessCommand& command,
                                                  ControlPanel* panel) {
  return std::move(start_all_and_wait({command}, 1, panel).front());
}

std::vector<ProcessOutcome> PosixProcessRunner::start_all_and_wait(
    const std::vector<ProcessCommand>& commands, int at_once, ControlPanel* panel) {
  std::vector<ProcessOutcome> outcomes(commands.size());
  std::vector<Child> children(commands.size());
  for (size_t i = 0; i < commands.size(); ++i) children[i] = Child{&commands[i], &outcomes[i]};
  const size_t limit = static_cast<size_t>(std::max(at_once, 1));
  std::vector<Child*> running;
  size_t next = 0;
  bool failed = false, stopped = false;
  // Killed children are still waited for below, so that nothing writes to a
  // results file once this returns.
  auto end_running = [&](bool by_operator) {
    for (Child* c : running) {
      (by_operator ? c->out->stopped : c->out->cut_short) = true;
      kill(c->pid, SIGKILL);
    }
  };
  for (;;) {
    while (!failed && !stopped && next < commands.size() && running.size() < limit) {
      Child& c = children[next++];
      start_child(c);
      if (c.out->started) {
        running.push_back(&c);
      } else {
        failed = true;
        end_running(false);
      }
    }
    if (running.empty()) break;
    read_until(Clock::now() + std::chrono::milliseconds(poll_ms_), running);
    if (panel != nullptr) panel->process_events();
    if (panel != nullptr && panel->stop_requested() && !stopped) {
      // The operator stopped the run: every program is ended and waited
      // for, so that nothing writes to the results files after the stop.
      stopped = true;
      end_running(true);
    }
    for (auto it = running.begin(); it != running.end();) {
      Child& c = **it;
      int status = 0;
      const pid_t w = waitpid(c.pid, &status, WNOHANG);
      if (w == 0 || (w < 0 && errno == EINTR)) {
        ++it;
        continue;
      }
      if (w == c.pid) {
        finish_child(c, status);
      } else {
        // The child cannot be waited for (it was reaped elsewhere): its end
        // is unknown, which is no success.
        const int err = errno;
        if (c.fd >= 0) close(c.fd);
        c.fd = -1;
        c.out->crashed = true;
        c.out->output += "\n[the program's end could not be observed: " + error_text(err) + "]";
      }
      it = running.erase(it);
      if (!failed && !c.out->succeeded() && !c.out->stopped && !c.out->cut_short) {
        failed = true;
        end_running(false);
      }
    }
  }
  for (size_t i = next; i < commands.size(); ++i) {
    ProcessOutcome& out = outcomes[i];
    (stopped ? out.stopped : out.cut_short) = true;
    out.start_error =
        stopped ? "the operator stopped the run first" : "another program of the run had failed";
  }
  return outcomes;
}

std::vector<ProcessOutcome> ProcessRunner::start_all_and_wait(
    const std::vector<ProcessCommand>& commands, int at_once, ControlPanel* panel) {
  std::vector<ProcessOutcome> outcomes(commands.size());
  if (at_once > 1 && commands.size() > 1) {
    for (ProcessOutcome& out : outcomes) {
      out.start_error = "this process runner starts one program at a time, and " +
                        std::to_string(at_once) + " were asked for at once";
    }
    return outcomes;
  }
  bool failed = false, stopped = false;
  for (size_t i = 0; i < commands.size(); ++i) {
    ProcessOutcome& out = outcomes[i];
    if (failed || stopped) {
      (stopped ? out.stopped : out.cut_short) = true;
      out.start_error =
          stopped ? "the operator stopped the run first" : "another program of the run had failed";
      continue;
    }
    out = start_and_wait(commands[i], panel);
    stopped = out.stopped;
    failed = !out.succeeded();
  }
  return outcomes;
}

std::string tarvikx_beside_program() {
  return config::normalise_folder(config::default_program_folder()) + kTarvikxName;
}

}  // namespace velmora::matching
