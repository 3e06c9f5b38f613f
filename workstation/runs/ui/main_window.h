// MainWindow: the workstation's main window, captioned
// "Velmora V1.25 Landscape".
//
// The window builds one widget per row of main_window_controls() (its
// objectName is the control name), sizes them by the screen's scaling rule,
// and forwards the operator's actions to a MainForm over its own RunContext:
// option buttons chosen, check boxes clicked, lists chosen and left, folder
// boxes left, "browse", Start, the title timer and the click that ends the
// fade, the Stop button, and the window's closing (during a run it asks
// whether to stop the run first). The application sets the context's hooks
// (comparison families, extraction, review, test) and then calls start().
//
// The window owns its RunContext, its control panel and, unless it is given
// other dialogs, its QtOperatorDialogs. GUI thread only.
#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "workstation/common/control_name.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/runs/main_form.h"
#include "workstation/runs/run_context.h"
#include "workstation/common/ui/widget_control_panel.h"

namespace velmora::runs {

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  // `dialogs` (not owned) answers every message; null: real message boxes.
  explicit MainWindow(OperatorDialogs* dialogs = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  RunContext& context() { return ctx_; }
  MainForm& form() { return *form_; }
  WidgetControlPanel& panel() { return panel_; }
  QTimer& title_timer() { return title_timer_; }
  // The widget of a control, or nullptr.
  QWidget* control(ControlName name) const;
  // The scale applied to the design sizes.
  double scale() const { return scale_; }

  // Start-up: the form's start-up steps, then the title fade begins.
  void start();
  // One tick of the title timer (the timer calls it; so may tests).
  void title_tick();

  // How "browse" asks for the database file; returns the chosen path or an
  // empty text. The default shows the open box with the database filter.
  std::function<std::string()> choose_database_file;

  // True while a press of Start is being carried out (a batch comparison
  // keeps the window's events running while it waits for tarvikx).
  bool run_in_progress() const { return running_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void build_controls();
  void connect_controls();
  void start_clicked();

  RunContext ctx_;
  WidgetControlPanel panel_;
  std::unique_ptr<OperatorDialogs> own_dialogs_;
  std::unique_ptr<MainForm> form_;
  QTimer title_timer_;
  std::map<ControlName, QWidget*> controls_;
  std::unique_ptr<QObject> fade_filter_;  // watches clicks while the title fades
  double scale_ = 1.0;
  bool running_ = false;
  bool close_after_run_ = false;  // the operator closed the window during a run
};

}  // namespace velmora::runs
