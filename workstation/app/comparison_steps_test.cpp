// The window's comparison steps are the subsystems' procedures on the
// window's run: the same lists, the same moves, the same summaries.
#include "workstation/app/comparison_steps.h"

#include <gtest/gtest.h>

#include <sstream>

#include "libs/bristane/key_file.h"
#include "libs/bristane/testing/synthetic_keys.h"
#include "testing/files.h"
#include "workstation/common/console_panel.h"
#include "workstation/common/number_text.h"
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

// In real-time identification every photograph runs every family and its
// review opens at once: the families compare without a summary box.
TEST_F(ComparisonStepsTest, RealTimeComparisonsShowNoSummaryBox) {
  db::testing::FixtureBuilder b = ws_.builder();
  ASSERT_TRUE(b.add_algorithm("h", "legcode").ok());
  ASSERT_TRUE(b.add_bulk_extracts("P", 2, 1, "LegCode", "LC", "M", "P").ok());
  ASSERT_TRUE(b.add_bulk_extracts("L", 1, 1, "LegCode", "LC", "M", "L").ok());
  for (const char* cell : {"P1_1LC", "P2_1LC", "L1_1LC"}) ASSERT_TRUE(b.add_code(cell, "K7").ok());
  start(200);
  ctx_.options.real_time = true;
  runs::RunHooks hooks;
  install_comparison_steps(hooks, std::make_shared<FakeProcessRunner>());
  ASSERT_TRUE(hooks.comparison.compare_legcodes(ctx_).ok());
  EXPECT_EQ(v_cells(), "P1_1LC P2_1LC");
  for (const auto& shown : dialogs_.shown())
    EXPECT_EQ(shown.text.find("is complete"), std::string::npos) << shown.text;
}

// The installed key-point hook runs the family in the shared frame: only
// with its letter, on the sides its walk gives ("Lateral" too has L and R),
// leaving out extracts without a usable key file (they stay pending) and
// moving the compared ones to V with their import.
class KeyPointStepTest : public ComparisonStepsTest {
 protected:
  void SetUp() override {
    ComparisonStepsTest::SetUp();
    db::testing::FixtureBuilder b = ws_.builder();
    ASSERT_TRUE(b.add_algorithm("k", "CompSift").ok());
    ASSERT_TRUE(ws_.add_aspect("Back", "BK", "Lateral").ok());
    ASSERT_TRUE(b.add_bulk_extracts("K", 1, 1, "Back", "BK", "L", "P").ok());
    ASSERT_TRUE(b.add_bulk_extracts("M", 1, 1, "Back", "BK", "L", "L").ok());
    ASSERT_TRUE(b.add_bulk_extracts("L", 1, 1, "Flank", "FL", "L", "L").ok());
    std::filesystem::create_directories(ws_.data_folder + "SiftLib");
    // A1 and its library twin L1 share 20 keys, as K1 and M1 do; A2's key
    // file is damaged; every other extract has none.
    keys("A1_1FL", 3), keys("L1_1FL", 3), keys("K1_1BK", 4), keys("M1_1BK", 4);
    ASSERT_TRUE(velmora::testing::write_file(ws_.data_folder + "SiftLib/A2_1FL", "20 128\nx\n"));
  }
  void keys(const std::string& cell, unsigned seed) {
    ASSERT_TRUE(velmora::testing::write_file(
        ws_.data_folder + "SiftLib/" + cell,
        bristane::key_file_text(bristane::testing::random_keys(20, seed))));
  }
  std::string p_cells() {
    return ws_.text(
        "SELECT group_concat(cell, ' ') FROM (SELECT cell FROM cells WHERE "
        "AutoMatch='P' ORDER BY cell)");
  }
};

TEST_F(KeyPointStepTest, ComparesOnlyWithItsLetterAndMovesWhatItCompared) {
  start(200);
  runs::RunHooks hooks;
  auto sum = std::make_shared<matching::BatchCompareSummary>();
  ComparisonSummaries summaries;
  summaries.key_points = sum;
  install_comparison_steps(hooks, std::make_shared<FakeProcessRunner>(), {}, summaries);
  ASSERT_TRUE(hooks.comparison.compare_sift);

  const std::string letter = ctx_.algorithm_letters.CompSift;
  EXPECT_EQ(letter, "k");
  ctx_.algorithm_letters.CompSift.clear();  // no key-point algorithm
  ASSERT_TRUE(hooks.comparison.compare_sift(ctx_).ok());
  EXPECT_TRUE(dialogs_.shown().empty());
  EXPECT_EQ(v_cells(), "");

  ctx_.algorithm_letters.CompSift = letter;
  Status s = hooks.comparison.compare_sift(ctx_);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(v_cells(), "A1_1FL K1_1BK");
  EXPECT_EQ(p_cells(), "A2_1FL A3_1FL A4_1FL A5_1FL B1_1FL B2_1FL B3_1FL C1_1DO");
  EXPECT_EQ(sum->family, "CompSift");
  EXPECT_EQ(sum->aspect_sides, 4);  // Flank L and R, Dorsal M, Back L
  EXPECT_EQ(sum->pending_listed, 2);
  EXPECT_EQ(sum->pending_missing, 7);
  EXPECT_EQ(sum->pending_unreadable, 1);
  EXPECT_EQ(sum->pairs_compared, 2);  // each with its library twin
  EXPECT_EQ(sum->imports, 2);
  EXPECT_EQ(sum->result_lines, 2);
  EXPECT_EQ(sum->moved_to_v, 2);
  // A distribution row for every pending extract taken, key file or not.
  EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution WHERE filename LIKE '%.k'"), 10);
  EXPECT_FALSE(std::filesystem::exists(ws_.working_folder + "FlankLk_results.txt"));
  ASSERT_FALSE(dialogs_.shown().empty());
  bool named_damaged = false;
  for (const auto& m : dialogs_.shown()) {
    named_damaged = named_damaged || m.text.find("\"A2_1FL\": ") != std::string::npos;
  }
  EXPECT_TRUE(named_damaged);
  const std::string& last = dialogs_.shown().back().text;
  EXPECT_EQ(last.rfind("The key-point comparison is complete.", 0), 0u) << last;
  EXPECT_NE(last.find("(7 left out: no key file or an unusable name)"), std::string::npos) << last;
}

// Under "use multiple cores" the results file waits with its list; its
// lines are the family's: the pending pass, then the library, one pair.
TEST_F(KeyPointStepTest, MultipleCoresLeaveTheResultsFileAndItsList) {
  session::RunOptions o = matching::batch_testing::batch_options();
  o.multi_core = true;
  o.chosen_aspect = "Flank";
  o.chosen_side = "L";
  Status s = matching::batch_testing::start_batch(ctx_, ws_, o, notes_);
  ASSERT_TRUE(s.ok()) << s.message();
  ASSERT_TRUE(compare_sift_step()(ctx_).ok());
  const std::string results = ws_.working_folder + "FlankLk_results.txt";
  EXPECT_EQ(velmora::testing::read_file(results),
            "$ pending pending\n$ pending library\nA1_1FL,L1_1FL," +
                real_to_text(matching::sift_score(20)) + "\n");
  EXPECT_EQ(velmora::testing::read_lines(results + ".listed"), std::vector<std::string>{"A1_1FL"});
  EXPECT_EQ(v_cells(), "");
  // The score range the import admits is the family's.
  EXPECT_TRUE(matching::kSiftScores.admits(matching::sift_score(0)));
  EXPECT_FALSE(matching::kSiftScores.admits(0.0));
}

}  // namespace
}  // namespace velmora::app
