// The main window's handlers without the window: start-up, the fade, the
// folder boxes, "browse", "use multiple cores" with the aspect lists, and
// the window's closing.
#include "workstation/runs/main_form.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "workstation/runs/main_window_controls.h"
#include "workstation/runs/runs_test_workstation.h"

namespace velmora::runs {
namespace {

using testing::TestWorkstation;

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() : ws_("form"), form_(&ws_.ctx) {}
  void write_folder_file(const std::string& data, const std::string& db, const std::string& pics) {
    std::ofstream(ws_.dir / "program" / "DataFolder.txt") << data << "\n"
                                                          << db << "\n"
                                                          << pics << "\n";
  }
  TestWorkstation ws_;
  MainForm form_;
};

TEST_F(MainFormTest, StartUpWithoutAFolderFileHidesTheFoldersAndStart) {
  ws_.panel.set_visible("cmdStart", true);
  EXPECT_FALSE(form_.form_load());
  EXPECT_EQ(ws_.panel.text("lblTitle"), kAcknowledgement);
  EXPECT_FALSE(ws_.panel.visible("txtDatabase"));
  EXPECT_FALSE(ws_.panel.visible("lblNewpics"));
  EXPECT_FALSE(ws_.panel.visible("cmdStart"));
  EXPECT_EQ(ws_.panel.title_colour(), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(ws_.panel.text("cmdSetupChoice"), "next extract");
  EXPECT_TRUE(form_.fading());
  EXPECT_TRUE(ws_.dialogs.shown().empty());

  // The end of the fade shows them again.
  form_.form_clicked();
  EXPECT_TRUE(form_.title_timer_tick());
  EXPECT_FALSE(form_.fading());
  EXPECT_TRUE(ws_.panel.visible("txtDatabase"));
  EXPECT_TRUE(ws_.panel.visible("cmdStart"));
  EXPECT_TRUE(ws_.panel.visible("optTest"));
  EXPECT_EQ(ws_.panel.title_colour(), (std::vector<int>{192, 192, 192}));
}

TEST_F(MainFormTest, StartUpReadsTheFolderFileAndItsConfiguration) {
  ws_.write_ini("MultiAspect=True\nlibrary_name=lib/\n");
  write_folder_file(ws_.data_folder, ws_.db_path, ws_.data_folder + "newpic/");
  ws_.panel.set_checked("chkComb", true);
  int cleared = 0;
  ws_.ctx.hooks.review.clear_merge_queue = [&](RunContext&) {
    ++cleared;
    return Status::Ok();
  };
  EXPECT_TRUE(form_.form_load());
  EXPECT_EQ(ws_.panel.text("txtFoldersPath"), ws_.data_folder);
  EXPECT_EQ(ws_.panel.text("txtDatabase"), ws_.db_path);
  EXPECT_EQ(ws_.panel.text("txtNewpics"), ws_.data_folder + "newpic/");
  EXPECT_TRUE(ws_.ctx.settings.MultiAspect);
  EXPECT_EQ(ws_.ctx.settings.library_name, "lib/");
  EXPECT_EQ(ws_.panel.text("cmdSetupChoice"), "stop checks");
  EXPECT_EQ(cleared, 1);
  EXPECT_TRUE(ws_.dialogs.shown().empty());
}

TEST_F(MainFormTest, AFaultyConfigurationIsReportedAtStartUp) {
  ws_.write_ini("avg_depth_default=lots\n");
  write_folder_file(ws_.data_folder, ws_.db_path, ws_.data_folder + "newpic/");
  EXPECT_TRUE(form_.form_load());
  ASSERT_EQ(ws_.dialogs.shown().size(), 1u);
  EXPECT_NE(ws_.dialogs.shown()[0].text.find("avg_depth_default"), std::string::npos)
      << ws_.dialogs.shown()[0].text;
}

TEST_F(MainFormTest, AShortFolderFileFillsWhatItHasAndSaysSo) {
  std::ofstream(ws_.dir / "program" / "DataFolder.txt") << ws_.data_folder << "\n";
  ws_.panel.set_text("txtDatabase", "typed");
  EXPECT_TRUE(form_.form_load());
  EXPECT_EQ(ws_.panel.text("txtFoldersPath"), ws_.data_folder);
  EXPECT_EQ(ws_.panel.text("txtDatabase"), "");
  ASSERT_FALSE(ws_.dialogs.shown().empty());
  EXPECT_NE(ws_.dialogs.shown()[0].text.find("DataFolder.txt"), std::string::npos)
      << ws_.dialogs.shown()[0].text;
}

TEST_F(MainFormTest, FadeRunsItsCourseWithoutAClick) {
  form_.form_load();
  int ticks = 0;
  while (!form_.title_timer_tick()) ASSERT_LT(++ticks, 1000);
  EXPECT_GT(ticks, 30);
  // Further ticks (a timer event already queued) change nothing.
  EXPECT_TRUE(form_.title_timer_tick());
  form_.form_clicked();
  EXPECT_FALSE(form_.fading());
}

TEST_F(MainFormTest, BrowseDerivesTheFoldersAndSetsTheWorkingFolder) {
  ws_.write_ini("LimitSearch=False\nMultiAspect=True\n");
  ws_.ctx.settings.LimitSearch = true;
  ws_.panel.set_text("txtFoldersPath", "");
  ws_.panel.set_text("txtNewpics", "");
  const std::filesystem::path before = std::filesystem::current_path();
  form_.database_chosen(ws_.db_path);
  const std::filesystem::path after = std::filesystem::current_path();
  std::filesystem::current_path(before);
  EXPECT_EQ(ws_.panel.text("txtDatabase"), ws_.db_path);
  EXPECT_EQ(ws_.panel.text("txtFoldersPath"), ws_.data_folder);
  EXPECT_EQ(ws_.panel.text("txtNewpics"), ws_.data_folder + "newpic/");
  EXPECT_TRUE(ws_.panel.visible("txtFoldersPath"));
  EXPECT_TRUE(ws_.panel.visible("cmdStart"));
  EXPECT_FALSE(ws_.ctx.settings.LimitSearch);
  EXPECT_TRUE(ws_.ctx.settings.MultiAspect);
  EXPECT_EQ(std::filesystem::canonical(after), std::filesystem::canonical(ws_.dir / "program"));
  EXPECT_EQ(ws_.ctx.working_folder, (ws_.dir / "program").string());

  // A cancelled open box changes nothing.
  ws_.panel.set_text("txtDatabase", "kept");
  form_.database_chosen("");
  EXPECT_EQ(ws_.panel.text("txtDatabase"), "kept");
}

TEST_F(MainFormTest, LeavingTheDatabaseBoxDerivesTheFolders) {
  ws_.panel.set_text("txtDatabase", "/srv/seals/2024.sqlite");
  form_.control_left("txtDatabase");
  EXPECT_EQ(ws_.panel.text("txtFoldersPath"), "/srv/seals/");
  EXPECT_EQ(ws_.panel.text("txtNewpics"), "/srv/seals/newpic/");
  // An emptied box leaves the folders alone.
  ws_.panel.set_text("txtDatabase", "");
  form_.control_left("txtDatabase");
  EXPECT_EQ(ws_.panel.text("txtFoldersPath"), "/srv/seals/");
  EXPECT_TRUE(ws_.dialogs.shown().empty());
}

TEST_F(MainFormTest, MultipleCoresOffersOnlyMForADorsalAspect) {
  ws_.add_aspect("flank", "FL", "lateral");
  ws_.add_aspect("back", "BK", "Dorsal");
  ws_.panel.set_checked("chkMultiCore", true);
  ws_.panel.set_visible("cmbAspect", false);
  form_.check_clicked("chkMultiCore");
  EXPECT_TRUE(ws_.ctx.session.is_open());
  EXPECT_TRUE(ws_.panel.visible("cmbAspect"));
  EXPECT_EQ(ws_.panel.items("cmbAspect"), (std::vector<std::string>{"flank", "back"}));

  ws_.panel.select_item("cmbAspect", 1);
  form_.list_chosen("cmbAspect");
  EXPECT_TRUE(ws_.panel.visible("cmbSide"));
  EXPECT_EQ(ws_.panel.items("cmbSide"), (std::vector<std::string>{"M"}));
  EXPECT_EQ(ws_.panel.text("cmbSide"), "M");

  ws_.panel.select_item("cmbAspect", 0);
  form_.list_chosen("cmbAspect");
  EXPECT_EQ(ws_.panel.items("cmbSide"), (std::vector<std::string>{"L", "R"}));
}

TEST_F(MainFormTest, LimitSearchFillsTheSiteListsAndLeavingThemKeepsTheChoice) {
  ws_.write_ini("LimitSearch=True\n");
  ws_.sql(
      "INSERT INTO landscapes (site, landscape) VALUES ('Rock', 'North'), ('Bay', 'South'),"
      " ('Cove', NULL)");
  form_.database_chosen(ws_.db_path);  // reads LimitSearch=True, opens nothing yet
  std::filesystem::current_path(ws_.dir);
  ASSERT_TRUE(ws_.ctx.settings.LimitSearch);
  form_.control_left("optBatchCompare");
  EXPECT_EQ(ws_.panel.items("cmbSites"), (std::vector<std::string>{"", "Bay", "Cove", "Rock"}));
  EXPECT_EQ(ws_.panel.items("cmbLandscapes"), (std::vector<std::string>{"", "North", "South"}));
  EXPECT_EQ(ws_.panel.text("cmbSites"), "");

  ws_.panel.select_item("cmbSites", 3);
  form_.control_left("cmbSites");
  ws_.panel.select_item("cmbLandscapes", 2);
  form_.control_left("cmbLandscapes");
  EXPECT_EQ(ws_.ctx.chosen_site, "Rock");
  EXPECT_EQ(ws_.ctx.chosen_landscape, "South");
}

TEST_F(MainFormTest, BatchSizeTypedAs500Becomes400) {
  ws_.panel.set_text("txtNumPend", "500");
  form_.text_changed("txtNumPend");
  EXPECT_EQ(ws_.panel.text("txtNumPend"), "400");
}

TEST_F(MainFormTest, ClosingTheWindowAppliesTheQueuedMerges) {
  int merges = 0;
  ws_.ctx.hooks.review.apply_queued_merges = [&](RunContext&) {
    ++merges;
    return Status::Ok();
  };
  form_.form_unload();
  EXPECT_EQ(merges, 1);
  // Every ending of the program has applied them already.
  ws_.dialogs.end_program();
  form_.form_unload();
  EXPECT_EQ(merges, 1);

  // Without the merge step nothing happens.
  TestWorkstation other("unload");
  MainForm plain(&other.ctx);
  plain.form_unload();
  EXPECT_TRUE(other.dialogs.shown().empty());
}

TEST_F(MainFormTest, StartIsPressedThroughTheForm) {
  ws_.panel.set_checked("optBatchCompare", true);
  ws_.ctx.hooks.comparison.change_p_to_v = [](RunContext&) { return Status::Ok(); };
  form_.cmdStart_clicked();
  EXPECT_EQ(ws_.panel.text("lblTitle"), "Batch compare completed - run visual confirm");
  EXPECT_FALSE(form_.run_in_progress());
}

TEST(MainWindowControls, EveryControlIsNamedOnceAndSitsInItsParent) {
  const auto& controls = main_window_controls();
  std::set<std::string> seen;
  for (const ControlSpec& c : controls) {
    EXPECT_TRUE(seen.insert(c.name).second) << "named twice: " << c.name;
    if (c.parent.empty()) {
      EXPECT_LE(c.x + c.width, kDesignWidth) << c.name;
      EXPECT_LE(c.y + c.height, kDesignHeight) << c.name;
    } else {
      const ControlSpec* parent = find_control(c.parent);
      ASSERT_NE(parent, nullptr) << c.name;
      EXPECT_TRUE(seen.count(c.parent)) << c.name << " comes before its parent";
      EXPECT_LE(c.x + c.width, parent->width) << c.name;
      EXPECT_LE(c.y + c.height, parent->height) << c.name;
    }
  }
  // Only the title shows while it fades in.
  for (const ControlSpec& c : controls)
    if (c.parent.empty() && c.visible) {
      EXPECT_EQ(c.name, "lblTitle");
    }
  EXPECT_EQ(find_control("nosuch"), nullptr);
  EXPECT_EQ(find_control("cmdStart")->caption, "Start");
  EXPECT_EQ(find_control("picLibImage(8)")->kind, ControlKind::kPicture);
}

}  // namespace
}  // namespace velmora::runs
