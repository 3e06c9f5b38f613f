// The test-rank chart on the main window (see test_chart_window.h).
#include "workstation/app/test_chart_window.h"

#include <QFileDialog>
#include <QPainter>
#include <QPushButton>

#include <cmath>

#include "workstation/app/test_steps.h"
#include "workstation/matching/test_rank_chart_painter.h"

namespace velmora::app {
namespace {

// The part of the chart picture the view shows: the frame with its labels
// and caption, in drawing units.
const QRect kShown(150, 170, 740, 470);
constexpr int kProgressDrop = 320;

int scaled(int v, double s) {
  return static_cast<int>(std::lround(v * s));
}

QRect scaled(const QRect& r, double s) {
  return QRect(scaled(r.x(), s), scaled(r.y(), s), scaled(r.width(), s), scaled(r.height(), s));
}

}  // namespace

TestChartView::TestChartView(runs::MainWindow* window) : QWidget(window), window_(window) {
  setObjectName("picTestChart");
  setGeometry(scaled(kShown, window->scale()));
  hide();
  auto* button = new QPushButton("Save chart", window);
  button->setObjectName("cmdSaveChart");
  button->setGeometry(scaled(QRect(810, 612, 110, 26), window->scale()));
  button->hide();
  save_button_ = button;
  connect(button, &QPushButton::clicked, this, [this] { save_chart(); });
  choose_file = [this] {
    return QFileDialog::getSaveFileName(this, "Save chart", "test_ranks.png", "PNG picture (*.png)")
        .toStdString();
  };
}

void TestChartView::show_chart(const QImage& chart) {
  chart_ = chart;
  show();
  raise();
  save_button_->show();
  save_button_->raise();
  update();
}

void TestChartView::save_chart() {
  if (chart_.isNull()) return;
  const std::string path = choose_file ? choose_file() : std::string();
  if (path.empty()) return;
  Status s = matching::save_test_rank_chart(chart_, path);
  if (!s.ok()) window_->context().dialogs->message(s.message(), Buttons::kOk, Icon::kExclamation);
}

void TestChartView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(rect(), chart_, kShown);
}

std::unique_ptr<TestChartView> install_test_chart(runs::MainWindow& window) {
  auto view = std::make_unique<TestChartView>(&window);
  TestChartView* v = view.get();
  runs::RunContext& ctx = window.context();
  runs::RunStep test = test_rank_step([v](runs::RunContext& c, const matching::TestRankResult& r) {
    v->show_chart(matching::test_rank_chart_image(matching::chart_bars(r.overall)));
    if (r.by_extension_read) {
      c.dialogs->message("Found at each rank, per algorithm letter:\n" +
                             matching::format_extension_table(r.by_extension),
                         Buttons::kOk, Icon::kInformation);
    }
    return Status::Ok();
  });
  // Once: a test that failed brings Start back, and the next must not push
  // the progress further down.
  auto moved = std::make_shared<bool>(false);
  ctx.hooks.run_test = [test, &window, moved](runs::RunContext& c) {
    if (!c.panel->checked("chkPreviousTest") && !*moved) {
      static constexpr ControlName kProgress[] = {"lblProgress", "ProgressBar1"};
      for (ControlName name : kProgress) {
        if (QWidget* w = window.control(name)) {
          w->move(w->x(), w->y() + scaled(kProgressDrop, window.scale()));
        }
      }
      *moved = true;
    }
    return test(c);
  };
  return view;
}

}  // namespace velmora::app
