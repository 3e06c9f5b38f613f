// "visual confirm" through the Start driver runs the review core: Start shows
// the first item, the operator's decisions reach the database, Start ("Next
// image") applies the merges and takes the next item, and the window's
// start-up and closing reach the merge queue.
#include "workstation/app/review_steps.h"

#include <gtest/gtest.h>

#include <string>

#include "workstation/confirm/confirm_test_support.h"
#include "workstation/runs/main_form.h"
#include "workstation/runs/runs_test_workstation.h"
#include "workstation/runs/start_driver.h"

namespace velmora::app {
namespace {

class ReviewStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    review_ = install_review_steps(ws_.ctx.hooks);
    ws_.add_algorithm("a", "tarvik");
    for (const auto& [id, cell, status] : {std::tuple{"P1", "p1FL", "V"},
                                           {"101", "l101FL", "L"},
                                           {"102", "l102FL", "L"},
                                           {"P2", "p2FL", "V"}}) {
      ws_.add_cell(id, cell, "L", status);
      confirm::test_support::write_jpeg(
          ws_.data_folder + "newpic/photo_" + std::string(cell) + ".jpg", 1200, 800);
    }
    db::testing::FixtureBuilder b = ws_.builder();
    for (const auto& [pending, library, score] :
         {std::tuple{"p1FL", "l101FL", 0.9}, {"p1FL", "l102FL", 0.6}, {"p2FL", "l102FL", 0.5}}) {
      Status s = b.add_temp(std::string("img_") + pending, std::string("img_") + library,
                            std::string(pending) + ".a", library, score);
      ASSERT_TRUE(s.ok()) << s.message();
    }
    ws_.panel.set_checked("optVcheck", true);
  }
  std::string ids() {
    return ws_.text(
        "SELECT group_concat(ID, ' ') FROM (SELECT ID FROM encounter ORDER BY encounter_no)");
  }
  void attach() { review_->attach(review_links(ws_.ctx)); }
  void ok(const Status& s) { ASSERT_TRUE(s.ok()) << s.message(); }
  void review_two_items(bool combine);

  runs::testing::TestWorkstation ws_{"review_steps"};
  std::shared_ptr<confirm::CandidateReview> review_;
};

// Start reviews through the core, and Start ("Next image") applies the
// merges before it takes the next item.
void ReviewStepsTest::review_two_items(bool combine) {
  ws_.panel.set_checked("chkComb", combine);
  ok(runs::begin_run(ws_.ctx));
  ASSERT_TRUE(ws_.dialogs.shown().empty()) << ws_.dialogs.shown()[0].text;
  EXPECT_EQ(ws_.panel.text("cmdStart"), "Next image");
  EXPECT_EQ(ws_.ctx.review.reviewed, 1);
  EXPECT_EQ(review_->current_pending_id(), "P1");
  EXPECT_EQ(ws_.panel.text("lblProgress"), "rank 1, best score with animal 101 is 0.9000");
  ASSERT_TRUE(review_->screen().pending_picture.has_value());
  EXPECT_EQ(review_->screen().pending_picture->file, ws_.data_folder + "newpic/photo_p1FL.jpg");

  // The library animal takes the pending one's ID, and P1 joins the library.
  attach();
  review_->lblPendImage_clicked();
  ok(review_->cmdMatch_clicked());
  ok(review_->cmdContinue_clicked());
  ok(review_->cmdSetupChoice_clicked());
  EXPECT_EQ(ws_.panel.text("cmdContinue"), "add this matched photo to library");
  ok(review_->cmdContinue_clicked());
  EXPECT_EQ(ws_.status_of("p1FL"), "L");
  EXPECT_TRUE(ws_.panel.control("cmdStart").visible);
  EXPECT_EQ(ids(), "P1 101 102 P2");

  ok(runs::cmdStart_clicked(ws_.ctx));
  EXPECT_EQ(ids(), "P1 P1 102 P2");
  EXPECT_EQ(review_->current_pending_id(), "P2");
  EXPECT_EQ(ws_.ctx.review.outcome_word, "unmatched");

  ok(review_->cmdSetupChoice_clicked());
  ok(review_->cmdSkip_clicked());
  EXPECT_EQ(ws_.status_of("p2FL"), "R");
  ok(runs::cmdStart_clicked(ws_.ctx));
  EXPECT_TRUE(ws_.dialogs.program_ended());
  EXPECT_TRUE(ws_.dialogs.shown().empty()) << ws_.dialogs.shown()[0].text;
}

TEST_F(ReviewStepsTest, PerExtract) {
  review_two_items(false);
}
TEST_F(ReviewStepsTest, Combined) {
  review_two_items(true);
}

TEST_F(ReviewStepsTest, TheWindowEmptiesTheQueueAtStartUpAndAppliesItWhenClosing) {
  ok(runs::begin_run(ws_.ctx));
  attach();
  ok(review_->cmdMatch_clicked());
  ok(review_->cmdContinue_clicked());  // P1 takes the library ID 101
  ASSERT_EQ(review_->merge_queue().merges().size(), 1u);
  EXPECT_EQ(ids(), "P1 101 102 P2");
  runs::MainForm form(&ws_.ctx);
  form.form_unload();
  EXPECT_EQ(ids(), "101 101 102 P2");
  EXPECT_TRUE(ws_.dialogs.shown().empty()) << ws_.dialogs.shown()[0].text;

  form.form_load();
  EXPECT_TRUE(review_->merge_queue().merges().empty());
}

}  // namespace
}  // namespace velmora::app
