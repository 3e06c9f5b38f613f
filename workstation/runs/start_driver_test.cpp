// The Start driver on a real database file: begin_run's steps, the
// multi-aspect batch, the three messages and their outcomes, the runs'
// starts and next_image with stand-ins for the later steps.
#include "workstation/runs/start_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "workstation/extract/blank_distance.h"
#include "workstation/runs/runs_test_workstation.h"
#include "workstation/session/run_start.h"

namespace velmora::runs {
namespace {

// What the operator does in the extraction window with one photograph.
struct ExtractFlags {
  bool ExtractReady = false;   // closed with OK
  bool ImageScrapped = false;  // closed with Scrap
  bool BlankEdited = false;    // blanked some pixels
};

using testing::TestWorkstation;

const ControlName kSettingsHiddenByStart[] = {
    "txtNumPend",   "chkQuick",    "Frame1",         "lblFoldersPath",  "txtFoldersPath",
    "lblDatabase",  "txtDatabase", "lblNewpics",     "txtNewpics",      "cmdBrowse",
    "chkMultiCore", "chkComb",     "chkStan",        "chkCrop",         "chkRestricted",
    "txtPm",        "lblPm",       "optInField",     "optBatchExtract", "optBatchCompare",
    "optVcheck",    "optTest",     "chkPreviousTest"};

bool shown_contains(const ScriptedDialogs& d, const std::string& part) {
  for (const auto& s : d.shown())
    if (s.text.find(part) != std::string::npos) return true;
  return false;
}

std::string all_shown(const ScriptedDialogs& d) {
  std::string out;
  for (const auto& s : d.shown()) out += "[" + s.text + "] ";
  return out;
}

class StartDriver : public ::testing::Test {
 protected:
  StartDriver() : ws_("driver") {}
  void SetUp() override {
    ws_.add_aspect("flank", "FL", "lateral", "dots");
    ws_.add_aspect("back", "BK", "Dorsal", "none");
    for (ControlName n : kSettingsHiddenByStart) ws_.panel.set_visible(n, true);
    ws_.panel.set_visible("lblTitle", true);
  }
  RecordingControlPanel& panel() { return ws_.panel; }
  RunContext& ctx() { return ws_.ctx; }
  TestWorkstation ws_;
};

TEST_F(StartDriver, NoModeChosenIsSaidAndChangesNothing) {
  ws_.add_cell("A7", "a1FL", "R", "P");
  Status s = begin_run(ctx());
  ASSERT_TRUE(s.ok()) << s.message();
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u);
  EXPECT_EQ(ws_.dialogs.shown()[0].text, kNoModeMessage);
  EXPECT_FALSE(ws_.dialogs.program_ended());
  // No blank window: every setting stays, nothing is opened or renumbered.
  for (ControlName n : kSettingsHiddenByStart) EXPECT_TRUE(panel().visible(n)) << n;
  EXPECT_TRUE(panel().visible("lblTitle"));
  EXPECT_EQ(panel().text("cmdStart"), "Start");
  EXPECT_EQ(ctx().statements, nullptr);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE cell_no IS NOT NULL"), 0);
}

TEST_F(StartDriver, StartPreparesRenumbersAndHidesTheSettingsBeforeItsMode) {
  ws_.add_cell("12A", "b2FL", "L", "L");
  ws_.add_cell("A7", "a1FL", "R", "P");
  ws_.add_algorithm("t", "tarvik");
  ws_.add_algorithm("c", "compnew_corr");
  // A test run whose step records what Start left for it.
  int runs = 0;
  bool settings_hidden = false;
  ctx().hooks.run_test = [&](RunContext&) {
    ++runs;
    settings_hidden = !panel().visible("txtDatabase") && !panel().visible("optTest");
    return Status::Ok();
  };
  panel().set_checked("optTest", true);

  Status s = begin_run(ctx());
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_TRUE(ws_.dialogs.shown().empty()) << all_shown(ws_.dialogs);
  EXPECT_FALSE(ws_.dialogs.program_ended());
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(settings_hidden);

  // Statements prepared, in the forms the test mode chooses.
  ASSERT_NE(ctx().statements, nullptr);
  EXPECT_TRUE(ctx().statements->has("images_to_extract"));
  EXPECT_TRUE(ctx().statements->has("library_cells"));
  EXPECT_FALSE(ctx().statements->has("pending_ids"));
  // Cells renumbered and looked up.
  EXPECT_EQ(ws_.count("SELECT cell_no FROM cells WHERE cell = 'a1FL'"), 1);
  EXPECT_EQ(ws_.count("SELECT cell_no FROM cells WHERE cell = 'b2FL'"), 2);
  EXPECT_EQ(ctx().cells.cell(2), "b2FL");
  EXPECT_EQ(ctx().cells.id(1), "A7");
  EXPECT_EQ(ctx().side_letters, (std::array<std::string, 3>{"L", "R", "M"}));
  EXPECT_EQ(ctx().algorithm_letters.tarvik, "t");
  EXPECT_EQ(ctx().algorithm_letters.compnew_corr, "c");
  EXPECT_EQ(ctx().algorithm_letters.CompSift, "");
  // The title gone, Start unchanged.
  EXPECT_FALSE(panel().visible("lblTitle"));
  EXPECT_TRUE(panel().control("vscAnimList").enabled);
  EXPECT_EQ(panel().text("cmdStart"), "Start");
  // The data folder got its final separator, in the box and in DataFolder.txt.
  EXPECT_EQ(panel().text("txtFoldersPath"), ws_.data_folder);
  std::ifstream folder_file(ws_.dir / "program" / "DataFolder.txt");
  std::string line1, line2, line3;
  std::getline(folder_file, line1);
  std::getline(folder_file, line2);
  std::getline(folder_file, line3);
  EXPECT_EQ(line1, ws_.data_folder);
  EXPECT_EQ(line2, ws_.db_path);
  EXPECT_EQ(line3, ws_.data_folder + "newpic/");
}

TEST_F(StartDriver, OrlainIniIsReadAgainAtEveryStart) {
  panel().set_checked("optBatchCompare", true);
  ws_.write_ini("MultiAspect=True\n");
  ASSERT_TRUE(begin_run(ctx()).ok());
  EXPECT_TRUE(ctx().settings.MultiAspect);
  EXPECT_TRUE(ctx().statements->has("pending_ids"));
  ws_.write_ini("MultiAspect=False\n");
  ASSERT_TRUE(begin_run(ctx()).ok());
  EXPECT_FALSE(ctx().settings.MultiAspect);
  EXPECT_FALSE(ctx().statements->has("pending_ids"));
}

TEST_F(StartDriver, RestrictedIsUncheckedOutsideRealTime) {
  panel().set_checked("chkRestricted", true);
  panel().set_checked("optInField", true);
  ctx().hooks.extraction.show_extraction_window = [](RunContext&) { return Status::Ok(); };
  ASSERT_TRUE(begin_run(ctx()).ok());  // no photographs: the program ends
  EXPECT_TRUE(panel().checked("chkRestricted"));

  TestWorkstation other("restricted");
  other.choose_quiet_mode();
  other.panel.set_checked("chkRestricted", true);
  ASSERT_TRUE(begin_run(other.ctx).ok());
  EXPECT_FALSE(other.panel.checked("chkRestricted"));
}

TEST_F(StartDriver, ADatabasePathThatIsNoDatabaseStopsWithAMessage) {
  ws_.choose_quiet_mode();
  panel().set_text("txtDatabase", ws_.data_folder + "seals.SQLITE");
  ws_.write_ini("MultiAspect=True\n");
  Status s = begin_run(ctx());
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  EXPECT_TRUE(shown_contains(ws_.dialogs, "could not be opened")) << all_shown(ws_.dialogs);
  EXPECT_EQ(ctx().statements, nullptr);
  EXPECT_EQ(panel().text("cmdStart"), "Start");
  EXPECT_TRUE(panel().visible("cmdStart"));
  EXPECT_TRUE(panel().visible("txtDatabase"));
  // The folder file is written after the paths are normalised, and orlain.ini
  // reread, whether or not a database opened.
  std::ifstream folder_file(ws_.dir / "program" / "DataFolder.txt");
  std::string line1, line2, line3;
  std::getline(folder_file, line1);
  std::getline(folder_file, line2);
  std::getline(folder_file, line3);
  EXPECT_EQ(line1, ws_.data_folder);
  EXPECT_EQ(line2, ws_.data_folder + "seals.SQLITE");
  EXPECT_EQ(line3, ws_.data_folder + "newpic/");
  EXPECT_TRUE(ctx().settings.MultiAspect);
}

TEST_F(StartDriver, ADatabaseErrorNamesTheStatementAndStopsTheRun) {
  ws_.choose_quiet_mode();
  ws_.add_cell("12A", "b2FL", "L", "L");
  ws_.sql("DROP VIEW SYSTEM_ImageLinks");
  Status s = begin_run(ctx());
  EXPECT_FALSE(s.ok());
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u) << all_shown(ws_.dialogs);
  EXPECT_NE(ws_.dialogs.shown()[0].text.find("images_to_extract"), std::string::npos)
      << ws_.dialogs.shown()[0].text;
  EXPECT_EQ(ctx().statements, nullptr);
  // Stopped before renumbering.
  EXPECT_EQ(ws_.text("SELECT cell_no FROM cells"), "");
  EXPECT_EQ(panel().text("cmdStart"), "Start");
}

TEST_F(StartDriver, MoreThanTwoHundredThousandCellsAreRefused) {
  ws_.add_cell("5", "seedFL", "L", "L");
  ws_.sql(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
      "INSERT INTO cells (cell, image, AutoMatch, side) "
      "SELECT printf('x%06dFL', i), 'img_seedFL', 'L', 'L' FROM n");
  panel().set_checked("optBatchCompare", true);
  bool compared = false;
  ctx().hooks.comparison.batch_compare_old_style = [&](RunContext&) {
    compared = true;
    return Status::Ok();
  };
  ws_.add_algorithm("t", "tarvik");
  Status s = begin_run(ctx());
  EXPECT_FALSE(s.ok());
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u) << all_shown(ws_.dialogs);
  EXPECT_NE(ws_.dialogs.shown()[0].text.find("200001 cells"), std::string::npos);
  EXPECT_FALSE(compared);
  EXPECT_EQ(ws_.count("SELECT count(*) FROM cells WHERE cell_no IS NOT NULL"), 0);
  EXPECT_EQ(ctx().cells.highest(), 0);
  EXPECT_TRUE(panel().visible("cmdStart"));
}

TEST_F(StartDriver, RecordsWaitingCancelEndsTheProgramBeforeComparing) {
  ws_.add_cell("12A", "v1FL", "L", "V");
  ws_.add_cell("12A", "v2FL", "L", "V");
  ws_.add_cell("13", "p1FL", "L", "P");
  ws_.add_algorithm("t", "tarvik");
  ws_.add_algorithm("h", "legcode");
  panel().set_checked("optBatchCompare", true);
  bool compared = false;
  ctx().hooks.comparison.batch_compare_old_style = [&](RunContext&) {
    compared = true;
    return Status::Ok();
  };
  ws_.dialogs.queue(Answer::kCancel);
  ASSERT_TRUE(begin_run(ctx()).ok());
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u) << all_shown(ws_.dialogs);
  // Two V extracts, each paired with every letter but h: 2 records.
  EXPECT_EQ(ws_.dialogs.shown()[0].text, "2 records waiting for visual checking will be compared");
  EXPECT_EQ(ws_.dialogs.shown()[0].buttons, Buttons::kOkCancel);
  EXPECT_TRUE(ws_.dialogs.program_ended());
  EXPECT_FALSE(compared);
  EXPECT_TRUE(panel().visible("txtNumPend"));  // ended before the settings were hidden
}

TEST_F(StartDriver, RecordsWaitingCountsAnimalsWithCombine) {
  ws_.add_cell("12A", "v1FL", "L", "V");
  ws_.add_cell("12A", "v2FL", "R", "V");
  ws_.add_cell("14", "v3FL", "R", "V");
  ws_.add_algorithm("t", "tarvik");
  ws_.add_algorithm("s", "compnew_spot");
  panel().set_checked("optInField", true);
  panel().set_checked("chkComb", true);
  ws_.dialogs.queue(Answer::kCancel);
  ASSERT_TRUE(begin_run(ctx()).ok());
  ASSERT_FALSE(ws_.dialogs.shown().empty());
  EXPECT_EQ(ws_.dialogs.shown()[0].text, "2 records waiting for visual checking will be compared");

  // Without "combine" the same extracts count once per letter: 3 x 2.
  TestWorkstation other("waiting");
  other.add_cell("12A", "v1FL", "L", "V");
  other.add_cell("12A", "v2FL", "R", "V");
  other.add_cell("14", "v3FL", "R", "V");
  other.add_algorithm("t", "tarvik");
  other.add_algorithm("s", "compnew_spot");
  other.panel.set_checked("optBatchCompare", true);
  other.dialogs.queue(Answer::kCancel);
  ASSERT_TRUE(begin_run(other.ctx).ok());
  ASSERT_FALSE(other.dialogs.shown().empty());
  EXPECT_EQ(other.dialogs.shown()[0].text,
            "6 records waiting for visual checking will be compared");
}

TEST_F(StartDriver, BatchComparisonRunsTheFamiliesInOrderAndReportsTheMissingOnes) {
  ws_.add_cell("12A", "v1FL", "L", "V");
  ws_.add_cell("13", "p1FL", "L", "P");
  ws_.add_algorithm("t", "tarvik");
  ws_.add_algorithm("s", "compnew_spot");
  ws_.add_algorithm("h", "legcode");
  ws_.add_algorithm("k", "CompSift");
  panel().set_checked("optBatchCompare", true);
  std::vector<std::string> calls;
  auto record = [&](const char* what) {
    return [&calls, what](RunContext& c) {
      calls.push_back(what);
      // The comparison sees what Start loaded.
      EXPECT_EQ(c.cells.cell(1), "p1FL");
      EXPECT_FALSE(c.panel->visible("cmdStart"));
      EXPECT_TRUE(c.panel->visible("ProgressBar1"));
      return Status::Ok();
    };
  };
  ctx().hooks.comparison.batch_compare_old_style = record("tarvik");
  ctx().hooks.comparison.compare_new_style = record("new style");
  ctx().hooks.comparison.compare_sift = record("sift");
  ctx().hooks.comparison.change_p_to_v = record("P to V");
  // OK to the records-waiting question (the script's default answer).
  ASSERT_TRUE(begin_run(ctx()).ok());
  EXPECT_EQ(calls, (std::vector<std::string>{"tarvik", "new style", "sift", "P to V"}));
  ASSERT_EQ(ws_.dialogs.shown().size(), 2u) << all_shown(ws_.dialogs);
  EXPECT_NE(ws_.dialogs.shown()[1].text.find("leg-code comparison is not available"),
            std::string::npos);
  EXPECT_EQ(panel().text("lblTitle"), "Batch compare completed - run visual confirm");
  EXPECT_TRUE(panel().visible("lblTitle"));
  EXPECT_EQ(panel().title_colour(), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(ws_.dialogs.beeps(), 1);
  // The settings are back: the operator goes on without restarting.
  EXPECT_TRUE(panel().visible("cmdStart"));
  EXPECT_EQ(panel().text("cmdStart"), "Start");
  EXPECT_TRUE(panel().visible("optVcheck"));
  EXPECT_FALSE(panel().visible("cmdStop"));
  EXPECT_FALSE(ws_.dialogs.program_ended());
}

TEST_F(StartDriver, AFamilyWithoutALetterIsNotRun) {
  ws_.add_algorithm("c", "compnew_corr");
  ws_.add_algorithm("k", "CompSift");
  panel().set_checked("optBatchCompare", true);
  panel().set_checked("chkMultiCore", true);
  std::vector<std::string> calls;
  ctx().hooks.comparison.batch_compare_old_style = [&](RunContext&) {
    calls.push_back("tarvik");
    return Status::Ok();
  };
  ctx().hooks.comparison.compare_new_style = [&](RunContext&) {
    calls.push_back("new style");
    return Status::Ok();
  };
  ctx().hooks.comparison.compare_legcodes = [&](RunContext&) {
    calls.push_back("legcode");
    return Status::Ok();
  };
  ctx().hooks.comparison.compare_sift = [&](RunContext&) {
    calls.push_back("sift");
    return Status::Ok();
  };
  ctx().hooks.comparison.change_p_to_v = [&](RunContext&) {
    calls.push_back("P to V");
    return Status::Ok();
  };
  ASSERT_TRUE(begin_run(ctx()).ok());
  EXPECT_EQ(calls, (std::vector<std::string>{"new style", "sift", "P to V"}));
  EXPECT_TRUE(ws_.dialogs.shown().empty()) << all_shown(ws_.dialogs);
  EXPECT_NE(panel().text("lblTitle").find("This instance of batch compare completed"),
            std::string::npos);
  // Coloured, so that it does not lie grey on grey.
  EXPECT_EQ(panel().title_colour(), (std::vector<int>{0, 0, 255}));
}

TEST_F(StartDriver, AFailingComparisonStopsTheBatchWithItsMessage) {
  ws_.add_algorithm("t", "tarvik");
  ws_.add_algorithm("k", "CompSift");
  panel().set_checked("optBatchCompare", true);
  bool later = false;
  ctx().hooks.comparison.batch_compare_old_style = [](RunContext&) {
    return Status::Database("insert_pretemp: disk I/O error");
  };
  ctx().hooks.comparison.compare_sift = [&](RunContext&) {
    later = true;
    return Status::Ok();
  };
  ctx().hooks.comparison.change_p_to_v = ctx().hooks.comparison.compare_sift;
  EXPECT_FALSE(begin_run(ctx()).ok());
  EXPECT_FALSE(later);
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u);
  EXPECT_EQ(ws_.dialogs.shown()[0].text, "insert_pretemp: disk I/O error");
  EXPECT_EQ(ws_.dialogs.beeps(), 0);
  EXPECT_TRUE(panel().visible("cmdStart"));
}

TEST_F(StartDriver, AMistypedBatchSizeStopsBeforeAnythingIsWritten) {
  ws_.add_cell("13", "p1FL", "L", "P");
  panel().set_checked("optBatchCompare", true);
  panel().set_text("txtNumPend", "2OO");
  EXPECT_EQ(begin_run(ctx()).code(), Status::Code::kInvalidArgument);
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u);
  EXPECT_NE(ws_.dialogs.shown()[0].text.find("2OO"), std::string::npos);
  EXPECT_EQ(ws_.text("SELECT cell_no FROM cells"), "");
}

class MultiAspectBatch : public StartDriver {
 protected:
  void SetUp() override {
    StartDriver::SetUp();
    ws_.write_ini("MultiAspect=True\n");
    panel().set_checked("optBatchCompare", true);
    ctx().hooks.comparison.change_p_to_v = [](RunContext&) { return Status::Ok(); };
  }
  std::vector<std::string> batch_ids() {
    std::vector<std::string> ids;
    db::RecordSet rs;
    EXPECT_TRUE(ws_.db->query("ids", "SELECT ID FROM compIDs ORDER BY ID", &rs).ok());
    for (rs.move_first(); !rs.eof(); rs.move_next()) ids.push_back(rs.text("ID"));
    return ids;
  }
};

TEST_F(MultiAspectBatch, TheAnimalThatCrossesTheBatchSizeIsTheLastOne) {
  // At a batch size of 200: A brings the left count to 100, B's 150 left
  // images take it to 250 and end the batch; C is left for the next one.
  ws_.add_cells("A", "a", 100, "L", "P");
  ws_.add_cells("B", "b", 150, "L", "P");
  ws_.add_cells("C", "c", 10, "L", "P");
  ws_.sql("INSERT INTO compIDs (ID) VALUES ('stale')");
  ASSERT_TRUE(begin_run(ctx()).ok()) << all_shown(ws_.dialogs);
  EXPECT_EQ(batch_ids(), (std::vector<std::string>{"A", "B"}));

  int left = 0, right = 0;
  ASSERT_TRUE(session::fill_multi_aspect_batch(ctx(), 200, &left, &right).ok());
  EXPECT_EQ(left, 250);
  EXPECT_EQ(right, 0);
  // The pending cells are then those of A and B only.
  db::Statement* pending = ctx().statement("pending_cells");
  ASSERT_TRUE(pending->set("pAspect_letter", std::string("FL")).ok());
  ASSERT_TRUE(pending->set("pSide", std::string("L")).ok());
  db::RecordSet rs;
  ASSERT_TRUE(pending->open(&rs).ok());
  EXPECT_EQ(rs.row_count(), 250);
}

TEST_F(MultiAspectBatch, TheRightCountEndsTheBatchAsWell) {
  ws_.add_cells("A", "a", 120, "R", "P");
  ws_.add_cells("B", "b", 90, "R", "P");
  ws_.add_cells("C", "c", 5, "L", "P");
  int left = 0, right = 0;
  ASSERT_TRUE(begin_run(ctx()).ok()) << all_shown(ws_.dialogs);
  ASSERT_TRUE(session::fill_multi_aspect_batch(ctx(), 200, &left, &right).ok());
  EXPECT_EQ(batch_ids(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(right, 210);
  EXPECT_EQ(left, 0);

  // A batch size of 0 takes no animal at all (results import only).
  ASSERT_TRUE(session::fill_multi_aspect_batch(ctx(), 0, &left, &right).ok());
  EXPECT_TRUE(batch_ids().empty());
  // A size above every count takes every animal.
  ASSERT_TRUE(session::fill_multi_aspect_batch(ctx(), 400, &left, &right).ok());
  EXPECT_EQ(batch_ids(), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(left, 5);
  EXPECT_EQ(right, 210);
}

TEST_F(MultiAspectBatch, TheTestModeTakesNoBatch) {
  ws_.add_cells("A", "a", 3, "L", "P");
  panel().set_checked("optBatchCompare", false);
  panel().set_checked("optTest", true);
  ASSERT_TRUE(begin_run(ctx()).ok());
  EXPECT_TRUE(batch_ids().empty());
  EXPECT_FALSE(ctx().statements->has("insert_comp_id"));
  EXPECT_TRUE(shown_contains(ws_.dialogs, "test-rank evaluation is not available"));
  EXPECT_FALSE(ctx().test_run);
}

TEST_F(MultiAspectBatch, AFailureHalfWayLeavesTheLastBatchAsItWas) {
  ws_.add_cells("A", "a", 3, "L", "P");
  ws_.add_cells("B", "b", 3, "L", "P");
  ws_.sql("INSERT INTO compIDs (ID) VALUES ('stale')");
  // The second animal's insert fails, after the old batch was deleted and
  // the first animal inserted.
  ws_.sql(
      "CREATE TRIGGER full_batch BEFORE INSERT ON compIDs "
      "WHEN (SELECT count(*) FROM compIDs) >= 1 BEGIN SELECT RAISE(ABORT, 'disk full'); END");
  Status s = begin_run(ctx());
  EXPECT_FALSE(s.ok());
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u) << all_shown(ws_.dialogs);
  EXPECT_NE(ws_.dialogs.shown()[0].text.find("insert_comp_id"), std::string::npos)
      << ws_.dialogs.shown()[0].text;
  EXPECT_NE(ws_.dialogs.shown()[0].text.find("disk full"), std::string::npos);
  EXPECT_EQ(batch_ids(), (std::vector<std::string>{"stale"}));
  EXPECT_EQ(panel().text("cmdStart"), "Start");
  EXPECT_TRUE(panel().visible("txtNumPend"));  // the batch settings are offered again
}

TEST_F(StartDriver, ARenumberingThatFailsHalfWayKeepsTheOldNumbers) {
  ws_.choose_quiet_mode();
  for (const char* c : {"k10FL", "k20FL", "k30FL"}) ws_.add_cell("5", c, "L", "L");
  ws_.sql("UPDATE cells SET cell_no = 7 WHERE cell = 'k10FL'");
  ws_.sql("UPDATE cells SET cell_no = 8 WHERE cell = 'k20FL'");
  ws_.sql("UPDATE cells SET cell_no = 9 WHERE cell = 'k30FL'");
  ws_.sql(
      "CREATE TRIGGER locked BEFORE UPDATE OF cell_no ON cells WHEN OLD.cell = 'k30FL' "
      "BEGIN SELECT RAISE(ABORT, 'locked'); END");
  EXPECT_FALSE(begin_run(ctx()).ok());
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u) << all_shown(ws_.dialogs);
  EXPECT_NE(ws_.dialogs.shown()[0].text.find("locked"), std::string::npos);
  EXPECT_EQ(ws_.count("SELECT cell_no FROM cells WHERE cell = 'k10FL'"), 7);
  EXPECT_EQ(ws_.count("SELECT cell_no FROM cells WHERE cell = 'k20FL'"), 8);
  EXPECT_EQ(ctx().cells.highest(), 0);
}

TEST(BatchSize, ReadsAWholeNumber) {
  RecordingControlPanel p;
  int n = -1;
  p.set_text("txtNumPend", "200");
  ASSERT_TRUE(batch_size(p, &n).ok());
  EXPECT_EQ(n, 200);
  p.set_text("txtNumPend", " 0 ");
  ASSERT_TRUE(batch_size(p, &n).ok());
  EXPECT_EQ(n, 0);
  p.set_text("txtNumPend", "12.5");  // halves to even
  ASSERT_TRUE(batch_size(p, &n).ok());
  EXPECT_EQ(n, 12);
  for (const char* bad : {"", "-1", "ten", "1e12"}) {
    p.set_text("txtNumPend", bad);
    EXPECT_FALSE(batch_size(p, &n).ok()) << bad;
  }
}

// ------------------------------------------------------------ extraction runs

class ExtractionRunTest : public StartDriver {
 protected:
  struct Window {
    std::vector<std::string> cells;      // the photographs shown, in order
    std::vector<ExtractFlags> outcomes;  // what the operator does with each
  };
  void SetUp() override {
    StartDriver::SetUp();
    panel().set_checked("optBatchExtract", true);
    ctx().hooks.extraction.show_extraction_window = [this](RunContext& c) {
      EXPECT_EQ(c.extraction.margin, 12);
      EXPECT_FALSE(c.panel->visible("lblWhichExtract"));
      size_t i = window_.cells.size();
      window_.cells.push_back(c.extraction.current_image_row.text("cell"));
      ExtractFlags f;
      if (i < window_.outcomes.size()) f = window_.outcomes[i];
      c.shared_extract.extract_ready = f.ExtractReady;
      c.shared_extract.image_scrapped = f.ImageScrapped;
      c.shared_extract.blank_edited = f.BlankEdited;
      // The window blanks pixel (1, 1) of an extract it calls blanked.
      c.shared_extract.blank[0] = f.BlankEdited ? extract::kBlankPixel : extract::kUsablePixel;
      return Status::Ok();
    };
    ctx().hooks.kernels.calc_dot_wavelet = [this](int from, int to, int step) {
      kernels_.push_back("dots " + std::to_string(from) + " " + std::to_string(to) + " " +
                         std::to_string(step));
      return Status::Ok();
    };
    ctx().hooks.kernels.calc_stripe_wavelet = [this](int, int, int, int, int, int, double,
                                                     double sigmay) {
      kernels_.push_back("stripes " + std::to_string(sigmay));
      return Status::Ok();
    };
    ctx().hooks.extraction.run_pipeline = [this](RunContext& c) {
      pipeline_.push_back(c.extraction.current_image_row.text("cell"));
      EXPECT_EQ(c.processing.images().blank_distance[0], extract::kBlankDistanceCap);
      // The save step.
      c.extraction.current_image_row.edit("AutoMatch", std::string("P"));
      Status s = c.extraction.current_image_row.update();
      c.panel->set_visible("cmdStart", true);
      return s;
    };
  }
  static ExtractFlags ready() {
    ExtractFlags f;
    f.ExtractReady = true;
    return f;
  }
  static ExtractFlags scrapped() {
    ExtractFlags f;
    f.ImageScrapped = true;
    return f;
  }
  Window window_;
  std::vector<std::string> kernels_, pipeline_;
};

TEST_F(ExtractionRunTest, NoPhotographsEndsTheProgram) {
  ws_.add_cell("12A", "p1FL", "L", "P");
  ASSERT_TRUE(begin_run(ctx()).ok());
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u);
  EXPECT_EQ(ws_.dialogs.shown()[0].text, "no images set for pattern extraction");
  EXPECT_TRUE(ws_.dialogs.program_ended());
  EXPECT_TRUE(window_.cells.empty());
}

TEST_F(ExtractionRunTest, EachOutcomeSetsItsStatus) {
  ws_.add_cell("12A", "a#1FL", "L", "E");
  ws_.add_cell("12A", "b_LC1FL", "L", "E");
  ws_.add_cell("12A", "c1FL", "L", "E");
  ws_.add_cell("12A", "d1FL", "L", "E");
  window_.outcomes = {ready(), ready(), ready(), scrapped()};

  ASSERT_TRUE(begin_run(ctx()).ok()) << all_shown(ws_.dialogs);
  EXPECT_EQ(ctx().extraction.list_size, 4);
  EXPECT_EQ(panel().text("cmdStart"), "Next image");
  EXPECT_TRUE(panel().visible("picExtract"));
  EXPECT_EQ(ws_.status_of("a#1FL"), "G");
  EXPECT_TRUE(pipeline_.empty());  // "#": no pipeline
  EXPECT_TRUE(panel().visible("cmdStart"));

  ASSERT_TRUE(cmdStart_clicked(ctx()).ok());
  EXPECT_EQ(ws_.status_of("b_LC1FL"), "P");
  EXPECT_TRUE(pipeline_.empty());  // "_LC": straight to pending

  ASSERT_TRUE(cmdStart_clicked(ctx()).ok());
  EXPECT_EQ(pipeline_, (std::vector<std::string>{"c1FL"}));
  EXPECT_EQ(ws_.status_of("c1FL"), "P");

  ASSERT_TRUE(cmdStart_clicked(ctx()).ok());
  EXPECT_EQ(ws_.status_of("d1FL"), "S");
  EXPECT_EQ(ctx().extraction.image_count, 4);
  EXPECT_FALSE(ws_.dialogs.program_ended());

  // The end of the list ends the program.
  ASSERT_TRUE(cmdStart_clicked(ctx()).ok());
  EXPECT_TRUE(ws_.dialogs.program_ended());
  EXPECT_EQ(window_.cells, (std::vector<std::string>{"a#1FL", "b_LC1FL", "c1FL", "d1FL"}));
  EXPECT_TRUE(ws_.dialogs.shown().empty()) << all_shown(ws_.dialogs);
}

TEST_F(ExtractionRunTest, KernelsAreRebuiltOnlyWhenTheAspectChanges) {
  ws_.add_aspect("head", "HD", "lateral", "black_stripe");
  ws_.add_cell("1", "a1FL", "L", "E", "flank");
  ws_.add_cell("1", "a2FL", "L", "E", "flank");
  ws_.add_cell("1", "a3BK", "M", "E", "back");  // pattern "none": never rebuilt
  ws_.add_cell("1", "a4HD", "L", "E", "head");
  ws_.add_cell("1", "a5FL", "L", "E", "flank");
  window_.outcomes = {scrapped(), scrapped(), scrapped(), scrapped(), scrapped()};
  ASSERT_TRUE(begin_run(ctx()).ok()) << all_shown(ws_.dialogs);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(cmdStart_clicked(ctx()).ok());
  EXPECT_EQ(window_.cells.size(), 5u);
  EXPECT_EQ(kernels_, (std::vector<std::string>{"dots 2 8 2", "stripes 1.500000", "dots 2 8 2"}));
  EXPECT_EQ(ctx().aspect_settings.pattern, "dots");
  // The "please wait" caption went up in 12 points and back to 10 each time.
  ASSERT_GE(panel().font_sizes().size(), 2u);
  EXPECT_EQ(panel().font_sizes()[0], (std::pair<std::string, int>{"lblWhichExtract", 12}));
  EXPECT_EQ(panel().font_sizes()[1], (std::pair<std::string, int>{"lblWhichExtract", 10}));
  EXPECT_EQ(panel().text("lblWhichExtract"), "   please wait...");
}

TEST_F(ExtractionRunTest, ClosingTheWindowWithoutOkOrScrapEndsTheProgram) {
  ws_.add_cell("1", "a1FL", "L", "E");
  ws_.add_cell("1", "a2FL", "L", "E");
  window_.outcomes = {ExtractFlags{}};
  ASSERT_TRUE(begin_run(ctx()).ok());
  EXPECT_TRUE(ws_.dialogs.program_ended());
  EXPECT_EQ(ws_.status_of("a1FL"), "E");
}

TEST_F(ExtractionRunTest, ABlankedExtractGetsItsDistanceMapWhenConfigured) {
  ws_.write_ini("do_blankdist=True\n");
  ws_.add_cell("1", "a1FL", "L", "E");
  ws_.add_cell("1", "a2FL", "L", "E");
  ExtractFlags blanked = ready();
  blanked.BlankEdited = true;
  window_.outcomes = {blanked, ready()};
  int maps = 0;
  ctx().hooks.extraction.compute_blank_distance = [&](RunContext& c) {
    ++maps;
    // The real map: 0 at the blank pixel itself; the next extract must find
    // the map reset.
    c.processing.compute_blank_distance(c.shared_extract);
    EXPECT_EQ(c.processing.images().blank_distance[0], 0.0f);
    return Status::Ok();
  };
  ctx().hooks.extraction.run_pipeline = [&](RunContext& c) {
    pipeline_.push_back(c.extraction.current_image_row.text("cell"));
    if (pipeline_.size() == 2) {
      EXPECT_EQ(c.processing.images().blank_distance[0], extract::kBlankDistanceCap);
    }
    c.panel->set_visible("cmdStart", true);
    return Status::Ok();
  };
  ASSERT_TRUE(begin_run(ctx()).ok());
  ASSERT_TRUE(cmdStart_clicked(ctx()).ok());
  EXPECT_EQ(maps, 1);
  EXPECT_EQ(pipeline_.size(), 2u);
}

TEST_F(ExtractionRunTest, RealTimeAppliesTheMergesAtTheEndOfTheList) {
  panel().set_checked("optBatchExtract", false);
  panel().set_checked("optInField", true);
  panel().set_visible("picPendImage", true);
  ws_.add_cell("1", "a1FL", "L", "E");
  window_.outcomes = {scrapped()};
  int merges = 0;
  ctx().hooks.review.apply_queued_merges = [&](RunContext&) {
    ++merges;
    return Status::Ok();
  };
  ASSERT_TRUE(begin_run(ctx()).ok());
  EXPECT_FALSE(panel().visible("picPendImage"));  // the review layout is left
  EXPECT_FALSE(panel().visible("optInField"));
  ASSERT_TRUE(cmdStart_clicked(ctx()).ok());
  EXPECT_EQ(merges, 1);
  EXPECT_TRUE(ws_.dialogs.program_ended());
}

TEST_F(ExtractionRunTest, AMissingExtractionWindowStopsTheRunCleanly) {
  ctx().hooks.extraction.show_extraction_window = nullptr;
  ws_.add_cell("1", "a1FL", "L", "E");
  ASSERT_TRUE(begin_run(ctx()).ok());
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u);
  EXPECT_EQ(ws_.dialogs.shown()[0].text,
            "The extraction window is not available in this version of Velmora.");
  EXPECT_FALSE(ws_.dialogs.program_ended());
  EXPECT_EQ(panel().text("cmdStart"), "Start");
  EXPECT_TRUE(panel().visible("cmdStart"));
  EXPECT_TRUE(panel().visible("optBatchExtract"));
  EXPECT_FALSE(panel().visible("picExtract"));
  EXPECT_EQ(ws_.status_of("a1FL"), "E");
  // Start again begins a new run.
  ws_.dialogs.queue(Answer::kOk);
  ASSERT_TRUE(cmdStart_clicked(ctx()).ok());
  EXPECT_EQ(ws_.dialogs.shown().size(), 2u);
}

TEST_F(ExtractionRunTest, AStatusThatCannotBeWrittenStopsTheRun) {
  ws_.add_cell("1", "a#1FL", "L", "E");
  ws_.add_cell("1", "a2FL", "L", "E");
  window_.outcomes = {ready()};
  ws_.sql(
      "CREATE TRIGGER no_status BEFORE UPDATE OF AutoMatch ON cells "
      "BEGIN SELECT RAISE(ABORT, 'read-only copy'); END");
  EXPECT_FALSE(begin_run(ctx()).ok());
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u) << all_shown(ws_.dialogs);
  EXPECT_NE(ws_.dialogs.shown()[0].text.find("read-only copy"), std::string::npos);
  EXPECT_EQ(ws_.status_of("a#1FL"), "E");
  EXPECT_EQ(panel().text("cmdStart"), "Start");
  EXPECT_FALSE(ws_.dialogs.program_ended());
}

// --------------------------------------------------------------- review runs

TEST_F(StartDriver, AnEmptyReviewListEndsTheProgram) {
  panel().set_checked("optVcheck", true);
  ws_.add_algorithm("t", "tarvik");
  ws_.add_cell("1", "p1FL", "L", "P");
  ASSERT_TRUE(begin_run(ctx()).ok());
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u);
  EXPECT_EQ(ws_.dialogs.shown()[0].text, "no results listed for visual checking");
  EXPECT_TRUE(ws_.dialogs.program_ended());
}

TEST_F(StartDriver, AReviewRunShowsItsLayoutAndTheFirstItem) {
  panel().set_checked("optVcheck", true);
  ws_.add_algorithm("t", "tarvik");
  ws_.add_cell("1", "v1FL", "L", "V");
  ws_.add_cell("2", "v2FL", "L", "V");
  int shown = 0;
  ctx().hooks.review.show_next_pending = [&](RunContext& c) {
    ++shown;
    EXPECT_EQ(c.review.outcome_word, "unmatched");
    EXPECT_EQ(c.review.reviewed, 0);
    EXPECT_EQ(c.review.review_list.text("cell"), "v1FL");
    EXPECT_FALSE(c.panel->visible("cmdStart"));
    EXPECT_TRUE(c.panel->visible("cmdSetupChoice"));
    EXPECT_TRUE(c.panel->visible("picLibImage(0)"));
    EXPECT_TRUE(c.panel->visible("vscPendList"));
    return Status::Ok();
  };
  ASSERT_TRUE(begin_run(ctx()).ok()) << all_shown(ws_.dialogs);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(panel().text("cmdStart"), "Next image");
  EXPECT_FALSE(panel().visible("optVcheck"));
  EXPECT_TRUE(ws_.dialogs.shown().empty()) << all_shown(ws_.dialogs);
  ASSERT_TRUE(cmdStart_clicked(ctx()).ok());
  EXPECT_EQ(shown, 2);
}

TEST_F(StartDriver, AReviewWithoutItsStepStopsCleanly) {
  panel().set_checked("optVcheck", true);
  ws_.add_algorithm("t", "tarvik");
  ws_.add_cell("1", "v1FL", "L", "V");
  ASSERT_TRUE(begin_run(ctx()).ok());
  EXPECT_TRUE(shown_contains(ws_.dialogs, "review of candidates is not available"));
  EXPECT_EQ(panel().text("cmdStart"), "Start");
  EXPECT_FALSE(panel().visible("picPendImage"));
  EXPECT_TRUE(panel().visible("optVcheck"));
  EXPECT_TRUE(panel().visible("chkComb"));  // the mode's own settings are back
}

TEST_F(StartDriver, TheTestRunIsMarked) {
  panel().set_checked("optTest", true);
  bool ran = false;
  ctx().hooks.run_test = [&](RunContext& c) {
    ran = c.test_run;
    return Status::Ok();
  };
  ASSERT_TRUE(begin_run(ctx()).ok());
  EXPECT_TRUE(ran);
  EXPECT_TRUE(ctx().test_run);
}

}  // namespace
}  // namespace velmora::runs
