#include "tools/corpus/calibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace velmora::corpus {
namespace {

std::string line(const std::string& a, const std::string& b, double score) {
  std::ostringstream s;
  s.setf(std::ios::fixed);
  s.precision(4);
  s << a << "," << b << "," << score << ",1,2,3,4,-5,6,0,0,0.5000\n";
  return s.str();
}

// Mean and sample deviation by the textbook sums, as a reference for the
// two-pass computation.
void reference(const std::vector<double>& v, double* mean, double* sigma) {
  double s = 0, ss = 0;
  for (double x : v) {
    s += x;
    ss += x * x;
  }
  const double n = static_cast<double>(v.size());
  *mean = s / n;
  *sigma = std::sqrt((ss - s * s / n) / (n - 1));
}

const std::map<std::string, std::string> kAnimals = {{"A2", "A"}, {"A3", "A"}, {"B2", "B"},
                                                     {"B3", "B"}, {"C2", "C"}, {"C3", "C"}};

TEST(ScoreStatistics, SeparatesMatchesFromNonMatchesAndCountsTheRest) {
  std::string text = "$ first second\n";
  text += line("A2", "A3", 0.91) + line("A2", "B3", 0.30) + line("A2", "C3", 0.25);
  text += line("B2", "B3", 0.88) + line("B2", "A3", 0.41);
  text += "Singular matrix!\n  Error 2: Can't read pending file X!!\n";
  text += line("Q2", "A3", 0.99);  // a cell of no known animal
  text += "$ second first\n";
  text += line("A3", "A2", 0.93) + line("C3", "B2", 0.12) + "\r\n";
  std::istringstream in(text);
  CalibrationSummary s;
  ASSERT_TRUE(score_statistics(in, kAnimals, 6, &s).ok());
  EXPECT_EQ(s.header_lines, 2);
  EXPECT_EQ(s.other_lines, 2);
  EXPECT_EQ(s.unknown_lines, 1);
  EXPECT_EQ(s.result_lines, 8);
  EXPECT_EQ(s.match.count, 3);
  EXPECT_EQ(s.nonmatch.count, 4);
  EXPECT_EQ(s.expected_matches, 6);
  EXPECT_EQ(s.missing_matches, 3);
  double mean, sigma;
  // The lines carry four decimals, so the references use the same values;
  // 1e-12 allows for the different order of the two computations' sums.
  reference({0.91, 0.88, 0.93}, &mean, &sigma);
  EXPECT_NEAR(s.match.mean, mean, 1e-12);
  EXPECT_NEAR(s.match.sigma, sigma, 1e-12);
  reference({0.30, 0.25, 0.41, 0.12}, &mean, &sigma);
  EXPECT_NEAR(s.nonmatch.mean, mean, 1e-12);
  EXPECT_NEAR(s.nonmatch.sigma, sigma, 1e-12);
}

TEST(ScoreStatistics, RefusesTooFewScoresForASpread) {
  CalibrationSummary s;
  std::istringstream one_match(line("A2", "A3", 0.9) + line("A2", "B3", 0.3) +
                               line("B2", "A3", 0.2));
  Status st = score_statistics(one_match, kAnimals, 2, &s);
  EXPECT_EQ(st.code(), Status::Code::kCorruption);
  EXPECT_NE(st.message().find("1 matching and 2 non-matching"), std::string::npos) << st.message();
  std::istringstream headers_only("$ first second\n$ second first\n");
  EXPECT_FALSE(score_statistics(headers_only, kAnimals, 2, &s).ok());
}

TEST(CalibrationGroups, PairsTheFirstTwoExtractsOfAnAnimalOnOneSide) {
  // A..E in cell order; sides as their fits recorded them.
  const std::vector<LibraryExtract> library = {
      {"A2", "A", "R"}, {"A3", "A", "R"}, {"A4", "A", "R"},  // a third: not used
      {"B2", "B", "L"}, {"B3", "B", "R"},                    // one on each side: no pair
      {"C2", "C", "L"}, {"C3", "C", "L"},                    //
      {"D2", "D", "L"}, {"D3", "D", "L"},                    //
      {"E2", "E", "R"}, {"E3", "E", "R"},                    //
      {"F2", "F", "M"},                                      // alone on its side
  };
  struct Case {
    int max_animals;
    std::vector<CalibrationLists> groups;
  };
  const Case cases[] = {
      {10, {{"R", {"A2", "E2"}, {"A3", "E3"}}, {"L", {"C2", "D2"}, {"C3", "D3"}}}},
      {1, {{"R", {"A2"}, {"A3"}}, {"L", {"C2"}, {"C3"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("at most " + std::to_string(c.max_animals) + " animals per side");
    const std::vector<CalibrationLists> got = calibration_groups(library, c.max_animals);
    ASSERT_EQ(got.size(), c.groups.size());
    for (size_t g = 0; g < got.size(); ++g) {
      EXPECT_EQ(got[g].side, c.groups[g].side);
      EXPECT_EQ(got[g].first, c.groups[g].first);
      EXPECT_EQ(got[g].second, c.groups[g].second);
    }
  }
  EXPECT_TRUE(calibration_groups({{"B2", "B", "L"}, {"B3", "B", "R"}}, 10).empty());
}

class CalibrationFolder : public ::testing::Test {
 protected:
  testing::TempDir temp_{"calibration"};
  const std::filesystem::path root_ = temp_.root();
};

TEST_F(CalibrationFolder, RefusesMissingRunFileUsedResultsAndUnknownCells) {
  CalibrationRun run;
  run.fingerprint_folder = root_.string() + "/";
  run.run_file = (root_ / "absent.ini").string();
  run.results_file = (root_ / "results.txt").string();
  run.groups = {{"L", {"A2"}, {"A3"}}};
  run.animal_of = kAnimals;
  CalibrationSummary s;
  Status st = run_calibration(run, &s);
  EXPECT_EQ(st.code(), Status::Code::kNotFound);
  EXPECT_NE(st.message().find("absent.ini"), std::string::npos) << st.message();
  EXPECT_FALSE(std::filesystem::exists(run.results_file));

  std::ofstream(run.results_file) << "old results\n";
  st = run_calibration(run, &s);
  EXPECT_NE(st.message().find("exists already"), std::string::npos) << st.message();

  run.groups[0].second = {"Z9"};
  st = run_calibration(run, &s);
  EXPECT_EQ(st.code(), Status::Code::kInvalidArgument);
  EXPECT_NE(st.message().find("Z9"), std::string::npos) << st.message();
  run.groups[0].first.clear();
  EXPECT_EQ(run_calibration(run, &s).code(), Status::Code::kInvalidArgument);
}

}  // namespace
}  // namespace velmora::corpus
