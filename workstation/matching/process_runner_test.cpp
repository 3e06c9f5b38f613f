// The POSIX runner against the shared runner cases, and the outcome's
// message helpers.
#include "workstation/matching/process_runner.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "testing/files.h"
#include "testing/temp_dir.h"
#include "workstation/matching/process_runner_conformance.h"

namespace velmora::matching {
namespace conformance {
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, ProcessRunnerConformance, PosixProcessRunner);
}  // namespace conformance

namespace {

// A comparison program must not outlive a killed workstation: it would go on
// appending to a results file that the next run reads.
TEST(PosixProcessRunner, TheChildDiesWithItsParentEvenBySigkill) {
  velmora::testing::TempDir temp("velmora_orphan");
  const std::string pid_file = temp.path("pid");
  const pid_t parent = fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    PosixProcessRunner runner;
    // Killed with this process before it returns: there is no outcome to look at.
    (void)runner.start_and_wait(conformance::shell("echo $$ > \"$1\"; exec sleep 30", {pid_file}),
                                nullptr);
    _exit(0);
  }
  pid_t child = 0;
  for (int i = 0; i < 500 && child == 0; ++i) {
    std::ifstream in(pid_file);
    in >> child;
    if (child == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(child, 0);
  kill(parent, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(parent, &status, 0), parent);
  // Gone, or a zombie waiting for whoever adopted it: no longer running.
  auto running = [&] {
    std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
    std::string pid_text, name, state;
    if (!(stat >> pid_text >> name >> state)) return false;
    return state != "Z" && state != "X";
  };
  bool ended = false;
  for (int i = 0; i < 300 && !ended; ++i) {
    ended = !running();
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!ended) kill(child, SIGKILL);
  EXPECT_TRUE(ended);
}

// Four children of a second each, two at a time. Each logs its start and
// its end, so the log tells how many ran at once; each one's output reaches
// its own outcome and its own on_output only.
TEST(PosixProcessRunner, RunsUpToTheLimitSideBySide) {
  velmora::testing::TempDir temp("velmora_side_by_side");
  const std::string log = temp.path("log");
  std::vector<ProcessCommand> commands;
  std::vector<std::string> seen(4);
  for (int i = 0; i < 4; ++i) {
    ProcessCommand c = conformance::shell(
        "echo + >> \"$1\"; echo child $2; sleep 1; echo - >> \"$1\"", {log, std::to_string(i)});
    c.on_output = [&seen, i](std::string_view bytes) { seen[i].append(bytes); };
    commands.push_back(c);
  }
  PosixProcessRunner runner;
  RecordingControlPanel panel;
  const std::vector<ProcessOutcome> outcomes = runner.start_all_and_wait(commands, 2, &panel);
  int running = 0, most = 0;
  for (const std::string& line : velmora::testing::read_lines(log)) {
    running += line == "+" ? 1 : -1;
    most = std::max(most, running);
  }
  EXPECT_EQ(most, 2);
  ASSERT_EQ(outcomes.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(outcomes[i].succeeded()) << i << ": " << outcomes[i].describe();
    EXPECT_EQ(outcomes[i].output, "child " + std::to_string(i) + "\n");
    EXPECT_EQ(seen[i], outcomes[i].output);
  }
}

// Whatever ends a run early (a child that fails, one that cannot start, the
// operator) ends every child at once and starts no more.
TEST(PosixProcessRunner, AFailureOrAStopEndsEveryChild) {
  const std::string killed = "ended when another program of the run failed";
  const std::string not_started = "not started, as another program of the run had failed";
  const std::string stopped = "stopped by the operator";
  struct Case {
    const char* what;
    std::vector<std::string> scripts;  // "" = a program that does not exist
    bool stop;
    std::vector<std::string> ends;  // each outcome's describe(), or its start
  };
  const Case cases[] = {
      {"a child fails",
       {"sleep 30", "sleep 0.3; exit 4", "sleep 30", "touch never"},
       false,
       {killed, "exit code 4", killed, not_started}},
      {"a child cannot start",
       {"sleep 30", "", "touch never", "touch never"},
       false,
       {killed, "could not be started: ", not_started, not_started}},
      {"the operator stops",
       {"sleep 30", "sleep 30", "sleep 30", "touch never"},
       true,
       {stopped, stopped, stopped, stopped}},
  };
  for (const Case& c : cases) {
    velmora::testing::TempDir temp("velmora_side_by_side");
    std::vector<ProcessCommand> commands;
    for (const std::string& script : c.scripts) {
      ProcessCommand command = conformance::shell(script);
      if (script.empty()) command.program = temp.path("no such program");
      command.working_folder = temp.dir();
      commands.push_back(command);
    }
    PosixProcessRunner runner;
    RecordingControlPanel panel;
    if (c.stop) panel.request_stop_after_events(2);
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<ProcessOutcome> outcomes = runner.start_all_and_wait(commands, 3, &panel);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 10.0)
        << c.what;
    ASSERT_EQ(outcomes.size(), c.ends.size()) << c.what;
    for (size_t i = 0; i < outcomes.size(); ++i) {
      EXPECT_EQ(outcomes[i].describe().rfind(c.ends[i], 0), 0u)
          << c.what << ", " << i << ": " << outcomes[i].describe();
      EXPECT_FALSE(outcomes[i].succeeded()) << c.what << ", " << i;
    }
    EXPECT_FALSE(temp.exists("never")) << c.what;
  }
}

TEST(ProcessOutcome, DescribesEachEnd) {
  ProcessOutcome o;
  o.start_error = "'x': No such file or directory";
  EXPECT_EQ(o.describe(), "could not be started: 'x': No such file or directory");
  o.started = true;
  o.crashed = true;
  o.signal = SIGSEGV;
  EXPECT_EQ(o.describe().rfind("ended by signal " + std::to_string(SIGSEGV), 0), 0u)
      << o.describe();
  o.signal = 0;
  EXPECT_EQ(o.describe(), "crashed");
  o.crashed = false;
  o.exited = true;
  o.exit_code = 1;
  EXPECT_EQ(o.describe(), "exit code 1");
  EXPECT_FALSE(o.succeeded());
}

TEST(ProcessOutcome, OutputTailKeepsTheLastLinesReadable) {
  ProcessOutcome o;
  o.output = "one\r\ntwo\n\n\nthree\x01\nfour\nfive\nsix\nseven";
  EXPECT_EQ(o.output_tail(3), "five\nsix\nseven");
  EXPECT_EQ(o.output_tail(6), "two\nthree?\nfour\nfive\nsix\nseven");
  o.output = std::string(500, 'x');
  EXPECT_EQ(o.output_tail(1), std::string(200, 'x'));
  o.output.clear();
  EXPECT_EQ(o.output_tail(), "");
}

TEST(ProcessOutcome, KeepOutputHoldsOnlyTheEnd) {
  ProcessOutcome o;
  const std::string first(ProcessOutcome::kKeptOutput - 10, 'a');
  o.keep_output(first.data(), first.size());
  EXPECT_EQ(o.output, first);
  o.keep_output("0123456789ABCDEF", 16);
  ASSERT_EQ(o.output.size(), ProcessOutcome::kKeptOutput);
  EXPECT_EQ(o.output.substr(o.output.size() - 16), "0123456789ABCDEF");
  EXPECT_EQ(o.output.substr(0, 4), "aaaa");
  const std::string huge(3 * ProcessOutcome::kKeptOutput, 'z');
  o.keep_output(huge.data(), huge.size());
  EXPECT_EQ(o.output, std::string(ProcessOutcome::kKeptOutput, 'z'));
}

TEST(ProcessCommand, TextQuotesOnlyWhatNeedsIt) {
  ProcessCommand c;
  c.program = "/opt/bin/tarvikx";
  c.arguments = {"/data/seal photos/oldlib", "pending_filesL.txt", "", "true"};
  EXPECT_EQ(c.text(), "/opt/bin/tarvikx \"/data/seal photos/oldlib\" pending_filesL.txt \"\" true");
}

TEST(ProcessRunner, TarvikxIsLookedForBesideThisProgram) {
  const std::string path = tarvikx_beside_program();
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  const std::string self(exe, static_cast<size_t>(n));
  EXPECT_EQ(path, self.substr(0, self.rfind('/') + 1) + "tarvikx");
}

}  // namespace
}  // namespace velmora::matching
