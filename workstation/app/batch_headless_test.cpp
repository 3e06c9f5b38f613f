// velmora-batch's command line, its preparation of a run and the whole
// headless run with a fake comparison program.
#include "workstation/app/batch_headless.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "testing/files.h"
#include "workstation/config/folder_file.h"
#include "workstation/matching/batch_test_support.h"
#include "workstation/matching/results_import.h"

namespace velmora::app {
namespace {

using matching::ProcessCommand;
using matching::ProcessOutcome;
using matching::results_file_name;
namespace batch_testing = matching::batch_testing;
using batch_testing::BatchWorkspace;
using batch_testing::FakeProcessRunner;

TEST(HeadlessArguments, DefaultsAndEveryOption) {
  HeadlessOptions o;
  ASSERT_TRUE(parse_headless_arguments({}, &o).ok());
  EXPECT_EQ(o.batch_size, 200);
  EXPECT_EQ(o.prior_match, ".005");
  EXPECT_FALSE(o.quick || o.standardise || o.help);
  EXPECT_TRUE(o.database.empty() && o.data_folder.empty() && o.aspect.empty());
  const unsigned processors = std::thread::hardware_concurrency();
  EXPECT_EQ(o.jobs, processors == 0 ? 1 : std::min<int>(processors, matching::kMaxJobs));
  EXPECT_EQ(default_jobs(), o.jobs);

  ASSERT_TRUE(parse_headless_arguments(
                  {"--data-folder", "/d", "--database=/d/s.sqlite", "--working-folder", "/w",
                   "--tarvikx", "/bin/t", "--batch-size", "0", "--quick", "--standardise", "--pm",
                   "0.01", "--aspect", "Flank", "--side=L", "--jobs", "3"},
                  &o)
                  .ok());
  EXPECT_EQ(o.data_folder, "/d");
  EXPECT_EQ(o.database, "/d/s.sqlite");
  EXPECT_EQ(o.working_folder, "/w");
  EXPECT_EQ(o.tarvikx, "/bin/t");
  EXPECT_EQ(o.batch_size, 0);
  EXPECT_TRUE(o.quick && o.standardise);
  EXPECT_EQ(o.prior_match, "0.01");
  EXPECT_EQ(o.aspect, "Flank");
  EXPECT_EQ(o.side, "L");
  EXPECT_EQ(o.jobs, 3);
  ASSERT_TRUE(parse_headless_arguments({"--jobs=64"}, &o).ok());
  EXPECT_EQ(o.jobs, 64);
}

TEST(HeadlessArguments, WrongCommandLinesAreRefused) {
  HeadlessOptions o;
  const std::vector<std::vector<std::string>> bad = {
      {"--frobnicate"},     {"--database"},        {"--batch-size", "-1"},  {"--batch-size", "2x"},
      {"--batch-size", ""}, {"--aspect", "Flank"}, {"--side", "L"},         {"--quick=yes"},
      {"--pm", "2"},        {"--pm", "abc"},       {"--data-folder", "/d"}, {"extra"},
      {"--jobs", "0"},      {"--jobs", "65"},      {"--jobs", "2x"},        {"--jobs", ""}};
  for (const auto& args : bad) {
    Status s = parse_headless_arguments(args, &o);
    EXPECT_EQ(s.code(), Status::Code::kInvalidArgument) << args[0];
    EXPECT_FALSE(s.message().empty());
  }
}

TEST(HeadlessArguments, BatchSizeIsHeldToWhatTheWindowTakes) {
  HeadlessOptions o;
  std::string notes;
  ASSERT_TRUE(parse_headless_arguments({"--batch-size", "500"}, &o, &notes).ok());
  EXPECT_EQ(o.batch_size, kMaxBatchSize);
  EXPECT_NE(notes.find("lowered to 400"), std::string::npos) << notes;
  ASSERT_TRUE(parse_headless_arguments({"--batch-size", "400"}, &o, &notes).ok());
  EXPECT_EQ(o.batch_size, 400);
}

class HeadlessRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ws_.status().ok()) << ws_.status().message();
    ASSERT_TRUE(ws_.builder().add_algorithm("a", "tarvik").ok());
    ASSERT_TRUE(ws_.add_aspect("Dorsal", "DO", "Dorsal").ok());
    ASSERT_TRUE(ws_.builder().add_bulk_extracts("P", 3, 1, "Dorsal", "DO", "M", "P").ok());
    ASSERT_TRUE(ws_.builder().add_bulk_extracts("L", 4, 1, "Dorsal", "DO", "M", "L").ok());
    pending_ = BatchWorkspace::bulk_cells("P", 3, 1, "DO");
    library_ = BatchWorkspace::bulk_cells("L", 4, 1, "DO");
    ASSERT_TRUE(ws_.touch_fingerprints(pending_).ok());
    ASSERT_TRUE(ws_.touch_fingerprints(library_).ok());
    options_.database = ws_.db_path;
    options_.data_folder = ws_.data_folder;
    options_.working_folder = ws_.working_folder;
    options_.tarvikx = "/opt/velmora/bin/tarvikx";
    runner_.respond = [this](const ProcessCommand& c) {
      std::string lines = "$ pending library\n";
      for (const std::string& p : pending_)
        lines += p + "," + library_[0] + ",0.5000,0,0,0,0,0,0,0,0,0.5\n";
      testing::append_file(ws_.working_folder + c.arguments[4], lines);
      return FakeProcessRunner::success();
    };
  }

  BatchWorkspace ws_{"headless"};
  std::vector<std::string> pending_, library_;
  HeadlessOptions options_;
  FakeProcessRunner runner_;
  std::ostringstream out_;
};

TEST_F(HeadlessRunTest, ARunPrintsItsProgressAndSummaryAndSucceeds) {
  HeadlessSummary sum;
  EXPECT_EQ(run_headless_batch(options_, runner_, out_, &sum), 0) << out_.str();
  const std::string text = out_.str();
  EXPECT_NE(text.find("oldcell: making flist and adding new distribution records\n"),
            std::string::npos);
  EXPECT_NE(text.find("tarvik of 3 new M side Dorsal extracts with each other and batch 1\n"),
            std::string::npos);
  EXPECT_NE(text.find("completed all old-style comparisons\n"), std::string::npos);
  EXPECT_NE(text.find("  progress 100%\n"), std::string::npos);
  EXPECT_TRUE(sum.succeeded);
  EXPECT_EQ(sum.compared.tarvikx_runs, 1);
  EXPECT_EQ(sum.compared.pending_listed, 3);
  EXPECT_EQ(sum.compared.result_lines, 3);
  EXPECT_EQ(sum.compared.temp_rows, 3);
  EXPECT_EQ(sum.compared.moved_to_v, 3);  // with their import
  EXPECT_EQ(sum.changed.moved, 0);
  EXPECT_NE(text.find("  extracts moved to V:        3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  result:                     ok\n"), std::string::npos) << text;
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE AutoMatch='V'"), 3);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 3);
}

TEST_F(HeadlessRunTest, AFailedComparisonFailsTheRunAndMovesNothing) {
  runner_.respond = [](const ProcessCommand&) {
    ProcessOutcome o = FakeProcessRunner::success();
    o.exit_code = 1;
    o.output = "Can't open ini file 'tarvik.ini'\n";
    return o;
  };
  HeadlessSummary sum;
  EXPECT_EQ(run_headless_batch(options_, runner_, out_, &sum), 1);
  EXPECT_FALSE(sum.succeeded);
  EXPECT_NE(out_.str().find("Can't open ini file 'tarvik.ini'"), std::string::npos);
  EXPECT_NE(out_.str().find("result:                     FAILED"), std::string::npos);
  EXPECT_EQ(sum.compared.failed_runs, 1);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE AutoMatch='V'"), 0);
}

TEST_F(HeadlessRunTest, PreviousResultsOnOneSideEndTheRunAsAFailure) {
  options_.aspect = "Dorsal";
  options_.side = "M";
  ASSERT_TRUE(testing::append_file(ws_.working_folder + results_file_name("Dorsal", "M", "a"),
                                   "$ pending library\n"));
  EXPECT_EQ(run_headless_batch(options_, runner_, out_), 1);
  EXPECT_NE(out_.str().find("message: previous DorsalMa comparison results exist"),
            std::string::npos)
      << out_.str();
  EXPECT_TRUE(runner_.calls().empty());
}

TEST_F(HeadlessRunTest, WrongSetUpsFailWithTheirReason) {
  HeadlessOptions o = options_;
  o.aspect = "Dorsal";
  o.side = "L";
  EXPECT_EQ(run_headless_batch(o, runner_, out_), 1);
  EXPECT_NE(out_.str().find("Aspect Dorsal has no side L"), std::string::npos) << out_.str();

  o = options_;
  o.database = ws_.data_folder + "missing.sqlite";
  EXPECT_EQ(run_headless_batch(o, runner_, out_), 1);
  EXPECT_NE(out_.str().find("missing.sqlite' cannot be opened"), std::string::npos);

  ASSERT_TRUE(ws_.exec("DELETE FROM algy").ok());
  EXPECT_EQ(run_headless_batch(options_, runner_, out_), 1);
  EXPECT_NE(out_.str().find("no row of type 'tarvik'"), std::string::npos);
  EXPECT_TRUE(runner_.calls().empty());
}

// Every family is installed as in the window: one whose letter is set runs
// (here with nothing pending of its own) and has its part of the summary.
TEST_F(HeadlessRunTest, EveryFamilyWithALetterRunsThroughTheWindowsSteps) {
  ASSERT_TRUE(ws_.builder().add_algorithm("h", "legcode").ok());
  HeadlessSummary sum;
  EXPECT_EQ(run_headless_batch(options_, runner_, out_, &sum), 0) << out_.str();
  EXPECT_EQ(out_.str().find("not available"), std::string::npos) << out_.str();
  EXPECT_TRUE(sum.tarvik_ran);
  EXPECT_TRUE(sum.legcodes_ran);
  EXPECT_FALSE(sum.new_style_ran);
  EXPECT_FALSE(sum.key_points_ran);
  EXPECT_NE(out_.str().find("\nleg-code comparison\n  leg-code extracts compared: 0"),
            std::string::npos)
      << out_.str();
  // The tarvik family leaves the move to ChangePtoV, after the leg codes.
  EXPECT_EQ(sum.compared.moved_to_v, 0);
  EXPECT_EQ(sum.changed.moved, 3);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE AutoMatch='V'"), 3);
}

TEST_F(HeadlessRunTest, FoldersComeFromTheFolderFileWhenNoDatabaseIsGiven) {
  const std::string program = ws_.dir + "program";
  std::filesystem::create_directories(program);
  config::FolderFileLocations where{program, ""};
  config::FolderSettings folders{ws_.data_folder, ws_.db_path, ws_.data_folder + "newpic/"};
  ASSERT_TRUE(config::write_folder_file(where, folders).ok());

  session::RunState ctx;
  HeadlessOptions o;
  o.working_folder = ws_.working_folder;
  Status s = start_headless_batch(ctx, where, o, out_);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(ctx.folders.database_path, ws_.db_path);
  EXPECT_EQ(ctx.folders.data_folder, ws_.data_folder);
  EXPECT_EQ(ctx.algorithm_letters.tarvik, "a");
  EXPECT_EQ(ctx.aspects().count, 1);
  // Start's renumbering ran: cells numbered 1.. in name order.
  EXPECT_EQ(ws_.count("SELECT cell_no FROM cells WHERE cell='L1_1DO'"), 1);
  EXPECT_EQ(ws_.count("SELECT max(cell_no) FROM cells"), 7);
  EXPECT_TRUE(ctx.cells.has(7));
  ctx.drop_database_work();
  ctx.session.close();

  session::RunState none;
  EXPECT_EQ(
      start_headless_batch(none, config::FolderFileLocations{ws_.dir + "nowhere", ""}, o, out_)
          .code(),
      Status::Code::kNotFound);
}

TEST_F(HeadlessRunTest, MultiAspectTakesWholeAnimalsAsStartDoes) {
  std::ofstream(ws_.data_folder + "orlain.ini") << "[velmora]\nMultiAspect=True\n";
  options_.batch_size = 2;
  HeadlessSummary sum;
  EXPECT_EQ(run_headless_batch(options_, runner_, out_, &sum), 0) << out_.str();
  // Animals with no side L or R images count 0 each, so every pending
  // animal is taken into compIDs; the batch size still limits the list.
  EXPECT_EQ(ws_.count("SELECT count(*) FROM compIDs"), 3);
  ASSERT_EQ(runner_.calls().size(), 1u);
  EXPECT_EQ(runner_.calls()[0].pending_names.size(), 2u);
}

TEST(HeadlessSummaryText, NamesEveryFigure) {
  HeadlessSummary h;
  h.compared.aspect_sides = 2;
  h.compared.pending_listed = 200;
  h.compared.pending_missing = 1;
  h.compared.library_extracts = 2000;
  h.compared.library_listed = 1990;
  h.compared.library_missing = 10;
  h.compared.tarvikx_runs = 11;
  h.compared.failed_runs = 0;
  h.compared.imports = 2;
  h.compared.result_lines = 123456;
  h.compared.skipped_lines = 7;
  h.compared.staged = 120000;
  h.compared.temp_rows = 99999;
  h.compared.tarvikx_seconds = 61.25;
  h.compared.import_seconds = 2.5;
  h.changed.moved = 200;
  h.tarvik_ran = true;
  h.seconds = 64.04;
  h.succeeded = true;
  const std::string t = format_headless_summary(h);
  for (const char* part :
       {"pending extracts compared:  200 (1 left out", "2000 selected, 1990 listed, 10 left out",
        "tarvikx runs:               11 (0 failed)", "result lines imported:      123456",
        "skipped lines:              7", "temp rows:                  99999",
        "extracts moved to V:        200", "64.0 s (tarvikx 61.2 s, import 2.5 s)",
        "result:                     ok"}) {
    EXPECT_NE(t.find(part), std::string::npos) << part << "\n" << t;
  }
}

}  // namespace
}  // namespace velmora::app
