// The window's comparison steps are the subsystems' procedures on the
// window's run: the same lists, the same moves, the same summaries.
#include "workstation/app/comparison_steps.h"

#include <gtest/gtest.h>

#include <sstream>

#include "workstation/common/console_panel.h"
#include "workstation/matching/batch_test_support.h"

namespace velmora::app {
namespace {

using matching::batch_testing::BatchWorkspace;
using matching::batch_testing::FakeProcessRunner;

class ComparisonStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ws_.status().ok()) << ws_.status().message();
    ASSERT_TRUE(ws_.builder().add_algorithm("a", "tarvik").ok());
    ASSERT_TRUE(ws_.add_aspect("Flank", "FL", "lateral").ok());
    ASSERT_TRUE(ws_.add_aspect("Dorsal", "DO", "Dorsal").ok());
    db::testing::FixtureBuilder b = ws_.builder();
    ASSERT_TRUE(b.add_bulk_extracts("A", 5, 1, "Flank", "FL", "L", "P").ok());
    ASSERT_TRUE(b.add_bulk_extracts("B", 3, 1, "Flank", "FL", "R", "P").ok());
    ASSERT_TRUE(b.add_bulk_extracts("C", 1, 1, "Dorsal", "DO", "M", "P").ok());
    ctx_.panel = &panel_;
    ctx_.dialogs = &dialogs_;
  }
  void TearDown() override {
    ctx_.drop_database_work();
    ctx_.session.close();
  }
  void start(int batch) {
    session::RunOptions o = matching::batch_testing::batch_options();
    o.batch_size = batch;
    Status s = matching::batch_testing::start_batch(ctx_, ws_, o, notes_);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  std::string v_cells() {
    return ws_.text(
        "SELECT group_concat(cell, ' ') FROM (SELECT cell FROM cells WHERE "
        "AutoMatch='V' ORDER BY cell)");
  }

  BatchWorkspace ws_{"steps"};
  std::ostringstream notes_, console_;
  ConsolePanel panel_{console_};
  ScriptedDialogs dialogs_;
  runs::RunContext ctx_;
};

TEST_F(ComparisonStepsTest, ThePtoVStepIsTheSameProcedure) {
  start(1);
  ctx_.compared_pending = {"A1_1FL", "B1_1FL", "C1_1DO"};
  auto sum = std::make_shared<matching::ChangePtoVSummary>();
  runs::RunStep step = change_p_to_v_step(sum);
  ASSERT_TRUE(step(ctx_).ok());
  EXPECT_EQ(v_cells(), "A1_1FL B1_1FL C1_1DO");
  EXPECT_EQ(sum->moved, 3);
}

TEST_F(ComparisonStepsTest, TheBatchStepListsThroughTheWindowsPanel) {
  ASSERT_TRUE(ws_.touch_fingerprints(BatchWorkspace::bulk_cells("C", 1, 1, "DO")).ok());
  start(200);
  auto runner = std::make_shared<FakeProcessRunner>();
  auto sum = std::make_shared<matching::BatchCompareSummary>();
  matching::BatchCompareOptions options;
  options.tarvikx = "/opt/velmora/bin/tarvikx";
  runs::RunStep step = batch_compare_step(runner, options, sum);
  ASSERT_TRUE(step(ctx_).ok());
  ASSERT_EQ(runner->calls().size(), 1u);  // only C has a fingerprint file
  EXPECT_EQ(runner->calls()[0].pending_names, std::vector<std::string>{"C1_1DO"});
  EXPECT_EQ(sum->pending_listed, 1);
  EXPECT_EQ(sum->pending_missing, 8);
  EXPECT_EQ(dialogs_.beeps(), 3);  // the dialogs are the window's
  EXPECT_FALSE(panel_.progress_labels().empty());
  // The run ends with the summary, its columns closed up for the window.
  ASSERT_FALSE(dialogs_.shown().empty());
  const std::string& last = dialogs_.shown().back().text;
  EXPECT_NE(last.find("\npending extracts compared: 1 (8 left out"), std::string::npos) << last;
  EXPECT_NE(last.find("\nextracts moved to V: 1\n"), std::string::npos) << last;
}

// The installed leg-code hook compares the leg-code extracts only, moves
// them to V with their import and ends with its summary.
TEST_F(ComparisonStepsTest, TheInstalledLegCodeStepComparesLegCodeExtracts) {
  db::testing::FixtureBuilder b = ws_.builder();
  ASSERT_TRUE(b.add_algorithm("h", "legcode").ok());
  ASSERT_TRUE(b.add_bulk_extracts("P", 2, 1, "LegCode", "LC", "M", "P").ok());
  ASSERT_TRUE(b.add_bulk_extracts("L", 1, 1, "LegCode", "LC", "M", "L").ok());
  for (const char* cell : {"P1_1LC", "P2_1LC", "L1_1LC"}) ASSERT_TRUE(b.add_code(cell, "K7").ok());
  start(200);
  runs::RunHooks hooks;
  install_comparison_steps(hooks, std::make_shared<FakeProcessRunner>());
  ASSERT_TRUE(hooks.comparison.compare_legcodes);
  ASSERT_TRUE(hooks.comparison.compare_legcodes(ctx_).ok());
  EXPECT_EQ(v_cells(), "P1_1LC P2_1LC");
  ASSERT_FALSE(dialogs_.shown().empty());
  const std::string& last = dialogs_.shown().back().text;
  EXPECT_EQ(last.rfind("The leg-code comparison is complete.", 0), 0u) << last;
  EXPECT_NE(last.find("\nresult lines imported: 3\n"), std::string::npos) << last;
}

}  // namespace
}  // namespace velmora::app
