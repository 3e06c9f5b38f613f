// Velmora: the photo-identification workstation. Builds the main window,
// hands it the steps this version provides, and runs the event loop. Steps
// not handed over (extraction, the other comparison families, review, test)
// tell the operator that they are not available in this version.
#include <QApplication>

#include <memory>

#include "workstation/matching/batch_compare.h"
#include "workstation/matching/change_p_to_v.h"
#include "workstation/matching/process_runner_qt.h"
#include "workstation/runs/ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Velmora");
  velmora::runs::MainWindow window;
  velmora::runs::ComparisonHooks& compare = window.context().hooks.comparison;
  compare.batch_compare_old_style =
      velmora::matching::batch_compare_step(std::make_shared<velmora::matching::QtProcessRunner>());
  compare.change_p_to_v = velmora::matching::change_p_to_v_step();
  window.show();
  window.start();
  return QApplication::exec();
}
