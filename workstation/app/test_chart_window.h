// The test-rank chart on the main window: the run_test step handed to the
// Start driver, and a view that keeps the chart on the window and saves it.
//
// The chart is drawn once per run by draw_test_rank_chart into a picture in
// the window's drawing units; the view ("picTestChart") shows the part of
// it that holds the chart, scaled as the window's controls are, and paints
// it again on every repaint. "Save chart" ("cmdSaveChart") writes the
// picture as PNG to the file the operator chooses. Before a test compares,
// lblProgress and ProgressBar1 move down by 320 units, below the window's
// settings. Without "combine" the count per algorithm letter is shown to
// the operator as a message.
//
// The returned object owns the view; it must live as long as the window is
// used, and the window must outlive it. GUI thread only.
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "workstation/runs/ui/main_window.h"

namespace velmora::app {

class TestChartView : public QWidget {
 public:
  TestChartView(runs::MainWindow* window);
  // Shows `chart` (kChartWidth x kChartHeight, drawing units) on the window.
  void show_chart(const QImage& chart);
  const QImage& chart() const { return chart_; }
  // "Save chart": asks for the file, writes the PNG; failures go to the
  // operator.
  void save_chart();
  // How the file is asked for; returns the path or "". The default is the
  // save box with the PNG filter.
  std::function<std::string()> choose_file;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  runs::MainWindow* window_;
  QImage chart_;
  QWidget* save_button_;
};

std::unique_ptr<TestChartView> install_test_chart(runs::MainWindow& window);

}  // namespace velmora::app
