// End to end: the real tarvikx on fingerprints written by save_fprint, run
// by batch_compare_old_style and by the velmora-batch program, in folders
// whose names hold a blank and a quote.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "compare/testing/patterns.h"
#include "testing/programs.h"
#include "workstation/app/batch_headless.h"
#include "workstation/common/console_panel.h"
#include "workstation/matching/batch_compare.h"
#include "workstation/matching/batch_test_support.h"
#include "workstation/matching/change_p_to_v.h"
#include "workstation/matching/process_runner.h"
#include "workstation/matching/results_import.h"

namespace velmora::app {
namespace {

using namespace matching;

namespace fs = std::filesystem;
using batch_testing::BatchWorkspace;

// Three library animals and two pending photographs of animals 1 and 3,
// seen a few pixels shifted; every fingerprint through save_fprint.
class BatchEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ws_.status().ok()) << ws_.status().message();
    ASSERT_TRUE(ws_.builder().add_algorithm("a", "tarvik").ok());
    ASSERT_TRUE(ws_.add_aspect("Dorsal", "DO", "Dorsal").ok());
    ASSERT_TRUE(ws_.builder().add_bulk_extracts("L", 3, 1, "Dorsal", "DO", "M", "L").ok());
    ASSERT_TRUE(ws_.builder().add_bulk_extracts("P", 2, 1, "Dorsal", "DO", "M", "P").ok());
    std::vector<std::vector<uint8_t>> pelts;
    for (int i = 0; i < 3; ++i) pelts.push_back(tarvik::testing::blob_pattern(96, 96, 41 + i, 90));
    for (int i = 0; i < 3; ++i) {
      save("L" + std::to_string(i + 1) + "_1DO",
           tarvik::testing::crop(pelts[i], 96, 16, 16, 64, 64));
    }
    save("P1_1DO", tarvik::testing::crop(pelts[0], 96, 18, 13, 64, 64));
    save("P2_1DO", tarvik::testing::crop(pelts[2], 96, 13, 19, 64, 64));
    ASSERT_TRUE(ws_.write_run_files().ok());
  }
  void save(const std::string& cell, const std::vector<uint8_t>& image) {
    Status s = ws_.save_fingerprint(cell, image);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  std::string best_candidate(const std::string& pending) {
    return ws_.text("SELECT fname FROM temp WHERE pname='" + pending +
                    ".a' ORDER BY score DESC LIMIT 1");
  }
  // Runs velmora-batch with `args`; returns its exit code, output in *out.
  int run_program(const std::vector<std::string>& args, std::string* out) {
    std::string cmd = testing::shell_quote(testing::built_program("velmora-batch"));
    for (const std::string& a : args) cmd += " " + testing::shell_quote(a);
    const testing::CommandRun run = testing::run_command(cmd);
    *out = run.output;
    return run.exit_code;
  }

  BatchWorkspace ws_{"e2e it's"};
};

TEST_F(BatchEndToEnd, TheRealComparisonFillsTempAndMovesThePendingToV) {
  std::ostringstream console;
  ConsolePanel panel(console);
  ScriptedDialogs dialogs;
  session::RunState ctx;
  HeadlessOptions o;
  o.database = ws_.db_path;
  o.data_folder = ws_.data_folder;
  o.working_folder = ws_.working_folder;
  Status s = start_headless_batch(ctx, config::FolderFileLocations{}, o, console);
  ASSERT_TRUE(s.ok()) << s.message();

  PosixProcessRunner runner;
  BatchCompareOptions options;
  options.tarvikx = testing::built_program("tarvikx");
  BatchCompareSummary sum;
  s = batch_compare_old_style(ctx, panel, dialogs, runner, options, &sum);
  ASSERT_TRUE(s.ok()) << s.message();
  ChangePtoVSummary moved;
  s = ChangePtoV(ctx, &moved);
  ASSERT_TRUE(s.ok()) << s.message();
  ctx.drop_database_work();
  ctx.session.close();

  EXPECT_EQ(sum.tarvikx_runs, 1);
  EXPECT_EQ(sum.failed_runs, 0);
  // The bar moved within the one run, as tarvikx reported its passes.
  int within = 0;
  for (double p : panel.progress()) within += p > 0.02 && p < 0.98;
  EXPECT_GE(within, 3) << console.str();
  EXPECT_EQ(sum.pending_listed, 2);
  EXPECT_EQ(sum.library_listed, 3);
  EXPECT_EQ(sum.skipped_lines, 0);
  // Each pending extract with each library extract in both roles, and the
  // two pending ones with each other: every pair is staged once it has a
  // correlation, so temp holds the pending pairs with all three animals.
  EXPECT_GT(sum.result_lines, 0);
  EXPECT_GT(ws_.count("SELECT count(*) FROM temp"), 0);
  EXPECT_EQ(best_candidate("P1_1DO"), "L1_1DO");
  EXPECT_EQ(best_candidate("P2_1DO"), "L3_1DO");
  EXPECT_EQ(sum.moved_to_v, 2);  // with their import
  EXPECT_EQ(moved.moved, 0);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE AutoMatch='V'"), 2);
  EXPECT_GT(ws_.count("SELECT Ln FROM distribution WHERE filename='P1_1DO.a'"), 0);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM pretemp"), 0);
  EXPECT_FALSE(fs::exists(ws_.working_folder + results_file_name("Dorsal", "M", "a")));
  EXPECT_EQ(dialogs.beeps(), 3);
}

TEST_F(BatchEndToEnd, TheHeadlessProgramRunsTheWholeBatch) {
  std::string out;
  const int code =
      run_program({"--data-folder", ws_.data_folder, "--database", ws_.db_path, "--working-folder",
                   ws_.working_folder, "--tarvikx", testing::built_program("tarvikx")},
                  &out);
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("tarvik of 2 new M side Dorsal extracts with each other and batch 1\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("completed all old-style comparisons\n"), std::string::npos);
  EXPECT_NE(out.find("extracts moved to V:        2\n"), std::string::npos) << out;
  EXPECT_NE(out.find("result:                     ok\n"), std::string::npos) << out;
  EXPECT_EQ(best_candidate("P1_1DO"), "L1_1DO");
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE AutoMatch='V'"), 2);
}

TEST_F(BatchEndToEnd, AComparisonProgramThatStopsFailsTheHeadlessRun) {
  // A program in tarvikx's place that ends as tarvikx does on a missing
  // list file.
  const std::string program = ws_.dir + "stopping-tarvikx";
  std::ofstream(program) << "#!/bin/sh\necho \"Can't open list of pending files '$2'\"\nexit 1\n";
  fs::permissions(program, fs::perms::owner_all);
  std::string out;
  const int code = run_program({"--database", ws_.db_path, "--data-folder", ws_.data_folder,
                                "--working-folder", ws_.working_folder, "--tarvikx", program},
                               &out);
  EXPECT_EQ(code, 1) << out;
  EXPECT_NE(out.find("exit code 1"), std::string::npos) << out;
  EXPECT_NE(out.find("Can't open list of pending files 'pending_filesM.txt'"), std::string::npos)
      << out;
  EXPECT_NE(out.find("result:                     FAILED"), std::string::npos) << out;
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE AutoMatch='V'"), 0);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 0);
}

TEST_F(BatchEndToEnd, AMissingRunFileStopsTheRunBeforeAnythingChanges) {
  fs::remove(ws_.working_folder + "tarvik.ini");
  std::string out;
  const int code =
      run_program({"--database", ws_.db_path, "--data-folder", ws_.data_folder, "--working-folder",
                   ws_.working_folder, "--tarvikx", testing::built_program("tarvikx")},
                  &out);
  EXPECT_EQ(code, 1) << out;
  // Where it was looked for is said.
  EXPECT_NE(out.find(ws_.working_folder + "tarvik.ini cannot be opened"), std::string::npos) << out;
  EXPECT_NE(out.find("tarvikx runs:               0"), std::string::npos) << out;
  EXPECT_NE(out.find("result:                     FAILED"), std::string::npos) << out;
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE AutoMatch='V'"), 0);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution"), 0);
}

TEST_F(BatchEndToEnd, AWrongCommandLineIsAUsageError) {
  std::string out;
  EXPECT_EQ(run_program({"--batch-size", "lots"}, &out), 2);
  EXPECT_NE(out.find("Usage: velmora-batch"), std::string::npos) << out;
  EXPECT_EQ(run_program({"--help"}, &out), 0);
  EXPECT_NE(out.find("--batch-size N"), std::string::npos);
}

}  // namespace
}  // namespace velmora::app
