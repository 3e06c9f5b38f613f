// The test run through Start: "test" chosen, the run_test step installed,
// the comparison families reached through the hooks in the test's order
// (a family without a hook is named and passed over), the result handed to
// the display, "last test result" bringing Start back, and a test run
// stopped half way put right by the next Start before its mode runs.
#include "workstation/app/test_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "workstation/runs/runs_test_workstation.h"
#include "workstation/runs/start_driver.h"

namespace velmora::app {
namespace {

class TestThroughStart : public ::testing::Test {
 protected:
  TestThroughStart() : ws_("test_steps") {}
  void SetUp() override {
    ws_.add_aspect("flank", "FL", "lateral");
    ws_.add_algorithm("a", "tarvik");
    ws_.add_algorithm("c", "compnew_corr");
    ws_.add_algorithm("h", "legcode");
    ws_.add_algorithm("k", "CompSift");
    ws_.add_cell("T", "T_1FL", "L", "L");
    ws_.add_cell("T", "T_2FL", "L", "L");
    ws_.add_cell("101", "101_1FL", "L", "L");
    ws_.add_cell("301", "301_1FL", "L", "P");
    ws_.panel.set_checked("optTest", true);

    runs::ComparisonHooks& h = ws_.ctx.hooks.comparison;
    // The tarvik family: T_1 finds T_2 first, and 101 below it.
    h.batch_compare_old_style = [this](runs::RunContext& c) {
      ran_.push_back("tarvik");
      pending_during_ = ws_.text(
          "SELECT group_concat(cell) FROM (SELECT cell FROM cells WHERE "
          "AutoMatch = 'P' ORDER BY cell)");
      db::testing::FixtureBuilder b(c.db());
      Status s = b.add_temp("img_T_1FL", "img_T_2FL", "T_1FL.a", "T_2FL", 0.8);
      if (s.ok()) s = b.add_temp("img_T_1FL", "img_101_1FL", "T_1FL.a", "101_1FL", 0.3);
      if (s.ok()) s = b.add_temp("img_T_2FL", "img_101_1FL", "T_2FL.a", "101_1FL", 0.9);
      return s;
    };
    h.compare_legcodes = [this](runs::RunContext&) {
      ran_.push_back("legcode");
      return Status::Ok();
    };
    h.compare_sift = [this](runs::RunContext&) {
      ran_.push_back("sift");
      return Status::Ok();
    };
    ws_.ctx.hooks.run_test =
        test_rank_step([this](runs::RunContext&, const matching::TestRankResult& r) {
          ++shown_;
          shown_rows_ = r.overall;
          return Status::Ok();
        });
  }

  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& m : ws_.dialogs.shown()) out.push_back(m.text);
    return out;
  }

  runs::testing::TestWorkstation ws_;
  std::vector<std::string> ran_;
  std::string pending_during_;
  int shown_ = 0;
  std::vector<matching::RankRow> shown_rows_;
};

TEST_F(TestThroughStart, RunsTheFamiliesInTheTestsOrderAndShowsTheRankedResult) {
  ASSERT_TRUE(runs::begin_run(ws_.ctx).ok());
  EXPECT_EQ(ran_, (std::vector<std::string>{"tarvik", "sift", "legcode"}));
  EXPECT_EQ(pending_during_, "T_1FL,T_2FL");
  EXPECT_EQ(texts(), (std::vector<std::string>{
                         matching::kBackupQuestion,
                         runs::not_available_message("The correlation and spot comparison is") +
                             " The comparison goes on without it."}));
  // Per extract: T_1 finds T_2 at rank 1; T_2 has 101 above T_1.
  ASSERT_EQ(shown_, 1);
  ASSERT_EQ(shown_rows_.size(), 2u);
  EXPECT_EQ(shown_rows_[0].rank, 1);
  EXPECT_DOUBLE_EQ(shown_rows_[0].percent, 50.0);
  EXPECT_EQ(shown_rows_[1].rank, 2);
  EXPECT_DOUBLE_EQ(shown_rows_[1].percent, 50.0);
  EXPECT_EQ(ws_.status_of("T_1FL"), "L");
  EXPECT_EQ(ws_.status_of("301_1FL"), "P");
  EXPECT_FALSE(ws_.panel.visible("cmdStart"));
  EXPECT_TRUE(ws_.ctx.test_run);

  // "last test result": the same rows, nothing compared, Start back.
  runs::testing::TestWorkstation& ws = ws_;
  ws.dialogs = ScriptedDialogs{};
  ws.panel.set_checked("chkPreviousTest", true);
  ws.panel.set_text("cmdStart", runs::kStartCaption);
  ASSERT_TRUE(runs::begin_run(ws.ctx).ok());
  EXPECT_EQ(ran_.size(), 3u);
  EXPECT_TRUE(ws.dialogs.shown().empty());
  ASSERT_EQ(shown_, 2);
  EXPECT_EQ(shown_rows_.size(), 2u);
  EXPECT_TRUE(ws.panel.visible("cmdStart"));
  EXPECT_EQ(ws.panel.text("cmdStart"), runs::kStartCaption);
  EXPECT_TRUE(ws.panel.visible("optTest"));
  EXPECT_FALSE(ws.ctx.test_run);
}

TEST_F(TestThroughStart, AStoppedTestIsPutRightByTheNextStartBeforeItsMode) {
  // The restore fails as the parked extract comes back, as if the program
  // had died there.
  ws_.sql(
      "CREATE TRIGGER no_restore BEFORE UPDATE OF AutoMatch ON cells "
      "WHEN OLD.AutoMatch = 'T' BEGIN SELECT RAISE(ABORT, 'power cut'); END");
  ASSERT_FALSE(runs::begin_run(ws_.ctx).ok());
  EXPECT_EQ(ws_.status_of("301_1FL"), "T");
  EXPECT_EQ(ws_.status_of("T_1FL"), "P");
  ws_.sql("DROP TRIGGER no_restore");

  // The next Start is a batch comparison: the message comes first, and the
  // family then sees the real pending extract only.
  ws_.dialogs = ScriptedDialogs{};
  ws_.panel.set_checked("optTest", false);
  ws_.panel.set_checked("optBatchCompare", true);
  ws_.panel.set_text("cmdStart", runs::kStartCaption);
  ran_.clear();
  ASSERT_TRUE(runs::begin_run(ws_.ctx).ok());
  const std::vector<std::string> shown = texts();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown[0].rfind("A test run stopped before it put the extracts back. Restored: 2 test "
                           "extracts to the library, 1 extract pending again, 3 test scores "
                           "removed from temp.",
                           0),
            0u)
      << shown[0];
  ASSERT_FALSE(ran_.empty());
  EXPECT_EQ(ran_[0], "tarvik");
  EXPECT_EQ(pending_during_, "301_1FL");
  EXPECT_EQ(ws_.status_of("T_1FL"), "L");
  EXPECT_EQ(ws_.status_of("T_2FL"), "L");
}

}  // namespace
}  // namespace velmora::app
