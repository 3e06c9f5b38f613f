// The library's statistics on a data folder, whose own calibration (made
// before its database, from the plan) is the reference: the same library
// read back from the database must give the same row.
#include "tools/corpus/library_stats.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "testing/files.h"
#include "testing/in_temp_folder.h"
#include "tools/corpus/data_folder.h"
#include "tools/corpus/identification_rates.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;
using testing::read_file;

class LibraryStats : public testing::InTempFolder {
 protected:
  // A data folder of 8 animals; its calibration set aside so that the
  // library's can be made in its place.
  void SetUp() override {
    o_.corpus.animals = 8;
    o_.corpus.sightings = 3;
    o_.corpus.seed = 5;
    o_.calibration_animals = 8;
    ASSERT_TRUE(write_data_folder("d", o_, &made_).ok());
    fs::rename("d/calibration", "d/calibration.made");
    ASSERT_TRUE(db::Database::open("d/seals.sqlite", db::Database::OpenMode::kExisting, &db_).ok());
  }
  void sql(const std::string& text) { ASSERT_TRUE(db_->execute("test", text).ok()) << text; }
  LibraryStatsOptions options(int animals = 8) const {
    LibraryStatsOptions o;
    o.data_folder = "d";
    o.database = "d/seals.sqlite";
    o.calibration_animals = animals;
    return o;
  }
  struct Row {
    int64_t count = 0;
    double rmu_match = 0, sigma_match = 0, rmu_nonmatch = 0, sigma_nonmatch = 0;
  };
  Row stats_row() {
    db::RecordSet rs;
    EXPECT_TRUE(db_->query("stats",
                           "SELECT count(*) AS n, rmu_match, sigma_match, rmu_nonmatch, "
                           "sigma_nonmatch FROM stats WHERE aspect='Flank' AND algy_letter='a'",
                           &rs)
                    .ok());
    return {rs.integer("n"), rs.number("rmu_match"), rs.number("sigma_match"),
            rs.number("rmu_nonmatch"), rs.number("sigma_nonmatch")};
  }

  DataFolderOptions o_;
  DataFolderSummary made_;
  std::unique_ptr<db::Database> db_;
};

TEST_F(LibraryStats, TheDataFoldersLibraryGivesTheDataFoldersRow) {
  sql("UPDATE stats SET rmu_match = 0, sigma_match = 0");
  LibraryStatsSummary sum;
  const Status s = write_library_stats(options(), &sum);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(sum.letter, "a");
  EXPECT_EQ(sum.library, 16);
  EXPECT_EQ(sum.without_side + sum.without_fingerprint, 0);
  // The same pairs, compared with the same run file: the same scores.
  EXPECT_EQ(read_file("d/calibration/first_L.txt"), read_file("d/calibration.made/first.txt"));
  EXPECT_EQ(read_file("d/calibration/second_L.txt"), read_file("d/calibration.made/second.txt"));
  EXPECT_EQ(sum.calibration.match.count, made_.calibration.match.count);
  EXPECT_EQ(sum.calibration.nonmatch.count, made_.calibration.nonmatch.count);
  const Row row = stats_row();
  EXPECT_EQ(row.count, 1) << "the row is replaced, not added";
  EXPECT_DOUBLE_EQ(row.rmu_match, made_.calibration.match.mean);
  EXPECT_DOUBLE_EQ(row.sigma_match, made_.calibration.match.sigma);
  EXPECT_DOUBLE_EQ(row.rmu_nonmatch, made_.calibration.nonmatch.mean);
  EXPECT_DOUBLE_EQ(row.sigma_nonmatch, made_.calibration.nonmatch.sigma);

  // A second run would mix its results into the first's: refused, the row
  // kept.
  const Status again = write_library_stats(options(), &sum);
  EXPECT_NE(again.message().find("exists already"), std::string::npos) << again.message();
  EXPECT_DOUBLE_EQ(stats_row().rmu_match, made_.calibration.match.mean);
}

// Sides as the fits recorded them, extracts not fitted or without a
// fingerprint, and pending extracts: only same-side library pairs are
// compared.
TEST_F(LibraryStats, ComparesLibraryPairsSideBySideAndLeavesOutTheUnextracted) {
  sql("UPDATE cells SET side = 'R' WHERE cell LIKE 'GS0001%' OR cell LIKE 'GS0002%' OR "
      "cell LIKE 'GS0003%'");
  sql("UPDATE cells SET side = NULL WHERE cell = 'GS0004_03_FL'");
  fs::remove("d/oldlib/GS0005_02_FL");
  LibraryStatsSummary sum;
  const Status s = write_library_stats(options(2), &sum);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(sum.library, 16);
  EXPECT_EQ(sum.without_side, 1);
  EXPECT_EQ(sum.without_fingerprint, 1);
  ASSERT_EQ(sum.groups.size(), 2u);
  EXPECT_EQ(sum.groups[0].side, "R");
  EXPECT_EQ(sum.groups[0].first, (std::vector<std::string>{"GS0001_02_FL", "GS0002_02_FL"}));
  EXPECT_EQ(sum.groups[0].second, (std::vector<std::string>{"GS0001_03_FL", "GS0002_03_FL"}));
  EXPECT_EQ(sum.groups[1].side, "L");
  EXPECT_EQ(sum.groups[1].first, (std::vector<std::string>{"GS0006_02_FL", "GS0007_02_FL"}));
  EXPECT_EQ(read_file("d/calibration/first_R.txt"), "GS0001_02_FL\nGS0002_02_FL\n");

  // Every result line pairs two extracts of one side.
  std::set<std::string> right, left;
  for (const std::string& c : sum.groups[0].first) right.insert(c);
  for (const std::string& c : sum.groups[0].second) right.insert(c);
  for (const std::string& c : sum.groups[1].first) left.insert(c);
  for (const std::string& c : sum.groups[1].second) left.insert(c);
  std::ifstream results("d/calibration/results.txt", std::ios::binary);
  std::string line;
  int lines = 0;
  while (std::getline(results, line)) {
    std::string_view a, b;
    double score = 0;
    if (!parse_result_line(line, &a, &b, &score)) continue;
    ++lines;
    const bool both_right = right.count(std::string(a)) && right.count(std::string(b));
    const bool both_left = left.count(std::string(a)) && left.count(std::string(b));
    EXPECT_TRUE(both_right || both_left) << line;
  }
  EXPECT_GT(lines, 0);
  // Two animals per side, both ways.
  EXPECT_EQ(sum.calibration.match.count + sum.calibration.missing_matches, 8);
  EXPECT_EQ(stats_row().rmu_match, sum.calibration.match.mean);
}

TEST_F(LibraryStats, ALibraryNotYetFittedHasNoStatistics) {
  sql("UPDATE cells SET side = NULL");
  LibraryStatsSummary sum;
  const Status s = write_library_stats(options(), &sum);
  EXPECT_EQ(s.code(), Status::Code::kInvalidArgument);
  EXPECT_NE(s.message().find("16 library extracts, 16 without a side"), std::string::npos)
      << s.message();
  EXPECT_FALSE(fs::exists("d/calibration/results.txt"));
  LibraryStatsOptions o = options();
  o.aspect = "Head";
  EXPECT_NE(write_library_stats(o, &sum).message().find("0 library extracts"), std::string::npos);
}

}  // namespace
}  // namespace velmora::corpus
