// Test helper: a workstation on a fresh database file in its own temporary
// folder, with a RecordingControlPanel and ScriptedDialogs, for the Start driver
// and form tests.
//
// The folder holds the database ("seals.sqlite"), the data files folder (the
// same folder) with its orlain.ini, and two sub-folders standing for the
// program's folder and the user's configuration folder. Rows are added
// through a second connection (`db`); each helper writes in its own
// statements, never inside an open transaction, so the workstation's own
// connection sees them at once.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "workstation/db/database.h"
#include "workstation/db/schema.h"
#include "workstation/db/testing/fixture_database.h"
#include "workstation/runs/run_context.h"

namespace velmora::runs::testing {

class TestWorkstation {
 public:
  // standard_fixture: the database holds the shared standard fixture
  // (workstation/db/testing/fixture_database.h) instead of no rows.
  explicit TestWorkstation(const std::string& name, bool standard_fixture = false) {
    static int serial = 0;
    dir =
        std::filesystem::path(::testing::TempDir()) /
        ("velmora_runs_" + name + "_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "program");
    std::filesystem::create_directories(dir / "user");
    data_folder = dir.string() + "/";
    db_path = data_folder + "seals.sqlite";
    if (standard_fixture) {
      Status s = db::testing::make_standard_fixture(db_path, &db);
      EXPECT_TRUE(s.ok()) << s.message();
    } else {
      Status s = db::create_database_file(db_path);
      EXPECT_TRUE(s.ok()) << s.message();
      s = db::Database::open(db_path, false, &db);
      EXPECT_TRUE(s.ok()) << s.message();
    }
    write_ini("");

    ctx.panel = &panel;
    ctx.dialogs = &dialogs;
    ctx.folder_file_locations.program_folder = (dir / "program").string();
    ctx.folder_file_locations.user_config_folder = (dir / "user").string();
    // The boxes as the operator left them: the data folder typed without its
    // final separator, which Start adds.
    panel.set_text("txtFoldersPath", dir.string());
    panel.set_text("txtDatabase", db_path);
    panel.set_text("txtNewpics", data_folder + "newpic");
    panel.set_text("cmdStart", "Start");
    panel.set_text("txtNumPend", "200");
    panel.set_checked("optDontLimit", true);
  }
  ~TestWorkstation() {
    ctx.drop_database_work();
    ctx.session.close();
    db.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  // A mode whose run does nothing visible (a test run whose step only
  // records that it ran), for tests of what every Start does before its mode.
  void choose_quiet_mode() {
    panel.set_checked("optTest", true);
    ctx.hooks.run_test = [this](RunContext&) {
      ++quiet_runs;
      return Status::Ok();
    };
  }
  int quiet_runs = 0;

  // orlain.ini of the data folder: a header line, then `keys`.
  void write_ini(const std::string& keys) {
    std::ofstream(data_folder + "orlain.ini") << "[velmora]\n" << keys;
  }

  void sql(const std::string& text) {
    Status s = db->execute("test setup", text);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  long long count(const std::string& query) {
    db::RecordSet rs;
    Status s = db->query("test count", query, &rs);
    EXPECT_TRUE(s.ok()) << s.message();
    rs.move_first();
    return rs.eof() ? -1 : db::as_integer(rs.field(rs.columns().at(0)));
  }
  std::string text(const std::string& query) {
    db::RecordSet rs;
    Status s = db->query("test text", query, &rs);
    EXPECT_TRUE(s.ok()) << s.message();
    rs.move_first();
    return rs.eof() ? "<none>" : db::as_text(rs.field(rs.columns().at(0)));
  }

  void add_aspect(const std::string& aspect, const std::string& letter,
                  const std::string& cell_type, const std::string& pattern = "none") {
    sql("INSERT INTO aspects (aspect, aspect_letter, cell_type, pattern, from_r, to_r, step_r,"
        " from_theta_deg, to_theta_deg, step_theta_deg, sigmax_ratio, sigmay) VALUES ('" +
        aspect + "', '" + letter + "', '" + cell_type + "', '" + pattern +
        "', 2, 8, 2, 0, 150, 30, 0.5, 1.5)");
  }
  void add_algorithm(const std::string& letter, const std::string& type) {
    sql("INSERT INTO algy (letter, type) VALUES ('" + letter + "', '" + type + "')");
  }

  // One extract of animal `id`, on its own photograph.
  void add_cell(const std::string& id, const std::string& cell, const std::string& side,
                const std::string& status, const std::string& aspect = "flank") {
    auto it = encounters_.find(id);
    if (it == encounters_.end()) {
      sql("INSERT INTO encounter (ID, gender) VALUES ('" + id + "', 'Female')");
      it = encounters_.emplace(id, count("SELECT max(encounter_no) FROM encounter")).first;
    }
    sql("INSERT INTO image (image, image_no, encounter_no, photo) VALUES ('img_" + cell + "', 1, " +
        std::to_string(it->second) + ", 'photo_" + cell + "')");
    sql("INSERT INTO cells (cell, image, AutoMatch, side, aspect) VALUES ('" + cell + "', 'img_" +
        cell + "', '" + status + "', '" + side + "', '" + aspect + "')");
  }
  // `n` extracts of animal `id` on one side, named prefix + number + "FL".
  void add_cells(const std::string& id, const std::string& prefix, int n, const std::string& side,
                 const std::string& status) {
    Status s = db->begin();
    ASSERT_TRUE(s.ok()) << s.message();
    for (int i = 1; i <= n; ++i)
      add_cell(id, prefix + std::to_string(1000 + i) + "FL", side, status);
    s = db->commit();
    ASSERT_TRUE(s.ok()) << s.message();
  }
  std::string status_of(const std::string& cell) {
    return text("SELECT AutoMatch FROM cells WHERE cell = '" + cell + "'");
  }

  std::filesystem::path dir;
  std::string data_folder, db_path;
  std::unique_ptr<db::Database> db;
  RecordingControlPanel panel;
  ScriptedDialogs dialogs;
  RunContext ctx;

 private:
  std::map<std::string, long long> encounters_;
};

}  // namespace velmora::runs::testing
