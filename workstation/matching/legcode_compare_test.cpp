// compare_legcodes on a test database: the results file line by line under
// both scores, the import with the move to V, "use multiple cores" and batch
// size 0, results left on disk, a stop, and a damaged waiting file.
#include "workstation/matching/legcode_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "testing/files.h"
#include "workstation/matching/batch_compare.h"
#include "workstation/matching/batch_compare_helpers.h"
#include "workstation/matching/batch_test_support.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;
using batch_testing::BatchWorkspace;

std::vector<std::string> lines_of(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

class LegCodeCompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ws_.status().ok()) << ws_.status().message();
    ASSERT_TRUE(ws_.builder().add_algorithm("a", "tarvik").ok());
    ASSERT_TRUE(ws_.builder().add_algorithm("h", "legcode").ok());
    ASSERT_TRUE(ws_.add_aspect("Flank", "FL", "lateral").ok());
    ASSERT_TRUE(ws_.add_aspect("LegCode", "LC", "Dorsal").ok());
    ASSERT_TRUE(ws_.builder().add_bulk_extracts("P", 4, 1, "LegCode", "LC", "M", "P").ok());
    ASSERT_TRUE(ws_.builder().add_bulk_extracts("L", 3, 1, "LegCode", "LC", "M", "L").ok());
    // P3 and L3 have no codes; P2 has two.
    const std::pair<const char*, const char*> codes[] = {{"P1_1LC", "KR7F"}, {"P2_1LC", "KR7X"},
                                                         {"P2_1LC", "AB"},   {"P4_1LC", "K*7F"},
                                                         {"L1_1LC", "KR7F"}, {"L2_1LC", "ZZ"}};
    for (const auto& [cell, code] : codes) ASSERT_TRUE(ws_.builder().add_code(cell, code).ok());
  }
  void TearDown() override {
    ctx_.drop_database_work();
    ctx_.session.close();
  }

  void start(bool multi_core = false, int batch_size = 200, int fix_legcode = 1) {
    session::RunOptions o = batch_testing::batch_options();
    o.batch_size = batch_size;
    o.multi_core = multi_core;
    if (multi_core) {
      o.chosen_aspect = "LegCode";
      o.chosen_side = "M";
    }
    Status s = batch_testing::start_batch(ctx_, ws_, o, notes_);
    ASSERT_TRUE(s.ok()) << s.message();
    ctx_.settings.fixLegCode_value = static_cast<uint8_t>(fix_legcode);
  }
  Status compare() { return compare_legcodes(ctx_, panel_, dialogs_, &summary_); }

  std::string results() const { return ws_.working_folder + "LegCodeMh_results.txt"; }
  std::string listed() const { return results() + ".listed"; }
  std::string state_of(const std::string& cell) {
    return ws_.text("SELECT AutoMatch FROM cells WHERE cell='" + cell + "'");
  }

  BatchWorkspace ws_{"legcode"};
  std::ostringstream notes_;
  RecordingControlPanel panel_;
  ScriptedDialogs dialogs_;
  session::RunState ctx_;
  LegCodeSummary summary_;
};

// The file a copy under "use multiple cores" leaves, for both scores: each
// pending pair once, then every pending extract against the library, P3 and
// L3 (no codes) left out.
TEST_F(LegCodeCompareTest, ResultsFileUnderBothScores) {
  struct Case {
    int fix_legcode;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {1,
       {"$ pending pending", "P1_1LC,P2_1LC,0.75", "P1_1LC,P4_1LC,0.875", "P2_1LC,P4_1LC,0.625",
        "$ pending library", "P1_1LC,L1_1LC,1", "P1_1LC,L2_1LC,0.25", "P2_1LC,L1_1LC,0.75",
        "P2_1LC,L2_1LC,0.25", "P4_1LC,L1_1LC,0.875", "P4_1LC,L2_1LC,0.375"}},
      // Sliding: the most characters that agree at one shift (KR7F / KR7X 3,
      // KR7X / K*7F 2, against ZZ none).
      {0,
       {"$ pending pending", "P1_1LC,P2_1LC,3", "P1_1LC,P4_1LC,3", "P2_1LC,P4_1LC,2",
        "$ pending library", "P1_1LC,L1_1LC,4", "P1_1LC,L2_1LC,0", "P2_1LC,L1_1LC,3",
        "P2_1LC,L2_1LC,0", "P4_1LC,L1_1LC,3", "P4_1LC,L2_1LC,0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fix_legcode);
    fs::remove(results());
    fs::remove(listed());
    start(true, 200, c.fix_legcode);
    Status s = compare();
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(lines_of(results()), c.lines);
    EXPECT_EQ(lines_of(listed()), (std::vector<std::string>{"P1_1LC", "P2_1LC", "P4_1LC"}));
    EXPECT_EQ(summary_.pairs, 9);
    EXPECT_EQ(summary_.pending_listed, 3);
    EXPECT_EQ(summary_.pending_left_out, 1);
    EXPECT_EQ(summary_.library_extracts, 3);
    EXPECT_EQ(summary_.library_left_out, 1);
    EXPECT_EQ(summary_.imports, 0);
    // Nothing is imported or moved until a run with batch size 0.
    EXPECT_EQ(state_of("P1_1LC"), "P");
    EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 0);
    ctx_.drop_database_work();
    ctx_.session.close();
  }
  ASSERT_FALSE(dialogs_.shown().empty());
  EXPECT_NE(dialogs_.shown().front().text.find("\"P3_1LC\": no leg codes"), std::string::npos);
}

// The plain run imports at once; a copy's file waits for batch size 0. Both
// end alike: the compared extracts in V with their distributions counted,
// P3 (no codes) pending with its distribution row made, the files gone.
TEST_F(LegCodeCompareTest, ImportMovesTheComparedExtractsToV) {
  for (bool multi_core : {false, true}) {
    SCOPED_TRACE(multi_core);
    ASSERT_TRUE(ws_.exec("UPDATE cells SET AutoMatch='P' WHERE cell LIKE 'P%'").ok());
    ASSERT_TRUE(ws_.exec("DELETE FROM distribution").ok());
    ASSERT_TRUE(ws_.exec("DELETE FROM temp").ok());
    start(multi_core);
    Status s = compare();
    ASSERT_TRUE(s.ok()) << s.message();
    if (multi_core) {
      ctx_.drop_database_work();
      ctx_.session.close();
      start(false, 0);
      s = compare();
      ASSERT_TRUE(s.ok()) << s.message();
    }
    EXPECT_FALSE(fs::exists(results()));
    EXPECT_FALSE(fs::exists(listed()));
    EXPECT_EQ(summary_.imports, 1);
    EXPECT_EQ(summary_.result_lines, 9);
    EXPECT_EQ(summary_.moved_to_v, 3);
    for (const char* cell : {"P1_1LC", "P2_1LC", "P4_1LC"}) EXPECT_EQ(state_of(cell), "V") << cell;
    EXPECT_EQ(state_of("P3_1LC"), "P");
    EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution WHERE filename='P3_1LC.h'"), 1);
    // P1 is first in four lines: 0.75 + 0.875 + 1 + 0.25.
    EXPECT_EQ(ws_.count("SELECT Ln FROM distribution WHERE filename='P1_1LC.h'"), 4);
    EXPECT_EQ(ws_.text("SELECT Ls FROM distribution WHERE filename='P1_1LC.h'"), "2.875");
    EXPECT_EQ(ws_.count("SELECT Rn FROM distribution WHERE filename='P4_1LC.h'"), 2);
    EXPECT_GT(ws_.count("SELECT count(*) FROM temp"), 0);
    EXPECT_EQ(ws_.count("SELECT count(*) FROM pretemp"), 0);
    ctx_.drop_database_work();
    ctx_.session.close();
  }
  const std::vector<std::string>& labels = panel_.progress_labels();
  for (const char* label : {"legcodes: adding new distribution records",
                            "comparison of 3 new LegCode strings with each other",
                            "completed all LegCode comparisons"}) {
    EXPECT_NE(std::find(labels.begin(), labels.end(), label), labels.end()) << label;
  }
}

TEST_F(LegCodeCompareTest, OtherCopiesAndEarlierFiles) {
  // A copy of another aspect and side does nothing here.
  {
    session::RunOptions o = batch_testing::batch_options();
    o.multi_core = true;
    o.chosen_aspect = "Flank";
    o.chosen_side = "L";
    ASSERT_TRUE(batch_testing::start_batch(ctx_, ws_, o, notes_).ok());
    ASSERT_TRUE(compare().ok());
    EXPECT_FALSE(summary_.compared);
    EXPECT_FALSE(fs::exists(results()));
    EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution"), 0);
    ctx_.drop_database_work();
    ctx_.session.close();
  }
  // Results on disk stop a copy with the previous-results message.
  ASSERT_TRUE(velmora::testing::write_file(results(), "$ pending pending\n"));
  start(true);
  ASSERT_TRUE(compare().ok());
  EXPECT_TRUE(summary_.stopped_at_previous_results);
  EXPECT_TRUE(dialogs_.program_ended());
  EXPECT_EQ(dialogs_.shown().back().text, previous_results_message("LegCode", "M", "h"));
  EXPECT_EQ(lines_of(results()), std::vector<std::string>{"$ pending pending"});
  ctx_.drop_database_work();
  ctx_.session.close();

  // A plain run sets a file without its list aside, then compares.
  start(false);
  ASSERT_TRUE(compare().ok());
  EXPECT_EQ(lines_of(ws_.working_folder + "LegCodeMh_results.txt.failed"),
            std::vector<std::string>{"$ pending pending"});
  EXPECT_EQ(summary_.imports, 1);
  EXPECT_EQ(state_of("P1_1LC"), "V");
}

// A waiting file whose score no code could give (a damaged line) loses that
// line only; the extracts of its list move to V.
TEST_F(LegCodeCompareTest, WaitingFileWithAScoreOutOfRange) {
  ASSERT_TRUE(velmora::testing::write_file(
      results(), "$ pending library\nP1_1LC,L1_1LC,0.5\nP1_1LC,L2_1LC,99\n"));
  ASSERT_TRUE(velmora::testing::write_file(listed(), "P1_1LC\n"));
  start(false, 0);
  ASSERT_TRUE(compare().ok());
  EXPECT_EQ(summary_.result_lines, 1);
  EXPECT_EQ(summary_.skipped_lines, 1);
  EXPECT_EQ(state_of("P1_1LC"), "V");
  EXPECT_EQ(state_of("P2_1LC"), "P");
  EXPECT_EQ(legcode_score_range(4).high, 4.0);
  EXPECT_EQ(legcode_score_range(0).high, 1.0);  // positional scores reach 1
}

TEST_F(LegCodeCompareTest, StopKeepsThePartialFileAndMovesNothing) {
  start(false);
  panel_.request_stop_after_events(1);
  Status s = compare();
  EXPECT_EQ(s.code(), Status::Code::kCancelled) << s.message();
  EXPECT_FALSE(fs::exists(results()));
  const std::vector<std::string> kept = lines_of(results() + ".failed");
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.front(), "$ pending pending");
  EXPECT_LT(static_cast<int64_t>(kept.size()), 11);
  EXPECT_EQ(state_of("P1_1LC"), "P");
  EXPECT_EQ(ws_.count("SELECT count(*) FROM temp"), 0);
}

}  // namespace
}  // namespace velmora::matching
