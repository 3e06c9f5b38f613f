// Tests of the prepared statements on the standard fixture. Expected rows are
// derived from the fixture's own extract list (standard_extracts()) by plain
// C++ filters, so a statement that selects by the wrong rule disagrees.
#include "workstation/db/statements.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "workstation/db/auto_match.h"
#include "workstation/db/testing/fixture_database.h"

namespace velmora::db {
namespace {

using testing::FixtureExtract;
using testing::standard_algorithms;
using testing::standard_aspects;
using testing::standard_extracts;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
bool same_text(const std::string& a, const std::string& b) {
  return lower(a) == lower(b);
}
std::string last_two(const std::string& s) {
  return s.size() < 2 ? s : s.substr(s.size() - 2);
}
bool nocase_less(const std::string& a, const std::string& b) {
  return lower(a) < lower(b);
}

class StatementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Status s = testing::make_standard_fixture(":memory:", &db_);
    ASSERT_TRUE(s.ok()) << s.message();
    prepare({});
  }
  void prepare(const StatementOptions& o) {
    Status s = PreparedStatements::prepare(db_.get(), o, &st_);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  // Runs a query statement with parameters and returns column `col` of
  // every row, in the statement's order.
  std::vector<std::string> column(const std::string& name,
                                  const std::vector<std::pair<std::string, Value>>& params,
                                  const std::string& col) {
    RecordSet rs = open(name, params);
    std::vector<std::string> out;
    for (rs.move_first(); !rs.eof(); rs.move_next()) out.push_back(rs.text(col));
    return out;
  }
  RecordSet open(const std::string& name,
                 const std::vector<std::pair<std::string, Value>>& params) {
    Statement* stmt = st_->get(name);
    for (const auto& [p, v] : params) {
      Status s = stmt->set(p, v);
      EXPECT_TRUE(s.ok()) << s.message();
    }
    RecordSet rs;
    Status s = stmt->open(&rs);
    EXPECT_TRUE(s.ok()) << s.message();
    return rs;
  }
  int run(const std::string& name, const std::vector<std::pair<std::string, Value>>& params) {
    Statement* stmt = st_->get(name);
    for (const auto& [p, v] : params) {
      Status s = stmt->set(p, v);
      EXPECT_TRUE(s.ok()) << s.message();
    }
    int changes = -1;
    Status s = stmt->execute(&changes);
    EXPECT_TRUE(s.ok()) << s.message();
    return changes;
  }
  std::string status_of(const std::string& cell) {
    RecordSet rs;
    EXPECT_TRUE(
        db_->query("status", "SELECT AutoMatch FROM cells WHERE cell='" + cell + "'", &rs).ok());
    return rs.text("AutoMatch");
  }
  // Reference selection over the fixture list.
  template <typename Pred>
  std::vector<std::string> cells_where(Pred pred, bool sorted) {
    std::vector<std::string> out;
    for (const FixtureExtract& e : standard_extracts()) {
      if (pred(e)) out.push_back(e.cell);
    }
    if (sorted) std::sort(out.begin(), out.end(), nocase_less);
    return out;
  }
  static std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end(), nocase_less);
    return v;
  }

  std::unique_ptr<Database> db_;
  std::unique_ptr<PreparedStatements> st_;
};

// ------------------------------------------------- selection of extracts

TEST_F(StatementsTest, PendingCellsSelectByTheLastTwoLettersOfTheCellName) {
  int checked_nonempty = 0;
  for (const auto& a : standard_aspects()) {
    for (const char* side : {"L", "R", "M"}) {
      auto got =
          column("pending_cells", {{"pAspect_letter", a.aspect_letter}, {"pSide", side}}, "cell");
      auto want = cells_where(
          [&](const FixtureExtract& e) {
            return same_text(last_two(e.cell), a.aspect_letter) && e.side == side &&
                   e.auto_match == "P";
          },
          true);
      EXPECT_EQ(got, want) << a.aspect << " " << side;
      checked_nonempty += !want.empty();
    }
  }
  EXPECT_GE(checked_nonempty, 2);
  // The letters are compared without case: B7_1fl is a Flank extract.
  auto right =
      column("pending_cells", {{"pAspect_letter", std::string("FL")}, {"pSide", "R"}}, "cell");
  EXPECT_NE(std::find(right.begin(), right.end(), "B7_1fl"), right.end());
  // A Dorsal pending extract of a lateral animal is not a Flank extract.
  auto left =
      column("pending_cells", {{"pAspect_letter", std::string("FL")}, {"pSide", "M"}}, "cell");
  EXPECT_TRUE(left.empty());
}

TEST_F(StatementsTest, MultiAspectPendingCellsTakeOnlyTheBatchAnimals) {
  StatementOptions o;
  o.multi_aspect = true;
  prepare(o);
  ASSERT_TRUE(st_->has("pending_ids"));
  ASSERT_TRUE(st_->has("insert_comp_id"));
  ASSERT_TRUE(db_->execute("clear", kDeleteCompIdsSql).ok());
  auto ids = column("pending_ids", {}, "ID");
  std::set<std::string> want_ids;
  for (const auto& e : standard_extracts()) {
    if (e.auto_match == "P") want_ids.insert(e.id);
  }
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()), want_ids);
  ASSERT_GE(ids.size(), 2u);
  // Only the first animal joins the batch.
  EXPECT_EQ(run("insert_comp_id", {{"pID", ids[0]}}), 1);
  for (const char* side : {"L", "R"}) {
    auto got =
        column("pending_cells", {{"pAspect_letter", std::string("FL")}, {"pSide", side}}, "cell");
    auto want = cells_where(
        [&](const FixtureExtract& e) {
          return e.id == ids[0] && same_text(last_two(e.cell), "FL") && e.side == side &&
                 e.auto_match == "P";
        },
        true);
    EXPECT_EQ(got, want) << side;
  }
  // In the test mode the batch is not used.
  o.test_mode = true;
  prepare(o);
  EXPECT_FALSE(st_->has("pending_ids"));
  auto all =
      column("pending_cells", {{"pAspect_letter", std::string("FL")}, {"pSide", "R"}}, "cell");
  EXPECT_EQ(all, cells_where(
                     [](const FixtureExtract& e) {
                       return same_text(last_two(e.cell), "FL") && e.side == "R" &&
                              e.auto_match == "P";
                     },
                     true));
}

TEST_F(StatementsTest, VExtractIsOfferedAsALibraryCandidate) {
  auto got = sorted(
      column("library_cells", {{"pAspect_letter", std::string("FL")}, {"pSide", "L"}}, "cell"));
  auto want = cells_where(
      [](const FixtureExtract& e) {
        return same_text(last_two(e.cell), "FL") && e.side == "L" &&
               (e.auto_match == "L" || e.auto_match == "V");
      },
      true);
  EXPECT_EQ(got, want);
  EXPECT_NE(std::find(got.begin(), got.end(), "102_2FL"), got.end());  // the V extract
  // Pending, scrapped and rejected extracts are no library.
  for (const auto& e : standard_extracts()) {
    if (e.auto_match == "P" || e.auto_match == "S" || e.auto_match == "R") {
      EXPECT_EQ(std::find(got.begin(), got.end(), e.cell), got.end()) << e.cell;
    }
  }
}

TEST_F(StatementsTest, LibraryBySexLeavesOutOnlyTheOppositeSex) {
  for (const std::string opposite : {"unset", "Male", "FEMALE"}) {
    auto got = sorted(
        column("library_cells_by_sex",
               {{"pAspect_letter", std::string("FL")}, {"pSide", "L"}, {"pOppositeSex", opposite}},
               "cell"));
    // An animal of unknown sex (NULL gender) may be either sex: it stays a
    // candidate, or a restricted comparison would lose its matches.
    auto want = cells_where(
        [&](const FixtureExtract& e) {
          return same_text(last_two(e.cell), "FL") && e.side == "L" &&
                 (e.auto_match == "L" || e.auto_match == "V") &&
                 (e.gender.empty() || !same_text(e.gender, opposite));
        },
        true);
    EXPECT_EQ(got, want) << opposite;
  }
  auto with_unset = column(
      "library_cells_by_sex",
      {{"pAspect_letter", std::string("FL")}, {"pSide", "L"}, {"pOppositeSex", "unset"}}, "gender");
  std::set<std::string> genders(with_unset.begin(), with_unset.end());
  EXPECT_TRUE(genders.count("Male") && genders.count("Female"));
  EXPECT_FALSE(genders.count("unset"));
}

TEST_F(StatementsTest, LibraryLimitedToSiteOrLandscape) {
  StatementOptions o;
  o.limit_search = true;
  o.limit_to_site = true;
  prepare(o);
  EXPECT_TRUE(st_->has("library_cells_at_site"));
  EXPECT_FALSE(st_->has("library_cells_at_landscape"));
  EXPECT_FALSE(st_->has("library_cells"));
  auto got = sorted(column("library_cells_at_site",
                           {{"pAspect_letter", std::string("FL")},
                            {"pSide", "L"},
                            {"pSite", std::string("north beach")}},
                           "cell"));
  auto want = cells_where(
      [](const FixtureExtract& e) {
        return same_text(last_two(e.cell), "FL") && e.side == "L" && e.site == "North Beach" &&
               (e.auto_match == "L" || e.auto_match == "V");
      },
      true);
  EXPECT_EQ(got, want);
  ASSERT_FALSE(want.empty());

  o.limit_to_site = false;
  o.limit_to_landscape = true;
  prepare(o);
  ASSERT_TRUE(st_->has("library_cells_at_landscape"));
  // The landscapes reach the sightings only through copy_site_landscape.
  auto before = column(
      "library_cells_at_landscape",
      {{"pAspect_letter", std::string("FL")}, {"pSide", "L"}, {"pLandscape", std::string("Coast")}},
      "cell");
  EXPECT_TRUE(before.empty());
  run("copy_site_landscape", {});
  got = sorted(column(
      "library_cells_at_landscape",
      {{"pAspect_letter", std::string("FL")}, {"pSide", "L"}, {"pLandscape", std::string("Coast")}},
      "cell"));
  want = cells_where(
      [](const FixtureExtract& e) {
        return same_text(last_two(e.cell), "FL") && e.side == "L" && e.landscape == "Coast" &&
               (e.auto_match == "L" || e.auto_match == "V");
      },
      true);
  EXPECT_EQ(got, want);
  ASSERT_FALSE(want.empty());
}

TEST_F(StatementsTest, PendingCellCarriesTheGender) {
  RecordSet rs = open(
      "pending_cell",
      {{"pAspect_letter", std::string("FL")}, {"pCell", std::string("301_1FL")}, {"pSide", "L"}});
  ASSERT_EQ(rs.row_count(), 1);
  EXPECT_EQ(rs.text("gender"), "Male");
  rs = open(
      "pending_cell",
      {{"pAspect_letter", std::string("DO")}, {"pCell", std::string("301_1FL")}, {"pSide", "L"}});
  EXPECT_EQ(rs.row_count(), 0);
}

TEST_F(StatementsTest, ImagesToExtractListsStatusEInCellOrder) {
  RecordSet rs = open("images_to_extract", {});
  auto want = cells_where([](const FixtureExtract& e) { return e.auto_match == "E"; }, true);
  ASSERT_EQ(rs.row_count(), static_cast<int>(want.size()));
  int i = 0;
  for (rs.move_first(); !rs.eof(); rs.move_next(), ++i) EXPECT_EQ(rs.text("cell"), want[i]);
  for (const char* c : {"photo", "image", "image_no", "id", "side", "facing", "AutoMatch",
                        "off_square", "pcb", "scale", "aspect", "tagged", "comments"}) {
    EXPECT_TRUE(rs.has_column(c)) << c;
  }
  rs.move_first();
  EXPECT_EQ(rs.text("photo"), "P" + rs.text("image"));
}

// ---------------------------------------------------------------- review

TEST_F(StatementsTest, ReviewListPairsLegCodeWithLetterHOnly) {
  // Per extract: every V extract with each letter that fits its aspect.
  RecordSet rs = open("review_list", {});
  std::vector<std::pair<std::string, std::string>> got, want;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    got.emplace_back(rs.text("cell"), rs.text("extension"));
  }
  for (const std::string& cell :
       cells_where([](const FixtureExtract& e) { return e.auto_match == "V"; }, true)) {
    std::string aspect;
    for (const auto& e : standard_extracts()) {
      if (e.cell == cell) aspect = e.aspect;
    }
    std::vector<std::string> letters;
    for (const auto& [letter, type] : standard_algorithms()) {
      if (same_text(aspect, "legcode") == (letter == "h")) letters.push_back(letter);
    }
    std::sort(letters.rbegin(), letters.rend());
    for (const auto& l : letters) want.emplace_back(cell, l);
  }
  EXPECT_EQ(got, want);
  // The aspect is stored as "LegCode"; the statement names "legcode".
  int h_rows = 0;
  for (const auto& [cell, ext] : got) h_rows += ext == "h";
  EXPECT_EQ(h_rows, 1);
  ASSERT_TRUE(
      db_->execute("rename", "UPDATE cells SET aspect='LEGCODE' WHERE aspect='LegCode'").ok());
  EXPECT_EQ(open("review_list", {}).row_count(), static_cast<int>(want.size()));

  rs = open("review_item", {{"pCell", std::string("12A_2_LC")}});
  ASSERT_EQ(rs.row_count(), 1);
  EXPECT_EQ(rs.text("extension"), "h");
  rs = open("review_item", {{"pCell", std::string("102_2FL")}});
  EXPECT_EQ(rs.row_count(), static_cast<int>(standard_algorithms().size()) - 1);
  // The extract's letters in the order of the whole list.
  std::vector<std::pair<std::string, std::string>> item, of_cell;
  for (rs.move_first(); !rs.eof(); rs.move_next())
    item.emplace_back(rs.text("cell"), rs.text("extension"));
  for (const auto& row : want)
    if (row.first == "102_2FL") of_cell.push_back(row);
  EXPECT_EQ(item, of_cell);
}

TEST_F(StatementsTest, SetReviewStatusWritesThroughTheView) {
  // Per extract: only the named V extract changes.
  EXPECT_EQ(run("set_review_status", {{"pCell", std::string("102_2FL")}, {"pAutoMatch", "L"}}), 1);
  EXPECT_EQ(status_of("102_2FL"), "L");
  EXPECT_EQ(status_of("12A_2_LC"), "V");
  // A non-V extract is left alone.
  EXPECT_EQ(run("set_review_status", {{"pCell", std::string("101_1FL")}, {"pAutoMatch", "R"}}), 0);
  EXPECT_EQ(status_of("101_1FL"), "L");

  // Combined: all V extracts of the animal, matched by ID in any case.
  StatementOptions o;
  o.combine = true;
  prepare(o);
  EXPECT_EQ(column("review_list", {}, "ID"), std::vector<std::string>{"12A"});
  EXPECT_EQ(column("review_item", {{"pID", std::string("12a")}}, "ID").size(), 1u);
  EXPECT_EQ(run("set_review_status", {{"pID", std::string("12a")}, {"pAutoMatch", "R"}}), 1);
  EXPECT_EQ(status_of("12A_2_LC"), "R");
  EXPECT_EQ(status_of("12A_1_LC"), "L");
  // A status that is no code is refused by the table.
  Statement* s = st_->get("set_review_status");
  ASSERT_TRUE(db_->execute("back", "UPDATE cells SET AutoMatch='V' WHERE cell='12A_2_LC'").ok());
  ASSERT_TRUE(s->set("pID", std::string("12A")).ok());
  ASSERT_TRUE(s->set("pAutoMatch", std::string("Q")).ok());
  EXPECT_FALSE(s->execute().ok());
  EXPECT_EQ(status_of("12A_2_LC"), "V");
}

TEST_F(StatementsTest, PhotosOfIdFollowTheShowCropOption) {
  auto want = cells_where(
      [](const FixtureExtract& e) { return e.id == "102" && e.auto_match != "S"; }, true);
  RecordSet rs = open("photos_of_id", {{"pID", std::string("102")}});
  ASSERT_EQ(rs.row_count(), static_cast<int>(want.size()));
  int i = 0;
  for (rs.move_first(); !rs.eof(); rs.move_next(), ++i) {
    EXPECT_EQ(rs.text("cell"), "Unset1");
    EXPECT_EQ(rs.text("aspect"), "Unset2");
  }
  StatementOptions o;
  o.show_crop = true;
  prepare(o);
  EXPECT_EQ(column("photos_of_id", {{"pID", std::string("102")}}, "cell"), want);
  rs = open("photos_of_id", {{"pID", std::string("102")}});
  for (const char* c : {"photo", "cell", "aspect", "dt", "side", "facing", "comments"}) {
    EXPECT_TRUE(rs.has_column(c)) << c;
  }
}

TEST_F(StatementsTest, LeftAndRightImagesOfAnAnimal) {
  for (const std::string side : {"L", "R"}) {
    auto got = sorted(column(side == "L" ? "left_images_of_id" : "right_images_of_id",
                             {{"pID", std::string("102")}}, "image"));
    std::set<std::string> images;
    for (const auto& e : standard_extracts()) {
      if (e.id == "102" && e.side == side) images.insert(e.image);
    }
    EXPECT_EQ(got, sorted(std::vector<std::string>(images.begin(), images.end()))) << side;
  }
}

// ------------------------------------------------------- candidates in temp

class TempStatementsTest : public StatementsTest {
 protected:
  void SetUp() override {
    StatementsTest::SetUp();
    // Pending 301_1FL against three library extracts of two animals, and
    // B7_1fl against one; scores given as text, as the import writes them.
    add("301_1FL", "101_1FL", "0.40000000");
    add("301_1FL", "12A_1FL", "0.62500000");
    add("301_1FL", "102_2FL", "0.70000001");
    add("301_1DO", "101_1DO", "0.30000000");
    add("B7_1fl", "102_1FL", "0.55000000");
  }
  void add(const std::string& pending, const std::string& library, const std::string& score) {
    auto image_of = [](const std::string& cell) {
      for (const auto& e : standard_extracts()) {
        if (e.cell == cell) return e.image;
      }
      return std::string();
    };
    EXPECT_EQ(run("insert_temp", {{"pImgPname", image_of(pending)},
                                  {"pImgFname", image_of(library)},
                                  {"pPname", pending + ".a"},
                                  {"pFname", library},
                                  {"pScore", score}}),
              1);
  }
};

TEST_F(TempStatementsTest, ScoresAreKeptInSinglePrecision) {
  RecordSet rs = open("all_temp", {});
  ASSERT_EQ(rs.row_count(), 5);
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    double v = rs.number("score");
    EXPECT_EQ(v, static_cast<double>(static_cast<float>(v)));
  }
  Statement* s = st_->get("insert_temp");
  ASSERT_TRUE(s->set("pScore", std::string("not a number")).ok());  // a string parameter
  EXPECT_FALSE(s->execute().ok());  // but the REAL column refuses it
}

TEST_F(TempStatementsTest, BestIdsRankAnimalsByTheirBestScore) {
  RecordSet rs = open("best_ids_for_pending", {{"pPname", std::string("301_1FL.a")}});
  std::vector<std::string> ids;
  for (rs.move_first(); !rs.eof(); rs.move_next()) ids.push_back(rs.text("ID"));
  EXPECT_EQ(ids, (std::vector<std::string>{"102", "12A", "101"}));
  rs.move_first();
  EXPECT_EQ(rs.number("maxOfscore"), static_cast<double>(0.70000001f));

  rs = open("best_ids_for_id", {{"pID", std::string("301")}});
  ids.clear();
  for (rs.move_first(); !rs.eof(); rs.move_next()) ids.push_back(rs.text("ID"));
  EXPECT_EQ(ids, (std::vector<std::string>{"102", "12A", "101"}));
}

TEST_F(TempStatementsTest, TempPairIsFoundAgainByTheScoreReadBack) {
  RecordSet best = open("best_ids_for_id", {{"pID", std::string("301")}});
  best.move_first();
  for (const Value& score :
       {best.field("maxOfscore"), Value(static_cast<double>(static_cast<float>(0.70000001))),
        Value(std::string("0.70000001"))}) {
    RecordSet rs =
        open("temp_pair_for_ids",
             {{"pID1", std::string("301")}, {"pID2", best.text("ID")}, {"pScore", score}});
    // The pending photograph holds two extracts, so the join gives the pair
    // once per extract, as the statement is written.
    ASSERT_GE(rs.row_count(), 1) << as_text(score);
    for (rs.move_first(); !rs.eof(); rs.move_next()) {
      EXPECT_EQ(rs.text("pname"), "301_1FL.a");
      EXPECT_EQ(rs.text("fname"), "102_2FL");
    }
  }
  RecordSet none =
      open("temp_pair_for_ids",
           {{"pID1", std::string("301")}, {"pID2", std::string("102")}, {"pScore", 0.69}});
  EXPECT_EQ(none.row_count(), 0);  // another score finds no pair
}

TEST_F(TempStatementsTest, MarkTempForDeletionTakesEveryPendingImageOfTheAnimal) {
  int marked = run("mark_temp_for_deletion", {{"pID", std::string("301")}});
  EXPECT_EQ(marked, 4);
  RecordSet rs = open("all_temp", {});
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    bool of_301 = rs.text("imgPname").rfind("301_", 0) == 0;
    EXPECT_EQ(rs.text("pname") == "DELIT", of_301) << rs.text("imgPname");
  }
  EXPECT_EQ(run("delete_marked_temp", {}), 4);
  rs = open("all_temp", {});
  ASSERT_EQ(rs.row_count(), 1);
  EXPECT_EQ(rs.text("pname"), "B7_1fl.a");
  EXPECT_EQ(run("delete_temp_of_pending", {{"pPname", std::string("B7_1FL.A")}}), 1);
  EXPECT_EQ(open("all_temp", {}).row_count(), 0);
}

// --------------------------------------------------- merges and statuses

TEST_F(StatementsTest, MergeIdRenamesEveryEncounterAndMother) {
  EXPECT_EQ(run("merge_id", {{"pID1", std::string("102")}, {"pID2", std::string("A12")}}), 1);
  EXPECT_EQ(run("merge_mum_id", {{"pID1", std::string("102")}, {"pID2", std::string("A12")}}), 1);
  EXPECT_EQ(run("mark_automatched", {{"pID", std::string("a12")}}), 2);
  RecordSet rs;
  ASSERT_TRUE(
      db_->query("check", "SELECT count(*) AS n FROM SYSTEM_ImageLinks WHERE ID='102'", &rs).ok());
  EXPECT_EQ(rs.integer("n"), 0);
  ASSERT_TRUE(db_->query("check",
                         "SELECT count(*) AS n FROM encounter WHERE ID='A12' AND "
                         "AutoMatched=1",
                         &rs)
                  .ok());
  EXPECT_EQ(rs.integer("n"), 2);
  ASSERT_TRUE(db_->query("check", "SELECT mum_id FROM encounter WHERE ID='301'", &rs).ok());
  EXPECT_EQ(rs.text("mum_id"), "A12");
  // Applying the same merge again changes nothing.
  EXPECT_EQ(run("merge_id", {{"pID1", std::string("102")}, {"pID2", std::string("A12")}}), 0);
}

TEST_F(StatementsTest, TestSetIsTheAnimalsWhoseIdDoesNotBeginWithADigit) {
  auto in_test_set = [](const FixtureExtract& e) {
    return e.auto_match == "L" && !e.id.empty() && !(e.id[0] >= '1' && e.id[0] <= '9');
  };
  auto test_set = cells_where(in_test_set, true);
  ASSERT_FALSE(test_set.empty());
  int pending = static_cast<int>(
      cells_where([](const FixtureExtract& e) { return e.auto_match == "P"; }, false).size());
  EXPECT_EQ(run("park_pending", {}), pending);
  EXPECT_EQ(run("test_set_to_pending", {}), static_cast<int>(test_set.size()));
  for (const auto& e : standard_extracts()) {
    std::string want = in_test_set(e) ? "P" : e.auto_match == "P" ? "T" : e.auto_match;
    EXPECT_EQ(status_of(e.cell), want) << e.cell;
  }
  EXPECT_EQ(status_of("A12_1FL"), "P");  // "A12" is in the test set
  EXPECT_EQ(status_of("12A_1FL"), "L");  // "12A" is not
  EXPECT_EQ(run("test_set_to_library", {}), static_cast<int>(test_set.size()));
  run("restore_pending", {});
  // Everything is back, except that an extract parked before the run is
  // pending now: restore_pending cannot tell it from the ones it parked.
  for (const auto& e : standard_extracts()) {
    EXPECT_EQ(status_of(e.cell), e.auto_match == "T" ? "P" : e.auto_match) << e.cell;
  }
}

// ------------------------------------------------ distributions and pretemp

TEST_F(StatementsTest, AddDistributionAccumulatesCountSumAndSquares) {
  const std::string file = "101_1FL.a";
  EXPECT_EQ(run("add_distribution_L", {{"pFilename", file}, {"pScore", 0.5}}), 1);
  EXPECT_EQ(run("add_distribution_L", {{"pFilename", file}, {"pScore", std::string("0.25")}}), 1);
  EXPECT_EQ(run("add_distribution_R", {{"pFilename", file}, {"pScore", -1.5}}), 1);
  RecordSet rs = open("distribution_of_file", {{"pFilename", std::string("101_1fl.A")}});
  ASSERT_EQ(rs.row_count(), 1);
  EXPECT_EQ(rs.integer("Ln"), 2);
  EXPECT_DOUBLE_EQ(rs.number("Ls"), 0.75);
  EXPECT_DOUBLE_EQ(rs.number("Lss"), 0.5 * 0.5 + 0.25 * 0.25);
  EXPECT_EQ(rs.integer("Rn"), 1);
  EXPECT_DOUBLE_EQ(rs.number("Rs"), -1.5);
  EXPECT_DOUBLE_EQ(rs.number("Rss"), 2.25);
  // A score that is no number is refused before it reaches the table.
  Statement* s = st_->get("add_distribution_L");
  EXPECT_FALSE(s->set("pScore", std::string("n/a")).ok());
  // A row made for a new file starts at zero, so its first score counts.
  std::unique_ptr<Statement> insert;
  ASSERT_TRUE(prepare_statement(db_.get(), insert_distribution_statement(), &insert).ok());
  ASSERT_TRUE(insert->set("pFilename", std::string("B7_1fl.a")).ok());
  ASSERT_TRUE(insert->execute().ok());
  EXPECT_EQ(run("add_distribution_R", {{"pFilename", std::string("B7_1fl.a")}, {"pScore", 2.0}}),
            1);
  rs = open("distribution_of_file", {{"pFilename", std::string("B7_1fl.a")}});
  EXPECT_EQ(rs.integer("Rn"), 1);
  EXPECT_DOUBLE_EQ(rs.number("Rss"), 4.0);
  EXPECT_EQ(rs.integer("Ln"), 0);
}

TEST_F(StatementsTest, InsertPretempStoresTheScoreAsANumber) {
  const std::string side = "FlankL";
  auto insert = [&](const std::string& p, const std::string& f, const std::string& score) {
    EXPECT_EQ(run("insert_pretemp",
                  {{"pPname", p}, {"pFname", f}, {"pScore", score}, {"pAspectSide", side}}),
              1);
  };
  insert("15", "3", "0.12345679");
  insert("15", "3", "0.50000000");
  insert("15", "4", "0.2");
  ASSERT_EQ(run("insert_pretemp", {{"pPname", std::string("1")},
                                   {"pFname", std::string("2")},
                                   {"pScore", 0.9},
                                   {"pAspectSide", std::string("DorsalM")}}),
            1);
  RecordSet rs = open("best_pretemp_scores", {{"pAspectSide", std::string("flankl")}});
  ASSERT_EQ(rs.row_count(), 2);
  std::map<std::string, double> best;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    best[rs.text("pname") + "," + rs.text("fname")] = rs.number("maxscore");
  }
  EXPECT_DOUBLE_EQ(best["15,3"], 0.5);
  EXPECT_DOUBLE_EQ(best["15,4"], 0.2);
  EXPECT_EQ(run("clear_pretemp", {{"pAspectSide", side}}), 3);
  EXPECT_EQ(open("best_pretemp_scores", {{"pAspectSide", std::string("DorsalM")}}).row_count(), 1);
  // A score that is no number is refused by the REAL column.
  Statement* s = st_->get("insert_pretemp");
  ASSERT_TRUE(s->set("pScore", std::string("high")).ok());
  EXPECT_FALSE(s->execute().ok());
}

TEST_F(StatementsTest, ScorelogTakesTypedValues) {
  std::vector<std::pair<std::string, Value>> row = {
      {"pPendingID", std::string("301")},
      {"pLibraryID", std::string("102")},
      {"pScore", 0.875},
      {"pRank", int64_t{2}},
      {"pStan", int64_t{1}},
      {"pComb", int64_t{0}},
      {"pDate_time", std::string("2024-05-06 07:08:09")}};
  EXPECT_EQ(run("insert_scorelog", row), 1);
  RecordSet rs;
  ASSERT_TRUE(db_->query("check", "SELECT * FROM scorelog", &rs).ok());
  EXPECT_EQ(rs.integer("rank"), 2);
  EXPECT_EQ(rs.integer("standardised"), 1);
  EXPECT_EQ(rs.text("date_time"), "2024-05-06 07:08:09");
  Statement* s = st_->get("insert_scorelog");
  Status bad = s->set("pRank", int64_t{300});
  EXPECT_FALSE(bad.ok());
  EXPECT_NE(bad.message().find("insert_scorelog"), std::string::npos);
  EXPECT_NE(bad.message().find("pRank"), std::string::npos);
}

// --------------------------------------------------- cells and settings

TEST_F(StatementsTest, RenumberingGivesDenseNumbersInCellOrder) {
  auto check_dense = [&] {
    auto names = column("cells_by_name", {}, "cell");
    RecordSet rs = open("cells_by_number", {});
    int n = 0;
    for (rs.move_first(); !rs.eof(); rs.move_next()) {
      ++n;
      EXPECT_EQ(rs.integer("cell_no"), n);
      EXPECT_EQ(rs.text("cell"), names.at(static_cast<size_t>(n - 1)));
    }
    EXPECT_EQ(n, static_cast<int>(names.size()));
    return names;
  };
  ASSERT_TRUE(db_->execute("renumber", kRenumberCellsSql).ok());
  auto names = check_dense();
  EXPECT_EQ(names, cells_where([](const FixtureExtract&) { return true; }, true));
  // A cell added and one removed: the numbers move up and stay dense.
  testing::FixtureBuilder b(db_.get());
  ASSERT_TRUE(b.add_cell("0000_1FL", "101_1", "Flank", "L", "P").ok());
  ASSERT_TRUE(db_->execute("remove", "DELETE FROM cells WHERE cell='A12_2DO'").ok());
  ASSERT_TRUE(db_->execute("renumber", kRenumberCellsSql).ok());
  check_dense();
  RecordSet rs = open("cell_no_of_cell", {{"pCell", std::string("0000_1FL")}});
  EXPECT_EQ(rs.integer("cell_no"), 1);
}

TEST_F(StatementsTest, AspectSettingsIgnoreTheCaseOfTheName) {
  for (const std::string name : {"legcode", "LegCode", "LEGCODE"}) {
    RecordSet rs = open("aspect_settings", {{"pAspect", name}});
    ASSERT_EQ(rs.row_count(), 1) << name;
    EXPECT_EQ(rs.text("aspect_letter"), "LC");
  }
  RecordSet rs = open("aspect_settings", {{"pAspect", std::string("Flank")}});
  ASSERT_EQ(rs.row_count(), 1);
  for (const char* c :
       {"pattern",        "model_fname",     "cell_type",      "dorsal_midline", "adjust_extract",
        "no_order",       "left_right",      "show_n_spots",   "fennick_code",   "scale_special",
        "scale_mid",      "scale_overspill", "scale_mag",      "scale_edge",     "scale_stiff",
        "scale_twist",    "scale_thin",      "from_r",         "to_r",           "step_r",
        "from_theta_deg", "to_theta_deg",    "step_theta_deg", "sigmax_ratio",   "sigmay",
        "all_green",      "merged_only"}) {
    EXPECT_TRUE(rs.has_column(c)) << c;
  }
  EXPECT_DOUBLE_EQ(rs.number("sigmax_ratio"), standard_aspects()[0].sigmax_ratio);
  rs = open("stats_of_algorithm", {{"pAspect", std::string("flank")}, {"pAlgy", std::string("A")}});
  ASSERT_EQ(rs.row_count(), 1);
  EXPECT_DOUBLE_EQ(rs.number("rmu_match"), 0.6);
}

TEST_F(StatementsTest, StatementsRunOnTheSpot) {
  for (const auto& [letter, type] : standard_algorithms()) {
    RecordSet rs;
    ASSERT_TRUE(db_->query("algy", algorithm_lookup_sql(type), &rs).ok());
    ASSERT_EQ(rs.row_count(), 1) << type;
    EXPECT_EQ(rs.text("letter"), letter);
  }
  for (const char* family : kAlgorithmFamilies) {
    EXPECT_NE(algorithm_lookup_sql(family).find(std::string("'") + family + "'"),
              std::string::npos);
  }
  RecordSet rs;
  ASSERT_TRUE(db_->query("aspect list", kAspectListSql, &rs).ok());
  ASSERT_EQ(rs.row_count(), static_cast<int>(standard_aspects().size()));
  int i = 0;
  for (rs.move_first(); !rs.eof(); rs.move_next(), ++i) {
    EXPECT_EQ(rs.text("aspect"), standard_aspects()[i].aspect);  // in the operator's order
  }
  EXPECT_EQ(column("cells_by_name", {}, "cell").size(), standard_extracts().size());
  ASSERT_TRUE(db_->query("sites", kSiteListSql, &rs).ok());
  EXPECT_EQ(rs.row_count(), 3);
  ASSERT_TRUE(db_->query("landscapes", kLandscapeListSql, &rs).ok());
  EXPECT_EQ(rs.row_count(), 2);
  std::unique_ptr<Statement> codes;
  ASSERT_TRUE(prepare_statement(db_.get(), codes_of_cell_statement(), &codes).ok());
  ASSERT_TRUE(codes->set("pCell", std::string("12a_1_lc")).ok());
  ASSERT_TRUE(codes->open(&rs).ok());
  EXPECT_EQ(rs.row_count(), 2);
  ASSERT_TRUE(db_->execute("batch", kDeleteCompIdsSql).ok());
}

// ------------------------------------------------------- the catalogue

TEST(CatalogueTest, OptionsChooseExactlyOneFormOfEachStatement) {
  for (int bits = 0; bits < 128; ++bits) {
    StatementOptions o;
    o.multi_aspect = bits & 1;
    o.test_mode = bits & 2;
    o.combine = bits & 4;
    o.show_crop = bits & 8;
    o.limit_to_site = bits & 16;
    o.limit_to_landscape = bits & 32;
    o.limit_search = bits & 64;
    std::set<std::string> names;
    int library = 0;
    for (const auto& t : statement_texts(o)) {
      EXPECT_TRUE(names.insert(t.name).second) << t.name << " twice, options " << bits;
      library += t.name == "library_cells" || t.name == "library_cells_at_site" ||
                 t.name == "library_cells_at_landscape";
    }
    EXPECT_EQ(library, 1) << bits;
    EXPECT_EQ(names.count("library_cells_by_sex"), 1u);
    EXPECT_EQ(names.count("pending_ids"), o.multi_aspect && !o.test_mode ? 1u : 0u);
    EXPECT_EQ(names.count(library_statement_name(o, false)), 1u) << bits;
    EXPECT_EQ(library_statement_name(o, true), "library_cells_by_sex");
    for (const char* n : {"pending_cells", "review_list", "review_item", "set_review_status",
                          "photos_of_id", "insert_scorelog", "copy_site_landscape"}) {
      EXPECT_EQ(names.count(n), 1u) << n;
    }
  }
  StatementOptions both;
  both.limit_search = both.limit_to_site = both.limit_to_landscape = true;
  EXPECT_EQ(library_statement_name(both, false), "library_cells_at_site");
  both.limit_search = false;
  EXPECT_EQ(library_statement_name(both, false), "library_cells");
}

// Start prepares the statements in one fixed order; the conditional forms
// take the place of their statement in it.
TEST(CatalogueTest, StatementsComeInTheOrderStartPreparesThem) {
  const std::vector<std::string> all = {"images_to_extract",     "pending_cells",
                                        "library_cells_at_site", "library_cells_at_landscape",
                                        "library_cells",         "pending_cell",
                                        "library_cells_by_sex",  "review_list",
                                        "review_item",           "set_review_status",
                                        "mark_automatched",      "photos_of_id",
                                        "left_images_of_id",     "right_images_of_id",
                                        "best_ids_for_pending",  "best_ids_for_id",
                                        "temp_pair_for_ids",     "merge_id",
                                        "merge_mum_id",          "mark_temp_for_deletion",
                                        "delete_marked_temp",    "delete_temp_of_pending",
                                        "clear_pretemp",         "distribution_of_file",
                                        "add_distribution_L",    "add_distribution_R",
                                        "best_pretemp_scores",   "all_temp",
                                        "park_pending",          "restore_pending",
                                        "test_set_to_pending",   "test_set_to_library",
                                        "aspect_settings",       "stats_of_algorithm",
                                        "insert_pretemp",        "cells_by_number",
                                        "cell_no_of_cell",       "insert_temp",
                                        "pending_ids",           "insert_comp_id",
                                        "insert_scorelog",       "cells_by_name",
                                        "copy_site_landscape"};
  auto expected = [&](const StatementOptions& o) {
    std::vector<std::string> out;
    for (const std::string& n : all) {
      if (n == "library_cells_at_site" && !(o.limit_to_site && o.limit_search)) continue;
      if (n == "library_cells_at_landscape" &&
          !(o.limit_to_landscape && o.limit_search && !o.limit_to_site))
        continue;
      if (n == "library_cells" && o.limit_search && (o.limit_to_site || o.limit_to_landscape))
        continue;
      if ((n == "pending_ids" || n == "insert_comp_id") && !(o.multi_aspect && !o.test_mode))
        continue;
      out.push_back(n);
    }
    return out;
  };
  for (int bits = 0; bits < 128; ++bits) {
    StatementOptions o;
    o.multi_aspect = bits & 1;
    o.test_mode = bits & 2;
    o.combine = bits & 4;
    o.show_crop = bits & 8;
    o.limit_to_site = bits & 16;
    o.limit_to_landscape = bits & 32;
    o.limit_search = bits & 64;
    std::vector<std::string> got;
    for (const auto& t : statement_texts(o)) got.push_back(t.name);
    EXPECT_EQ(got, expected(o)) << "options " << bits;
  }
}

// Each option picks the form of its statement that the option names.
TEST(CatalogueTest, OptionsPickTheirOwnForms) {
  auto sql_of = [](const StatementOptions& o, const std::string& name) {
    for (const auto& t : statement_texts(o))
      if (t.name == name) return t.sql;
    return std::string();
  };
  StatementOptions plain;
  StatementOptions multi;
  multi.multi_aspect = true;
  StatementOptions multi_test = multi;
  multi_test.test_mode = true;
  EXPECT_NE(sql_of(multi, "pending_cells").find("compIDs"), std::string::npos);
  EXPECT_EQ(sql_of(multi_test, "pending_cells").find("compIDs"), std::string::npos);
  EXPECT_EQ(sql_of(plain, "pending_cells").find("compIDs"), std::string::npos);

  StatementOptions combine;
  combine.combine = true;
  EXPECT_NE(sql_of(combine, "review_list").find("distinct ID"), std::string::npos);
  EXPECT_NE(sql_of(combine, "set_review_status").find("ID=:pID"), std::string::npos);
  EXPECT_NE(sql_of(plain, "review_list").find("algy"), std::string::npos);
  EXPECT_NE(sql_of(plain, "set_review_status").find("cell=:pCell"), std::string::npos);

  StatementOptions crop;
  crop.show_crop = true;
  EXPECT_EQ(sql_of(crop, "photos_of_id").find("Unset1"), std::string::npos);
  EXPECT_NE(sql_of(plain, "photos_of_id").find("Unset1"), std::string::npos);
}

TEST(CatalogueTest, EveryDeclaredParameterIsUsedAndEveryUsedOneDeclared) {
  for (const auto& t : all_statement_texts()) {
    std::set<std::string> used;
    for (size_t i = 0; i < t.sql.size(); ++i) {
      if (t.sql[i] != ':') continue;
      size_t j = i + 1;
      while (j < t.sql.size() &&
             (std::isalnum(static_cast<unsigned char>(t.sql[j])) || t.sql[j] == '_')) {
        ++j;
      }
      used.insert(t.sql.substr(i + 1, j - i - 1));
    }
    std::set<std::string> declared;
    for (const auto& p : t.parameters) {
      declared.insert(p.name);
      EXPECT_NE(p.type, ParamType::kAny) << t.name << " " << p.name;
    }
    EXPECT_EQ(used, declared) << t.name;
  }
}

TEST_F(StatementsTest, UnknownOrUnpreparedNameFailsClearly) {
  Statement* s = st_->get("library_cells_at_site");
  ASSERT_NE(s, nullptr);
  RecordSet rs;
  Status r = s->open(&rs);
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.message().find("library_cells_at_site"), std::string::npos);
  EXPECT_NE(r.message().find("limit to site"), std::string::npos);
  r = st_->get("no_such_statement")->execute();
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.message().find("no_such_statement"), std::string::npos);
  // The same object is handed out again, so a caller may keep the pointer.
  EXPECT_EQ(st_->get("no_such_statement"), st_->get("no_such_statement"));
  EXPECT_FALSE(st_->has("no_such_statement"));
  EXPECT_EQ(st_->names().front(), "images_to_extract");
  EXPECT_EQ(st_->names().back(), "copy_site_landscape");
}

TEST(TestStepsTest, SeriesFollowTheCombineOption) {
  auto t = test_steps(true);
  auto s = test_steps(false);
  EXPECT_EQ(t.size(), 17u);
  EXPECT_EQ(s.size(), 18u);
  EXPECT_EQ(t.front().name, "t01: make IDs");
  EXPECT_EQ(s[1].name, "s02: update temp, strip extension");
  EXPECT_EQ(t.back().name, "t14: count ranks");
  EXPECT_EQ(s.back().name, "s14: count ranks");
  EXPECT_FALSE(t[3].saved);
  EXPECT_FALSE(s[4].saved);
  EXPECT_EQ(s[4].name, kDeleteTempSql);
}

// --------------------------------------------------------------- status codes

TEST(AutoMatchTest, LettersConvertBothWays) {
  std::set<char> letters;
  for (AutoMatch a : kAllAutoMatch) {
    letters.insert(letter(a));
    EXPECT_EQ(auto_match_from_letter(letter(a)), a);
    EXPECT_EQ(auto_match_from_text(to_string(a)), a);
    EXPECT_EQ(auto_match_from_letter(static_cast<char>(std::tolower(letter(a)))), a);
  }
  EXPECT_EQ(letters, (std::set<char>{'E', 'P', 'V', 'L', 'R', 'S', 'G', 'T'}));
  EXPECT_EQ(letter(AutoMatch::kPending), 'P');
  EXPECT_EQ(to_string(AutoMatch::kTestParked), "T");
  EXPECT_FALSE(auto_match_from_letter('X').has_value());
  EXPECT_FALSE(auto_match_from_text("").has_value());
  EXPECT_FALSE(auto_match_from_text("PV").has_value());
}

}  // namespace
}  // namespace velmora::db
