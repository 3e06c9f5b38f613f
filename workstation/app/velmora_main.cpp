// Velmora: the photo-identification workstation. Builds the main window,
// hands it every subsystem's steps (fitting window, extract processing,
// comparison families, review, test run) and runs the event loop. A step
// left unset would tell the operator that it is not available.
#include <QApplication>

#include <memory>

#include "workstation/app/comparison_steps.h"
#include "workstation/app/extraction_steps.h"
#include "workstation/app/fitting_steps.h"
#include "workstation/app/review_window.h"
#include "workstation/app/test_chart_window.h"
#include "workstation/extract/ui/extract_processing_view.h"
#include "workstation/matching/process_runner_qt.h"
#include "workstation/runs/ui/main_window.h"

namespace {

using velmora::Status;
using velmora::runs::RunContext;

// Extract processing in the main window's own processing controls; the
// save marks the current image row pending and shows Start for the next
// (extract_saved).
void install_extract_processing(velmora::runs::MainWindow& window,
                                velmora::extract::ExtractProcessingView& view) {
  RunContext& ctx = window.context();
  velmora::app::install_extraction_steps(ctx);
  view.on_message = [&ctx](const std::string& text) {
    ctx.dialogs->message(text, velmora::Buttons::kOk, velmora::Icon::kInformation);
  };
  view.on_saved = [&ctx](const std::string&) { return velmora::app::extract_saved(ctx); };
  ctx.hooks.extraction.run_pipeline = [&view](RunContext& c) {
    Status s = velmora::app::set_up_processing(c);
    if (!s.ok()) return s;
    return view.process(c.extraction.current_image_row.text("cell"), c.extraction.image_count,
                        c.extraction.list_size);
  };
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Velmora");
  velmora::runs::MainWindow window;
  velmora::app::install_comparison_steps(window.context().hooks,
                                         std::make_shared<velmora::matching::QtProcessRunner>());
  // "visual confirm": the review core behind the window's review controls.
  const std::unique_ptr<velmora::app::ReviewWindow> review =
      velmora::app::install_review_window(window);
  velmora::extract::ExtractProcessingView view(&window, &window.context().processing,
                                               &window.context().shared_extract);
  install_extract_processing(window, view);
  // "test": the test run and its chart on the window.
  const std::unique_ptr<velmora::app::TestChartView> chart =
      velmora::app::install_test_chart(window);
  velmora::app::install_fitting_steps(window.context());
  window.show();
  window.start();
  return QApplication::exec();
}
