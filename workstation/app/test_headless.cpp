// velmora-batch --test (see test_headless.h).
#include "workstation/app/test_headless.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdlib>

#include "workstation/app/comparison_steps.h"
#include "workstation/app/test_steps.h"
#include "workstation/common/console_panel.h"
#include "workstation/matching/test_rank_chart_painter.h"
#include "workstation/runs/start_driver.h"

namespace velmora::app {
namespace {

// The chart's texts need Qt's fonts, which need a GUI application; without
// a display it runs on the offscreen platform.
std::unique_ptr<QGuiApplication> gui_for_chart() {
  if (QCoreApplication::instance() != nullptr) return nullptr;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "velmora-batch";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QGuiApplication>(argc, argv);
}

Status print_and_draw(const std::string& chart_path, std::ostream& out,
                      const matching::TestRankResult& r) {
  const matching::ChartBars bars = matching::chart_bars(r.overall);
  out << "test result" << (r.compared ? "" : " (the last one stored)") << "\n";
  if (bars.empty) out << "no extract was ranked: the evaluation has no result rows\n";
  out << matching::format_test_rank_table(bars);
  if (r.by_extension_read) {
    out << "per algorithm letter\n" << matching::format_extension_table(r.by_extension);
  }
  if (chart_path.empty()) return Status::Ok();
  Status s = matching::save_test_rank_chart(matching::test_rank_chart_image(bars), chart_path);
  if (s.ok()) out << "chart written to " << chart_path << "\n";
  return s;
}

}  // namespace

int run_headless_test(const HeadlessOptions& o, std::shared_ptr<matching::ProcessRunner> runner,
                      std::ostream& out, const config::FolderFileLocations& locations) {
  const std::unique_ptr<QGuiApplication> gui = o.chart.empty() ? nullptr : gui_for_chart();
  ConsolePanel panel(out);
  ConsoleDialogs dialogs(out);
  runs::RunContext ctx;
  ctx.panel = &panel;
  ctx.dialogs = &dialogs;
  panel.set_checked("optTest", true);
  panel.set_checked("chkPreviousTest", o.previous);
  panel.set_checked("chkComb", o.combine);

  auto finish = [&](const Status& s) {
    int code = 0;
    if (!s.ok()) {
      out << "error: " << s.message() << "\n";
      code = 1;
    } else if (dialogs.program_ended()) {
      out << "error: the test ended early (see the message above)\n";
      code = 1;
    }
    ctx.drop_database_work();
    ctx.session.close();
    return code;
  };

  ctx.options = headless_run_options(o);
  ctx.options.compares = false;
  ctx.options.test_mode = true;
  ctx.options.combine = o.combine;
  Status s = session::start_run_without_window(
      ctx, locations, session::HeadlessFolders{o.data_folder, o.database, o.working_folder}, out);
  if (!s.ok()) return finish(s);

  matching::BatchCompareOptions compare_options;
  compare_options.tarvikx = o.tarvikx;
  compare_options.jobs = o.jobs;
  // --tarvikx names the comparison program for the tarvik family.
  install_comparison_steps(ctx.hooks, runner, compare_options);
  const std::string chart = o.chart;
  ctx.hooks.run_test =
      test_rank_step([&out, chart](runs::RunContext&, const matching::TestRankResult& r) {
        return print_and_draw(chart, out, r);
      });
  ctx.test_run = true;
  return finish(ctx.hooks.run_test(ctx));
}

}  // namespace velmora::app
