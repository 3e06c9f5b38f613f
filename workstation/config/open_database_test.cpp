#include "workstation/config/open_database.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/temp_dir.h"
#include "workstation/config/aspects.h"
#include "workstation/db/database.h"
#include "workstation/db/schema.h"

namespace velmora::config {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

// The aspects and landscapes tables as the workstation reads them. The
// columns are declared in an order unlike AspectSettings' on purpose: they
// must be read by name.
constexpr const char* kAspectsTable =
    "CREATE TABLE aspects (aspect TEXT COLLATE NOCASE PRIMARY KEY, merged_only INTEGER,"
    " all_green INTEGER, aspect_letter TEXT COLLATE NOCASE, cell_type TEXT COLLATE NOCASE,"
    " pattern TEXT COLLATE NOCASE, model_fname TEXT COLLATE NOCASE, dorsal_midline INTEGER,"
    " adjust_extract INTEGER, no_order INTEGER, left_right INTEGER, show_n_spots INTEGER,"
    " fennick_code INTEGER, scale_special REAL, scale_mid REAL, scale_overspill REAL,"
    " scale_mag REAL, scale_edge REAL, scale_stiff REAL, scale_twist REAL, scale_thin REAL,"
    " from_r INTEGER, to_r INTEGER, step_r INTEGER, from_theta_deg INTEGER,"
    " to_theta_deg INTEGER, step_theta_deg INTEGER, sigmax_ratio REAL, sigmay REAL)";
constexpr const char* kLandscapesTable =
    "CREATE TABLE landscapes (site TEXT COLLATE NOCASE PRIMARY KEY,"
    " landscape TEXT COLLATE NOCASE)";

class OpenDatabase : public ::testing::Test {
 protected:
  OpenDatabase() {
    folders_.data_folder = dir_.root().string();  // no final "/"
    folders_.newpics_folder = dir_.dir() + "newpic";
    folders_.database_path = dir_.dir() + "grey.sqlite";
  }

  // Creates a workstation database file whose aspects and landscapes tables
  // are the two above, in place of the schema's own, with `aspects` aspect rows.
  void make_database(int aspects, const std::string& path = "") {
    std::unique_ptr<db::Database> db;
    ASSERT_TRUE(db::Database::open(path.empty() ? folders_.database_path : path, true, &db).ok());
    ASSERT_TRUE(db::create_schema(db.get()).ok());
    ASSERT_TRUE(db->execute("drop", "DROP TABLE aspects").ok());
    ASSERT_TRUE(db->execute("drop", "DROP TABLE landscapes").ok());
    ASSERT_TRUE(db->execute("aspects", kAspectsTable).ok());
    ASSERT_TRUE(db->execute("landscapes", kLandscapesTable).ok());
    for (int i = 1; i <= aspects; ++i) {
      std::string n = std::to_string(i);
      ASSERT_TRUE(db->execute("row",
                              "INSERT INTO aspects (aspect, aspect_letter, cell_type,"
                              " pattern, show_n_spots, all_green) VALUES ('Aspect" +
                                  n + "', 'A" + n + "', 'lateral', 'white_rings', " +
                                  std::to_string(10 * i) + ", " + std::to_string(i % 2) + ")")
                      .ok());
    }
    ASSERT_TRUE(db->execute("sites",
                            "INSERT INTO landscapes VALUES ('Skerry', 'rock'),"
                            " ('Abbey', 'beach'), ('Cove', NULL), ('Bight', 'rock')")
                    .ok());
  }

  TempDir dir_;
  FolderSettings folders_;
  Settings settings_;
  DatabaseSession session_;
  Faults faults_;
};

TEST_F(OpenDatabase, OpensAndLoadsTheAspectListInQueryOrder) {
  make_database(3);
  ASSERT_TRUE(open_database(&folders_, settings_, &session_, &faults_).ok());
  ASSERT_TRUE(session_.is_open());
  EXPECT_TRUE(faults_.empty()) << fault_text(faults_);
  ASSERT_EQ(session_.aspects.count, 3);
  for (int i = 0; i < 3; ++i) {
    const AspectEntry& e = session_.aspects.entries[i];
    std::string n = std::to_string(i + 1);
    EXPECT_EQ(e.aspect, "Aspect" + n);
    EXPECT_EQ(e.aspect_letter, "A" + n);
    EXPECT_EQ(e.cell_type, "lateral");
    EXPECT_EQ(e.pattern, "white_rings");
    EXPECT_EQ(e.show_n_spots, std::to_string(10 * (i + 1)));
    EXPECT_EQ(e.show_n_spots_value(), 10 * (i + 1));
    EXPECT_EQ(e.all_green_value(), (i + 1) % 2 == 1);
  }
  ASSERT_NE(session_.aspects.find("Aspect2"), nullptr);
  EXPECT_EQ(session_.aspects.find("Aspect2")->aspect_letter, "A2");
  EXPECT_EQ(session_.aspects.find("Aspect4"), nullptr);
  EXPECT_TRUE(session_.sites.empty());  // LimitSearch is false
  EXPECT_TRUE(session_.landscapes.empty());
}

TEST_F(OpenDatabase, NormalisesTheFoldersEvenWhenTheDatabaseIsRefused) {
  ASSERT_TRUE(open_database(&folders_, settings_, &session_, &faults_).ok());
  EXPECT_FALSE(session_.is_open());
  EXPECT_EQ(folders_.data_folder, dir_.dir());
  EXPECT_EQ(folders_.newpics_folder, dir_.dir() + "newpic/");
  EXPECT_EQ(folders_.database_path, dir_.dir() + "grey.sqlite");
  EXPECT_TRUE(faults_.empty());  // a missing file is refused without a message
}

TEST_F(OpenDatabase, EndingMustBeSqliteLetterForLetter) {
  for (const char* name : {"grey.SQLITE", "grey.Sqlite", "grey.sqlite.bak", "grey.db", "grey"}) {
    const std::string path = dir_.dir() + name;
    make_database(1, path);
    folders_.database_path = path;
    EXPECT_FALSE(is_database_path(path)) << name;
    ASSERT_TRUE(open_database(&folders_, settings_, &session_, &faults_).ok()) << name;
    EXPECT_FALSE(session_.is_open()) << name;
  }
  EXPECT_TRUE(faults_.empty());
  // The ending test is on the letters only, as for any other file name.
  const std::string odd = dir_.dir() + "greysqlite";
  make_database(1, odd);
  EXPECT_TRUE(is_database_path(odd));
}

TEST_F(OpenDatabase, FolderNamedLikeADatabaseIsRefused) {
  fs::create_directory(folders_.database_path);
  ASSERT_TRUE(open_database(&folders_, settings_, &session_, &faults_).ok());
  EXPECT_FALSE(session_.is_open());
}

TEST_F(OpenDatabase, RefusalClosesThePreviousDatabaseAndEmptiesItsLists) {
  make_database(2);
  settings_.LimitSearch = true;
  ASSERT_TRUE(open_database(&folders_, settings_, &session_, &faults_).ok());
  ASSERT_TRUE(session_.is_open());
  folders_.database_path = dir_.dir() + "missing.sqlite";
  ASSERT_TRUE(open_database(&folders_, settings_, &session_, &faults_).ok());
  EXPECT_FALSE(session_.is_open());
  EXPECT_EQ(session_.aspects.count, 0);
  EXPECT_TRUE(session_.sites.empty());
}

TEST_F(OpenDatabase, MoreThanTenAspectsKeepsTheFirstTenAndSaysWhichWereLeftOut) {
  make_database(12);
  ASSERT_TRUE(open_database(&folders_, settings_, &session_, &faults_).ok());
  ASSERT_TRUE(session_.is_open());
  ASSERT_EQ(session_.aspects.count, kMaxAspects);
  EXPECT_EQ(session_.aspects.entries[9].aspect, "Aspect10");
  ASSERT_EQ(faults_.size(), 1u);
  const std::string& m = faults_[0].message();
  EXPECT_NE(m.find(folders_.database_path), std::string::npos) << m;
  EXPECT_NE(m.find("12 rows"), std::string::npos) << m;
  EXPECT_NE(m.find("'Aspect11', 'Aspect12'"), std::string::npos) << m;
}

TEST_F(OpenDatabase, ExactlyTenAspectsIsNoFault) {
  make_database(10);
  ASSERT_TRUE(open_database(&folders_, settings_, &session_, &faults_).ok());
  EXPECT_EQ(session_.aspects.count, 10);
  EXPECT_TRUE(faults_.empty());
}

TEST_F(OpenDatabase, LimitSearchLoadsSitesAndLandscapesLedByAnEmptyEntry) {
  make_database(1);
  settings_.LimitSearch = true;
  ASSERT_TRUE(open_database(&folders_, settings_, &session_, &faults_).ok());
  EXPECT_EQ(session_.sites, (std::vector<std::string>{"", "Abbey", "Bight", "Cove", "Skerry"}));
  // Cove's NULL landscape is no choice; "rock" appears once.
  EXPECT_EQ(session_.landscapes, (std::vector<std::string>{"", "beach", "rock"}));
}

TEST_F(OpenDatabase, MissingAspectsTableIsAnErrorAndLeavesItClosed) {
  {
    std::unique_ptr<db::Database> db;
    ASSERT_TRUE(db::Database::open(folders_.database_path, true, &db).ok());
    ASSERT_TRUE(db->execute("t", "CREATE TABLE other (x)").ok());
  }
  Status s = open_database(&folders_, settings_, &session_, &faults_);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("aspects"), std::string::npos) << s.message();
  EXPECT_FALSE(session_.is_open());
}

TEST_F(OpenDatabase, FileThatIsNoDatabaseIsAnErrorNotASilentRefusal) {
  EXPECT_TRUE(write_file(folders_.database_path, std::string(4096, 'x')));
  Status s = open_database(&folders_, settings_, &session_, &faults_);
  EXPECT_FALSE(s.ok());
  EXPECT_FALSE(session_.is_open());
}

TEST_F(OpenDatabase, ForeignOrEmptyFileIsRefusedAsItWas) {
  struct Case {
    std::string what;
    std::string sql;  // making the file through the engine; "" for an empty file
  };
  const std::vector<Case> cases = {
      {"a foreign database", "CREATE TABLE notes (x)"},
      {"a foreign database with an aspects table", kAspectsTable},
      {"an empty file", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    folders_.database_path = dir.dir() + "grey.sqlite";
    if (c.sql.empty()) {
      write_file(folders_.database_path, "");
    } else {
      std::unique_ptr<db::Database> db;
      ASSERT_TRUE(
          db::Database::open(folders_.database_path, db::Database::OpenMode::kCreate, &db).ok());
      ASSERT_TRUE(db->execute("journal", "PRAGMA journal_mode=DELETE").ok());
      ASSERT_TRUE(db->execute("table", c.sql).ok());
    }
    const std::string before = read_file(folders_.database_path);
    Status s = open_database(&folders_, settings_, &session_, &faults_);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("not a workstation database: missing tables"), std::string::npos)
        << s.message();
    EXPECT_FALSE(session_.is_open());
    EXPECT_EQ(read_file(folders_.database_path), before);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.dir())) {
      names.push_back(e.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"grey.sqlite"});
  }
}

// The workstation's own schema must carry every column read here.
TEST_F(OpenDatabase, WorksOnANewWorkstationDatabase) {
  ASSERT_TRUE(db::create_database_file(folders_.database_path).ok());
  {
    std::unique_ptr<db::Database> db;
    ASSERT_TRUE(db::Database::open(folders_.database_path, false, &db).ok());
    ASSERT_TRUE(db->execute("rows",
                            "INSERT INTO aspects (aspect, aspect_letter, cell_type, pattern,"
                            " show_n_spots, all_green, step_r) VALUES"
                            " ('Flank', 'FL', 'lateral', 'white_rings', 30, 1, 2),"
                            " ('Dorsal', 'DO', 'Dorsal', 'none', 0, 0, 0)")
                    .ok());
    ASSERT_TRUE(db->execute("sites", "INSERT INTO landscapes VALUES ('Skerry', 'rock')").ok());
  }
  settings_.LimitSearch = true;
  ASSERT_TRUE(open_database(&folders_, settings_, &session_, &faults_).ok());
  ASSERT_TRUE(session_.is_open());
  ASSERT_EQ(session_.aspects.count, 2);
  EXPECT_EQ(session_.aspects.entries[0].aspect, "Flank");
  EXPECT_EQ(session_.aspects.entries[1].cell_type, "Dorsal");
  EXPECT_TRUE(session_.aspects.entries[0].all_green_value());
  EXPECT_EQ(session_.sites, (std::vector<std::string>{"", "Skerry"}));
  EXPECT_EQ(session_.landscapes, (std::vector<std::string>{"", "rock"}));

  AspectSettings a;
  // The database compares aspect names without regard to case.
  ASSERT_TRUE(load_aspect_settings(session_.db.get(), "flank", &a).ok());
  EXPECT_EQ(a.pattern, "white_rings");
  EXPECT_EQ(a.show_n_spots, 30);
  EXPECT_EQ(a.step_r, 2);
  EXPECT_TRUE(a.all_green);
}

class AspectSettingsTest : public ::testing::Test {
 protected:
  AspectSettingsTest() {
    EXPECT_TRUE(db::Database::open(":memory:", true, &db_).ok());
    EXPECT_TRUE(db_->execute("aspects", kAspectsTable).ok());
    EXPECT_TRUE(
        db_->execute("row",
                     "INSERT INTO aspects VALUES ('Flank', 0, 1, 'FL', 'lateral', 'black_stripe',"
                     " 'flank.dat', 1, -3, 0, 1, 40, 123456, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5,"
                     " 7.5, 8.25, 4, 12, 2, -45, 45, 15, 0.75, 3.125)")
            .ok());
  }
  void add_row(const std::string& aspect, const std::string& column, const std::string& value) {
    ASSERT_TRUE(db_->execute("row", "INSERT INTO aspects (aspect, " + column + ") VALUES ('" +
                                        aspect + "', " + value + ")")
                    .ok());
  }
  std::unique_ptr<db::Database> db_;
};

TEST_F(AspectSettingsTest, EveryColumnIsReadByNameInItsType) {
  AspectSettings a;
  ASSERT_TRUE(load_aspect_settings(db_.get(), "Flank", &a).ok());
  EXPECT_EQ(a.pattern, "black_stripe");
  EXPECT_EQ(a.model_fname, "flank.dat");
  EXPECT_EQ(a.cell_type, "lateral");
  EXPECT_TRUE(a.dorsal_midline);
  EXPECT_EQ(a.adjust_extract, -3);
  EXPECT_FALSE(a.no_order);
  EXPECT_TRUE(a.left_right);
  EXPECT_EQ(a.show_n_spots, 40);
  EXPECT_EQ(a.fennick_code, 123456);
  EXPECT_EQ(a.scale_special, 1.5);
  EXPECT_EQ(a.scale_mid, 2.5);
  EXPECT_EQ(a.scale_overspill, 3.5);
  EXPECT_EQ(a.scale_mag, 4.5);
  EXPECT_EQ(a.scale_edge, 5.5);
  EXPECT_EQ(a.scale_stiff, 6.5);
  EXPECT_EQ(a.scale_twist, 7.5);
  EXPECT_EQ(a.scale_thin, 8.25);
  EXPECT_EQ(a.from_r, 4);
  EXPECT_EQ(a.to_r, 12);
  EXPECT_EQ(a.step_r, 2);
  EXPECT_EQ(a.from_theta_deg, -45);
  EXPECT_EQ(a.to_theta_deg, 45);
  EXPECT_EQ(a.step_theta_deg, 15);
  EXPECT_EQ(a.sigmax_ratio, 0.75);
  EXPECT_EQ(a.sigmay, 3.125);
  EXPECT_TRUE(a.all_green);
  EXPECT_FALSE(a.merged_only);
}

TEST_F(AspectSettingsTest, PreparedStatementServesImageAfterImage) {
  add_row("Dorsal", "cell_type", "'Dorsal'");
  std::unique_ptr<db::Statement> stmt;
  ASSERT_TRUE(db_->prepare("aspect_settings", kAspectSettingsSql, &stmt).ok());
  AspectSettings a;
  ASSERT_TRUE(load_aspect_settings(stmt.get(), "Flank", &a).ok());
  EXPECT_EQ(a.cell_type, "lateral");
  ASSERT_TRUE(load_aspect_settings(stmt.get(), "Dorsal", &a).ok());
  EXPECT_EQ(a.cell_type, "Dorsal");
  // Columns left NULL read as zero, false and empty, replacing the last aspect's values.
  EXPECT_EQ(a.pattern, "");
  EXPECT_EQ(a.show_n_spots, 0);
  EXPECT_FALSE(a.all_green);
  ASSERT_TRUE(load_aspect_settings(stmt.get(), "Flank", &a).ok());
  EXPECT_EQ(a.show_n_spots, 40);
}

TEST_F(AspectSettingsTest, UnknownAspectIsNotFoundAndChangesNothing) {
  AspectSettings a;
  a.pattern = "kept";
  Status s = load_aspect_settings(db_.get(), "Tail", &a);
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  EXPECT_NE(s.message().find("'Tail'"), std::string::npos);
  EXPECT_EQ(a.pattern, "kept");
}

TEST_F(AspectSettingsTest, ValuesThatDoNotFitTheirColumnTypeAreNamed) {
  add_row("Big", "show_n_spots", "40000");
  add_row("Word", "from_r", "'four'");
  add_row("Flag", "all_green", "'maybe'");
  add_row("Huge", "fennick_code", "3000000000");
  for (const auto& [aspect, column] :
       std::vector<std::pair<std::string, std::string>>{{"Big", "show_n_spots"},
                                                        {"Word", "from_r"},
                                                        {"Flag", "all_green"},
                                                        {"Huge", "fennick_code"}}) {
    AspectSettings a;
    a.pattern = "kept";
    Status s = load_aspect_settings(db_.get(), aspect, &a);
    EXPECT_EQ(s.code(), Status::Code::kCorruption) << aspect;
    EXPECT_NE(s.message().find("'" + column + "'"), std::string::npos) << s.message();
    EXPECT_EQ(a.pattern, "kept") << aspect;
  }
}

TEST_F(AspectSettingsTest, StoredTextAndRealsConvertByTheConfigurationRules) {
  add_row("Text", "all_green, step_r, sigmay", "'True', 2.5, '0.5'");
  AspectSettings a;
  ASSERT_TRUE(load_aspect_settings(db_.get(), "Text", &a).ok());
  EXPECT_TRUE(a.all_green);
  EXPECT_EQ(a.step_r, 2);  // half to even
  EXPECT_EQ(a.sigmay, 0.5);
}

TEST_F(AspectSettingsTest, MissingColumnIsNamed) {
  std::unique_ptr<db::Database> db;
  ASSERT_TRUE(db::Database::open(":memory:", true, &db).ok());
  ASSERT_TRUE(db->execute("t", "CREATE TABLE aspects (aspect TEXT, pattern TEXT)").ok());
  ASSERT_TRUE(db->execute("r", "INSERT INTO aspects VALUES ('Flank', 'none')").ok());
  AspectSettings a;
  Status s = load_aspect_settings(db.get(), "Flank", &a);
  EXPECT_EQ(s.code(), Status::Code::kCorruption);
  EXPECT_NE(s.message().find("'model_fname'"), std::string::npos) << s.message();
}

}  // namespace
}  // namespace velmora::config
