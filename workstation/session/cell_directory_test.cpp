// Cell numbering at Start and the cell directory read after it.
#include "workstation/session/cell_directory.h"

#include <gtest/gtest.h>

#include "workstation/db/database.h"
#include "workstation/db/statements.h"
#include "workstation/db/testing/test_database.h"

namespace velmora::session {
namespace {

TEST(CellDirectory, HoldsNumbersOneToTheLimit) {
  CellDirectory lookup;
  EXPECT_TRUE(lookup.add("c1FL", 1, "12A").ok());
  EXPECT_TRUE(lookup.add("last", kMaxCells, "99").ok());
  EXPECT_FALSE(lookup.add("zero", 0, "x").ok());
  EXPECT_FALSE(lookup.add("neg", -5, "x").ok());
  EXPECT_FALSE(lookup.add("again", 1, "x").ok());  // one number, one cell
  Status s = lookup.add("over", kMaxCells + 1, "x");
  EXPECT_EQ(s.code(), Status::Code::kInvalidArgument);
  EXPECT_NE(s.message().find("over"), std::string::npos) << s.message();

  EXPECT_EQ(lookup.id(1), "12A");
  EXPECT_EQ(lookup.cell(1), "c1FL");
  EXPECT_EQ(lookup.cell(kMaxCells), "last");
  EXPECT_TRUE(lookup.has(kMaxCells));
  EXPECT_FALSE(lookup.has(2));  // between stored numbers
  EXPECT_EQ(lookup.cell(2), "");
  EXPECT_FALSE(lookup.has(0));
  EXPECT_FALSE(lookup.has(kMaxCells + 1));
  EXPECT_EQ(lookup.cell(kMaxCells + 1), "");
  EXPECT_EQ(lookup.highest(), kMaxCells);
  lookup.clear();
  EXPECT_FALSE(lookup.has(1));
  EXPECT_EQ(lookup.highest(), 0);
}

class Renumbering : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ws_.status().ok()) << ws_.status().message();
    Status s = db::PreparedStatements::prepare(ws_.db.get(), db::StatementOptions{}, &statements_);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  void TearDown() override { statements_.reset(); }
  long long number_of(const std::string& cell) {
    return ws_.count("SELECT cell_no FROM cells WHERE cell = '" + cell + "'");
  }
  Status load(CellDirectory* lookup) { return CellDirectory::load(statements_.get(), lookup); }
  db::testing::TestDatabase ws_{"velmora_cells"};
  std::unique_ptr<db::PreparedStatements> statements_;
};

TEST_F(Renumbering, NumbersFollowTheNameOrderWithoutLetterCase) {
  ASSERT_TRUE(ws_.add_cell("12A", "c03FL", "L", "L").ok());
  ASSERT_TRUE(ws_.add_cell("12A", "B02FL", "L", "P").ok());
  ASSERT_TRUE(ws_.add_cell("7", "a01FL", "R", "V").ok());
  int written = -1;
  Status s = renumber_cells(ws_.db.get(), statements_->get("cells_by_name"), &written);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(written, 3);
  EXPECT_EQ(number_of("a01FL"), 1);
  EXPECT_EQ(number_of("B02FL"), 2);
  EXPECT_EQ(number_of("c03FL"), 3);

  // A second Start finds the numbering in order and writes nothing.
  s = renumber_cells(ws_.db.get(), statements_->get("cells_by_name"), &written);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(written, 0);
  EXPECT_EQ(number_of("c03FL"), 3);
}

TEST_F(Renumbering, CellsAddedAndRemovedAreRenumberedDensely) {
  for (const char* c : {"k10FL", "k20FL", "k30FL", "k40FL"})
    ASSERT_TRUE(ws_.add_cell("5", c, "L", "L").ok());
  ASSERT_TRUE(renumber_cells(ws_.db.get(), statements_->get("cells_by_name")).ok());
  EXPECT_EQ(number_of("k40FL"), 4);

  ASSERT_TRUE(ws_.exec("DELETE FROM cells WHERE cell = 'k20FL'").ok());
  ASSERT_TRUE(ws_.add_cell("5", "k05FL", "L", "P").ok());
  ASSERT_TRUE(ws_.add_cell("6", "k35FL", "R", "P").ok());
  int written = 0;
  ASSERT_TRUE(renumber_cells(ws_.db.get(), statements_->get("cells_by_name"), &written).ok());
  // k05 is new at 1 and pushes k10 to 2; k30 stays 3; k35 new at 4 pushes k40 to 5.
  EXPECT_EQ(number_of("k05FL"), 1);
  EXPECT_EQ(number_of("k10FL"), 2);
  EXPECT_EQ(number_of("k30FL"), 3);
  EXPECT_EQ(number_of("k35FL"), 4);
  EXPECT_EQ(number_of("k40FL"), 5);
  EXPECT_EQ(written, 4);
  EXPECT_EQ(ws_.count("SELECT count(DISTINCT cell_no) FROM cells"), 5);
  EXPECT_EQ(ws_.count("SELECT max(cell_no) FROM cells"), 5);

  // The lookup then maps each number back to its animal and cell.
  CellDirectory lookup;
  ASSERT_TRUE(load(&lookup).ok());
  EXPECT_EQ(lookup.cell(4), "k35FL");
  EXPECT_EQ(lookup.id(4), "6");
  EXPECT_EQ(lookup.cell(1), "k05FL");
  EXPECT_EQ(lookup.id(1), "5");
  EXPECT_EQ(lookup.highest(), 5);
  EXPECT_FALSE(lookup.has(6));
}

TEST_F(Renumbering, AnEmptyDatabaseHasNothingToNumber) {
  int written = -1;
  ASSERT_TRUE(renumber_cells(ws_.db.get(), statements_->get("cells_by_name"), &written).ok());
  EXPECT_EQ(written, 0);
  CellDirectory lookup;
  ASSERT_TRUE(load(&lookup).ok());
  EXPECT_EQ(lookup.highest(), 0);
}

TEST_F(Renumbering, ANumberTheLookupCannotHoldIsRefused) {
  ASSERT_TRUE(ws_.add_cell("5", "k10FL", "L", "L").ok());
  ASSERT_TRUE(ws_.exec("UPDATE cells SET cell_no = 200001").ok());
  CellDirectory lookup;
  Status s = load(&lookup);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("k10FL"), std::string::npos) << s.message();
  EXPECT_EQ(lookup.highest(), 0);

  ASSERT_TRUE(ws_.exec("UPDATE cells SET cell_no = NULL").ok());
  s = load(&lookup);
  EXPECT_FALSE(s.ok());
}

TEST_F(Renumbering, MoreCellsThanTheLookupHoldsChangesNothing) {
  ASSERT_TRUE(ws_.add_cell("5", "seedFL", "L", "L").ok());
  // 200001 cells on the one photograph, made in one statement.
  ASSERT_TRUE(
      ws_.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
               "INSERT INTO cells (cell, image, AutoMatch, side, cell_no) "
               "SELECT printf('x%06dFL', i), 'img_seedFL', 'L', 'L', 7 FROM n")
          .ok());
  ASSERT_EQ(ws_.count("SELECT count(*) FROM cells"), kMaxCells + 1);
  int written = -1;
  Status s = renumber_cells(ws_.db.get(), statements_->get("cells_by_name"), &written);
  EXPECT_EQ(s.code(), Status::Code::kInvalidArgument);
  EXPECT_NE(s.message().find("200001"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("200000"), std::string::npos) << s.message();
  EXPECT_EQ(written, 0);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE cell_no = 7"), kMaxCells);
}

}  // namespace
}  // namespace velmora::session
