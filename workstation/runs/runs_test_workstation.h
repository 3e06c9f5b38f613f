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

#include <filesystem>
#include <string>

#include "workstation/db/testing/test_database.h"
#include "workstation/runs/run_context.h"

namespace velmora::runs::testing {

class TestWorkstation : public db::testing::TestDatabase {
 public:
  // standard_fixture: the database holds the shared standard fixture
  // (workstation/db/testing/fixture_database.h) instead of no rows.
  explicit TestWorkstation(const std::string& name, bool standard_fixture = false)
      : TestDatabase("velmora_runs_" + name, "seals.sqlite", standard_fixture) {
    EXPECT_TRUE(status().ok()) << status().message();
    std::filesystem::create_directories(dir / "program");
    std::filesystem::create_directories(dir / "user");
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

  void sql(const std::string& text) {
    Status s = exec(text);
    ASSERT_TRUE(s.ok()) << s.message();
  }

  // orlain.ini of the data folder: a header line, then `keys`; a failure to
  // write it fails the test.
  void write_ini(const std::string& keys) {
    Status s = TestDatabase::write_ini(keys);
    ASSERT_TRUE(s.ok()) << s.message();
  }

  void add_aspect(const std::string& aspect, const std::string& letter,
                  const std::string& cell_type, const std::string& pattern = "none") {
    sql("INSERT INTO aspects (aspect, aspect_letter, cell_type, pattern, from_r, to_r, step_r,"
        " from_theta_deg, to_theta_deg, step_theta_deg, sigmax_ratio, sigmay) VALUES ('" +
        aspect + "', '" + letter + "', '" + cell_type + "', '" + pattern +
        "', 2, 8, 2, 0, 150, 30, 0.5, 1.5)");
  }
  void add_algorithm(const std::string& letter, const std::string& type) {
    Status s = builder().add_algorithm(letter, type);
    ASSERT_TRUE(s.ok()) << s.message();
  }

  // One extract of animal `id`, on its own photograph.
  void add_cell(const std::string& id, const std::string& cell, const std::string& side,
                const std::string& status, const std::string& aspect = "flank") {
    Status s = TestDatabase::add_cell(id, cell, side, status, aspect);
    ASSERT_TRUE(s.ok()) << s.message();
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

  const std::filesystem::path dir = folder.root();
  RecordingControlPanel panel;
  ScriptedDialogs dialogs;
  RunContext ctx;
};

}  // namespace velmora::runs::testing
