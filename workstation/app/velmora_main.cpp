// Velmora: the photo-identification workstation. Builds the main window,
// hands it the steps this version provides, and runs the event loop. Steps
// not handed over (extraction, the other comparison families, review, test)
// tell the operator that they are not available in this version.
#include <QApplication>

#include <memory>

#include "workstation/app/comparison_steps.h"
#include "workstation/matching/process_runner_qt.h"
#include "workstation/runs/ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Velmora");
  velmora::runs::MainWindow window;
  velmora::app::install_comparison_steps(window.context().hooks,
                                         std::make_shared<velmora::matching::QtProcessRunner>());
  window.show();
  window.start();
  return QApplication::exec();
}
