#include "workstation/db/testing/test_database.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "testing/files.h"

namespace velmora::db::testing {

namespace {

// Sets *value to the first value of the query's first row, if it has one. A
// query that fails is a fault of the test that asked it.
Status first_value(Database* db, const std::string& sql, std::optional<Value>* value) {
  RecordSet rs;
  Status s = db->query("test check", sql, &rs);
  if (!s.ok()) {
    ADD_FAILURE() << s.message();
    return s;
  }
  rs.move_first();
  if (!rs.eof()) *value = rs.field(rs.columns().at(0));
  return s;
}

}  // namespace

int64_t count_of(Database* db, const std::string& sql) {
  std::optional<Value> v;
  return first_value(db, sql, &v).ok() && v ? as_integer(*v) : -1;
}

std::string text_of(Database* db, const std::string& sql) {
  std::optional<Value> v;
  Status s = first_value(db, sql, &v);
  if (!s.ok()) return "<error: " + s.message() + ">";
  return v ? as_text(*v) : "<none>";
}

TestDatabase::TestDatabase(const std::string& label, const std::string& file, bool standard_fixture)
    : folder(label), db_path(folder.path(file)) {
  data_folder = std::filesystem::path(db_path).parent_path().string() + "/";
  std::error_code ec;
  std::filesystem::create_directories(data_folder, ec);
  status_ =
      standard_fixture ? make_standard_fixture(db_path, &db) : make_empty_database(db_path, &db);
}

Status TestDatabase::write_ini(const std::string& keys) {
  if (velmora::testing::write_file(data_folder + "orlain.ini", "[velmora]\n" + keys)) {
    return Status::Ok();
  }
  return Status::IOError("cannot write " + data_folder + "orlain.ini");
}

Status TestDatabase::add_cell(const std::string& id, const std::string& cell,
                              const std::string& side, const std::string& auto_match,
                              const std::string& aspect) {
  FixtureBuilder b = builder();
  auto it = encounters_.find(id);
  if (it == encounters_.end()) {
    int64_t encounter_no = 0;
    Status s = b.add_encounter(id, "Female", "", &encounter_no);
    if (!s.ok()) return s;
    it = encounters_.emplace(id, encounter_no).first;
  }
  Status s = b.add_image("img_" + cell, it->second, 1, "photo_" + cell, "");
  return s.ok() ? b.add_cell(cell, "img_" + cell, aspect, side, auto_match) : s;
}

}  // namespace velmora::db::testing
