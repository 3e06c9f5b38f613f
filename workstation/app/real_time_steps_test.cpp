// "real-time ident." through the Start driver, the save step, the real move to
// V and the real review core: each saved extract is compared at once (a
// family that scores from a table stands in for the comparison program),
// reviewed, decided, and "Next image" takes the next photograph; the end of
// the list applies the merges.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "workstation/app/comparison_steps.h"
#include "workstation/app/extraction_steps.h"
#include "workstation/app/review_steps.h"
#include "workstation/confirm/confirm_test_support.h"
#include "workstation/runs/real_time.h"
#include "workstation/runs/runs_test_workstation.h"
#include "workstation/runs/start_driver.h"

namespace velmora::app {
namespace {

struct Score {
  const char* library;
  double score;
};

// A workstation in "real-time ident." whose extraction window says OK and
// whose processing saves at once.
struct RealTimeRun {
  explicit RealTimeRun(const std::string& name) : ws("real_time_" + name) {
    ws.add_aspect("flank", "FL", "lateral");
    ws.add_algorithm("a", "tarvik");
    ws.panel.set_checked("optInField", true);
    review = install_review_steps(ws.ctx.hooks);
    runs::RunHooks& h = ws.ctx.hooks;
    h.comparison.change_p_to_v = change_p_to_v_step();
    h.extraction.show_extraction_window = [this](runs::RunContext& c) {
      windows.push_back(c.extraction.current_image_row.text("cell"));
      c.shared_extract.extract_ready = true;
      return Status::Ok();
    };
    h.extraction.run_pipeline = [](runs::RunContext& c) { return extract_saved(c); };
    h.comparison.batch_compare_old_style = [this](runs::RunContext& c) {
      compared.push_back(c.current_cell + " " + ws.status_of(c.current_cell));
      if (!family_fault.ok()) return family_fault;
      db::testing::FixtureBuilder b = ws.builder();
      for (const Score& s : scores[c.current_cell]) {
        Status st = b.add_temp("img_" + c.current_cell, std::string("img_") + s.library,
                               c.current_cell + ".a", s.library, s.score);
        if (!st.ok()) return st;
      }
      c.compared_pending.push_back(c.current_cell);
      return Status::Ok();
    };
  }
  // An extract waiting for extraction or in the library, with its photograph.
  void add(const std::string& id, const std::string& cell, const std::string& state) {
    ws.add_cell(id, cell, "L", state);
    confirm::test_support::write_jpeg(ws.data_folder + "newpic/photo_" + cell + ".jpg", 1200, 800);
  }
  std::string ids() {
    return ws.text(
        "SELECT group_concat(ID, ' ') FROM (SELECT ID FROM encounter ORDER BY encounter_no)");
  }
  std::string shown() {
    std::string all;
    for (const ScriptedDialogs::Shown& m : ws.dialogs.shown()) all += m.text + "\n";
    return all;
  }
  void attach() { review->attach(review_links(ws.ctx)); }

  runs::testing::TestWorkstation ws;
  std::shared_ptr<confirm::CandidateReview> review;
  std::map<std::string, std::vector<Score>> scores;
  Status family_fault;
  std::vector<std::string> windows, compared;
};

void ok(const Status& s) {
  ASSERT_TRUE(s.ok()) << s.message();
}

// Two new photographs of two animals, each reviewed as soon as it is saved:
// the first is matched to library animal 101 and joins the library, the
// second is not added. Per extract and combined give the same database.
void two_photographs(bool combine) {
  RealTimeRun t(combine ? "combined" : "per_extract");
  runs::testing::TestWorkstation& ws = t.ws;
  confirm::CandidateReview& review = *t.review;
  t.add("101", "l101FL", "L");
  t.add("102", "l102FL", "L");
  t.add("P1", "p1FL", "E");
  t.add("P2", "p2FL", "E");
  t.scores = {{"p1FL", {{"l101FL", 0.9}, {"l102FL", 0.6}}}, {"p2FL", {{"l102FL", 0.5}}}};
  ws.panel.set_checked("chkComb", combine);

  ok(runs::begin_run(ws.ctx));
  EXPECT_EQ(t.compared, std::vector<std::string>{"p1FL P"});
  EXPECT_EQ(ws.status_of("p1FL"), "V");
  EXPECT_EQ(ws.status_of("p2FL"), "E");
  EXPECT_EQ(review.current_pending_id(), "P1");
  EXPECT_EQ(ws.panel.text("lblProgress"), "rank 1, best score with animal 101 is 0.9000");
  EXPECT_FALSE(ws.panel.visible("cmdStart"));
  EXPECT_FALSE(ws.panel.visible("picExtract"));
  EXPECT_TRUE(ws.panel.visible("picPendImage"));
  EXPECT_TRUE(ws.panel.visible("cmdSetupChoice"));
  EXPECT_EQ(ws.ctx.review.reviewed, 1);

  t.attach();
  ok(review.cmdMatch_clicked());
  ok(review.cmdContinue_clicked());  // P1 is animal 101
  ok(review.cmdSetupChoice_clicked());
  EXPECT_EQ(ws.panel.text("cmdContinue"), "add this matched photo to library");
  ok(review.cmdContinue_clicked());
  EXPECT_EQ(ws.status_of("p1FL"), "L");
  EXPECT_TRUE(ws.panel.visible("cmdStart"));
  EXPECT_EQ(ws.panel.text("cmdStart"), "Next image");

  ok(runs::cmdStart_clicked(ws.ctx));
  EXPECT_EQ(t.compared, (std::vector<std::string>{"p1FL P", "p2FL P"}));
  EXPECT_FALSE(ws.panel.visible("picExtract"));
  EXPECT_EQ(review.current_pending_id(), "P2");
  EXPECT_EQ(ws.ctx.review.outcome_word, "unmatched");
  t.attach();
  ok(review.cmdSetupChoice_clicked());
  EXPECT_EQ(ws.panel.text("cmdContinue"), "add this unmatched photo to library");
  ok(review.cmdSkip_clicked());
  EXPECT_EQ(ws.status_of("p2FL"), "R");
  // The merge waits for the end of the list.
  EXPECT_EQ(t.ids(), "101 102 P1 P2");

  ok(runs::cmdStart_clicked(ws.ctx));
  EXPECT_TRUE(ws.dialogs.program_ended());
  EXPECT_EQ(t.ids(), "101 102 101 P2");
  EXPECT_EQ(ws.text("SELECT pendingID || ' ' || libraryID || ' ' || rank || ' ' || combined "
                    "FROM scorelog"),
            std::string("P1 101 1 ") + (combine ? "1" : "0"));
  EXPECT_EQ(ws.count("SELECT count(*) FROM temp"), 0);
  EXPECT_EQ(t.windows, (std::vector<std::string>{"p1FL", "p2FL"}));
  EXPECT_TRUE(ws.dialogs.shown().empty()) << t.shown();
}

TEST(RealTime, PerExtract) {
  two_photographs(false);
}
TEST(RealTime, Combined) {
  two_photographs(true);
}

// With "combine" the animal is reviewed once, after its last photograph:
// both its extracts wait in V until then and share the decision.
TEST(RealTime, CombinedWaitsForTheAnimalsLastPhotograph) {
  RealTimeRun t("last_photograph");
  runs::testing::TestWorkstation& ws = t.ws;
  t.add("101", "l101FL", "L");
  t.add("P1", "p1aFL", "E");
  t.add("P1", "p1bFL", "E");
  t.scores = {{"p1aFL", {{"l101FL", 0.4}}}, {"p1bFL", {{"l101FL", 0.7}}}};
  ws.panel.set_checked("chkComb", true);

  ok(runs::begin_run(ws.ctx));
  EXPECT_EQ(ws.status_of("p1aFL"), "V");
  EXPECT_EQ(ws.ctx.review.reviewed, 0);
  EXPECT_TRUE(ws.panel.visible("cmdStart"));
  EXPECT_FALSE(ws.panel.visible("picPendImage"));

  ok(runs::cmdStart_clicked(ws.ctx));
  EXPECT_EQ(t.compared, (std::vector<std::string>{"p1aFL P", "p1bFL P"}));
  EXPECT_EQ(ws.ctx.review.reviewed, 1);
  EXPECT_EQ(t.review->current_pending_id(), "P1");
  EXPECT_EQ(ws.panel.text("lblProgress"), "rank 1, best score with animal 101 is 0.7000");
  t.attach();
  ok(t.review->cmdSetupChoice_clicked());
  ok(t.review->cmdSkip_clicked());
  EXPECT_EQ(ws.status_of("p1aFL"), "R");
  EXPECT_EQ(ws.status_of("p1bFL"), "R");
  ok(runs::cmdStart_clicked(ws.ctx));
  EXPECT_TRUE(ws.dialogs.program_ended());
  EXPECT_EQ(ws.count("SELECT count(*) FROM scorelog"), 0);
  EXPECT_TRUE(ws.dialogs.shown().empty()) << t.shown();
}

// What keeps a saved extract from its review: it stays where it got to, the
// operator is told why, and the run goes on ("Next image") or stops ("Start").
TEST(RealTime, AnExtractThatReachesNoReviewStaysPending) {
  struct Case {
    const char* name;
    std::function<void(RealTimeRun&)> fault;
    const char* message;  // a part of the one message shown
    const char* start;    // Start's caption afterwards
    const char* state;    // of the saved extract
  };
  const Case cases[] = {
      {"no_letter", [](RealTimeRun& t) { t.ws.sql("DELETE FROM algy"); },
       "No comparison of p1FL is waiting for visual checking", "Next image", "P"},
      {"family_fails", [](RealTimeRun& t) { t.family_fault = Status::IOError("tarvikx stopped"); },
       "tarvikx stopped", "Start", "P"},
      {"no_move", [](RealTimeRun& t) { t.ws.ctx.hooks.comparison.change_p_to_v = nullptr; },
       "(P to V) is not available", "Start", "P"},
      {"no_review", [](RealTimeRun& t) { t.ws.ctx.hooks.review.show_next_pending = nullptr; },
       "review of candidates is not available", "Start", "V"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RealTimeRun t(c.name);
    runs::testing::TestWorkstation& ws = t.ws;
    t.add("101", "l101FL", "L");
    t.add("P1", "p1FL", "E");
    t.scores = {{"p1FL", {{"l101FL", 0.9}}}};
    c.fault(t);

    ok(runs::begin_run(ws.ctx));
    ASSERT_EQ(ws.dialogs.shown().size(), 1u) << t.shown();
    EXPECT_NE(ws.dialogs.shown()[0].text.find(c.message), std::string::npos) << t.shown();
    EXPECT_EQ(ws.status_of("p1FL"), c.state);
    EXPECT_EQ(ws.panel.text("cmdStart"), c.start);
    EXPECT_TRUE(ws.panel.visible("cmdStart"));
    EXPECT_FALSE(ws.panel.visible("picPendImage"));
    EXPECT_EQ(ws.ctx.review.reviewed, 0);
    EXPECT_FALSE(ws.dialogs.program_ended());
    EXPECT_EQ(ws.count("SELECT count(*) FROM scorelog"), 0);
  }
}

}  // namespace
}  // namespace velmora::app
