#include "workstation/matching/standardise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "workstation/db/testing/fixture_database.h"
#include "workstation/matching/match_probability.h"
#include "workstation/matching/matching_test_support.h"

namespace velmora::matching {
namespace {

using test_support::DistributionCounts;
using test_support::MatchingDbTest;
using test_support::TempRow;

TEST(OrderRule, EvenRoundedScoreKeepsTheOrderOddSwapsIt) {
  EXPECT_TRUE(keeps_order(0.3f));
  EXPECT_FALSE(keeps_order(0.7f));
  EXPECT_TRUE(keeps_order(0.5f));   // half to even: 0
  EXPECT_TRUE(keeps_order(-0.5f));  // -0
  EXPECT_FALSE(keeps_order(-0.7f));
  EXPECT_TRUE(keeps_order(1.5f));  // 2
  EXPECT_TRUE(keeps_order(2.5f));  // 2
  EXPECT_FALSE(keeps_order(3.0f));
  EXPECT_FALSE(keeps_order(0.5000001f));
  EXPECT_TRUE(keeps_order(1e30f));  // far past 2^24 every float is even
}

TEST(ImageName, MarkedNamesLoseSevenCharactersOthersThree) {
  for (const char* mark : {".RW", ".RL", ".LW", ".LL"}) {
    EXPECT_EQ(image_name_of_cell(std::string("IMG_0042") + mark + "01FL"), "IMG_0042") << mark;
  }
  EXPECT_EQ(image_name_of_cell("S101a_FL"), "S101a");
  EXPECT_EQ(image_name_of_cell("IMG.rw01FL"), "IMG.rw0");  // the marks are upper case
  EXPECT_EQ(image_name_of_cell("a.RW"), "");               // shorter than the cut
  EXPECT_EQ(image_name_of_cell("abc"), "");
  EXPECT_EQ(image_name_of_cell(""), "");
}

TEST(PriorMatch, ReadsTheOperatorsText) {
  double p = 0;
  ASSERT_TRUE(parse_prior_match(".005", &p).ok());
  EXPECT_EQ(p, 0.005);
  ASSERT_TRUE(parse_prior_match(" 0.5 ", &p).ok());
  EXPECT_EQ(p, 0.5);
  for (const char* bad : {"", "abc", "1.5", "-0.1", ".005x", "nan"}) {
    EXPECT_FALSE(parse_prior_match(bad, &p).ok()) << bad;
  }
}

class StandardiseTest : public MatchingDbTest {
 protected:
  void SetUp() override {
    MatchingDbTest::SetUp();
    add_extract("201", "P1", "P1_FL");
    add_extract("202", "F1", "F1_FL");
    add_extract("203", "G1", "G1_FL");
    start();
  }

  void stage(const std::string& p, const std::string& f, double score) {
    exec("INSERT INTO pretemp VALUES ('" + std::to_string(number_of(p)) + "', '" +
         std::to_string(number_of(f)) + "', " + std::to_string(score) + ", 'FlankL')");
  }
  void add_stats(double rmu_m, double sig_m, double rmu_n, double sig_n) {
    db::testing::FixtureBuilder b(db_.get());
    ASSERT_TRUE(b.add_stats({kAspect, kLetter, rmu_m, sig_m, rmu_n, sig_n}).ok());
  }
  StandardiseSummary run(bool standardise_scores) {
    ScoringOptions o;
    o.standardise = standardise_scores;
    StandardiseSummary summary;
    Status s =
        standardise(statements_.get(), cells_, kAspect, kSide, kLetter, o, nullptr, &summary);
    EXPECT_TRUE(s.ok()) << s.message();
    return summary;
  }
};

TEST_F(StandardiseTest, WithoutStandardisingTempGetsTheLargestRawScore) {
  add_stats(0.6, 0.1, 0.3, 0.1);  // not read without "standardise"
  stage("P1_FL", "F1_FL", 0.61);
  stage("P1_FL", "F1_FL", 0.64);
  stage("F1_FL", "G1_FL", 0.3);
  exec("INSERT INTO pretemp VALUES ('1', '2', 0.99, 'FlankR')");  // another side
  StandardiseSummary summary = run(false);
  EXPECT_EQ(summary.temp_rows, 2);
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 2u);
  EXPECT_EQ(temp[0].pname, "F1_FL.a");
  EXPECT_EQ(temp[0].fname, "G1_FL");
  EXPECT_FLOAT_EQ(temp[0].score, 0.3f);
  EXPECT_EQ(temp[1].pname, "P1_FL.a");
  EXPECT_EQ(temp[1].imgPname, "P1");
  EXPECT_EQ(temp[1].imgFname, "F1");
  EXPECT_FLOAT_EQ(temp[1].score, 0.64f);
}

TEST_F(StandardiseTest, EqualDensitiesGiveThePriorAndNoNonMatchDensityGivesOne) {
  // Match and non-match laws equal: P(m) itself.
  add_stats(0.5, 0.1, 0.5, 0.1);
  stage("P1_FL", "F1_FL", 0.5);
  run(true);
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_FLOAT_EQ(temp[0].score, 0.005f);

  exec("DELETE FROM temp");
  exec("UPDATE stats SET rmu_match = 0.6, rmu_nonmatch = 0.1, sigma_nonmatch = 0.001");
  exec("UPDATE pretemp SET score = 0.6");
  run(true);
  temp = temp_rows();
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_FLOAT_EQ(temp[0].score, 1.0f);
}

TEST_F(StandardiseTest, ThePriorIsTheOperatorsPm) {
  // Equal laws leave the prior itself, so temp shows which prior was used.
  add_stats(0.5, 0.1, 0.5, 0.1);
  stage("P1_FL", "F1_FL", 0.5);
  ScoringOptions o;
  o.standardise = true;
  o.prior_match = 0.2;
  StandardiseSummary summary;
  ASSERT_TRUE(
      standardise(statements_.get(), cells_, kAspect, kSide, kLetter, o, nullptr, &summary).ok());
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 1u);
  // temp keeps single precision: the prior as a float, within float rounding.
  EXPECT_FLOAT_EQ(temp[0].score, 0.2f);
}

TEST_F(StandardiseTest, ScoreOfPointSevenSwapsWhichColumnsAreReadPointThreeDoesNot) {
  add_stats(0.6, 0.1, 0.2, 0.05);
  // P1 has 20 scores of its own as a first extract (mean 0.3); F1 and G1
  // have none, and nobody has second-extract scores.
  exec("UPDATE distribution SET Ln = 20, Ls = 6, Lss = 2 WHERE filename = 'P1_FL.a'");
  stage("P1_FL", "F1_FL", 0.3);
  stage("P1_FL", "G1_FL", 0.7);
  StandardiseSummary summary = run(true);
  EXPECT_EQ(summary.probability_faults, 0);

  // 0.3 rounds to 0 (even): first = P1 (its L columns), second = F1.
  const float kept =
      static_cast<float>(normscore(0.3f, 0, 0, 0, 20, 6, 2, 0.6, 0.1, 0.2, 0.05, 0, "a", 0.005));
  // 0.7 rounds to 1 (odd): first = G1, second = P1, whose R columns are empty.
  const float swapped =
      static_cast<float>(normscore(0.7f, 0, 0, 0, 0, 0, 0, 0.6, 0.1, 0.2, 0.05, 0, "a", 0.005));
  const float unswapped =
      static_cast<float>(normscore(0.7f, 0, 0, 0, 20, 6, 2, 0.6, 0.1, 0.2, 0.05, 0, "a", 0.005));
  ASSERT_NE(swapped, unswapped);  // the case tells the two readings apart
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 2u);
  EXPECT_EQ(temp[0].fname, "F1_FL");
  EXPECT_FLOAT_EQ(temp[0].score, kept);
  EXPECT_EQ(temp[1].fname, "G1_FL");
  EXPECT_FLOAT_EQ(temp[1].score, swapped);
}

TEST_F(StandardiseTest, PairsWithoutAProbabilityAreKeptWithZero) {
  // No stats row: the match law has no shape. Every pair still gets its row.
  stage("P1_FL", "F1_FL", 0.5);
  stage("P1_FL", "G1_FL", 0.8);
  StandardiseSummary summary = run(true);
  EXPECT_EQ(summary.temp_rows, 2);
  EXPECT_EQ(summary.probability_faults, 2);
  for (const TempRow& t : temp_rows()) EXPECT_EQ(t.score, 0.0);

  // With stats, a staged score of exactly 0 has no logarithm.
  exec("DELETE FROM temp");
  exec("DELETE FROM pretemp");
  add_stats(0.1, 0.1, 0.3, 0.1);
  stage("P1_FL", "F1_FL", 0.0);
  stage("P1_FL", "G1_FL", 0.2);
  summary = run(true);
  EXPECT_EQ(summary.temp_rows, 2);
  EXPECT_EQ(summary.probability_faults, 1);
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 2u);
  EXPECT_EQ(temp[0].score, 0.0);
  EXPECT_GT(temp[1].score, 0.0);
}

TEST_F(StandardiseTest, ScoresBeyondTheSingleRangeNeverBecomeInfinite) {
  // Staged and summed values a single cannot hold: they are stored as the
  // largest single of their sign instead of turning into an infinity that
  // the score column refuses, which would fail every later import.
  const double kMax = static_cast<double>(std::numeric_limits<float>::max());
  struct Case {
    const char* staged;  // SQL text of the staged score
    double temp_score;   // the score temp gets without standardising
  };
  const std::vector<Case> cases = {
      {"3.5e38", kMax}, {"1e39", kMax}, {"1e300", kMax}, {"-1e39", -kMax}, {"0.5", 0.5f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.staged);
    exec("DELETE FROM temp");
    exec("DELETE FROM pretemp");
    exec("INSERT INTO pretemp VALUES ('" + std::to_string(number_of("P1_FL")) + "', '" +
         std::to_string(number_of("F1_FL")) + "', " + c.staged + ", 'FlankL')");
    StandardiseSummary summary = run(false);
    EXPECT_EQ(summary.temp_rows, 1);
    std::vector<TempRow> temp = temp_rows();
    ASSERT_EQ(temp.size(), 1u);
    EXPECT_EQ(temp[0].score, c.temp_score);
  }
  // Standardising reads distribution sums in single precision too.
  add_stats(0.6, 0.1, 0.3, 0.1);
  exec("UPDATE distribution SET Ln = 3, Ls = -1e39, Lss = 1e300, Rn = 3, Rs = 3.5e38, Rss = 1e39");
  exec("DELETE FROM temp");
  exec("DELETE FROM pretemp");
  stage("P1_FL", "F1_FL", 0.5);
  StandardiseSummary summary = run(true);
  EXPECT_EQ(summary.temp_rows, 1);
  std::vector<TempRow> temp = temp_rows();
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_TRUE(std::isfinite(temp[0].score));
}

TEST_F(StandardiseTest, StagedCellNumbersMissingFromTheDirectoryAreCounted) {
  exec("INSERT INTO pretemp VALUES ('99999', '1', 0.5, 'FlankL')");
  stage("P1_FL", "F1_FL", 0.5);
  StandardiseSummary summary = run(false);
  EXPECT_EQ(summary.unknown_cell_pairs, 1);
  EXPECT_EQ(summary.temp_rows, 1);
}

}  // namespace
}  // namespace velmora::matching
