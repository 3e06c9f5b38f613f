// What every ProcessRunner must do, as a typed GoogleTest suite: each test
// executable that has a runner instantiates it (process_runner_test.cpp for
// the POSIX runner, process_runner_qt_test.cpp for the QProcess one). The
// children are /bin/sh scripts, so the cases need nothing but a POSIX shell.
#pragma once

#include <gtest/gtest.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "testing/temp_dir.h"
#include "workstation/common/control_panel.h"
#include "workstation/matching/process_runner.h"

namespace velmora::matching::conformance {

inline ProcessCommand shell(const std::string& script, std::vector<std::string> extra = {}) {
  ProcessCommand c;
  c.program = "/bin/sh";
  c.arguments = {"-c", script, "sh"};
  c.arguments.insert(c.arguments.end(), extra.begin(), extra.end());
  return c;
}

template <typename Runner>
class ProcessRunnerConformance : public ::testing::Test {
 protected:
  Runner runner_;
  RecordingControlPanel panel_;
  velmora::testing::TempDir temp_{"velmora_runner"};
  const std::filesystem::path dir_ = temp_.root();
};

TYPED_TEST_SUITE_P(ProcessRunnerConformance);

TYPED_TEST_P(ProcessRunnerConformance, ExitCodesAreReported) {
  ProcessOutcome ok = this->runner_.start_and_wait(shell("exit 0"), &this->panel_);
  EXPECT_TRUE(ok.succeeded()) << ok.describe();
  EXPECT_EQ(ok.describe(), "exit code 0");

  ProcessOutcome three = this->runner_.start_and_wait(shell("exit 3"), &this->panel_);
  EXPECT_TRUE(three.started);
  EXPECT_TRUE(three.exited);
  EXPECT_EQ(three.exit_code, 3);
  EXPECT_FALSE(three.succeeded());
  EXPECT_EQ(three.describe(), "exit code 3");
}

TYPED_TEST_P(ProcessRunnerConformance, AKilledChildIsACrashNotASuccess) {
  ProcessOutcome o = this->runner_.start_and_wait(shell("kill -9 $$"), &this->panel_);
  EXPECT_TRUE(o.started);
  EXPECT_FALSE(o.exited);
  EXPECT_TRUE(o.crashed);
  EXPECT_FALSE(o.succeeded());
}

TYPED_TEST_P(ProcessRunnerConformance, ArgumentsArriveUnchangedWithoutAShell) {
  // Blanks, both quotes, a dollar sign and a semicolon would all be taken
  // apart or expanded by a shell line.
  const std::vector<std::string> pieces = {"a b", "it's", "say \"hi\"", "$HOME;ls", ""};
  ProcessOutcome o =
      this->runner_.start_and_wait(shell("printf '<%s>' \"$@\"", pieces), &this->panel_);
  ASSERT_TRUE(o.succeeded()) << o.describe();
  EXPECT_EQ(o.output, "<a b><it's><say \"hi\"><$HOME;ls><>");
}

TYPED_TEST_P(ProcessRunnerConformance, RunsInTheGivenWorkingFolder) {
  const std::filesystem::path folder = this->dir_ / "work folder";
  std::filesystem::create_directories(folder);
  ProcessCommand c = shell("echo made > made.txt");
  c.working_folder = folder.string();
  ProcessOutcome o = this->runner_.start_and_wait(c, &this->panel_);
  ASSERT_TRUE(o.succeeded()) << o.describe();
  EXPECT_TRUE(std::filesystem::exists(folder / "made.txt"));
}

TYPED_TEST_P(ProcessRunnerConformance, RelativeProgramIsFoundFromTheCallersFolder) {
  // The child changes to its working folder first; the program path must
  // still mean what it meant to the caller.
  const std::filesystem::path script = this->dir_ / "hello.sh";
  std::ofstream(script) << "#!/bin/sh\necho hello\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(this->dir_);
  ProcessCommand c;
  c.program = "hello.sh";
  c.working_folder = "/";
  ProcessOutcome o = this->runner_.start_and_wait(c, &this->panel_);
  std::filesystem::current_path(before);
  ASSERT_TRUE(o.succeeded()) << o.describe();
  EXPECT_EQ(o.output, "hello\n");
}

TYPED_TEST_P(ProcessRunnerConformance, MissingProgramOrFolderIsNotStarted) {
  ProcessCommand c;
  c.program = (this->dir_ / "no such program").string();
  ProcessOutcome o = this->runner_.start_and_wait(c, &this->panel_);
  EXPECT_FALSE(o.started);
  EXPECT_FALSE(o.succeeded());
  EXPECT_NE(o.describe().find("could not be started"), std::string::npos) << o.describe();

  ProcessCommand d = shell("exit 0");
  d.working_folder = (this->dir_ / "missing").string();
  ProcessOutcome p = this->runner_.start_and_wait(d, &this->panel_);
  EXPECT_FALSE(p.started);
  EXPECT_NE(p.start_error.find("does not exist"), std::string::npos) << p.start_error;
}

TYPED_TEST_P(ProcessRunnerConformance, OutputAndErrorsAreKeptAndBounded) {
  ProcessOutcome o =
      this->runner_.start_and_wait(shell("echo out; echo err 1>&2; exit 1"), &this->panel_);
  EXPECT_NE(o.output.find("out\n"), std::string::npos);
  EXPECT_NE(o.output.find("err\n"), std::string::npos);
  // 200,000 bytes would fill any pipe: the runner must keep reading, and
  // keep only the end.
  ProcessOutcome big = this->runner_.start_and_wait(
      shell("i=0; while [ $i -lt 2000 ]; do printf '%0100d' $i; i=$((i+1)); done; echo END"),
      &this->panel_);
  ASSERT_TRUE(big.succeeded()) << big.describe();
  EXPECT_EQ(big.output.size(), ProcessOutcome::kKeptOutput);
  EXPECT_EQ(big.output.substr(big.output.size() - 4), "END\n");
}

TYPED_TEST_P(ProcessRunnerConformance, EnvironmentGoesInAndOutputComesOutAsItArrives) {
  ProcessCommand c =
      shell("echo \"$VELMORA_PROBE $HOME\"; sleep 0.3; echo \"second $VELMORA_OTHER\"");
  c.environment = {"VELMORA_PROBE=first", "VELMORA_OTHER=x=y"};
  std::string seen;
  int pieces_before_end = 0;
  c.on_output = [&](std::string_view bytes) {
    seen.append(bytes);
    if (seen.find("second") == std::string::npos) ++pieces_before_end;
  };
  ProcessOutcome o = this->runner_.start_and_wait(c, &this->panel_);
  ASSERT_TRUE(o.succeeded()) << o.describe();
  const char* home = std::getenv("HOME");
  EXPECT_EQ(seen, std::string("first ") + (home ? home : "") + "\nsecond x=y\n");
  EXPECT_EQ(o.output, seen);
  EXPECT_GE(pieces_before_end, 1);  // the first line came before the child ended
}

TYPED_TEST_P(ProcessRunnerConformance, WindowEventsRunWhileTheChildRuns) {
  const auto t0 = std::chrono::steady_clock::now();
  ProcessOutcome o = this->runner_.start_and_wait(shell("sleep 0.5"), &this->panel_);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_TRUE(o.succeeded()) << o.describe();
  // Polled every 100 ms: a 500 ms child leaves at least 3 rounds of events
  // even on a loaded machine (each round can only run late, never early).
  EXPECT_GE(this->panel_.events_runs(), 3);
  // And not many more rounds than the time allows (one per 100 ms, plus the
  // last partial one), so the runner does not spin.
  EXPECT_LE(this->panel_.events_runs(), static_cast<int>(ms / 100.0) + 2);
}

TYPED_TEST_P(ProcessRunnerConformance, AStopRequestEndsTheChildAtTheNextPoll) {
  this->panel_.request_stop_after_events(2);
  const auto t0 = std::chrono::steady_clock::now();
  ProcessOutcome o = this->runner_.start_and_wait(shell("sleep 30"), &this->panel_);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_TRUE(o.started);
  EXPECT_TRUE(o.stopped);
  EXPECT_FALSE(o.succeeded());
  EXPECT_EQ(o.describe(), "stopped by the operator");
  EXPECT_LT(seconds, 10.0);  // ended, not waited out (30 s)
}

REGISTER_TYPED_TEST_SUITE_P(ProcessRunnerConformance, ExitCodesAreReported,
                            AStopRequestEndsTheChildAtTheNextPoll,
                            EnvironmentGoesInAndOutputComesOutAsItArrives,
                            AKilledChildIsACrashNotASuccess, ArgumentsArriveUnchangedWithoutAShell,
                            RunsInTheGivenWorkingFolder, RelativeProgramIsFoundFromTheCallersFolder,
                            MissingProgramOrFolderIsNotStarted, OutputAndErrorsAreKeptAndBounded,
                            WindowEventsRunWhileTheChildRuns);

}  // namespace velmora::matching::conformance
