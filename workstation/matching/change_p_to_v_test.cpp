// ChangePtoV: at most the batch size of pending extracts per aspect and
// side become V, in the pending list's order.
#include "workstation/matching/change_p_to_v.h"

#include <gtest/gtest.h>

#include <sstream>

#include "workstation/matching/batch_console.h"
#include "workstation/matching/batch_headless.h"
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
  void start(HeadlessOptions o = {}) {
    o.database = ws_.db_path;
    o.data_folder = ws_.data_folder;
    ctx_.panel = &panel_;
    ctx_.dialogs = &dialogs_;
    ctx_.working_folder = ws_.working_folder;
    Status s = start_headless_batch(ctx_, o, notes_);
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
  runs::RunContext ctx_;
};

TEST_F(ChangePtoVTest, AtMostTheBatchSizePerAspectAndSideUpToSkin) {
  HeadlessOptions o;
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
  HeadlessOptions o;
  o.batch_size = 2;
  start(o);
  ASSERT_TRUE(ChangePtoV(ctx_).ok());
  ChangePtoVSummary sum;
  ASSERT_TRUE(ChangePtoV(ctx_, &sum).ok());
  EXPECT_EQ(v_cells(), "A1_1FL A2_1FL A3_1FL A4_1FL B1_1FL B2_1FL B3_1FL C1_1DO");
  EXPECT_EQ(sum.moved, 3);
}

TEST_F(ChangePtoVTest, BatchSizeZeroMovesNothing) {
  HeadlessOptions o;
  o.batch_size = 0;
  start(o);
  ChangePtoVSummary sum;
  ASSERT_TRUE(ChangePtoV(ctx_, &sum).ok());
  EXPECT_EQ(sum.moved, 0);
  EXPECT_EQ(v_cells(), "");  // group_concat of no rows
}

TEST_F(ChangePtoVTest, MultipleCoresMoveOnlyTheChosenAspectAndSide) {
  HeadlessOptions o;
  o.aspect = "Flank";
  o.side = "R";
  start(o);
  ASSERT_TRUE(ChangePtoV(ctx_).ok());
  EXPECT_EQ(v_cells(), "B1_1FL B2_1FL B3_1FL");
}

TEST_F(ChangePtoVTest, RealTimeMovesOnlyTheExtractJustSaved) {
  start();
  panel_.set_checked("optBatchCompare", false);
  panel_.set_checked("optInField", true);
  ASSERT_TRUE(ws_.db
                  ->query("current", "SELECT cell FROM cells WHERE cell='A3_1FL'",
                          &ctx_.extraction.current_image_row)
                  .ok());
  ChangePtoVSummary sum;
  ASSERT_TRUE(ChangePtoV(ctx_, &sum).ok());
  EXPECT_EQ(v_cells(), "A3_1FL");
  EXPECT_EQ(sum.moved, 1);
}

TEST_F(ChangePtoVTest, ABadBatchSizeChangesNothing) {
  start();
  panel_.set_text("txtNumPend", "many");
  EXPECT_EQ(ChangePtoV(ctx_).code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(v_cells(), "");  // group_concat of no rows
}

TEST_F(ChangePtoVTest, TheStepIsTheSameProcedure) {
  HeadlessOptions o;
  o.batch_size = 1;
  start(o);
  auto sum = std::make_shared<ChangePtoVSummary>();
  runs::RunStep step = change_p_to_v_step(sum);
  ASSERT_TRUE(step(ctx_).ok());
  EXPECT_EQ(v_cells(), "A1_1FL B1_1FL C1_1DO");
  EXPECT_EQ(sum->moved, 3);
}

}  // namespace
}  // namespace velmora::matching
