// The chart on the main window, offscreen: the view shows the picture at
// the window's scale and keeps it through repaints, "Save chart" writes the
// picture (and tells the operator when it cannot), and the test's step
// moves the progress controls down once.
#include "workstation/app/test_chart_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPushButton>

#include <cmath>

#include "testing/temp_dir.h"
#include "workstation/matching/test_rank_chart_painter.h"

namespace velmora::app {
namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "test_chart_window_test";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

TEST(TestChartWindow, ShowsKeepsAndSavesTheChart) {
  app();
  ScriptedDialogs dialogs;
  runs::MainWindow window(&dialogs);
  std::unique_ptr<TestChartView> view = install_test_chart(window);
  window.show();
  const QImage chart = matching::test_rank_chart_image(matching::chart_bars({{1, 40}, {3, 60}}));
  view->show_chart(chart);
  ASSERT_TRUE(view->isVisible());
  auto* save = window.findChild<QPushButton*>("cmdSaveChart");
  ASSERT_NE(save, nullptr);
  EXPECT_TRUE(save->isVisible());

  // What the view paints, at the window's scale, is the chart: a bar's
  // inside, the frame's corner and the background beside the bars.
  const double s = window.scale();
  const QImage shown = view->grab().toImage();
  auto at = [&](int x, int y) {
    const QPoint p = view->mapFrom(&window, QPoint(static_cast<int>(std::lround(x * s)),
                                                   static_cast<int>(std::lround(y * s))));
    return QColor(shown.pixel(p));
  };
  const QColor bar(matching::kBarRed, matching::kBarGreen, matching::kBarBlue);
  EXPECT_EQ(at(230, 500), bar);  // bar 1 at 40 percent: top at 440
  EXPECT_EQ(at(230, 420), QColor(matching::kChartBackground, matching::kChartBackground,
                                 matching::kChartBackground));
  EXPECT_EQ(at(350, 300), bar);  // bar 3 at 100 percent
  view->repaint();
  EXPECT_EQ(view->grab().toImage(), shown);

  velmora::testing::TempDir dir("velmora_chart_window");
  view->choose_file = [&] { return dir.path("saved.png"); };
  save->click();
  QImage saved;
  ASSERT_TRUE(saved.load(QString::fromStdString(dir.path("saved.png")), "PNG"));
  EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), chart);
  EXPECT_TRUE(dialogs.shown().empty());
  view->choose_file = [&] { return dir.path("missing/saved.png"); };
  save->click();
  ASSERT_EQ(dialogs.shown().size(), 1u);
  EXPECT_NE(dialogs.shown()[0].text.find("missing/saved.png"), std::string::npos);
}

TEST(TestChartWindow, TheTestMovesTheProgressDownOnce) {
  app();
  ScriptedDialogs dialogs;
  runs::MainWindow window(&dialogs);
  std::unique_ptr<TestChartView> view = install_test_chart(window);
  QWidget* label = window.control("lblProgress");
  QWidget* bar = window.control("ProgressBar1");
  const int label_y = label->y(), bar_y = bar->y();
  const int drop = static_cast<int>(std::lround(320 * window.scale()));
  // No database is open: each run fails at once, after the move.
  for (int run = 0; run < 2; ++run) {
    EXPECT_FALSE(window.context().hooks.run_test(window.context()).ok());
    EXPECT_EQ(label->y(), label_y + drop);
    EXPECT_EQ(bar->y(), bar_y + drop);
  }
  EXPECT_FALSE(view->isVisible());
}

}  // namespace
}  // namespace velmora::app
