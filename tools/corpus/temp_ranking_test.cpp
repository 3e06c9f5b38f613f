#include "tools/corpus/temp_ranking.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "workstation/db/testing/fixture_database.h"

namespace velmora::corpus {
namespace {

// Library animals A, B, C (IDs as in the database); pending P1..P4 truly
// A, B, C and D (D has no library extract at all).
std::vector<CorpusSighting> truth() {
  return {
      {"A_1_FL", "A", 1, 2, false}, {"A_2_FL", "A", 1, 3, false}, {"B_1_FL", "B", 2, 2, false},
      {"C_1_FL", "C", 3, 2, false}, {"P1_1_FL", "A", 1, 1, true}, {"P2_1_FL", "B", 2, 1, true},
      {"P3_1_FL", "C", 3, 1, true}, {"P4_1_FL", "D", 4, 1, true},
  };
}

TEST(TempRanking, RanksEachPendingExtractByItsAnimalsBestScore) {
  const std::vector<CandidateScore> rows = {
      // P1: A is best at 0.9 but C ties it: ties count against, rank 2.
      {"P1_1_FL.a", "A", 0.9, 2},
      {"P1_1_FL.a", "C", 0.9, 1},
      {"P1_1_FL.a", "B", 0.5, 1},
      // P2: B first; another pending extract's provisional ID is offered too.
      {"P2_1_FL.a", "B", 0.7, 1},
      {"P2_1_FL.a", "U0001", 0.2, 1},
      {"p2_1_fl.A", "a", 0.3, 1},  // names in another case are the same names
      {"P2_1_FL.a", "", 0.99, 1},  // fname names no extract: not a candidate
      // P3: only another animal's rows: not found.
      {"P3_1_FL.a", "A", 0.4, 1},
      // Rows that belong to no pending extract of this letter.
      {"DELIT", "A", 0.8, 3},
      {"P1_1_FL.c", "A", 0.95, 1},
  };
  TempRanking r;
  ASSERT_TRUE(rank_temp(truth(), "a", rows, &r).ok());
  EXPECT_EQ(r.probes, 4);
  EXPECT_EQ(r.with_candidates, 3);
  EXPECT_EQ(r.rank1, 1);
  EXPECT_EQ(r.rank10, 2);
  EXPECT_EQ(r.not_found, 2);
  EXPECT_EQ(r.rows, 13);
  EXPECT_EQ(r.probe_rows, 9);
  EXPECT_EQ(r.other_rows, 4);
  EXPECT_EQ(r.unknown_rows, 1);
  ASSERT_EQ(r.ranked.size(), 4u);
  EXPECT_EQ(r.ranked[0].cell, "P1_1_FL");
  EXPECT_EQ(r.ranked[0].rank, 2);
  EXPECT_EQ(r.ranked[1].rank, 1);
  EXPECT_EQ(r.ranked[2].rank, 0);
  EXPECT_EQ(r.ranked[3].rank, 0);
  // P2's candidates, best first, each ID once with its best score.
  ASSERT_EQ(r.ranked[1].ranked.size(), 3u);
  EXPECT_EQ(r.ranked[1].ranked[0], std::make_pair(std::string("B"), 0.7));
  EXPECT_EQ(r.ranked[1].ranked[1], std::make_pair(std::string("a"), 0.3));
  EXPECT_EQ(r.ranked[1].ranked[2].first, "U0001");

  const std::string text = format_temp_ranking(r, 2, 2);
  EXPECT_NE(text.find("rank-1 identification rate: 25.0 % (1 of 4)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("rank-10 identification rate: 50.0 % (2 of 4)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("own animal without any temp row: 2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("P2_1_FL (truly B, rank 1)"), std::string::npos) << text;
  EXPECT_NE(text.find(" 1. B            0.7000 *\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("P3_1_FL"), std::string::npos) << "only the first two are shown\n" << text;
  EXPECT_EQ(text.find("U0001"), std::string::npos) << "only the best two candidates\n" << text;
}

// Each pending extract is counted under the side its fit recorded; the sides
// add up to the overall rates, and one without a side is counted apart.
TEST(TempRanking, RatesPerSideAddUpToTheOverallRates) {
  const std::vector<CandidateScore> rows = {
      {"P1_1_FL.a", "A", 0.9, 1}, {"P1_1_FL.a", "B", 0.5, 1},  // L, rank 1
      {"P2_1_FL.a", "C", 0.7, 1}, {"P2_1_FL.a", "B", 0.6, 1},  // R, rank 2
      {"P3_1_FL.a", "C", 0.8, 1},                              // l, rank 1
      {"P4_1_FL.a", "A", 0.4, 1},                              // no side, not found
  };
  const SideOfCell sides = {{"p1_1_fl", "L"}, {"p2_1_fl", "R"}, {"p3_1_fl", "l"}, {"p4_1_fl", ""}};
  TempRanking r;
  ASSERT_TRUE(rank_temp(truth(), "a", rows, &r, sides).ok());
  struct Expected {
    std::string side;
    int probes, with_candidates, rank1, rank10;
  };
  const std::vector<Expected> expected = {{"L", 2, 2, 2, 2}, {"R", 1, 1, 0, 1}, {"", 1, 1, 0, 0}};
  ASSERT_EQ(r.sides.size(), expected.size());
  SideRates sum;
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("side '" + expected[i].side + "'");
    EXPECT_EQ(r.sides[i].side, expected[i].side);
    EXPECT_EQ(r.sides[i].probes, expected[i].probes);
    EXPECT_EQ(r.sides[i].with_candidates, expected[i].with_candidates);
    EXPECT_EQ(r.sides[i].rank1, expected[i].rank1);
    EXPECT_EQ(r.sides[i].rank10, expected[i].rank10);
    sum.probes += r.sides[i].probes;
    sum.rank1 += r.sides[i].rank1;
    sum.rank10 += r.sides[i].rank10;
  }
  EXPECT_EQ(sum.probes, r.probes);
  EXPECT_EQ(sum.rank1, r.rank1);
  EXPECT_EQ(sum.rank10, r.rank10);

  const std::string text = format_temp_ranking(r, 0, 0);
  EXPECT_NE(text.find("rank-1 identification rate: 50.0 % (2 of 4)\n"
                      "rank-10 identification rate: 75.0 % (3 of 4)\n"
                      "  side L: rank-1 100.0 % (2 of 2), rank-10 100.0 % (2 of 2), with "
                      "candidates 2\n"
                      "  side R: rank-1 0.0 % (0 of 1), rank-10 100.0 % (1 of 1), with "
                      "candidates 1\n"
                      "  no side recorded: rank-1 0.0 % (0 of 1), rank-10 0.0 % (0 of 1), with "
                      "candidates 1\n"),
            std::string::npos)
      << text;

  // Without sides every pending extract is counted apart; L and R stay in
  // the report, empty.
  ASSERT_TRUE(rank_temp(truth(), "a", rows, &r).ok());
  ASSERT_EQ(r.sides.size(), 3u);
  EXPECT_EQ(r.sides[0].probes + r.sides[1].probes, 0);
  EXPECT_EQ(r.sides[2].probes, 4);
  EXPECT_NE(format_temp_ranking(r, 0, 0).find("  side R: rank-1 0.0 % (0 of 0)"),
            std::string::npos);
}

TEST(TempRanking, RankTenIsTheBoundary) {
  // Probe P1 (truly A) with 9 better animals ranks 10; P2 (truly B) with 10
  // better ranks 11.
  std::vector<CandidateScore> rows = {{"P1_1_FL.a", "A", 0.5, 1}, {"P2_1_FL.a", "B", 0.5, 1}};
  for (int k = 0; k < 10; ++k) {
    const std::string other = "X" + std::to_string(k);
    if (k < 9) rows.push_back({"P1_1_FL.a", other, 0.6 + 0.01 * k, 1});
    rows.push_back({"P2_1_FL.a", other, 0.6 + 0.01 * k, 1});
  }
  TempRanking r;
  ASSERT_TRUE(rank_temp(truth(), "a", rows, &r).ok());
  EXPECT_EQ(r.ranked[0].rank, 10);
  EXPECT_EQ(r.ranked[1].rank, 11);
  EXPECT_EQ(r.rank1, 0);
  EXPECT_EQ(r.rank10, 1);
}

TEST(TempRanking, RefusesATruthWithAPendingCellTwice) {
  std::vector<CorpusSighting> t = truth();
  t.push_back({"p1_1_fl", "B", 2, 1, true});
  TempRanking r;
  const Status s = rank_temp(t, "a", {}, &r);
  EXPECT_EQ(s.code(), Status::Code::kCorruption);
  EXPECT_NE(s.message().find("twice"), std::string::npos) << s.message();
}

// A hand-made database: the candidates come from temp through cells, image
// and encounter, grouped as visual confirmation groups them.
TEST(TempRanking, ReadsTempThroughTheExtractsAnimals) {
  std::unique_ptr<db::Database> db;
  ASSERT_TRUE(db::testing::make_empty_database(":memory:", &db).ok());
  db::testing::FixtureBuilder b(db.get());
  std::string letter;
  std::vector<CandidateScore> rows;
  Status s = read_temp_candidates(db.get(), &letter, &rows);
  EXPECT_EQ(s.code(), Status::Code::kNotFound) << "no tarvik letter yet";

  ASSERT_TRUE(b.add_algorithm("t", "tarvik").ok());
  ASSERT_TRUE(b.add_algorithm("c", "compnew_corr").ok());
  for (const auto& [id, image, cell] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"A", "A_1", "A_1_FL"},
           {"A", "A_2", "A_2_FL"},
           {"B", "B_1", "B_1_FL"},
           {"U0001", "P1_1", "P1_1_FL"},
           {"U0002", "P2_1", "P2_1_FL"}}) {
    int64_t encounter = 0;
    ASSERT_TRUE(b.add_encounter(id, "", "", &encounter).ok());
    ASSERT_TRUE(b.add_image(image, encounter, 1, image, "").ok());
    ASSERT_TRUE(b.add_cell(cell, image, "Flank", "L", "V").ok());
  }
  ASSERT_TRUE(b.add_temp("P1_1", "A_1", "P1_1_FL.t", "A_1_FL", 0.75).ok());
  ASSERT_TRUE(b.add_temp("P1_1", "A_2", "P1_1_FL.t", "A_2_FL", 0.5).ok());
  ASSERT_TRUE(b.add_temp("P1_1", "B_1", "P1_1_FL.t", "B_1_FL", 0.625).ok());
  ASSERT_TRUE(b.add_temp("P2_1", "P1_1", "P2_1_FL.t", "P1_1_FL", 0.875).ok());
  ASSERT_TRUE(b.add_temp("P2_1", "B_1", "P2_1_FL.t", "B_1_FL", 0.25).ok());
  ASSERT_TRUE(b.add_temp("P2_1", "Q_1", "P2_1_FL.t", "Q_1_FL", 0.5).ok());  // no such extract

  s = read_temp_candidates(db.get(), &letter, &rows);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(letter, "t");
  TempRanking r;
  ASSERT_TRUE(rank_temp(truth(), letter, rows, &r).ok());
  EXPECT_EQ(r.rows, 6);
  EXPECT_EQ(r.unknown_rows, 1);
  ASSERT_EQ(r.ranked.size(), 4u);
  // P1 (truly A): A's best of its two extracts, 0.75, beats B's 0.625.
  EXPECT_EQ(r.ranked[0].rank, 1);
  ASSERT_EQ(r.ranked[0].ranked.size(), 2u);
  // Scores go through single precision: these values are exact in it.
  EXPECT_EQ(r.ranked[0].ranked[0], std::make_pair(std::string("A"), 0.75));
  // P2 (truly B): the other pending extract's provisional ID is offered first.
  EXPECT_EQ(r.ranked[1].rank, 2);
  EXPECT_EQ(r.ranked[1].ranked[0].first, "U0001");
  EXPECT_EQ(r.rank1, 1);
  EXPECT_EQ(r.rank10, 2);
}

// Each family letter is ranked on its own rows: the same temp gives the
// tarvik letter and the key-point letter their own rates, and a letter with
// no rows says so instead of a rate of 0.
TEST(TempRanking, RatesPerFamilyLetterRankEachLetterOnItsOwnRows) {
  std::unique_ptr<db::Database> db;
  ASSERT_TRUE(db::testing::make_empty_database(":memory:", &db).ok());
  db::testing::FixtureBuilder b(db.get());
  // Inserted out of batch order, without a spot letter.
  ASSERT_TRUE(b.add_algorithm("k", "CompSift").ok());
  ASSERT_TRUE(b.add_algorithm("t", "tarvik").ok());
  ASSERT_TRUE(b.add_algorithm("c", "compnew_corr").ok());
  std::vector<AlgorithmLetter> letters;
  ASSERT_TRUE(read_family_letters(db.get(), &letters).ok());
  std::vector<std::string> got;
  for (const AlgorithmLetter& f : letters) got.push_back(f.type + "=" + f.letter);
  EXPECT_EQ(got, (std::vector<std::string>{"tarvik=t", "compnew_corr=c", "CompSift=k"}));

  // P1 truly A, P2 truly B: tarvik finds P1 first and P2 second, the key
  // points find both first; the correlation letter has no rows.
  const std::vector<CandidateScore> rows = {{"P1_1_FL.t", "A", 0.9, 1}, {"P1_1_FL.t", "B", 0.5, 1},
                                            {"P2_1_FL.t", "A", 0.9, 1}, {"P2_1_FL.t", "B", 0.5, 1},
                                            {"P1_1_FL.k", "A", 0.7, 1}, {"P2_1_FL.k", "B", 0.7, 1},
                                            {"P2_1_FL.k", "C", 0.2, 1}};
  std::vector<LetterRates> rates;
  for (const AlgorithmLetter& f : letters) {
    LetterRates r{f, {}};
    ASSERT_TRUE(rank_temp(truth(), f.letter, rows, &r.ranking).ok());
    rates.push_back(r);
  }
  struct Case {
    int rank1, rank10, with_candidates;
  };
  const Case expected[] = {{1, 2, 2}, {0, 0, 0}, {2, 2, 2}};
  ASSERT_EQ(rates.size(), 3u);
  for (size_t i = 0; i < rates.size(); ++i) {
    EXPECT_EQ(rates[i].ranking.rank1, expected[i].rank1) << i;
    EXPECT_EQ(rates[i].ranking.rank10, expected[i].rank10) << i;
    EXPECT_EQ(rates[i].ranking.with_candidates, expected[i].with_candidates) << i;
  }
  EXPECT_EQ(
      format_letter_rates(rates),
      "identification rates per algorithm letter:\n"
      "  t   tarvik       rank-1 25.0 % (1 of 4), rank-10 50.0 % (2 of 4), with candidates 2\n"
      "  c   compnew_corr no temp rows for its 4 pending extracts\n"
      "  k   CompSift     rank-1 50.0 % (2 of 4), rank-10 50.0 % (2 of 4), with candidates 2\n");
}

}  // namespace
}  // namespace velmora::corpus
