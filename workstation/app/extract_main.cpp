// velmora-extract: extract processing without the operator, or the
// processing window on one bundle (see extract_headless.h).
#include <iostream>
#include <string>
#include <vector>

#include "workstation/app/extract_headless.h"
#include "workstation/extract/extract_bundle.h"

#ifdef VELMORA_EXTRACT_WINDOW
#include <QApplication>
#include <QMessageBox>

#include "workstation/extract/ui/extract_processing_view.h"
#include "workstation/runs/ui/main_window.h"
#endif

namespace {

#ifdef VELMORA_EXTRACT_WINDOW
// The main window with only its processing controls in use: the same
// widgets an operator works in an extraction run.
int show_window(const velmora::app::ExtractCommandLine& line, int argc, char** argv) {
  using namespace velmora;
  QApplication application(argc, argv);
  app::ExtractSession session;
  Status s = app::open_extract_session(line, &session);
  for (const std::string& w : session.warnings) std::cerr << "velmora-extract: " << w << "\n";
  extract::SharedExtract shared;
  std::string cell;
  if (s.ok()) s = extract::read_extract_bundle(line.bundles.front(), &shared, &cell);
  if (!s.ok()) {
    std::cerr << "velmora-extract: " << s.message() << "\n";
    return 1;
  }
  runs::MainWindow window;
  window.panel().set_visible("lblTitle", false);
  extract::ExtractProcessingView view(&window, session.processing.get(), &shared);
  view.on_message = [&window](const std::string& text) {
    QMessageBox::information(&window, "velmora-extract", QString::fromStdString(text));
  };
  view.on_saved = [&session](const std::string& saved_cell) {
    app::RowMark mark = app::RowMark::kNoRow;
    return app::mark_pending(session.db.get(), saved_cell, &mark);
  };
  session.processing->reset_blank_distance();
  if (shared.blank_edited && session.processing->setup().settings.do_blankdist)
    session.processing->compute_blank_distance(shared);
  window.show();
  s = view.process(cell, 1, 1);
  if (!s.ok()) {
    std::cerr << "velmora-extract: " << s.message() << "\n";
    return 1;
  }
  return application.exec();
}
#endif

}  // namespace

int main(int argc, char** argv) {
  using namespace velmora::app;
  const std::vector<std::string> args(argv + 1, argv + argc);
  ExtractCommandLine line;
  velmora::Status s = parse_extract_arguments(args, &line);
  if (!s.ok()) {
    std::cerr << "velmora-extract: " << s.message() << "\n" << extract_usage();
    return 2;
  }
  if (line.help) {
    std::cout << extract_usage();
    return 0;
  }
  if (line.command == "show") {
#ifdef VELMORA_EXTRACT_WINDOW
    return show_window(line, argc, argv);
#else
    std::cerr << "velmora-extract: this build has no window; use \"features\"\n";
    return 2;
#endif
  }
  return run_extract_features(line, std::cout, std::cerr);
}
