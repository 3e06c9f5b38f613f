#include "workstation/matching/matching_test_support.h"

#include "testing/files.h"
#include "workstation/db/testing/fixture_database.h"
#include "workstation/matching/results_import.h"

namespace velmora::matching::test_support {

void MatchingDbTest::SetUp() {
  ASSERT_TRUE(ws_.status().ok()) << ws_.status().message();
}

void MatchingDbTest::TearDown() {
  statements_.reset();
  db_.reset();
}

void MatchingDbTest::add_extract(const std::string& id, const std::string& image,
                                 const std::string& cell) {
  db::testing::FixtureBuilder b(db_.get());
  Status s;
  if (!encounters_.count(id)) {
    int64_t no = 0;
    s = b.add_encounter(id, "Female", "North Beach", &no);
    ASSERT_TRUE(s.ok()) << s.message();
    encounters_[id] = no;
  }
  db::RecordSet rs;
  s = db_->query("image exists", "SELECT image FROM image WHERE image = '" + image + "'", &rs);
  ASSERT_TRUE(s.ok()) << s.message();
  if (rs.eof()) {
    s = b.add_image(image, encounters_[id], 1, "P" + image, "2023-06-01 10:00:00");
    ASSERT_TRUE(s.ok()) << s.message();
  }
  s = b.add_cell(cell, image, kAspect, kSide, "P");
  ASSERT_TRUE(s.ok()) << s.message();
  s = b.add_distribution(cell + "." + kLetter);
  ASSERT_TRUE(s.ok()) << s.message();
}

void MatchingDbTest::start() {
  exec(db::kRenumberCellsSql);
  Status s = db::PreparedStatements::prepare(db_.get(), db::StatementOptions{}, &statements_);
  ASSERT_TRUE(s.ok()) << s.message();
  s = CellDirectory::load(statements_.get(), &cells_);
  ASSERT_TRUE(s.ok()) << s.message();
}

std::string MatchingDbTest::results_path() const {
  return (dir_ / results_file_name(kAspect, kSide, kLetter)).string();
}

std::string MatchingDbTest::write_results(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  velmora::testing::write_file(results_path(), text);
  return results_path();
}

void MatchingDbTest::exec(const std::string& sql) {
  Status s = db_->execute("test statement", sql);
  ASSERT_TRUE(s.ok()) << s.message();
}

DistributionCounts MatchingDbTest::distribution(const std::string& filename) {
  std::unique_ptr<db::Statement> q;
  DistributionCounts d;
  Status s =
      db_->prepare("test distribution", "SELECT * FROM distribution WHERE filename = :f", &q);
  if (s.ok()) s = q->set("f", filename);
  db::RecordSet rs;
  if (s.ok()) s = q->open(&rs);
  EXPECT_TRUE(s.ok()) << s.message();
  if (!s.ok() || rs.eof()) return d;
  d.found = true;
  d.Ln = rs.number("Ln");
  d.Ls = rs.number("Ls");
  d.Lss = rs.number("Lss");
  d.Rn = rs.number("Rn");
  d.Rs = rs.number("Rs");
  d.Rss = rs.number("Rss");
  return d;
}

std::vector<TempRow> MatchingDbTest::temp_rows() {
  db::RecordSet rs;
  Status s = db_->query("test temp", "SELECT * FROM temp ORDER BY pname, fname", &rs);
  EXPECT_TRUE(s.ok()) << s.message();
  std::vector<TempRow> rows;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    rows.push_back({rs.text("imgPname"), rs.text("imgFname"), rs.text("pname"), rs.text("fname"),
                    rs.number("score")});
  }
  return rows;
}

int64_t MatchingDbTest::count(const std::string& table) {
  return ws_.count("SELECT count(*) FROM " + table);
}

std::string MatchingDbTest::dump(const std::string& table) {
  db::RecordSet rs;
  Status s = db_->query("test dump", "SELECT * FROM " + table + " ORDER BY 1, 2, 3", &rs);
  EXPECT_TRUE(s.ok()) << s.message();
  std::string out;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    for (const std::string& c : rs.columns()) out += db::as_text(rs.field(c)) + "|";
    out += "\n";
  }
  return out;
}

}  // namespace velmora::matching::test_support
