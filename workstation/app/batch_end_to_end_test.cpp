// End to end: the real tarvikx on fingerprints written by save_fprint, run
// by batch_compare_old_style and by the velmora-batch program, in folders
// whose names hold a blank and a quote.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "compare/testing/patterns.h"
#include "testing/files.h"
#include "testing/programs.h"
#include "workstation/app/batch_headless.h"
#include "workstation/common/console_panel.h"
#include "workstation/matching/batch_compare.h"
#include "workstation/matching/batch_frame.h"
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

// Three library lists on one side (199, 199 and 22 names): 420 library
// animals and 12 pending photographs of animals 1 to 12, a few pixels
// shifted, or placeholder files for a program that reads none.
constexpr int kLibrary = 420, kPending = 12;
void fill_three_lists(BatchWorkspace& ws, bool real) {
  ASSERT_TRUE(ws.status().ok()) << ws.status().message();
  ASSERT_TRUE(ws.builder().add_algorithm("a", "tarvik").ok());
  ASSERT_TRUE(ws.add_aspect("Dorsal", "DO", "Dorsal").ok());
  ASSERT_TRUE(ws.builder().add_bulk_extracts("L", kLibrary, 1, "Dorsal", "DO", "M", "L").ok());
  ASSERT_TRUE(ws.builder().add_bulk_extracts("P", kPending, 1, "Dorsal", "DO", "M", "P").ok());
  for (int k = 1; k <= kLibrary; ++k) {
    const auto pelt = tarvik::testing::blob_pattern(96, 96, static_cast<uint32_t>(500 + k), 90);
    for (const std::string& cell : {"L" + std::to_string(k), "P" + std::to_string(k)}) {
      if (cell[0] == 'P' && k > kPending) break;
      const int shift = cell[0] == 'P' ? k % 5 - 2 : 0;
      ASSERT_TRUE((real ? ws.save_fingerprint(cell + "_1DO", tarvik::testing::crop(
                                                                 pelt, 96, 16 + shift, 16, 64, 64))
                        : ws.touch_fingerprints({cell + "_1DO"}))
                      .ok());
    }
  }
}

// Every row of every table, tables by name, rows in the order of all columns.
std::string dump_database(BatchWorkspace& ws) {
  db::RecordSet tables;
  EXPECT_TRUE(
      ws.db->query("t", "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name", &tables)
          .ok());
  std::string dump;
  for (tables.move_first(); !tables.eof(); tables.move_next()) {
    const std::string table = "\"" + tables.text("name") + "\"";
    db::RecordSet columns, rows;
    EXPECT_TRUE(ws.db->query("c", "PRAGMA table_info(" + table + ")", &columns).ok());
    std::string order = "1";
    for (int c = 2; c <= columns.row_count(); ++c) order += "," + std::to_string(c);
    EXPECT_TRUE(ws.db->query("r", "SELECT * FROM " + table + " ORDER BY " + order, &rows).ok());
    for (rows.move_first(); !rows.eof(); rows.move_next()) {
      dump += table;
      for (const std::string& c : rows.columns()) dump += "|" + rows.text(c);
      dump += "\n";
    }
  }
  return dump;
}

HeadlessOptions side_options(const BatchWorkspace& ws, const std::string& tarvikx, int jobs) {
  HeadlessOptions o;
  o.database = ws.db_path;
  o.data_folder = ws.data_folder;
  o.working_folder = ws.working_folder;
  o.tarvikx = tarvikx;
  o.jobs = jobs;
  return o;
}

bool run_files_left(const std::string& folder) {
  for (const auto& e : fs::directory_iterator(folder)) {
    if (e.path().filename().string().find(".run") != std::string::npos) return true;
  }
  return false;
}

// The same side compared by one program at a time and by three at once: the
// results file (kept on disk by "use multiple cores" until a batch size of 0
// imports it) and then the whole database must not tell them apart.
TEST(BatchSideBySide, ThreeRunsAtOnceGiveWhatOneAfterAnotherGives) {
  std::string results[2], dumps[2];
  for (int jobs : {1, 3}) {
    BatchWorkspace ws("jobs" + std::to_string(jobs));
    fill_three_lists(ws, true);
    if (::testing::Test::HasFatalFailure()) return;
    HeadlessOptions o = side_options(ws, testing::built_program("tarvikx"), jobs);
    o.aspect = "Dorsal";
    o.side = "M";
    PosixProcessRunner runner;
    std::ostringstream out;
    HeadlessSummary sum;
    ASSERT_EQ(run_headless_batch(o, runner, out, &sum), 0) << out.str();
    EXPECT_EQ(sum.compared.tarvikx_runs, 3);
    EXPECT_FALSE(run_files_left(ws.working_folder));
    results[jobs / 3] =
        testing::read_file(ws.working_folder + results_file_name("Dorsal", "M", "a"));
    // The bar never goes back and moves within the runs.
    std::istringstream lines(out.str());
    int last = -1, within = 0, percent = 0;
    for (std::string line; std::getline(lines, line);) {
      if (std::sscanf(line.c_str(), "  progress %d%%", &percent) != 1) continue;
      EXPECT_GE(percent, last);
      within += percent > 2 && percent < 98 && percent != last;
      last = percent;
    }
    EXPECT_GE(within, 5) << out.str();
    o.aspect = o.side = "";
    o.batch_size = 0;
    ASSERT_EQ(run_headless_batch(o, runner, out, &sum), 0) << out.str();
    EXPECT_EQ(ws.count("SELECT count(*) FROM cells WHERE AutoMatch='V'"), kPending);
    dumps[jobs / 3] = dump_database(ws);
  }
  EXPECT_GT(results[0].size(), 10000u);
  EXPECT_TRUE(results[0] == results[1]) << "the results files differ";
  EXPECT_TRUE(dumps[0] == dumps[1]) << "the databases differ";
}

// Run 2 of three fails while runs 1 and 3 are still comparing: they are
// killed, what they wrote is kept in run order as the side's ".failed" file,
// nothing of the side is imported, and no run file stays behind.
TEST(BatchSideBySide, AFailingRunEndsTheOthersAndNothingIsImported) {
  BatchWorkspace ws("jobs-fault");
  fill_three_lists(ws, false);
  if (::testing::Test::HasFatalFailure()) return;
  // $4 is the library list, $5 the results file. Run 2 waits (5 s at most)
  // until runs 1 and 3 have written, then fails.
  const std::string program = ws.dir + "failing-tarvikx", pids = ws.dir;
  std::ofstream(program) << "#!/bin/sh\ncd '" << pids << "'; list=$(basename \"$4\")\n"
                         << "case $list in *.run2) i=0\n"
                         << "  while [ $i -lt 100 ] && ! [ -s *.run1 -a -s *.run3 ]; do\n"
                         << "    sleep 0.05; i=$((i+1)); done\n"
                         << "  echo \"Can't read library fingerprint\"; exit 1 ;; esac\n"
                         << "cd - >/dev/null; echo \"$ by $list\" >> \"$5\"\n"
                         << "echo $$ > '" << pids << "'$list; exec sleep 30\n";
  fs::permissions(program, fs::perms::owner_all);
  const HeadlessOptions o = side_options(ws, program, 3);
  PosixProcessRunner runner;
  std::ostringstream out;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(run_headless_batch(o, runner, out), 1) << out.str();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 20.0);
  EXPECT_NE(out.str().find("The comparison program failed on run 2 of Dorsal M: exit code 1.\n"
                           "It printed:\nCan't read library fingerprint\nCommand: " +
                           program + " "),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find(" library_filesM.txt.run2 DorsalMa_results.txt.run2 tarvik.ini false\n"
                           "The runs beside it were ended."),
            std::string::npos);
  for (const char* run : {"library_filesM.txt.run1", "library_filesM.txt.run3"}) {
    std::ifstream pid(pids + run);
    std::string n;
    ASSERT_TRUE(pid >> n) << run;
    EXPECT_FALSE(fs::exists("/proc/" + n)) << run << " still runs";
  }
  EXPECT_EQ(testing::read_file(ws.working_folder + failed_results_file_name("Dorsal", "M", "a")),
            "$ by library_filesM.txt.run1\n$ by library_filesM.txt.run3\n");
  EXPECT_FALSE(run_files_left(ws.working_folder));
  EXPECT_EQ(ws.count("SELECT count(*) FROM cells WHERE AutoMatch='P'"), kPending);
  EXPECT_EQ(ws.count("SELECT count(*) FROM temp") + ws.count("SELECT count(*) FROM pretemp"), 0);
}

}  // namespace
}  // namespace velmora::app
