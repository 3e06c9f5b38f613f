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

TEST_F(ChangePtoVTest, OnlyTheExtractsTheRunComparedMove) {
  start();
  // Compared by this run: two pending, one already moved by its import
  // (V), one that another copy took meanwhile (L). A1 became pending while
  // the run went on and was never compared.
  ASSERT_TRUE(ws_.exec("UPDATE cells SET AutoMatch='V' WHERE cell='A3_1FL'").ok());
  ctx_.compared_pending = {"A2_1FL", "B3_1FL", "A3_1FL", "F1_1FL"};
  ChangePtoVSummary sum;
  ASSERT_TRUE(ChangePtoV(ctx_, &sum).ok());
  EXPECT_EQ(v_cells(), "A2_1FL A3_1FL B3_1FL");
  EXPECT_EQ(sum.moved, 2);
  EXPECT_EQ(ws_.text("SELECT AutoMatch FROM cells WHERE cell='F1_1FL'"), "L");
  EXPECT_TRUE(ctx_.compared_pending.empty());

  // Nothing noted: nothing moves, whatever is pending.
  ASSERT_TRUE(ChangePtoV(ctx_, &sum).ok());
  EXPECT_EQ(sum.moved, 0);
  EXPECT_EQ(v_cells(), "A2_1FL A3_1FL B3_1FL");
}

TEST_F(ChangePtoVTest, AFailedMoveChangesNothingAndKeepsTheList) {
  start();
  ctx_.compared_pending = {"A1_1FL", "A2_1FL"};
  // The second update fails inside the transaction.
  ASSERT_TRUE(ws_.exec("CREATE TRIGGER refuse BEFORE UPDATE ON cells WHEN new.cell='A2_1FL' "
                       "BEGIN SELECT RAISE(ABORT, 'refused'); END")
                  .ok());
  EXPECT_FALSE(ChangePtoV(ctx_).ok());
  EXPECT_EQ(v_cells(), "");  // group_concat of no rows
  EXPECT_EQ(ctx_.compared_pending.size(), 2u);
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
