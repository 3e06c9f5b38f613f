// batch_compare_old_style with a fake runner: the aspect walk, the lists,
// the batches, the switch, the progress, the previous results, import and
// deletion, and failing runs.
#include "workstation/matching/batch_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "testing/files.h"
#include "workstation/common/console_panel.h"
#include "workstation/matching/batch_compare_helpers.h"
#include "workstation/matching/batch_locks.h"
#include "workstation/matching/batch_test_support.h"
#include "workstation/matching/list_files.h"
#include "workstation/matching/results_import.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;
using batch_testing::BatchWorkspace;
using batch_testing::FakeProcessRunner;

// One result line as tarvikx writes it.
std::string result_line(const std::string& a, const std::string& b, double score) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s,%s,%.4f,1,2,1,2,1,2,1,2,%.4f\n", a.c_str(), b.c_str(), score,
                score);
  return buf;
}

class BatchCompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ws_.status().ok()) << ws_.status().message();
    ASSERT_TRUE(ws_.builder().add_algorithm("a", "tarvik").ok());
  }
  void TearDown() override {
    ctx_.drop_database_work();
    ctx_.session.close();
  }

  void add_aspect(const std::string& aspect, const std::string& letter, const std::string& type) {
    Status s = ws_.add_aspect(aspect, letter, type);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  // `n` animals with one extract each; their fingerprint files unless told.
  std::vector<std::string> add_extracts(const std::string& prefix, int n, const std::string& aspect,
                                        const std::string& letter, const std::string& side,
                                        const std::string& status, bool files = true) {
    Status s = ws_.builder().add_bulk_extracts(prefix, n, 1, aspect, letter, side, status);
    EXPECT_TRUE(s.ok()) << s.message();
    std::vector<std::string> cells = BatchWorkspace::bulk_cells(prefix, n, 1, letter);
    if (files) {
      EXPECT_TRUE(ws_.touch_fingerprints(cells).ok());
    }
    return cells;
  }

  // Start as a batch comparison would, then the options of the test.
  void start(session::RunOptions o = batch_testing::batch_options()) {
    Status s = batch_testing::start_batch(ctx_, ws_, o, notes_);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  Status compare() {
    BatchCompareOptions o;
    o.tarvikx = "/opt/velmora/bin/tarvikx";
    return batch_compare_old_style(ctx_, panel_, dialogs_, runner_, o, &summary_);
  }

  std::string results_path(const std::string& aspect, const std::string& side) {
    return ws_.working_folder + results_file_name(aspect, side, "a");
  }
  // The labels this procedure sets, without the import's own texts.
  std::vector<std::string> own_labels() const {
    std::vector<std::string> out;
    for (const std::string& l : panel_.progress_labels()) {
      if (l.rfind("tarvik", 0) == 0 || l.rfind("oldcell", 0) == 0 || l.rfind("completed", 0) == 0) {
        out.push_back(l);
      }
    }
    return out;
  }

  BatchWorkspace ws_{"compare"};
  std::ostringstream notes_, console_;
  ConsolePanel panel_{console_};
  ScriptedDialogs dialogs_;
  session::RunState ctx_;
  FakeProcessRunner runner_;
  BatchCompareSummary summary_;
};

TEST_F(BatchCompareTest, FourHundredFiftyLibraryExtractsMakeThreeRuns) {
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto pending = add_extracts("P", 3, "Dorsal", "DO", "M", "P");
  const auto library = add_extracts("L", 450, "Dorsal", "DO", "M", "L");
  start();
  ASSERT_TRUE(compare().ok());

  ASSERT_EQ(runner_.calls().size(), 3u);
  const std::vector<size_t> sizes = {199, 199, 52};
  const std::vector<std::string> switches = {"true", "false", "false"};
  std::multiset<std::string> listed;
  for (size_t i = 0; i < 3; ++i) {
    const auto& call = runner_.calls()[i];
    EXPECT_EQ(call.library_names.size(), sizes[i]);
    EXPECT_EQ(call.pending_names, pending);
    listed.insert(call.library_names.begin(), call.library_names.end());
    const std::vector<std::string> args = {ws_.data_folder + "oldlib",
                                           "pending_filesM.txt",
                                           ws_.data_folder + "oldlib",
                                           "library_filesM.txt",
                                           "DorsalMa_results.txt",
                                           "tarvik.ini",
                                           switches[i]};
    EXPECT_EQ(call.command.arguments, args);
    EXPECT_EQ(call.command.program, "/opt/velmora/bin/tarvikx");
    EXPECT_EQ(call.command.working_folder, ws_.working_folder);
  }
  // Every library extract is listed exactly once.
  EXPECT_EQ(listed, std::multiset<std::string>(library.begin(), library.end()));

  // ProgressBar2: 0 first, then after each run the share of the library
  // done, and full once everything is imported.
  const std::vector<double> expect = {0.0, 199.0 / 450, 398.0 / 450, 1.0, 1.0};
  ASSERT_EQ(panel_.progress().size(), expect.size());
  for (size_t i = 0; i < expect.size(); ++i) {
    // One multiplication and one addition of doubles.
    EXPECT_NEAR(panel_.progress()[i], expect[i] * 0.98 + 0.01, 1e-12);
  }
  EXPECT_EQ(summary_.tarvikx_runs, 3);
  EXPECT_EQ(summary_.library_extracts, 450);
  EXPECT_EQ(summary_.library_listed, 450);
  EXPECT_EQ(summary_.imports, 1);
  EXPECT_EQ(dialogs_.beeps(), 3);
}

TEST_F(BatchCompareTest, LibraryInStateVIsComparedAndOtherStatesAreNot) {
  add_aspect("Dorsal", "DO", "Dorsal");
  add_extracts("P", 1, "Dorsal", "DO", "M", "P");
  const auto v = add_extracts("V", 2, "Dorsal", "DO", "M", "V");
  const auto l = add_extracts("L", 2, "Dorsal", "DO", "M", "L");
  add_extracts("R", 2, "Dorsal", "DO", "M", "R");
  add_extracts("S", 2, "Dorsal", "DO", "M", "S");
  add_extracts("W", 2, "Dorsal", "DO", "L", "L");  // other side
  start();
  ASSERT_TRUE(compare().ok());
  ASSERT_EQ(runner_.calls().size(), 1u);
  std::set<std::string> listed(runner_.calls()[0].library_names.begin(),
                               runner_.calls()[0].library_names.end());
  std::set<std::string> expect(v.begin(), v.end());
  expect.insert(l.begin(), l.end());
  EXPECT_EQ(listed, expect);
}

TEST_F(BatchCompareTest, TheWalkStopsAtSkin) {
  add_aspect("Flank", "FL", "lateral");
  add_aspect("Dorsal", "DO", "Dorsal");
  add_aspect("Skin", "SK", "Dorsal");
  add_aspect("Head", "HD", "Dorsal");
  for (const char* side : {"L", "R"})
    add_extracts(std::string("F") + side, 1, "Flank", "FL", side, "P");
  add_extracts("D", 1, "Dorsal", "DO", "M", "P");
  add_extracts("S", 1, "Skin", "SK", "M", "P");
  add_extracts("H", 1, "Head", "HD", "M", "P");
  start();
  ASSERT_TRUE(compare().ok());
  std::vector<std::string> results;
  for (const auto& call : runner_.calls()) results.push_back(call.command.arguments[4]);
  const std::vector<std::string> expect = {"FlankLa_results.txt", "FlankRa_results.txt",
                                           "DorsalMa_results.txt"};
  EXPECT_EQ(results, expect);
  EXPECT_EQ(summary_.imports, 3);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution WHERE filename LIKE 'S%' OR filename "
                      "LIKE 'H%'"),
            0);
}

TEST_F(BatchCompareTest, HeadUsesItsOwnRunFile) {
  add_aspect("Head", "HD", "Dorsal");
  add_aspect("Tail", "TL", "Dorsal");
  add_extracts("H", 1, "Head", "HD", "M", "P");
  add_extracts("T", 1, "Tail", "TL", "M", "P");
  start();
  ASSERT_TRUE(compare().ok());
  ASSERT_EQ(runner_.calls().size(), 2u);
  EXPECT_EQ(runner_.calls()[0].command.arguments[5], "tarvik_head.ini");
  EXPECT_EQ(runner_.calls()[1].command.arguments[5], "tarvik.ini");
}

TEST_F(BatchCompareTest, BatchSizeZeroImportsCompleteResultsWithoutComparing) {
  add_aspect("Flank", "FL", "lateral");
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto p = add_extracts("P", 2, "Dorsal", "DO", "M", "P");
  const auto l = add_extracts("L", 2, "Dorsal", "DO", "M", "L");
  const auto fp = add_extracts("Q", 1, "Flank", "FL", "R", "P");
  const auto fl = add_extracts("K", 1, "Flank", "FL", "R", "L");
  const auto gp = add_extracts("G", 1, "Flank", "FL", "L", "P");
  ASSERT_TRUE(ws_.builder().add_distribution(p[0] + ".a").ok());
  ASSERT_TRUE(ws_.builder().add_distribution(l[1] + ".a").ok());
  // Two complete comparisons of copies under "use multiple cores", each
  // with the list of what it compared; and one whose copy never ended.
  ASSERT_TRUE(testing::append_file(results_path("Dorsal", "M"),
                                   "$ pending library\n" + result_line(p[0], l[1], 0.75)));
  ASSERT_TRUE(
      write_name_list(ws_.working_folder + compared_list_file_name("Dorsal", "M", "a"), {p[0]})
          .ok());
  ASSERT_TRUE(testing::append_file(results_path("Flank", "R"),
                                   "$ pending library\n" + result_line(fp[0], fl[0], 0.5)));
  ASSERT_TRUE(
      write_name_list(ws_.working_folder + compared_list_file_name("Flank", "R", "a"), {fp[0]})
          .ok());
  ASSERT_TRUE(testing::append_file(results_path("Flank", "L"),
                                   "$ pending library\n" + result_line(gp[0], fl[0], 0.5)));
  session::RunOptions o = batch_testing::batch_options();
  o.batch_size = 0;
  start(o);
  ASSERT_TRUE(compare().ok());

  EXPECT_TRUE(runner_.calls().empty());
  EXPECT_EQ(summary_.imports, 2);  // Flank R, Dorsal M; Flank L is incomplete
  EXPECT_EQ(summary_.result_lines, 2);
  EXPECT_FALSE(fs::exists(results_path("Dorsal", "M")));
  EXPECT_FALSE(fs::exists(results_path("Flank", "R")));
  EXPECT_FALSE(fs::exists(ws_.working_folder + compared_list_file_name("Flank", "R", "a")));
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 2);
  EXPECT_EQ(ws_.count("SELECT Ln FROM distribution WHERE filename='" + p[0] + ".a'"), 1);
  // Nothing was listed, so no new distribution rows.
  EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution"), 2);
  // Exactly the extracts the copies compared move on; the others wait.
  EXPECT_EQ(summary_.moved_to_v, 2);
  EXPECT_EQ(ws_.text("SELECT group_concat(cell, ' ') FROM (SELECT cell FROM cells WHERE "
                     "AutoMatch='V' ORDER BY cell)"),
            p[0] + " " + fp[0]);
  // The incomplete file is set aside, not imported, and the operator told.
  EXPECT_FALSE(fs::exists(results_path("Flank", "L")));
  EXPECT_TRUE(fs::exists(ws_.working_folder + failed_results_file_name("Flank", "L", "a")));
  ASSERT_EQ(dialogs_.shown().size(), 1u);
  EXPECT_NE(dialogs_.shown()[0].text.find("FlankLa_results.txt"), std::string::npos);
  // The label of the lists never appears.
  for (const std::string& l2 : panel_.progress_labels()) EXPECT_NE(l2, kMakingListsLabel);
  EXPECT_EQ(panel_.progress_labels().back(), kAllCompletedLabel);
}

TEST_F(BatchCompareTest, MissingFingerprintsAreLeftOutAndPendingOnesUseUpAPlace) {
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto p = add_extracts("P", 5, "Dorsal", "DO", "M", "P", false);
  const auto l = add_extracts("L", 10, "Dorsal", "DO", "M", "L", false);
  // Cell order: P1, P2, P3, P4, P5; P2 has no file.
  ASSERT_TRUE(ws_.touch_fingerprints({p[0], p[2], p[3], p[4]}).ok());
  std::vector<std::string> with_files;
  for (size_t i = 0; i < l.size(); ++i) {
    if (i % 4 != 1) with_files.push_back(l[i]);
  }
  ASSERT_TRUE(ws_.touch_fingerprints(with_files).ok());
  session::RunOptions o = batch_testing::batch_options();
  o.batch_size = 3;
  start(o);
  ASSERT_TRUE(compare().ok());

  ASSERT_EQ(runner_.calls().size(), 1u);
  // P2 takes one of the three places: P4 and P5 wait for the next batch.
  EXPECT_EQ(runner_.calls()[0].pending_names, (std::vector<std::string>{p[0], p[2]}));
  std::set<std::string> listed(runner_.calls()[0].library_names.begin(),
                               runner_.calls()[0].library_names.end());
  EXPECT_EQ(listed, std::set<std::string>(with_files.begin(), with_files.end()));
  // Every pending extract taken has its distribution row, with or without file.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution WHERE filename='" + p[i] + ".a'"), 1);
  }
  EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution WHERE filename='" + p[3] + ".a'"), 0);
  EXPECT_EQ(summary_.pending_listed, 2);
  EXPECT_EQ(summary_.pending_missing, 1);
  EXPECT_EQ(summary_.library_missing, static_cast<int64_t>(l.size() - with_files.size()));
}

TEST_F(BatchCompareTest, ExistingDistributionRowsAreKept) {
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto p = add_extracts("P", 2, "Dorsal", "DO", "M", "P");
  ASSERT_TRUE(ws_.builder().add_distribution(p[0] + ".a").ok());
  ASSERT_TRUE(ws_.exec("UPDATE distribution SET Ln=4, Ls=2 WHERE filename='" + p[0] + ".a'").ok());
  start();
  ASSERT_TRUE(compare().ok());
  EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution"), 2);
  EXPECT_EQ(ws_.count("SELECT Ln FROM distribution WHERE filename='" + p[0] + ".a'"), 4);
}

TEST_F(BatchCompareTest, NoLibraryMeansOneRunWithEachOther) {
  add_aspect("Dorsal", "DO", "Dorsal");
  add_extracts("P", 2, "Dorsal", "DO", "M", "P");
  start();
  ASSERT_TRUE(compare().ok());
  ASSERT_EQ(runner_.calls().size(), 1u);
  EXPECT_TRUE(runner_.calls()[0].library_names.empty());
  EXPECT_TRUE(fs::exists(ws_.working_folder + "library_filesM.txt"));
  EXPECT_EQ(runner_.calls()[0].command.arguments[6], "true");
  const std::vector<std::string> expect = {kMakingListsLabel,
                                           "tarvik of 2 new M side Dorsal extracts with each other",
                                           "completed tarvik for Dorsal, M", kAllCompletedLabel};
  EXPECT_EQ(own_labels(), expect);
}

TEST_F(BatchCompareTest, ProgressLabelsInOrder) {
  add_aspect("Flank", "FL", "lateral");
  add_extracts("A", 1, "Flank", "FL", "L", "P");
  add_extracts("B", 250, "Flank", "FL", "L", "L");
  add_extracts("C", 3, "Flank", "FL", "R", "P");
  add_extracts("D", 450, "Flank", "FL", "R", "V");
  start();
  ASSERT_TRUE(compare().ok());
  const std::vector<std::string> expect = {
      "oldcell: making flist and adding new distribution records",
      "tarvik of 1 new L side Flank extracts with each other and batch 1",
      "tarvik of new L side Flank  extract with batch 2 of library extracts",
      "completed tarvik for Flank, L",
      "oldcell: making flist and adding new distribution records",
      "tarvik of 3 new R side Flank extracts with each other and batch 1",
      "tarvik of 3 new R side Flank extracts with batch 2 of library extracts",
      "tarvik of 3 new R side Flank extracts with batch 3 of library extracts",
      "completed tarvik for Flank, R",
      "completed all old-style comparisons"};
  EXPECT_EQ(own_labels(), expect);
  // Each side's import reports itself after the side's comparison.
  const auto& all = panel_.progress_labels();
  auto at = [&](const std::string& l) {
    return std::find(all.begin(), all.end(), l) - all.begin();
  };
  const auto adding_l = at("adding a type results for Flank L to distribution and pretemp tables");
  ASSERT_LT(adding_l, static_cast<long>(all.size()));
  EXPECT_GT(adding_l, at("completed tarvik for Flank, L"));
  EXPECT_LT(adding_l, at("tarvik of 3 new R side Flank extracts with each other and batch 1"));
}

TEST_F(BatchCompareTest, AnInterruptedRunsResultsAreSetAsideBeforeComparing) {
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto p = add_extracts("P", 2, "Dorsal", "DO", "M", "P");
  const auto l = add_extracts("L", 2, "Dorsal", "DO", "M", "L");
  const std::string path = results_path("Dorsal", "M");
  ASSERT_TRUE(testing::append_file(path, "$ pending library\n" + result_line(p[0], l[0], 9)));
  bool old_present = true;
  runner_.respond = [&](const ProcessCommand&) {
    old_present = fs::exists(path);
    testing::append_file(path, "$ pending library\n" + result_line(p[1], l[1], 0.5));
    return FakeProcessRunner::success();
  };
  start();
  ASSERT_TRUE(compare().ok());
  EXPECT_FALSE(old_present);
  EXPECT_TRUE(fs::exists(ws_.working_folder + failed_results_file_name("Dorsal", "M", "a")));
  EXPECT_EQ(dialogs_.shown().size(), 1u);
  // Only the new run's pair reached the database, and the file is gone.
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 1);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp WHERE abs(score - 0.5) < 1e-6"), 1);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(BatchCompareTest, PreviousResultsWithMultipleCoresEndTheProgram) {
  add_aspect("Dorsal", "DO", "Dorsal");
  add_extracts("P", 2, "Dorsal", "DO", "M", "P");
  const std::string path = results_path("Dorsal", "M");
  ASSERT_TRUE(testing::append_file(path, "$ pending library\n"));
  session::RunOptions o = batch_testing::batch_options();
  o.multi_core = true;
  o.chosen_aspect = "Dorsal";
  o.chosen_side = "M";
  start(o);
  ASSERT_TRUE(compare().ok());
  ASSERT_EQ(dialogs_.shown().size(), 1u);
  EXPECT_EQ(dialogs_.shown()[0].text,
            "previous DorsalMa comparison results exist - run 'batch compare' with zero batch "
            "size");
  EXPECT_TRUE(dialogs_.program_ended());
  EXPECT_TRUE(summary_.stopped_at_previous_results);
  EXPECT_TRUE(runner_.calls().empty());
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(dialogs_.beeps(), 0);
}

TEST_F(BatchCompareTest, MultipleCoresCompareOnlyTheChosenSideAndLeaveItsResults) {
  add_aspect("Flank", "FL", "lateral");
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto pl = add_extracts("A", 1, "Flank", "FL", "L", "P");
  const auto pr = add_extracts("B", 1, "Flank", "FL", "R", "P");
  const auto lr = add_extracts("C", 1, "Flank", "FL", "R", "L");
  add_extracts("D", 1, "Dorsal", "DO", "M", "P");
  const std::string path = results_path("Flank", "R");
  runner_.respond = [&](const ProcessCommand&) {
    testing::append_file(path, "$ pending library\n" + result_line(pr[0], lr[0], 0.5));
    return FakeProcessRunner::success();
  };
  session::RunOptions o = batch_testing::batch_options();
  o.multi_core = true;
  o.chosen_aspect = "Flank";
  o.chosen_side = "R";
  start(o);
  ASSERT_TRUE(compare().ok());
  ASSERT_EQ(runner_.calls().size(), 1u);
  EXPECT_EQ(runner_.calls()[0].pending_names, pr);
  // Not imported: another run with batch size 0 does that.
  EXPECT_EQ(summary_.imports, 0);
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 0);

  ctx_.options.batch_size = 0;
  runner_.respond = nullptr;
  ASSERT_TRUE(compare().ok());
  EXPECT_EQ(runner_.calls().size(), 1u);
  EXPECT_EQ(summary_.imports, 1);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 1);
  (void)pl;
}

TEST_F(BatchCompareTest, AFailingRunIsReportedAndNotImported) {
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto p = add_extracts("P", 2, "Dorsal", "DO", "M", "P");
  const auto l = add_extracts("L", 300, "Dorsal", "DO", "M", "L");
  const std::string path = results_path("Dorsal", "M");
  runner_.respond = [&](const ProcessCommand& c) {
    testing::append_file(path, "$ pending library\n" + result_line(p[0], l[0], 0.5));
    if (c.arguments[6] == "true") return FakeProcessRunner::success();
    ProcessOutcome o = FakeProcessRunner::success();
    o.exit_code = 1;
    o.output = "pend_dir='x'\nCan't open list of library files 'library_filesM.txt'\n";
    return o;
  };
  start();
  Status s = compare();
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("run 2 of Dorsal M"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("exit code 1"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("Can't open list of library files"), std::string::npos);
  const std::string kept = ws_.working_folder + failed_results_file_name("Dorsal", "M", "a");
  EXPECT_NE(s.message().find(kept), std::string::npos) << s.message();
  EXPECT_FALSE(fs::exists(path));
  ASSERT_TRUE(fs::exists(kept));
  EXPECT_EQ(testing::read_lines(kept).size(), 4u);  // both runs' lines, kept whole
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 0);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM pretemp"), 0);
  EXPECT_EQ(summary_.failed_runs, 1);
  EXPECT_EQ(summary_.imports, 0);
  EXPECT_EQ(dialogs_.beeps(), 0);
}

// Programs at once out of range, or more than one with a runner that starts
// one at a time (the window's), are refused before anything is written.
TEST_F(BatchCompareTest, ProgramsAtOnceTheRunnerCannotHaveAreRefusedFirst) {
  add_aspect("Dorsal", "DO", "Dorsal");
  add_extracts("P", 3, "Dorsal", "DO", "M", "P");
  add_extracts("L", 450, "Dorsal", "DO", "M", "L");
  start();
  for (const auto& [jobs, says] : {std::pair{0, "must be 1 to 64, not 0."},
                                   {2, "starts one comparison program at a time, so 2 cannot"}}) {
    BatchCompareOptions o;
    o.jobs = jobs;
    Status s = batch_compare_old_style(ctx_, panel_, dialogs_, runner_, o, &summary_);
    EXPECT_EQ(s.code(), Status::Code::kInvalidArgument) << s.message();
    EXPECT_NE(s.message().find(says), std::string::npos) << s.message();
  }
  EXPECT_TRUE(runner_.calls().empty());
  EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution"), 0);
}

TEST_F(BatchCompareTest, AProgramThatCannotStartOrCrashesIsAFailure) {
  add_aspect("Dorsal", "DO", "Dorsal");
  add_extracts("P", 1, "Dorsal", "DO", "M", "P");
  start();
  runner_.respond = [](const ProcessCommand&) {
    ProcessOutcome o;
    o.start_error = "'/opt/velmora/bin/tarvikx': No such file or directory";
    return o;
  };
  Status s = compare();
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("could not be started"), std::string::npos) << s.message();
  EXPECT_FALSE(fs::exists(ws_.working_folder + failed_results_file_name("Dorsal", "M", "a")));

  runner_.respond = [](const ProcessCommand&) {
    ProcessOutcome o;
    o.started = true;
    o.crashed = true;
    o.signal = 11;
    return o;
  };
  s = compare();
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("ended by signal 11"), std::string::npos) << s.message();
}

TEST_F(BatchCompareTest, EarlierSidesStayImportedAndMoveOnWhenALaterOneFails) {
  add_aspect("Flank", "FL", "lateral");
  const auto pl = add_extracts("A", 1, "Flank", "FL", "L", "P");
  const auto ll = add_extracts("B", 1, "Flank", "FL", "L", "L");
  add_extracts("C", 1, "Flank", "FL", "R", "P");
  runner_.respond = [&](const ProcessCommand& c) {
    if (c.arguments[4] == "FlankLa_results.txt") {
      testing::append_file(results_path("Flank", "L"),
                           "$ pending library\n" + result_line(pl[0], ll[0], 0.5));
      return FakeProcessRunner::success();
    }
    ProcessOutcome o = FakeProcessRunner::success();
    o.exit_code = 2;
    return o;
  };
  start();
  Status s = compare();
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(summary_.imports, 1);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 1);
  // The left side's extract is done and goes on to the visual check, so a
  // new run cannot count its scores twice; the failed right side stays P.
  EXPECT_EQ(summary_.moved_to_v, 1);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE side='L' AND AutoMatch='V'"), 1);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE side='R' AND AutoMatch='P'"), 1);
  EXPECT_NE(s.message().find("moved on to visual checking"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("Flank R"), std::string::npos) << s.message();
}

TEST_F(BatchCompareTest, RealTimeComparesOnlyTheCurrentExtractAndRestrictedLeavesOutTheOtherSex) {
  add_aspect("Dorsal", "DO", "Dorsal");
  db::testing::FixtureBuilder b = ws_.builder();
  struct Animal {
    const char* id;
    const char* gender;
    const char* cell;
    const char* status;
  };
  const Animal animals[] = {{"501", "Female", "501_1DO", "P"},
                            {"502", "Male", "502_1DO", "P"},
                            {"601", "Male", "601_1DO", "L"},
                            {"602", "Female", "602_1DO", "L"},
                            {"603", "unset", "603_1DO", "V"}};
  for (const Animal& a : animals) {
    int64_t enc = 0;
    ASSERT_TRUE(b.add_encounter(a.id, a.gender, "", &enc).ok());
    ASSERT_TRUE(b.add_image(std::string("i") + a.cell, enc, 1, "p.jpg", "2023-06-01").ok());
    ASSERT_TRUE(b.add_cell(a.cell, std::string("i") + a.cell, "Dorsal", "M", a.status).ok());
    ASSERT_TRUE(ws_.touch_fingerprints({a.cell}).ok());
  }
  session::RunOptions o = batch_testing::batch_options();
  o.real_time = true;
  o.restricted = true;
  start(o);
  ctx_.current_cell = "501_1DO";
  ASSERT_TRUE(compare().ok());
  ASSERT_EQ(runner_.calls().size(), 1u);
  EXPECT_EQ(runner_.calls()[0].pending_names, std::vector<std::string>{"501_1DO"});
  std::set<std::string> listed(runner_.calls()[0].library_names.begin(),
                               runner_.calls()[0].library_names.end());
  // The female's opposite sex is "Male": 601 is left out.
  EXPECT_EQ(listed, (std::set<std::string>{"602_1DO", "603_1DO"}));
}

TEST_F(BatchCompareTest, NamesTheListsCannotHoldAreLeftOutAndReported) {
  add_aspect("Dorsal", "DO", "Dorsal");
  db::testing::FixtureBuilder b = ws_.builder();
  int64_t enc = 0;
  ASSERT_TRUE(b.add_encounter("701", "", "", &enc).ok());
  int k = 0;
  for (const char* cell : {"701_1DO", ";701_2DO", "701[3]DO"}) {
    const std::string image = "img" + std::to_string(++k);
    ASSERT_TRUE(b.add_image(image, enc, k, "p.jpg", "2023-06-01").ok());
    ASSERT_TRUE(b.add_cell(cell, image, "Dorsal", "M", "P").ok());
    ASSERT_TRUE(ws_.touch_fingerprints({cell}).ok());
  }
  start();
  ASSERT_TRUE(compare().ok());
  ASSERT_EQ(runner_.calls().size(), 1u);
  EXPECT_EQ(runner_.calls()[0].pending_names, std::vector<std::string>{"701_1DO"});
  EXPECT_EQ(summary_.pending_missing, 2);
  ASSERT_EQ(dialogs_.shown().size(), 1u);
  EXPECT_NE(dialogs_.shown()[0].text.find("\";701_2DO\""), std::string::npos);
  EXPECT_NE(dialogs_.shown()[0].text.find("\"701[3]DO\""), std::string::npos);
}

TEST_F(BatchCompareTest, SkippedResultLinesAreShownToTheOperator) {
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto p = add_extracts("P", 1, "Dorsal", "DO", "M", "P");
  const auto l = add_extracts("L", 1, "Dorsal", "DO", "M", "L");
  runner_.respond = [&](const ProcessCommand&) {
    testing::append_file(results_path("Dorsal", "M"), "$ pending library\nSingular matrix!\n" +
                                                          result_line(p[0], l[0], 0.5) +
                                                          result_line("nobody", l[0], 1));
    return FakeProcessRunner::success();
  };
  start();
  ASSERT_TRUE(compare().ok());
  EXPECT_EQ(summary_.result_lines, 1);
  EXPECT_EQ(summary_.skipped_lines, 2);
  ASSERT_EQ(dialogs_.shown().size(), 1u);
  EXPECT_NE(dialogs_.shown()[0].text.find("2 line(s)"), std::string::npos)
      << dialogs_.shown()[0].text;
}

TEST_F(BatchCompareTest, QuickStandardisePriorAndTestRunReachTheImport) {
  add_aspect("Dorsal", "DO", "Dorsal");
  // One pending animal with two extracts, two library animals.
  ASSERT_TRUE(ws_.builder().add_bulk_extracts("P", 1, 2, "Dorsal", "DO", "M", "P").ok());
  const auto p = BatchWorkspace::bulk_cells("P", 1, 2, "DO");
  ASSERT_TRUE(ws_.touch_fingerprints(p).ok());
  const auto l = add_extracts("L", 2, "Dorsal", "DO", "M", "L");
  // Match and non-match laws alike: every standardised score is the prior.
  // Quick limit 0.5 - 3 * 0.1 = 0.2.
  ASSERT_TRUE(ws_.builder().add_stats({"Dorsal", "a", 0.5, 0.1, 0.5, 0.1}).ok());
  runner_.respond = [&](const ProcessCommand&) {
    testing::append_file(results_path("Dorsal", "M"),
                         "$ pending pending\n" + result_line(p[0], p[1], 0.6) +
                             "$ pending library\n" + result_line(p[0], l[0], 0.25) +
                             result_line(p[0], l[1], 0.15));
    return FakeProcessRunner::success();
  };
  session::RunOptions o = batch_testing::batch_options();
  o.quick = true;
  o.standardise = true;
  o.prior_match = "0.25";
  start(o);
  ASSERT_TRUE(compare().ok());
  // The pair of one animal is left out; 0.15 is under the quick limit but
  // still counted; 0.25 becomes the prior typed in txtPm.
  EXPECT_EQ(ws_.count("SELECT Ln FROM distribution WHERE filename='" + p[0] + ".a'"), 2);
  EXPECT_EQ(ws_.count("SELECT Rn FROM distribution WHERE filename='" + p[1] + ".a'"), 0);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 1);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp WHERE pname='" + p[0] + ".a' AND fname='" + l[0] +
                      "' AND score = 0.25"),
            1);

  // A test run stages the pair of one animal and leaves distribution alone.
  ASSERT_TRUE(ws_.exec("DELETE FROM temp").ok());
  ASSERT_TRUE(ws_.exec("UPDATE cells SET AutoMatch='P' WHERE cell LIKE 'P%'").ok());
  ctx_.test_run = true;
  ASSERT_TRUE(compare().ok());
  EXPECT_EQ(ws_.count("SELECT Ln FROM distribution WHERE filename='" + p[0] + ".a'"), 2);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp WHERE score = 0.25"), 2);
  EXPECT_EQ(
      ws_.count("SELECT count(*) FROM temp WHERE pname='" + p[1] + ".a' AND fname='" + p[0] + "'"),
      1);
}

TEST_F(BatchCompareTest, ABadAspectNameStopsBeforeAnyFileIsWritten) {
  add_aspect("../Dorsal", "DO", "Dorsal");
  add_extracts("P", 1, "../Dorsal", "DO", "M", "P");
  start();
  Status s = compare();
  EXPECT_EQ(s.code(), Status::Code::kInvalidArgument);
  EXPECT_TRUE(runner_.calls().empty());
  EXPECT_FALSE(fs::exists(ws_.working_folder + "pending_filesM.txt"));
}

TEST_F(BatchCompareTest, WithoutATarvikLetterNothingRuns) {
  ASSERT_TRUE(ws_.exec("DELETE FROM algy").ok());
  add_aspect("Dorsal", "DO", "Dorsal");
  add_extracts("P", 1, "Dorsal", "DO", "M", "P");
  start();
  EXPECT_FALSE(compare().ok());
  EXPECT_TRUE(runner_.calls().empty());
}

// ---------------------------------------------------------------------------
// Nothing counted twice, nothing lost: interruptions, second runs, bad files.

std::string cells_in(BatchWorkspace& ws, const std::string& status) {
  return ws.text("SELECT group_concat(cell, ' ') FROM (SELECT cell FROM cells WHERE AutoMatch='" +
                 status + "' ORDER BY cell)");
}

TEST_F(BatchCompareTest, AFailureInsideTheImportLeavesScoresAndStatesAsTheyWere) {
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto p = add_extracts("P", 2, "Dorsal", "DO", "M", "P");
  const auto l = add_extracts("L", 1, "Dorsal", "DO", "M", "L");
  runner_.respond = [&](const ProcessCommand&) {
    testing::append_file(
        results_path("Dorsal", "M"),
        "$ pending library\n" + result_line(p[0], l[0], 0.5) + result_line(p[1], l[0], 0.4));
    return FakeProcessRunner::success();
  };
  // The move of the second extract to V fails, after its scores were added.
  ASSERT_TRUE(ws_.exec("CREATE TRIGGER refuse BEFORE UPDATE OF AutoMatch ON cells WHEN "
                       "new.cell='" +
                       p[1] + "' BEGIN SELECT RAISE(ABORT, 'disk full'); END")
                  .ok());
  start();
  EXPECT_FALSE(compare().ok());
  EXPECT_EQ(cells_in(ws_, "V"), "");  // group_concat of no rows
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 0);
  EXPECT_EQ(ws_.count("SELECT sum(Ln) FROM distribution"), 0);

  // The next run compares them again and counts each score once.
  ASSERT_TRUE(ws_.exec("DROP TRIGGER refuse").ok());
  ASSERT_TRUE(compare().ok());
  EXPECT_EQ(cells_in(ws_, "V"), p[0] + " " + p[1]);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 2);
  EXPECT_EQ(ws_.count("SELECT sum(Ln) FROM distribution WHERE filename LIKE 'P%'"), 2);
}

TEST_F(BatchCompareTest, AnExtractThatBecomesPendingDuringTheRunStaysPending) {
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto p = add_extracts("P", 1, "Dorsal", "DO", "M", "P");
  add_extracts("L", 1, "Dorsal", "DO", "M", "L");
  runner_.respond = [&](const ProcessCommand&) {
    // Another workstation saves an extract while tarvikx runs.
    add_extracts("N", 1, "Dorsal", "DO", "M", "P");
    return FakeProcessRunner::success();
  };
  start();
  ASSERT_TRUE(compare().ok());
  EXPECT_EQ(cells_in(ws_, "V"), p[0]);
  EXPECT_EQ(cells_in(ws_, "P"), "N1_1DO");
  EXPECT_EQ(summary_.moved_to_v, 1);
}

TEST_F(BatchCompareTest, ASecondRunIsRefusedWhileTheFirstHoldsItsLocks) {
  add_aspect("Flank", "FL", "lateral");
  add_extracts("A", 1, "Flank", "FL", "L", "P");
  add_extracts("B", 1, "Flank", "FL", "R", "P");
  start();
  struct Case {
    std::string lock;  // held by "another run"
    bool multi_core;   // this run under "use multiple cores" for Flank L
    bool refused;
  };
  const std::string db = ws_.db_path;
  const Case cases[] = {
      {database_lock_path(db), false, true},                             // same database
      {working_folder_lock_path(ws_.working_folder, "R"), false, true},  // same working folder
      {aspect_side_lock_path(db, "Flank", "L"), true, true},             // same aspect and side
      {aspect_side_lock_path(db, "Flank", "R"), true, false},            // another side
  };
  for (const Case& c : cases) {
    ctx_.options.multi_core = c.multi_core;
    ctx_.options.chosen_aspect = "Flank";
    ctx_.options.chosen_side = "L";
    FileLock other;
    ASSERT_TRUE(FileLock::try_lock(c.lock, FileLock::Mode::kExclusive, FileLock::Inherit::kNo,
                                   "test", "process 4242 (velmora-batch), started yesterday",
                                   &other)
                    .ok());
    const size_t runs_before = runner_.calls().size();
    Status s = compare();
    if (c.refused) {
      EXPECT_EQ(s.code(), Status::Code::kCancelled) << c.lock;
      EXPECT_NE(s.message().find("process 4242 (velmora-batch)"), std::string::npos) << s.message();
      EXPECT_EQ(runner_.calls().size(), runs_before);
      EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution"), 0) << c.lock;
    } else {
      EXPECT_TRUE(s.ok()) << s.message();
      EXPECT_EQ(runner_.calls().size(), runs_before + 1);
    }
  }
  EXPECT_EQ(cells_in(ws_, "V"), "");  // under multiple cores nothing moves before the import
}

TEST_F(BatchCompareTest, AWrongDataFolderComparesNothingAndSaysSo) {
  add_aspect("Dorsal", "DO", "Dorsal");
  add_extracts("P", 2, "Dorsal", "DO", "M", "P", false);
  add_extracts("L", 2, "Dorsal", "DO", "M", "L");
  start();
  // Fingerprint folder present, but none of the pending files: every
  // extract taken is left out, so the run fails and nothing moves.
  Status s = compare();
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  EXPECT_NE(s.message().find("None of the 2 pending extracts"), std::string::npos) << s.message();
  EXPECT_EQ(cells_in(ws_, "P"), "P1_1DO P2_1DO");
  EXPECT_TRUE(runner_.calls().empty());
  EXPECT_EQ(summary_.missing_names.size(), 2u);

  // No fingerprint folder at all: stopped before anything is written.
  ASSERT_TRUE(ws_.exec("DELETE FROM distribution").ok());
  fs::remove_all(ws_.data_folder + "oldlib");
  s = compare();
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  EXPECT_NE(s.message().find("oldlib"), std::string::npos) << s.message();
  EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution"), 0);
}

TEST_F(BatchCompareTest, AnUnreadablePendingFingerprintIsNamedAndStaysPending) {
  add_aspect("Dorsal", "DO", "Dorsal");
  const auto p = add_extracts("P", 3, "Dorsal", "DO", "M", "P");
  const auto l = add_extracts("L", 1, "Dorsal", "DO", "M", "L");
  runner_.respond = [&](const ProcessCommand& c) {
    const std::string dir = c.arguments[0] + "/";
    testing::append_file(results_path("Dorsal", "M"),
                         "$ pending library\n  Error 14: Can't read pending file " + dir + p[1] +
                             "!!\n" + result_line(p[0], l[0], 0.5) +
                             "$ library pending\nCan't read pending fingerprint " + dir + p[2] +
                             "!16\n");
    return FakeProcessRunner::success();
  };
  start();
  ASSERT_TRUE(compare().ok());
  EXPECT_EQ(cells_in(ws_, "V"), p[0]);
  EXPECT_EQ(cells_in(ws_, "P"), p[1] + " " + p[2]);
  EXPECT_EQ(summary_.pending_unreadable, 2);
  ASSERT_EQ(summary_.unreadable_names.size(), 2u);
  EXPECT_NE(summary_.unreadable_names[0].find(p[1]), std::string::npos);
  bool told = false;
  for (const auto& m : dialogs_.shown()) told = told || m.text.find(p[2]) != std::string::npos;
  EXPECT_TRUE(told);
}

TEST_F(BatchCompareTest, NamesTheResultsFormatCannotCarryAreRefusedAndStayPending) {
  add_aspect("Dorsal", "DO", "Dorsal");
  db::testing::FixtureBuilder b = ws_.builder();
  int64_t enc = 0;
  ASSERT_TRUE(b.add_encounter("801", "", "", &enc).ok());
  const std::vector<std::string> cells = {"801_1DO", "801,2DO", "Can't3DO", "$801_4DO"};
  for (size_t k = 0; k < cells.size(); ++k) {
    const std::string image = "img" + std::to_string(k);
    ASSERT_TRUE(b.add_image(image, enc, static_cast<int>(k) + 1, "p.jpg", "2023-06-01").ok());
    ASSERT_TRUE(b.add_cell(cells[k], image, "Dorsal", "M", "P").ok());
  }
  ASSERT_TRUE(ws_.touch_fingerprints(cells).ok());
  add_extracts("L", 1, "Dorsal", "DO", "M", "L");
  start();
  ASSERT_TRUE(compare().ok());
  ASSERT_EQ(runner_.calls().size(), 1u);
  EXPECT_EQ(runner_.calls()[0].pending_names, std::vector<std::string>{"801_1DO"});
  EXPECT_EQ(summary_.refused_names.size(), 3u);
  EXPECT_TRUE(summary_.missing_names.empty());  // refused, not "no fingerprint file"
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE AutoMatch='P'"), 3);
}

TEST_F(BatchCompareTest, AStoppedRunImportsNothingOfItsSide) {
  add_aspect("Flank", "FL", "lateral");
  const auto a = add_extracts("A", 1, "Flank", "FL", "L", "P");
  add_extracts("B", 1, "Flank", "FL", "R", "P");
  add_extracts("C", 1, "Flank", "FL", "R", "L");
  runner_.respond = [&](const ProcessCommand& c) {
    if (c.arguments[4] == "FlankRa_results.txt") {
      ProcessOutcome o = FakeProcessRunner::success();
      o.exited = false;
      o.crashed = true;
      o.stopped = true;
      return o;
    }
    return FakeProcessRunner::success();
  };
  start();
  Status s = compare();
  EXPECT_EQ(s.code(), Status::Code::kCancelled);
  EXPECT_NE(s.message().find("stopped"), std::string::npos) << s.message();
  EXPECT_EQ(cells_in(ws_, "V"), a[0]);  // the side done before the stop
  EXPECT_EQ(cells_in(ws_, "P"), "B1_1FL");
}

}  // namespace
}  // namespace velmora::matching
