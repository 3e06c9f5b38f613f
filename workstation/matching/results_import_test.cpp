#include "workstation/matching/results_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "workstation/common/number_text.h"
#include "workstation/db/testing/fixture_database.h"
#include "workstation/matching/matching_test_support.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;
using test_support::DistributionCounts;
using test_support::MatchingDbTest;
using test_support::TempRow;

// Four animals; 101 has two extracts. S103's cell carries the ".RW" mark.
class ImportTest : public MatchingDbTest {
 protected:
  void SetUp() override {
    MatchingDbTest::SetUp();
    add_extract("101", "S101a", "S101a_FL");
    add_extract("101", "S101b", "S101b_FL");
    add_extract("102", "S102a", "S102a_FL");
    add_extract("103", "S103a", "S103a.RW01FL");
    add_extract("104", "S104a", "S104a_FL");
    start();
  }

  ImportRequest request() const {
    ImportRequest r;
    r.working_folder = dir_.string() + "/";
    r.aspect = kAspect;
    r.side = kSide;
    r.letter = kLetter;
    r.cells = &cells_;
    return r;
  }

  Status run(const ImportRequest& r, ImportSummary* summary) {
    return import_results(db_.get(), statements_.get(), r, summary);
  }
  ImportSummary run_ok(const ImportRequest& r) {
    ImportSummary summary;
    Status s = run(r, &summary);
    EXPECT_TRUE(s.ok()) << s.message();
    return summary;
  }

  std::string snapshot() {
    return dump("distribution") + "#" + dump("pretemp") + "#" + dump("temp");
  }
};

TEST_F(ImportTest, LineKindsOrderPairsAndFillDistribution) {
  write_results({"$ pending pending", "S101a_FL,S102a_FL,0.5000,0,0,0,0,0,0,0,0,0.9",
                 "S102a_FL,S101a_FL,0.7000,0,0,0,0,0,0,0,0,0.9", "$ pending library",
                 "S101a_FL,S103a.RW01FL,0.4000,1,1,1,1,1,1,1,1,0.8",
                 "  Error 2: Can't read pending file oldlib/S9_FL!!", "", "$ library pending",
                 "S104a_FL,S102a_FL,0.3000,0,0,0,0,0,0,0,0,0.7"});
  std::vector<std::string> progress;
  ImportRequest r = request();
  r.progress = [&](const std::string& text) { progress.push_back(text); };
  ImportSummary summary = run_ok(r);

  EXPECT_TRUE(summary.committed);
  EXPECT_TRUE(summary.file_deleted);
  EXPECT_FALSE(fs::exists(results_path()));
  EXPECT_EQ(summary.lines, 9);
  EXPECT_EQ(summary.headers, 3);
  EXPECT_EQ(summary.cant_lines, 1);
  EXPECT_EQ(summary.result_lines, 4);
  EXPECT_EQ(summary.counted, 4);
  EXPECT_EQ(summary.staged, 4);
  EXPECT_EQ(summary.skipped_lines(), 0);
  EXPECT_EQ(summary.problems_message(), "");
  EXPECT_EQ(progress, (std::vector<std::string>{
                          "adding a type results for Flank L to distribution and pretemp tables",
                          "making temp table for FlankLa"}));

  // First names count in L, second names in R; sums as the scores add up.
  DistributionCounts d = distribution("S101a_FL.a");
  EXPECT_EQ(d.Ln, 2);
  EXPECT_DOUBLE_EQ(d.Ls, 0.5 + 0.4);
  EXPECT_DOUBLE_EQ(d.Lss, 0.5 * 0.5 + 0.4 * 0.4);
  EXPECT_EQ(d.Rn, 1);
  EXPECT_DOUBLE_EQ(d.Rs, 0.7);
  d = distribution("S102a_FL.a");
  EXPECT_EQ(d.Ln, 1);
  EXPECT_EQ(d.Rn, 2);
  EXPECT_DOUBLE_EQ(d.Rs, 0.5 + 0.3);
  EXPECT_DOUBLE_EQ(d.Rss, 0.5 * 0.5 + 0.3 * 0.3);
  EXPECT_EQ(distribution("S103a.RW01FL.a").Rn, 1);
  EXPECT_EQ(distribution("S104a_FL.a").Ln, 1);
  EXPECT_EQ(distribution("S101b_FL.a").Ln + distribution("S101b_FL.a").Rn, 0);

  // pname is the pending extract: the first name under "pending library",
  // the second under "library pending", the larger name under "pending
  // pending" (both orders land on one pair, with the larger score).
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 3u);
  EXPECT_EQ(temp[0].pname, "S101a_FL.a");
  EXPECT_EQ(temp[0].fname, "S103a.RW01FL");
  EXPECT_EQ(temp[0].imgPname, "S101a");
  EXPECT_EQ(temp[0].imgFname, "S103a");
  EXPECT_FLOAT_EQ(temp[0].score, 0.4f);
  EXPECT_EQ(temp[1].pname, "S102a_FL.a");
  EXPECT_EQ(temp[1].fname, "S101a_FL");
  EXPECT_FLOAT_EQ(temp[1].score, 0.7f);
  EXPECT_EQ(temp[2].pname, "S102a_FL.a");
  EXPECT_EQ(temp[2].fname, "S104a_FL");
  EXPECT_EQ(temp[2].imgFname, "S104a");
  EXPECT_FLOAT_EQ(temp[2].score, 0.3f);
  EXPECT_EQ(count("pretemp"), 0);
}

TEST_F(ImportTest, DistributionAddsOntoEarlierImportsAndSkipsMissingRows) {
  exec(
      "UPDATE distribution SET Ln = 7, Ls = 1.25, Lss = 0.5, Rn = 3, Rs = 0.75, Rss = 0.25 "
      "WHERE filename = 'S101a_FL.a'");
  exec("DELETE FROM distribution WHERE filename = 'S104a_FL.a'");
  write_results({"$ pending library", "S101a_FL,S102a_FL,0.1000", "S101a_FL,S104a_FL,0.3000",
                 "S102a_FL,S101a_FL,0.2000", "s101A_fl,S103a.RW01FL,0.4000"});
  ImportSummary summary = run_ok(request());
  // Each score is added in file order, as one update per line would add it.
  DistributionCounts d = distribution("S101a_FL.a");
  EXPECT_EQ(d.Ln, 7 + 3);
  EXPECT_EQ(d.Ls, ((1.25 + 0.1) + 0.3) + 0.4);
  EXPECT_EQ(d.Lss, ((0.5 + 0.1 * 0.1) + 0.3 * 0.3) + 0.4 * 0.4);
  EXPECT_EQ(d.Rn, 3 + 1);
  EXPECT_EQ(d.Rs, 0.75 + 0.2);
  EXPECT_EQ(d.Rss, 0.25 + 0.2 * 0.2);
  // A file without a distribution row gains none; the pair is still staged.
  EXPECT_FALSE(distribution("S104a_FL.a").found);
  EXPECT_EQ(summary.missing_distribution_rows, 1);
  EXPECT_EQ(summary.staged, 4);
  // A second import of the same lines adds the same again.
  write_results({"S102a_FL,S101a_FL,0.2000"});
  run_ok(request());
  EXPECT_EQ(distribution("S101a_FL.a").Rn, 5);
  EXPECT_EQ(distribution("S101a_FL.a").Rs, (0.75 + 0.2) + 0.2);
}

TEST_F(ImportTest, BothOrdersOfAPendingPairGiveOneRowWithTheLargerScore) {
  write_results({"$ pending pending", "S104a_FL,S102a_FL,0.9000", "S102a_FL,S104a_FL,0.6000",
                 "S101a_FL,S103a.RW01FL,0.2000", "S103a.RW01FL,S101a_FL,0.2500"});
  run_ok(request());
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 2u);
  EXPECT_EQ(temp[0].pname, "S103a.RW01FL.a");
  EXPECT_EQ(temp[0].fname, "S101a_FL");
  EXPECT_FLOAT_EQ(temp[0].score, 0.25f);
  EXPECT_EQ(temp[1].pname, "S104a_FL.a");
  EXPECT_EQ(temp[1].fname, "S102a_FL");
  EXPECT_FLOAT_EQ(temp[1].score, 0.9f);
}

TEST_F(ImportTest, StagedScoreIsEightDecimalsPlusTwoBillionths) {
  // pretemp is emptied at the end of an import: a trigger keeps a copy.
  exec("CREATE TABLE pretemp_log (pname, fname, score, AspectSide)");
  exec(
      "CREATE TRIGGER keep_pretemp AFTER INSERT ON pretemp BEGIN INSERT INTO pretemp_log "
      "VALUES (NEW.pname, NEW.fname, NEW.score, NEW.AspectSide); END");
  write_results(
      {"S101a_FL,S102a_FL,0.123456789", "S101a_FL,S104a_FL,0.5", "S102a_FL,S104a_FL,0.999999996"});
  run_ok(request());
  db::RecordSet rs;
  ASSERT_TRUE(db_->query("log",
                         "SELECT pname, typeof(pname) AS t, fname, score, AspectSide "
                         "FROM pretemp_log ORDER BY rowid",
                         &rs)
                  .ok());
  ASSERT_EQ(rs.row_count(), 3);
  // Without a header, the first name is the pending one.
  EXPECT_EQ(rs.text("pname"), std::to_string(number_of("S101a_FL")));
  EXPECT_EQ(rs.text("t"), "text");
  EXPECT_EQ(rs.text("fname"), std::to_string(number_of("S102a_FL")));
  EXPECT_EQ(rs.text("AspectSide"), "FlankL");
  // The staged values are the decimal texts read by the engine: exact.
  EXPECT_EQ(rs.number("score"), 0.123456792);  // 0.12345679 + 0.000000002
  rs.move_next();
  EXPECT_EQ(rs.number("score"), 0.500000002);
  rs.move_next();
  EXPECT_EQ(rs.number("score"), 1.000000002);  // 0.999999996 rounds up to 1.00000000
}

TEST_F(ImportTest, PairOfOneAnimalIsNeitherCountedNorStaged) {
  write_results({"$ pending library", "S101a_FL,S101b_FL,0.8000", "S101a_FL,S102a_FL,0.6000"});
  ImportSummary summary = run_ok(request());
  EXPECT_EQ(summary.same_animal, 1);
  EXPECT_EQ(summary.counted, 1);
  EXPECT_EQ(distribution("S101a_FL.a").Ln, 1);
  EXPECT_DOUBLE_EQ(distribution("S101a_FL.a").Ls, 0.6);
  EXPECT_EQ(distribution("S101b_FL.a").Rn, 0);
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_EQ(temp[0].fname, "S102a_FL");
}

TEST_F(ImportTest, TestRunStagesOneAnimalsPairAndLeavesDistributionAlone) {
  const std::string before = dump("distribution");
  write_results({"$ pending library", "S101a_FL,S101b_FL,0.8000", "S101a_FL,S102a_FL,0.6000"});
  ImportRequest r = request();
  r.options.test_run = true;
  ImportSummary summary = run_ok(r);
  EXPECT_EQ(summary.same_animal, 0);
  EXPECT_EQ(summary.counted, 0);
  EXPECT_EQ(summary.staged, 2);
  EXPECT_EQ(dump("distribution"), before);
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 2u);
  EXPECT_EQ(temp[0].fname, "S101b_FL");
  EXPECT_EQ(temp[1].fname, "S102a_FL");
}

TEST_F(ImportTest, HeadersOnlyStillStandardisesAndClearsTheAspectSide) {
  // Staged rows left for this aspect and side and for another one.
  const std::string n1 = std::to_string(number_of("S101a_FL"));
  const std::string n2 = std::to_string(number_of("S102a_FL"));
  exec("INSERT INTO pretemp VALUES ('" + n1 + "', '" + n2 + "', 0.42, 'FlankL')");
  exec("INSERT INTO pretemp VALUES ('" + n1 + "', '" + n2 + "', 0.31, 'FlankR')");
  const std::string before = dump("distribution");
  write_results({"$ pending pending", "$ pending library", "$ library pending"});
  ImportSummary summary = run_ok(request());
  EXPECT_EQ(summary.headers, 3);
  EXPECT_EQ(summary.staged, 0);
  EXPECT_EQ(dump("distribution"), before);
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_EQ(temp[0].pname, "S101a_FL.a");
  EXPECT_FLOAT_EQ(temp[0].score, 0.42f);
  ASSERT_EQ(count("pretemp"), 1);
  EXPECT_EQ(count("pretemp WHERE AspectSide = 'FlankR'"), 1);
}

class QuickTest : public ImportTest {
 protected:
  // Four pairs of different animals with scores round the quick limit of
  // the stats row below (0.6 - 3 * 0.1 = 0.3).
  void write_four() {
    write_results({"$ pending library", "S101a_FL,S102a_FL,0.2500", "S101a_FL,S103a.RW01FL,0.3500",
                   "S101a_FL,S104a_FL,-0.1000", "S102a_FL,S103a.RW01FL,0.0000"});
  }
  std::vector<double> staged_scores() {
    std::vector<double> out;
    for (const TempRow& t : temp_rows()) out.push_back(static_cast<float>(t.score));
    std::sort(out.begin(), out.end());
    return out;
  }
  void add_stats() {
    db::testing::FixtureBuilder b(db_.get());
    ASSERT_TRUE(b.add_stats({kAspect, kLetter, 0.6, 0.1, 0.3, 0.1}).ok());
  }
};

TEST_F(QuickTest, QuickWithStatsStagesOnlyScoresAboveTheMatchLimit) {
  add_stats();
  write_four();
  ImportRequest r = request();
  r.options.quick = true;
  ImportSummary summary = run_ok(r);
  EXPECT_EQ(summary.counted, 4);  // every score is counted
  EXPECT_EQ(staged_scores(), (std::vector<double>{0.35f}));
  EXPECT_EQ(distribution("S101a_FL.a").Ln, 3);
}

TEST_F(QuickTest, AScoreAtTheQuickLimitIsNotStaged) {
  // Binary-exact stats: the limit 0.75 - 3 * 0.125 = 0.375 has no rounding.
  db::testing::FixtureBuilder b(db_.get());
  ASSERT_TRUE(b.add_stats({kAspect, kLetter, 0.75, 0.125, 0.3, 0.1}).ok());
  write_results({"$ pending library", "S101a_FL,S102a_FL,0.3750", "S101a_FL,S104a_FL,0.4000"});
  ImportRequest r = request();
  r.options.quick = true;
  ImportSummary summary = run_ok(r);
  EXPECT_EQ(summary.counted, 2);
  EXPECT_EQ(staged_scores(), (std::vector<double>{0.4f}));
}

TEST_F(QuickTest, QuickWithoutStatsStagesPositiveScores) {
  write_four();
  ImportRequest r = request();
  r.options.quick = true;
  run_ok(r);
  EXPECT_EQ(staged_scores(), (std::vector<double>{0.25f, 0.35f}));
}

TEST_F(QuickTest, WithoutQuickScoresOfZeroOrBelowAreCountedNotStaged) {
  add_stats();  // ignored without quick
  write_four();
  ImportSummary summary = run_ok(request());
  EXPECT_EQ(staged_scores(), (std::vector<double>{0.25f, 0.35f}));
  EXPECT_EQ(summary.counted, 4);
  EXPECT_EQ(distribution("S102a_FL.a").Ln, 1);  // the 0.0 pair
  EXPECT_EQ(distribution("S104a_FL.a").Rn, 1);  // the -0.1 pair
  EXPECT_DOUBLE_EQ(distribution("S104a_FL.a").Rs, -0.1);
}

TEST_F(ImportTest, ProblemLinesAreSkippedCountedAndListed) {
  write_results({"$ pending library", "Singular matrix!", "S101a_FL,S102a_FL,0.5000,0,0",
                 "No memory for 64 x 64 X arrayS101a_FL,S104a_FL,0.6000,0,0",
                 "No mem sub_cell ffts", "Check!!", "corr arrays", "S101a_FL,S103a.RW01FL,abc",
                 "No memory for 64 x 64 Y array$ library pending", "S104a_FL,S102a_FL,0.3000"});
  ImportSummary summary = run_ok(request());
  EXPECT_EQ(summary.malformed_lines, 7);
  EXPECT_EQ(summary.headers, 2);
  EXPECT_EQ(summary.staged, 2);
  ASSERT_EQ(summary.skipped.size(), 7u);
  std::vector<int64_t> line_numbers;
  for (const SkippedLine& s : summary.skipped) line_numbers.push_back(s.line_no);
  EXPECT_EQ(line_numbers, (std::vector<int64_t>{2, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(summary.skipped[0].text, "Singular matrix!");
  const std::string msg = summary.problems_message();
  EXPECT_NE(msg.find("7 line(s) of " + results_path() + " were skipped"), std::string::npos) << msg;
  EXPECT_NE(msg.find("line 4: No memory for 64 x 64 X array"), std::string::npos) << msg;

  // The glued header still turned the order round: S102a is the pending one.
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 2u);
  EXPECT_EQ(temp[0].pname, "S101a_FL.a");
  EXPECT_EQ(temp[0].fname, "S102a_FL");
  EXPECT_EQ(temp[1].pname, "S102a_FL.a");
  EXPECT_EQ(temp[1].fname, "S104a_FL");
  EXPECT_EQ(distribution("S104a_FL.a").Ln, 1);  // the glued result was not counted
  EXPECT_DOUBLE_EQ(distribution("S104a_FL.a").Ls, 0.3);
}

TEST_F(ImportTest, UnknownCellsAreSkippedAndNamedLetterCaseIsNot) {
  write_results({"$ pending library", "S101a_FL,GHOST_FL,0.5000", "ghost2,S102a_FL,0.4000",
                 "s101a_fl,S102A_FL,0.6000", "S101a_FL,GHOST_FL,0.5500"});
  ImportSummary summary = run_ok(request());
  EXPECT_EQ(summary.unknown_cell_lines, 3);
  EXPECT_EQ(summary.unknown_cells, (std::vector<std::string>{"GHOST_FL", "ghost2"}));
  EXPECT_EQ(summary.result_lines, 1);
  EXPECT_NE(summary.problems_message().find("GHOST_FL ghost2"), std::string::npos);
  // The name in another letter case finds its cell and its distribution row.
  EXPECT_EQ(distribution("S101a_FL.a").Ln, 1);
  EXPECT_DOUBLE_EQ(distribution("S101a_FL.a").Ls, 0.6);
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_EQ(temp[0].pname, "S101a_FL.a");
}

TEST_F(ImportTest, WindowsLineEndsReadAlike) {
  std::ofstream(results_path(), std::ios::binary)
      << "$ pending library\r\nS101a_FL,S102a_FL,0.5000\r\nS101a_FL,S104a_FL,0.4000\r\n";
  ImportSummary summary = run_ok(request());
  EXPECT_EQ(summary.staged, 2);
  EXPECT_EQ(summary.malformed_lines, 0);
}

TEST_F(ImportTest, ALastLineWithoutItsLineEndIsSkippedAsCutShort) {
  // Each file is a header, a whole result of S101a/S102a, then `tail`: what
  // a comparison stopped by a full disk may leave as its last line.
  const std::string cut = "not ended by a line end: the file was cut short";
  const std::string memory = "memory message of the comparison program";
  struct Case {
    std::string tail;
    int64_t staged;     // rows put into pretemp (the whole result is 1)
    int64_t cut_short;  // lines skipped as cut short
    int64_t malformed;
    std::string reason;  // of the last skipped line; "" when none is skipped
  };
  const std::vector<Case> cases = {
      {"S101a_FL,S104a_FL,0.4", 1, 1, 0, cut},
      {"S101a_FL,S104a_FL,", 1, 1, 0, cut},
      {"S101a_FL,S104a_FL,0.4567,0,0,0,0,0,0,0,0,0.9", 1, 1, 0, cut},
      {"S101a_FL,S10", 1, 1, 0, cut},
      {"$ library pen", 1, 1, 0, cut},
      {"S101a_FL,S104a_FL,0.4\r\n", 2, 0, 0, ""},
      {"S101a_FL,S104a_FL,0.4\n", 2, 0, 0, ""},
      {"S101a_FL,S104a_FL,0.4\r", 2, 0, 0, ""},
      // The comparison program writes its memory messages without a line end.
      {"No memory for 64 x 64 X array", 1, 0, 1, memory},
      {"No memory for 64 x 64 X arr", 1, 1, 0, cut},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    exec("DELETE FROM temp");
    const std::string before = dump("distribution");
    std::ofstream(results_path(), std::ios::binary)
        << "$ pending library\nS101a_FL,S102a_FL,0.5000,0,0\n" + c.tail;
    ImportSummary summary = run_ok(request());
    EXPECT_TRUE(summary.committed);
    EXPECT_EQ(summary.staged, c.staged);
    EXPECT_EQ(summary.cut_short_lines, c.cut_short);
    EXPECT_EQ(summary.malformed_lines, c.malformed);
    EXPECT_EQ(summary.unknown_cell_lines, 0);
    EXPECT_EQ(summary.skipped_lines(), c.cut_short + c.malformed);
    // Only whole results reach distribution: S104a counts once or never.
    EXPECT_EQ(distribution("S104a_FL.a").Rn, c.staged - 1);
    EXPECT_EQ(distribution("S104a_FL.a").Rs, c.staged == 2 ? 0.4 : 0.0);
    const std::string msg = summary.problems_message();
    if (c.reason.empty()) {
      EXPECT_TRUE(summary.skipped.empty());
      EXPECT_EQ(msg, "");
    } else {
      ASSERT_EQ(summary.skipped.size(), 1u);
      EXPECT_EQ(summary.skipped[0].line_no, 3);
      EXPECT_EQ(summary.skipped[0].reason, c.reason);
      EXPECT_NE(msg.find("line 3: " + summary.skipped[0].text + "  [" + c.reason + "]"),
                std::string::npos)
          << msg;
      EXPECT_EQ(msg.find("cut short at the end of the file") != std::string::npos, c.cut_short > 0)
          << msg;
    }
    EXPECT_EQ(distribution("S101a_FL.a").Ln, c.staged);
    exec("UPDATE distribution SET Ln = 0, Ls = 0, Lss = 0, Rn = 0, Rs = 0, Rss = 0");
    EXPECT_EQ(dump("distribution"), before);
  }
}

TEST_F(ImportTest, ScoresOutsideTheFamilysRangeAreSkippedAndListed) {
  const std::string tarvik = "score outside -1 to 1, the range of the comparison family";
  const std::string not_a_number = "result line whose score is not a number";
  const ScoreRange other{0.0, 10.0, std::nullopt};  // a family of another range
  struct Case {
    std::string score;  // of the result S101a / S104a
    ScoreRange range;
    bool imported;
    std::string reason;  // why it was skipped
  };
  const std::vector<Case> cases = {
      {"3.5e38", kTarvikScores, false, tarvik},
      {"-1e39", kTarvikScores, false, tarvik},
      {"1e30", kTarvikScores, false, tarvik},
      {"nan", kTarvikScores, false, not_a_number},
      {"inf", kTarvikScores, false, not_a_number},
      {"-inf", kTarvikScores, false, not_a_number},
      {"1e999", kTarvikScores, false, not_a_number},
      {"1.0000001", kTarvikScores, false, tarvik},
      {"-1.0000001", kTarvikScores, false, tarvik},
      {"-9.98", kTarvikScores, false, tarvik},
      {"-1", kTarvikScores, true, ""},
      {"1", kTarvikScores, true, ""},
      {"0.5", kTarvikScores, true, ""},
      {"1.0000", kTarvikScores, true, ""},
      // The comparison program's mark for a pair without a score.
      {"-9.9900", kTarvikScores, true, ""},
      {"7.5", other, true, ""},
      {"10", other, true, ""},
      {"-0.5", other, false, "score outside 0 to 10, the range of the comparison family"},
      {"-9.9900", other, false, "score outside 0 to 10, the range of the comparison family"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.score + " in " + c.range.text());
    exec("DELETE FROM temp");
    exec("UPDATE distribution SET Ln = 0, Ls = 0, Lss = 0, Rn = 0, Rs = 0, Rss = 0");
    write_results({"$ pending library", "S101a_FL,S102a_FL,0.2500,0,0",
                   "S101a_FL,S104a_FL," + c.score + ",0,0,0,0,0,0,0,0,0.9"});
    ImportRequest r = request();
    r.scores = c.range;
    ImportSummary summary;
    Status s = run(r, &summary);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_TRUE(summary.committed);
    EXPECT_TRUE(summary.file_deleted);
    EXPECT_EQ(summary.result_lines, c.imported ? 2 : 1);
    EXPECT_EQ(summary.skipped_lines(), c.imported ? 0 : 1);
    const double score = c.imported ? real_from_text(c.score).value() : 0.0;
    EXPECT_EQ(distribution("S104a_FL.a").Rn, c.imported ? 1 : 0);
    EXPECT_EQ(distribution("S104a_FL.a").Rs, score);
    EXPECT_EQ(distribution("S101a_FL.a").Ls, 0.25 + score);
    std::vector<TempRow> temp = temp_rows();
    ASSERT_EQ(temp.size(), score > 0.0 ? 2u : 1u);
    EXPECT_EQ(temp[0].fname, "S102a_FL");
    if (score > 0.0) {
      EXPECT_FLOAT_EQ(temp[1].score, static_cast<float>(score));
    }
    if (c.imported) continue;
    ASSERT_EQ(summary.skipped.size(), 1u);
    EXPECT_EQ(summary.skipped[0].line_no, 3);
    EXPECT_EQ(summary.skipped[0].reason, c.reason);
    EXPECT_NE(summary.problems_message().find(c.reason), std::string::npos);

    // The skipped line leaves nothing behind that could stop the next import.
    write_results({"S101a_FL,S104a_FL,0.7000"});
    ImportSummary next = run_ok(request());
    EXPECT_TRUE(next.committed);
    EXPECT_EQ(next.staged, 1);
    EXPECT_EQ(distribution("S104a_FL.a").Rn, 1);
  }
}

TEST_F(ImportTest, FailureAtAnyStagedRowLeavesDatabaseAndFileAsTheyWere) {
  const std::vector<std::string> lines = {"$ pending library", "S101a_FL,S102a_FL,0.5000",
                                          "S101a_FL,S104a_FL,0.4000", "S102a_FL,S104a_FL,0.3000"};
  const std::string before = snapshot();
  for (int k = 0; k < 3; ++k) {
    write_results(lines);
    exec("DROP TRIGGER IF EXISTS fail_pretemp");
    exec(
        "CREATE TRIGGER fail_pretemp BEFORE INSERT ON pretemp WHEN (SELECT count(*) FROM "
        "pretemp) >= " +
        std::to_string(k) + " BEGIN SELECT RAISE(ABORT, 'injected fault'); END");
    ImportSummary summary;
    Status s = run(request(), &summary);
    EXPECT_FALSE(s.ok()) << k;
    EXPECT_NE(s.message().find("injected fault"), std::string::npos) << s.message();
    EXPECT_FALSE(summary.committed);
    EXPECT_TRUE(fs::exists(results_path())) << k;
    EXPECT_EQ(snapshot(), before) << k;
    EXPECT_FALSE(db_->in_transaction());
  }
  exec("DROP TRIGGER fail_pretemp");
  ImportSummary summary = run_ok(request());
  EXPECT_TRUE(summary.file_deleted);
  EXPECT_EQ(temp_rows().size(), 3u);
}

TEST_F(ImportTest, FailureInSumsStandardiseOrClearingRollsEverythingBack) {
  const std::string before = snapshot();
  for (const char* trigger :
       {"CREATE TRIGGER fail BEFORE UPDATE ON distribution BEGIN SELECT RAISE(ABORT, 'no sums'); "
        "END",
        "CREATE TRIGGER fail BEFORE INSERT ON temp BEGIN SELECT RAISE(ABORT, 'no temp'); END",
        "CREATE TRIGGER fail BEFORE DELETE ON pretemp BEGIN SELECT RAISE(ABORT, 'no clear'); "
        "END"}) {
    exec("DROP TRIGGER IF EXISTS fail");
    exec(trigger);
    write_results({"$ pending library", "S101a_FL,S102a_FL,0.5000"});
    ImportSummary summary;
    EXPECT_FALSE(run(request(), &summary).ok()) << trigger;
    EXPECT_EQ(snapshot(), before) << trigger;
    EXPECT_TRUE(fs::exists(results_path()));
  }
}

TEST_F(ImportTest, ReadOnlyDatabaseChangesNothing) {
  std::unique_ptr<db::Database> reader;
  ASSERT_TRUE(db::Database::open(db_->path(), db::Database::OpenMode::kReadOnly, &reader).ok());
  std::unique_ptr<db::PreparedStatements> statements;
  ASSERT_TRUE(
      db::PreparedStatements::prepare(reader.get(), db::StatementOptions{}, &statements).ok());
  write_results({"$ pending library", "S101a_FL,S102a_FL,0.5000"});
  const std::string before = snapshot();
  ImportSummary summary;
  Status s = import_results(reader.get(), statements.get(), request(), &summary);
  EXPECT_FALSE(s.ok());
  EXPECT_FALSE(summary.committed);
  EXPECT_TRUE(fs::exists(results_path()));
  EXPECT_EQ(snapshot(), before);
}

TEST_F(ImportTest, UnreadableResultsFileIsAnErrorAndChangesNothing) {
  fs::create_directory(results_path());  // a folder where the file should be
  const std::string before = snapshot();
  ImportSummary summary;
  Status s = run(request(), &summary);
  EXPECT_EQ(s.code(), Status::Code::kIOError);
  EXPECT_NE(s.message().find(results_path()), std::string::npos);
  EXPECT_EQ(snapshot(), before);
  EXPECT_TRUE(fs::exists(results_path()));
}

TEST_F(ImportTest, MissingResultsFileImportsAsEmpty) {
  ImportSummary summary = run_ok(request());
  EXPECT_FALSE(summary.file_found);
  EXPECT_TRUE(summary.committed);
  EXPECT_FALSE(summary.file_deleted);
  EXPECT_EQ(count("temp"), 0);
}

TEST_F(ImportTest, KeepsTheFileWhenAskedAndLoadsCellsItself) {
  write_results({"S101a_FL,S102a_FL,0.5000"});
  ImportRequest r = request();
  r.delete_after_commit = false;
  r.cells = nullptr;
  ImportSummary summary = run_ok(r);
  EXPECT_TRUE(summary.committed);
  EXPECT_FALSE(summary.file_deleted);
  EXPECT_TRUE(fs::exists(results_path()));
  EXPECT_EQ(summary.staged, 1);
}

TEST_F(ImportTest, RefusesAnOpenTransactionAndUnsafeNames) {
  write_results({"S101a_FL,S102a_FL,0.5000"});
  ASSERT_TRUE(db_->begin().ok());
  ImportSummary summary;
  EXPECT_EQ(run(request(), &summary).code(), Status::Code::kInvalidArgument);
  ASSERT_TRUE(db_->rollback().ok());
  ImportRequest r = request();
  r.aspect = "../Flank";
  EXPECT_EQ(run(r, &summary).code(), Status::Code::kInvalidArgument);
  EXPECT_TRUE(fs::exists(results_path()));
}

}  // namespace
}  // namespace velmora::matching
