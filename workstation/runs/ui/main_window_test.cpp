// The main window offscreen: its caption, every control found by its name
// with its caption, the title fade and the click that ends it, the mode
// options showing and hiding the right widgets, and the panel over widgets.
#include "workstation/runs/ui/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <string>

#include "testing/temp_dir.h"
#include "workstation/db/testing/fixture_database.h"
#include "workstation/runs/start_driver.h"
#include "workstation/common/ui/picture_box.h"

namespace velmora::runs {
namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "runs_ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

std::string caption_of(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title().toStdString();
  return "";
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    // Keep the user's own DataFolder.txt out of the test.
    std::filesystem::create_directories(dir_ / "program");
    window_ = std::make_unique<MainWindow>(&dialogs_);
    window_->context().folder_file_locations = {(dir_ / "program").string(),
                                                (dir_ / "user").string()};
  }
  void TearDown() override { window_.reset(); }
  QWidget* find(const char* name) { return window_->findChild<QWidget*>(name); }
  bool shown(const char* name) {
    QWidget* w = find(name);
    return w && !w->isHidden();
  }
  // Runs the title timer to its end.
  void finish_fade() {
    for (int i = 0; i < 1000 && window_->title_timer().isActive(); ++i) window_->title_tick();
  }

  velmora::testing::TempDir temp_{"velmora_ui"};
  const std::filesystem::path dir_ = temp_.root();
  ScriptedDialogs dialogs_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, OpensWithItsCaption) {
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  EXPECT_EQ(window_->windowTitle().toStdString(), "Velmora V1.25 Landscape");
  EXPECT_TRUE(window_->isVisible());
  EXPECT_GT(window_->scale(), 0.0);
  EXPECT_EQ(window_->palette().color(QPalette::Window), QColor(192, 192, 192));
}

TEST_F(MainWindowTest, EveryControlIsFoundByItsNameWithItsCaption) {
  const std::pair<const char*, const char*> captions[] = {
      {"optInField", "real-time ident."},
      {"optBatchExtract", "batch extract"},
      {"optBatchCompare", "batch compare"},
      {"optVcheck", "visual confirm"},
      {"optTest", "test"},
      {"chkPreviousTest", "last test result"},
      {"chkMultiCore", "use multiple cores"},
      {"txtNumPend", "200"},
      {"chkQuick", "quick"},
      {"chkRestricted", "restricted"},
      {"chkStan", "standardise"},
      {"txtPm", ".005"},
      {"lblPm", "P(m) prior"},
      {"chkComb", "combine"},
      {"chkCrop", "show crop"},
      {"optDontLimit", "don't limit"},
      {"optLimitToSite", "limit to site"},
      {"optLimitToLandscape", "limit to landscape"},
      {"cmdBrowse", "browse"},
      {"cmdStart", "Start"},
      {"lblFoldersPath", "data files folder:"},
      {"lblDatabase", "path to database:"},
      {"lblNewpics", "newpics folder:"},
  };
  for (const auto& [name, caption] : captions) {
    QWidget* w = find(name);
    ASSERT_NE(w, nullptr) << name;
    EXPECT_EQ(caption_of(w), caption) << name;
  }
  for (const char* name :
       {"cmbAspect",      "cmbSide",        "Frame1",         "cmbSites",        "cmbLandscapes",
        "txtFoldersPath", "txtDatabase",    "txtNewpics",     "lblTitle",        "lblProgress",
        "ProgressBar1",   "ProgressBar2",   "picExtract",     "lblExtract",      "vscAnimList",
        "vscPendList",    "cmdSetupChoice", "cmdMoreLibPics", "cmdMoveOn",       "cmdMoveBack",
        "cmdMatch",       "lblPendImage",   "lblLibImage",    "lblWhichExtract", "picPendImage",
        "picLibImage(0)", "picLibImage(8)", "picProcess",     "picShapes",       "lblPic2",
        "lblPic3",        "hscLimitSpots",  "hscAvgDepth",    "lblNumberSpots",  "cmdToggleSpots",
        "cmdSeed",        "lblNumberSeeds", "cmdSaveExtract"})
    EXPECT_NE(find(name), nullptr) << name;
  EXPECT_NE(qobject_cast<QComboBox*>(find("cmbSide")), nullptr);
  EXPECT_NE(qobject_cast<PictureBox*>(find("picExtract")), nullptr);
  // The limit options and their lists sit in Frame1.
  EXPECT_EQ(find("optLimitToSite")->parentWidget(), find("Frame1"));
  EXPECT_EQ(find("cmbLandscapes")->parentWidget(), find("Frame1"));
  // Later steps' controls wait hidden.
  EXPECT_FALSE(shown("picPendImage"));
  EXPECT_FALSE(shown("vscAnimList"));
  EXPECT_FALSE(shown("cmdSaveExtract"));
}

TEST_F(MainWindowTest, TheFadeEndsAtTheTickAfterAClick) {
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  window_->start();
  EXPECT_TRUE(window_->title_timer().isActive());
  EXPECT_TRUE(shown("lblTitle"));
  EXPECT_FALSE(shown("cmdStart"));
  EXPECT_FALSE(shown("optBatchCompare"));
  auto* title = qobject_cast<QLabel*>(find("lblTitle"));
  EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(0, 0, 255));

  window_->title_tick();
  EXPECT_TRUE(window_->title_timer().isActive());
  EXPECT_NE(title->palette().color(QPalette::WindowText), QColor(192, 192, 192));

  // A click on the window itself, away from every control.
  QTest::mouseClick(window_.get(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(5, window_->height() - 5));
  window_->title_tick();
  EXPECT_FALSE(window_->title_timer().isActive());
  EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(192, 192, 192));
  for (const char* n : {"cmdStart", "optInField", "optBatchExtract", "optBatchCompare", "optVcheck",
                        "optTest", "chkPreviousTest", "cmdBrowse", "txtDatabase", "lblDatabase",
                        "txtFoldersPath", "txtNewpics"})
    EXPECT_TRUE(shown(n)) << n;
}

TEST_F(MainWindowTest, TheFadeEndsByItselfOnTheTimer) {
  window_->show();
  window_->start();
  QTRY_VERIFY_WITH_TIMEOUT(!window_->title_timer().isActive(), 10000);
  EXPECT_TRUE(shown("cmdStart"));
  EXPECT_TRUE(dialogs_.shown().empty());
}

TEST_F(MainWindowTest, ModeOptionsShowAndHideTheirSettings) {
  window_->show();
  window_->start();
  finish_fade();
  qobject_cast<QAbstractButton*>(find("optBatchCompare"))->click();
  EXPECT_TRUE(shown("txtNumPend"));
  EXPECT_TRUE(shown("chkQuick"));
  EXPECT_TRUE(shown("chkStan"));
  EXPECT_FALSE(shown("Frame1"));  // LimitSearch is off
  EXPECT_FALSE(shown("chkComb"));

  qobject_cast<QAbstractButton*>(find("optVcheck"))->click();
  EXPECT_TRUE(shown("chkComb"));
  EXPECT_TRUE(shown("chkCrop"));
  EXPECT_FALSE(shown("txtNumPend"));
  EXPECT_FALSE(shown("chkStan"));
  EXPECT_FALSE(qobject_cast<QAbstractButton*>(find("optBatchCompare"))->isChecked());

  qobject_cast<QAbstractButton*>(find("chkComb"))->click();
  EXPECT_TRUE(shown("chkStan"));
  EXPECT_TRUE(qobject_cast<QAbstractButton*>(find("chkStan"))->isChecked());
  EXPECT_TRUE(shown("txtPm"));
  EXPECT_EQ(caption_of(find("cmdSetupChoice")), "stop checks");

  qobject_cast<QAbstractButton*>(find("optInField"))->click();
  EXPECT_TRUE(shown("chkRestricted"));

  auto* size = qobject_cast<QLineEdit*>(find("txtNumPend"));
  size->setText("500");
  EXPECT_EQ(size->text().toStdString(), "400");

  qobject_cast<QAbstractButton*>(find("optLimitToSite"))->click();
  EXPECT_TRUE(shown("cmbSites"));
  EXPECT_FALSE(shown("cmbLandscapes"));
}

TEST_F(MainWindowTest, ThePanelActsOnTheWidgets) {
  WidgetControlPanel& p = window_->panel();
  p.set_checked("optTest", true);
  EXPECT_TRUE(p.checked("optTest"));
  p.set_checked("optTest", false);  // even the checked button of an exclusive group
  EXPECT_FALSE(p.checked("optTest"));

  p.add_item("cmbAspect", "flank");
  p.add_item("cmbAspect", "back");
  EXPECT_EQ(p.items("cmbAspect"), (std::vector<std::string>{"flank", "back"}));
  EXPECT_EQ(p.text("cmbAspect"), "");  // nothing chosen yet
  p.select_item("cmbAspect", 1);
  EXPECT_EQ(p.text("cmbAspect"), "back");
  p.select_item("cmbAspect", 7);
  EXPECT_EQ(p.text("cmbAspect"), "back");
  p.clear_items("cmbAspect");
  EXPECT_TRUE(p.items("cmbAspect").empty());

  p.set_text("lblProgress", "completed all old-style comparisons");
  EXPECT_EQ(p.text("lblProgress"), "completed all old-style comparisons");
  p.set_visible("lblProgress", true);
  EXPECT_TRUE(p.visible("lblProgress"));  // its own setting, window shown or not
  p.set_font_size("lblWhichExtract", 12);
  EXPECT_EQ(find("lblWhichExtract")->font().pointSize(), 12);

  p.set_progress(0.5);
  QWidget* outer = find("ProgressBar1");
  EXPECT_NEAR(find("ProgressBar2")->width(), outer->contentsRect().width() / 2.0, 1.0)
      << "half the inner width, within the one-pixel rounding";
  p.set_progress(2.0);
  EXPECT_EQ(find("ProgressBar2")->width(), outer->contentsRect().width());

  // A control without a widget under the panel's root reads as unchecked and
  // empty, and writes to it are ignored (a misspelled name does not compile).
  QWidget bare;
  WidgetControlPanel none(&bare);
  EXPECT_FALSE(none.checked("optTest"));
  EXPECT_EQ(none.text("lblProgress"), "");
  none.set_text("lblProgress", "x");  // ignored
  EXPECT_EQ(none.text("lblProgress"), "");
}

TEST_F(MainWindowTest, BrowseTakesTheChosenDatabase) {
  window_->choose_database_file = [] { return std::string("/srv/seals/2024.sqlite"); };
  const std::filesystem::path before = std::filesystem::current_path();
  qobject_cast<QAbstractButton*>(find("cmdBrowse"))->click();
  std::filesystem::current_path(before);
  EXPECT_EQ(window_->panel().text("txtDatabase"), "/srv/seals/2024.sqlite");
  EXPECT_EQ(window_->panel().text("txtFoldersPath"), "/srv/seals/");
  EXPECT_EQ(window_->panel().text("txtNewpics"), "/srv/seals/newpic/");
  EXPECT_TRUE(shown("cmdStart"));
  // The configuration of that folder is missing: the operator is told.
  ASSERT_EQ(dialogs_.shown().size(), 1u);
  EXPECT_NE(dialogs_.shown()[0].text.find("orlain.ini"), std::string::npos);
}

TEST_F(MainWindowTest, StartRunsABatchComparisonThroughTheWidgets) {
  const std::string db_path = (dir_ / "seals.sqlite").string();
  {
    std::unique_ptr<db::Database> db;
    Status s = db::testing::make_standard_fixture(db_path, &db);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  std::ofstream(dir_ / "orlain.ini") << "[velmora]\n";
  std::vector<std::string> steps;
  RunContext& ctx = window_->context();
  ctx.hooks.comparison.batch_compare_old_style = [&](RunContext& c) {
    steps.push_back("tarvik " + c.algorithm_letters.tarvik);
    c.panel->set_text("lblProgress", "completed all old-style comparisons");
    c.panel->set_progress(1.0);
    return Status::Ok();
  };
  ctx.hooks.comparison.change_p_to_v = [&](RunContext&) {
    steps.push_back("P to V");
    return Status::Ok();
  };
  window_->show();
  window_->start();
  finish_fade();
  window_->panel().set_text("txtFoldersPath", dir_.string());
  window_->panel().set_text("txtDatabase", db_path);
  window_->panel().set_text("txtNewpics", (dir_ / "newpic").string());
  qobject_cast<QAbstractButton*>(find("optBatchCompare"))->click();
  qobject_cast<QAbstractButton*>(find("cmdStart"))->click();

  EXPECT_EQ(steps, (std::vector<std::string>{"tarvik a", "P to V"}));
  EXPECT_EQ(caption_of(find("lblTitle")), "Batch compare completed - run visual confirm");
  EXPECT_TRUE(shown("lblTitle"));
  // The settings are back, so the operator can go on to the visual check.
  EXPECT_TRUE(shown("cmdStart"));
  EXPECT_TRUE(shown("optVcheck"));
  EXPECT_TRUE(shown("txtDatabase"));
  EXPECT_FALSE(shown("cmdStop"));
  EXPECT_TRUE(shown("lblProgress"));
  EXPECT_EQ(caption_of(find("lblProgress")), "completed all old-style comparisons");
  EXPECT_EQ(dialogs_.beeps(), 1);
  // The records-waiting question came first (answered OK), then the families
  // this version lacks.
  ASSERT_FALSE(dialogs_.shown().empty());
  EXPECT_NE(dialogs_.shown()[0].text.find("records waiting for visual checking"), std::string::npos)
      << dialogs_.shown()[0].text;
  EXPECT_TRUE(std::filesystem::exists(dir_ / "program" / "DataFolder.txt"));
  window_->context().drop_database_work();
  window_->context().session.close();
}

TEST_F(MainWindowTest, ModesStaySelectedAndStartWithoutOneSaysSo) {
  window_->show();
  window_->start();
  finish_fade();
  auto* compare = qobject_cast<QAbstractButton*>(find("optBatchCompare"));
  auto* test = qobject_cast<QAbstractButton*>(find("optTest"));
  // Start with no mode: told so, and nothing hidden.
  qobject_cast<QAbstractButton*>(find("cmdStart"))->click();
  ASSERT_EQ(dialogs_.shown().size(), 1u);
  EXPECT_EQ(dialogs_.shown()[0].text, kNoModeMessage);
  EXPECT_TRUE(shown("cmdStart"));
  EXPECT_TRUE(shown("txtDatabase"));
  // A second click on the chosen mode keeps it; another mode replaces it.
  // Clicked on the indicator: a short caption leaves the middle of the
  // option's box empty, and a click there is no click on the option.
  const QPoint indicator(8, compare->height() / 2);
  QTest::mouseClick(compare, Qt::LeftButton, {}, indicator);
  QTest::mouseClick(compare, Qt::LeftButton, {}, indicator);
  EXPECT_TRUE(compare->isChecked());
  QTest::mouseClick(test, Qt::LeftButton, {}, indicator);
  EXPECT_TRUE(test->isChecked());
  EXPECT_FALSE(compare->isChecked());
}

// A run that waits for its comparison program as the real one does: window
// events run until the operator stops it.
class StopTest : public MainWindowTest {
 protected:
  void run_until_stopped() {
    const std::string db_path = (dir_ / "seals.sqlite").string();
    {
      std::unique_ptr<db::Database> db;
      Status s = db::testing::make_standard_fixture(db_path, &db);
      ASSERT_TRUE(s.ok()) << s.message();
    }
    std::ofstream(dir_ / "orlain.ini") << "[velmora]\n";
    window_->context().hooks.comparison.batch_compare_old_style = [this](RunContext& c) {
      stop_shown_ = shown("cmdStop");
      for (int i = 0; i < 500 && !c.panel->stop_requested(); ++i) {
        c.panel->process_events();
        QTest::qWait(10);
      }
      stopped_ = c.panel->stop_requested();
      return stopped_ ? Status::Cancelled("The batch comparison was stopped.") : Status::Ok();
    };
    window_->show();
    window_->start();
    finish_fade();
    window_->panel().set_text("txtFoldersPath", dir_.string());
    window_->panel().set_text("txtDatabase", db_path);
    qobject_cast<QAbstractButton*>(find("optBatchCompare"))->click();
    qobject_cast<QAbstractButton*>(find("cmdStart"))->click();
  }
  void TearDown() override {
    if (window_) {
      window_->context().drop_database_work();
      window_->context().session.close();
    }
    MainWindowTest::TearDown();
  }
  bool stop_shown_ = false;
  bool stopped_ = false;
};

TEST_F(StopTest, TheStopButtonEndsTheRunAndSaysSo) {
  QTimer::singleShot(50, [this] { qobject_cast<QAbstractButton*>(find("cmdStop"))->click(); });
  run_until_stopped();
  EXPECT_TRUE(stop_shown_);
  EXPECT_TRUE(stopped_);
  EXPECT_FALSE(window_->run_in_progress());
  EXPECT_TRUE(shown("cmdStart"));  // back to the settings
  EXPECT_FALSE(shown("cmdStop"));
  bool told = false;
  for (const auto& m : dialogs_.shown()) told = told || m.text.find("stopped") != std::string::npos;
  EXPECT_TRUE(told);
}

TEST_F(StopTest, ClosingDuringARunAsksAndStopsFirst) {
  // "No": the run goes on and the window stays; then "Yes".
  dialogs_.queue(Answer::kOk);  // records waiting for visual checking
  dialogs_.queue(Answer::kNo);
  dialogs_.queue(Answer::kYes);
  QTimer::singleShot(50, [this] { window_->close(); });
  QTimer::singleShot(100, [this] {
    EXPECT_TRUE(window_->isVisible());
    window_->close();
  });
  run_until_stopped();
  EXPECT_TRUE(stopped_);
  bool asked = false;
  for (const auto& m : dialogs_.shown()) asked = asked || m.text == kStopRunQuestion;
  EXPECT_TRUE(asked);
  EXPECT_FALSE(window_->isVisible());  // closed once the run had ended
}

TEST_F(MainWindowTest, ClosingTheWindowRunsTheMergeHook) {
  int merges = 0;
  window_->context().hooks.review.apply_queued_merges = [&](RunContext&) {
    ++merges;
    return Status::Ok();
  };
  window_->show();
  window_->close();
  EXPECT_EQ(merges, 1);
}

// Every control name the run code may use has its widget in the window, and
// the panel reaches that very widget.
TEST_F(MainWindowTest, EveryControlNameHasItsWidget) {
  for (ControlName n : ControlName::all()) {
    QWidget* w = window_->control(n);
    ASSERT_NE(w, nullptr) << n;
    EXPECT_EQ(w->objectName().toStdString(), n.str());
    EXPECT_EQ(window_->panel().widget(n), w) << n;
  }
}

}  // namespace
}  // namespace velmora::runs
