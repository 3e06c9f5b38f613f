// A test workstation at the database's level: a database file with the whole
// schema in a temporary folder of its own, the data files folder around it,
// rows added through the fixture builder, and one-value queries for checks.
// Each area's own test workstation builds on it. Setting up returns a Status,
// so the benchmarks use it too; a check query that fails is a test failure.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "testing/temp_dir.h"
#include "workstation/common/status.h"
#include "workstation/db/database.h"
#include "workstation/db/testing/fixture_database.h"

namespace velmora::db::testing {

// The first value of a query's first row as a whole number; -1 when there is
// no row or the query failed (a GoogleTest failure).
int64_t count_of(Database* db, const std::string& sql);
// The same as text; "<none>" when there is no row, "<error: ...>" on failure.
std::string text_of(Database* db, const std::string& sql);

class TestDatabase {
 public:
  // Makes the folder (named after `label`) and the database `file` in it
  // (sub-folders too), empty or with the standard fixture. status() tells
  // whether that worked.
  explicit TestDatabase(const std::string& label, const std::string& file = "seals.sqlite",
                        bool standard_fixture = false);

  const Status& status() const { return status_; }
  velmora::testing::TempDir folder;
  std::string data_folder;  // the folder of the database file, ending in '/'
  std::string db_path;
  std::unique_ptr<Database> db;

  FixtureBuilder builder() { return FixtureBuilder(db.get()); }
  Status exec(const std::string& sql) { return db->execute("test setup", sql); }
  int64_t count(const std::string& sql) { return count_of(db.get(), sql); }
  std::string text(const std::string& sql) { return text_of(db.get(), sql); }

  // orlain.ini of the data folder: a header line, then `keys`.
  Status write_ini(const std::string& keys = "");
  // One extract of animal `id`, on a photograph of its own ("img_" + cell);
  // the animal's encounter is made with its first extract.
  Status add_cell(const std::string& id, const std::string& cell, const std::string& side,
                  const std::string& auto_match, const std::string& aspect = "flank");

 protected:
  Status status_;

 private:
  std::map<std::string, int64_t> encounters_;
};

}  // namespace velmora::db::testing
