// ChangePtoV: at most the batch size of pending extracts per aspect and
// side become V, in the pending list's order.
#include "workstation/matching/change_p_to_v.h"

#include <gtest/gtest.h>

#include <sstream>

#include "workstation/common/console_panel.h"
#include "workstation/matching/batch_test_support.h"

namespace velmora::matching {
namespace {

using batch_testing::BatchWorkspace;

class ChangePtoVTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ws_.status().ok()) << ws_.status().message();
    ASSERT_TRUE(ws_.builder().add_algorithm("a", "tarvik").ok());
    ASSERT_TRUE(ws_.add_aspect("Flank", "FL", "lateral").ok());
    ASSERT_TRUE(ws_.add_aspect("Dorsal", "DO", "Dorsal").ok());
    ASSERT_TRUE(ws_.add_aspect("Skin", "SK", "Dorsal").ok());
    ASSERT_TRUE(ws_.add_aspect("Tail", "TL", "Dorsal").ok());
    db::testing::FixtureBuilder b = ws_.builder();
    ASSERT_TRUE(b.add_bulk_extracts("A", 5, 1, "Flank", "FL", "L", "P").ok());
    ASSERT_TRUE(b.add_bulk_extracts("B", 3, 1, "Flank", "FL", "R", "P").ok());
    ASSERT_TRUE(b.add_bulk_extracts("C", 1, 1, "Dorsal", "DO", "M", "P").ok());
    ASSERT_TRUE(b.add_bulk_extracts("D", 2, 1, "Skin", "SK", "M", "P").ok());
    ASSERT_TRUE(b.add_bulk_extracts("E", 2, 1, "Tail", "TL", "M", "P").ok());
    ASSERT_TRUE(b.add_bulk_extracts("F", 2, 1, "Flank", "FL", "L", "L").ok());
  }
  void TearDown() override {
    ctx_.drop_database_work();
    ctx_.session.close();
  }
  void start(session::RunOptions o = batch_testing::batch_options()) {
    Status s = batch_testing::start_batch(ctx_, ws_, o, notes_);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  std::string v_cells() {
    return ws_.text(
        "SELECT group_concat(cell, ' ') FROM (SELECT cell FROM cells WHERE "
        "AutoMatch='V' ORDER BY cell)");
  }

  BatchWorkspace ws_{"ptov"};
  std::ostringstream notes_, console_;
  ConsolePanel panel_{console_};
  ScriptedDialogs dialogs_;
  session::RunState ctx_;
};

TEST_F(ChangePtoVTest, AtMostTheBatchSizePerAspectAndSideUpToSkin) {
  session::RunOptions o = batch_testing::batch_options();
  o.batch_size = 2;
  start(o);
  ChangePtoVSummary sum;
  ASSERT_TRUE(ChangePtoV(ctx_, &sum).ok());
  // The first two of each side in cell order; Dorsal has only one; Skin and
  // what follows it are not walked; library extracts stay L.
  EXPECT_EQ(v_cells(), "A1_1FL A2_1FL B1_1FL B2_1FL C1_1DO");
  EXPECT_EQ(sum.moved, 5);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE AutoMatch='P'"), 3 + 1 + 2 + 2);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE AutoMatch='L'"), 2);
}

TEST_F(ChangePtoVTest, ARunMovesTheNextBatch) {
  session::RunOptions o = batch_testing::batch_options();
  o.batch_size = 2;
  start(o);
  ASSERT_TRUE(ChangePtoV(ctx_).ok());
  ChangePtoVSummary sum;
  ASSERT_TRUE(ChangePtoV(ctx_, &sum).ok());
  EXPECT_EQ(v_cells(), "A1_1FL A2_1FL A3_1FL A4_1FL B1_1FL B2_1FL B3_1FL C1_1DO");
  EXPECT_EQ(sum.moved, 3);
}

TEST_F(ChangePtoVTest, BatchSizeZeroMovesNothing) {
  session::RunOptions o = batch_testing::batch_options();
  o.batch_size = 0;
  start(o);
  ChangePtoVSummary sum;
  ASSERT_TRUE(ChangePtoV(ctx_, &sum).ok());
  EXPECT_EQ(sum.moved, 0);
  EXPECT_EQ(v_cells(), "");  // group_concat of no rows
}

TEST_F(ChangePtoVTest, MultipleCoresMoveOnlyTheChosenAspectAndSide) {
  session::RunOptions o = batch_testing::batch_options();
  o.multi_core = true;
  o.chosen_aspect = "Flank";
  o.chosen_side = "R";
  start(o);
  ASSERT_TRUE(ChangePtoV(ctx_).ok());
  EXPECT_EQ(v_cells(), "B1_1FL B2_1FL B3_1FL");
}

TEST_F(ChangePtoVTest, RealTimeMovesOnlyTheExtractJustSaved) {
  session::RunOptions o = batch_testing::batch_options();
  o.real_time = true;
  start(o);
  ctx_.current_cell = "A3_1FL";
  ChangePtoVSummary sum;
  ASSERT_TRUE(ChangePtoV(ctx_, &sum).ok());
  EXPECT_EQ(v_cells(), "A3_1FL");
  EXPECT_EQ(sum.moved, 1);
}

TEST_F(ChangePtoVTest, WithoutStartNothingMoves) {
  // Before Start there are no statements or side letters: refused, not a
  // silent success.
  session::RunState unstarted;
  EXPECT_EQ(ChangePtoV(unstarted).code(), Status::Code::kInvalidArgument);
  start();
  ctx_.side_letters = {"", "", ""};
  EXPECT_EQ(ChangePtoV(ctx_).code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(v_cells(), "");  // group_concat of no rows
}

}  // namespace
}  // namespace velmora::matching
