// MainForm: the main window's event handlers, without the window.
//
// The Qt window (ui/main_window.h) forwards each of the operator's actions
// here by control name: a mode option chosen, a check box clicked, a list or
// box left, the database chosen with "browse", Start pressed, the window
// closed. MainForm runs the matching action on the RunContext it is given, so
// the whole behaviour of the window can be driven headlessly through a
// RecordingControlPanel and ScriptedDialogs.
//
// The window sizes itself by layout_scale and paints its own background;
// everything else of the start-up is form_load. GUI thread only; `ctx` must
// outlive the form.
#pragma once

#include <string>

#include "workstation/common/control_name.h"
#include "workstation/runs/run_context.h"
#include "workstation/runs/title_fade.h"

namespace velmora::runs {

class MainForm {
 public:
  explicit MainForm(RunContext* ctx) : ctx_(ctx) {}

  // Window start-up: the title, the blank-distance map, the caption of
  // cmdSetupChoice, DataFolder.txt (when it exists) into the folder boxes,
  // the merge queue emptied, the title coloured blue and the fade reset, and
  // orlain.ini of the remembered data files folder. Returns whether a folder
  // file was found.
  bool form_load();

  // One tick of the title timer; true when the timer must stop.
  bool title_timer_tick();
  bool fading() const { return fading_; }
  // A click anywhere on the window: the fade ends at the next tick.
  void form_clicked();

  // The operator's actions, by the name of the control acted on.
  void option_chosen(ControlName name);  // five modes and Frame1's three limits
  void check_clicked(ControlName name);  // chkStan, chkComb, chkMultiCore
  void list_chosen(ControlName name);    // cmbAspect
  void control_left(ControlName name);   // optBatchCompare, cmbSites, cmbLandscapes,
                                         // txtFoldersPath, txtDatabase, txtNewpics
  void text_changed(ControlName name);   // txtNumPend
  void label_clicked(ControlName name);  // lblWhichExtract
  void cmdStart_clicked();

  // "browse": the operator chose `path` in the open box; empty when the box
  // was cancelled.
  void database_chosen(const std::string& path);

  // The window is closing: the queued identity merges are applied, unless
  // the program has already ended (every ending applies them first).
  void form_unload();

  // True while an extraction or review run is in progress.
  bool run_in_progress() const;

 private:
  void show_faults(const config::Faults& faults);
  void open_database_now();
  void show_folder_controls();

  RunContext* ctx_;
  TitleFade fade_;
  bool fading_ = false;
};

}  // namespace velmora::runs
