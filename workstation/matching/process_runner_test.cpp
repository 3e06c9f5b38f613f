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

// Children side by side, up to the limit: each logs its start (+) and end
// (-), so the log tells how many ran at once and how many were not killed.
// Whatever ends the run early (a child that fails, one that cannot start,
// the operator) kills every child and starts no more ("touch never").
TEST(PosixProcessRunner, RunsUpToTheLimitSideBySideAndEndsAllAtTheFirstFailure) {
  const std::string quick = "echo + >> log; sleep 1; echo - >> log; echo out $1";
  const std::string slow = "echo + >> log; sleep 5; echo - >> log";
  const std::string killed = "ended when another program of the run failed";
  const std::string unstarted = "not started, as another program of the run had failed";
  const std::string stopped = "stopped by the operator", ok = "exit code 0";
  const struct {
    int at_once;
    std::vector<std::string> scripts;  // "" = a program that does not exist
    bool stop;
    std::vector<std::string> ends;  // each outcome's describe() begins so
    int most, ended;                // children at once and ended by themselves, in the log
  } cases[] = {
      {2, {quick, quick, quick, quick}, false, {ok, ok, ok, ok}, 2, 4},
      {3,
       {slow, "sleep 0.5; exit 4", slow, "touch never"},
       false,
       {killed, "exit code 4", killed, unstarted},
       2,
       0},
      {3,
       {"", slow, slow, "touch never"},
       false,
       {"could not be started: ", unstarted, unstarted, unstarted},
       0,
       0},
      {3, {slow, slow, slow, "touch never"}, true, {stopped, stopped, stopped, stopped}, 3, 0},
  };
  for (const auto& c : cases) {
    velmora::testing::TempDir temp("velmora_side_by_side");
    std::vector<ProcessCommand> commands;
    std::vector<std::string> seen(c.scripts.size());
    for (size_t i = 0; i < c.scripts.size(); ++i) {
      commands.push_back(conformance::shell(c.scripts[i], {std::to_string(i)}));
      if (c.scripts[i].empty()) commands.back().program = temp.path("no such program");
      commands.back().working_folder = temp.dir();
      commands.back().on_output = [&seen, i](std::string_view b) { seen[i].append(b); };
    }
    PosixProcessRunner runner;
    RecordingControlPanel panel;
    if (c.stop) panel.request_stop_after_events(5);
    const auto outcomes = runner.start_all_and_wait(commands, c.at_once, &panel);
    ASSERT_EQ(outcomes.size(), c.ends.size());
    for (size_t i = 0; i < outcomes.size(); ++i) {
      const std::string end = outcomes[i].describe();
      EXPECT_EQ(end.rfind(c.ends[i], 0), 0u) << c.ends[1] << ", " << i << ": " << end;
      EXPECT_EQ(seen[i], c.ends[i] == ok ? "out " + std::to_string(i) + "\n" : outcomes[i].output);
    }
    int running = 0, most = 0, ended = 0;
    for (const std::string& line : velmora::testing::read_lines(temp.path("log"))) {
      running += line == "+" ? 1 : -1;
      most = std::max(most, running);
      ended += line == "-";
    }
    EXPECT_EQ(most, c.most) << c.ends[1];
    EXPECT_EQ(ended, c.ended) << c.ends[1];
    EXPECT_FALSE(temp.exists("never"));
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
