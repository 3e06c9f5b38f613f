#include "workstation/runs/main_form.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "workstation/runs/main_window_controls.h"
#include "workstation/runs/mode_actions.h"
#include "workstation/runs/start_driver.h"

namespace velmora::runs {
namespace {

// The boxes of the three folders with their labels: hidden until a folder
// file or "browse" gives them something to show.
constexpr ControlName kFolderControls[] = {"lblFoldersPath", "txtFoldersPath", "lblDatabase",
                                           "txtDatabase",    "lblNewpics",     "txtNewpics"};

}  // namespace

bool MainForm::form_load() {
  ControlPanel& p = *ctx_->panel;
  p.set_text("lblTitle", kAcknowledgement);
  ctx_->processing.reset_blank_distance();
  p.set_text("cmdSetupChoice", setup_choice_caption(p.checked("chkComb")));

  config::FolderSettings remembered;
  Status s = config::read_folder_file(ctx_->folder_file_locations, &remembered);
  // A short file still fills the lines it has; an unreadable one is treated
  // as missing. Either way the operator is told.
  const bool found = s.ok() || s.code() == Status::Code::kCorruption;
  if (!s.ok() && s.code() != Status::Code::kNotFound)
    ctx_->dialogs->message(s.message(), Buttons::kOk, Icon::kExclamation);
  if (found) {
    p.set_text("txtFoldersPath", remembered.data_folder);
    p.set_text("txtDatabase", remembered.database_path);
    p.set_text("txtNewpics", remembered.newpics_folder);
  } else {
    for (ControlName n : kFolderControls) p.set_visible(n, false);
    p.set_visible("cmdStart", false);
  }

  if (ctx_->hooks.review.clear_merge_queue) {
    Status cleared = ctx_->hooks.review.clear_merge_queue(*ctx_);
    if (!cleared.ok()) ctx_->dialogs->message(cleared.message(), Buttons::kOk, Icon::kExclamation);
  }
  p.set_title_colour(0, 0, 255);
  fade_.reset();
  fading_ = true;

  if (found) {
    config::Faults faults;
    config::read_configuration(p.text("txtFoldersPath"), &ctx_->settings, &faults);
    show_faults(faults);
  }
  return found;
}

bool MainForm::title_timer_tick() {
  if (!fading_) return true;
  if (fade_.tick(*ctx_->panel)) fading_ = false;
  return !fading_;
}

void MainForm::form_clicked() {
  if (fading_) fade_.skip();
}

void MainForm::option_chosen(ControlName name) {
  ControlPanel& p = *ctx_->panel;
  if (name == "optInField") {
    optInField_chosen(p);
  } else if (name == "optBatchExtract") {
    optBatchExtract_chosen(p);
  } else if (name == "optBatchCompare") {
    optBatchCompare_chosen(p, ctx_->settings.LimitSearch);
  } else if (name == "optVcheck") {
    optVcheck_chosen(p);
  } else if (name == "optTest") {
    optTest_chosen(p);
  } else if (name == "optDontLimit" || name == "optLimitToSite" || name == "optLimitToLandscape") {
    limit_option_chosen(p);
  }
}

void MainForm::check_clicked(ControlName name) {
  ControlPanel& p = *ctx_->panel;
  if (name == "chkStan") {
    chkStan_clicked(p);
  } else if (name == "chkComb") {
    chkComb_clicked(p);
  } else if (name == "chkMultiCore") {
    open_database_now();
    std::vector<std::string> names;
    const config::AspectList& list = ctx_->aspects();
    for (int i = 0; i < list.count; ++i) names.push_back(list.entries[i].aspect);
    chkMultiCore_clicked(p, names);
  }
}

void MainForm::list_chosen(ControlName name) {
  if (name != "cmbAspect") return;
  ControlPanel& p = *ctx_->panel;
  const config::AspectEntry* entry = ctx_->aspects().find(p.text("cmbAspect"));
  cmbAspect_chosen(p, entry ? entry->cell_type : std::string());
}

void MainForm::control_left(ControlName name) {
  ControlPanel& p = *ctx_->panel;
  if (name == "cmbSites") {
    ctx_->chosen_site = p.text("cmbSites");
  } else if (name == "cmbLandscapes") {
    ctx_->chosen_landscape = p.text("cmbLandscapes");
  } else if (name == "optBatchCompare" || name == "txtFoldersPath" || name == "txtNewpics") {
    open_database_now();
  } else if (name == "txtDatabase") {
    const std::string path = p.text("txtDatabase");
    // An emptied box derives nothing: it would wipe the folders the
    // operator typed.
    if (!path.empty()) {
      config::FolderSettings derived = config::folders_from_database_path(path);
      p.set_text("txtFoldersPath", derived.data_folder);
      p.set_text("txtNewpics", derived.newpics_folder);
      show_folder_controls();
    }
    open_database_now();
  }
}

void MainForm::text_changed(ControlName name) {
  if (name == "txtNumPend") txtNumPend_changed(*ctx_->panel);
}

void MainForm::label_clicked(ControlName name) {
  if (name == "lblWhichExtract") lblWhichExtract_clicked(*ctx_->panel);
}

void MainForm::cmdStart_clicked() {
  // The Start driver has shown every failure to the operator and stopped the
  // run; the window has nothing more to do with it.
  (void)runs::cmdStart_clicked(*ctx_);
}

void MainForm::database_chosen(const std::string& path) {
  if (path.empty()) return;
  ControlPanel& p = *ctx_->panel;
  config::Faults faults;
  config::apply_browse_choice(path, &ctx_->folders, &ctx_->settings, &faults);
  p.set_text("txtDatabase", ctx_->folders.database_path);
  p.set_text("txtFoldersPath", ctx_->folders.data_folder);
  p.set_text("txtNewpics", ctx_->folders.newpics_folder);
  show_folder_controls();
  p.set_visible("cmdStart", true);
  const std::string& program_folder = ctx_->folder_file_locations.program_folder;
  if (!program_folder.empty()) {
    std::error_code ec;
    std::filesystem::current_path(program_folder, ec);
    if (ec) {
      faults.push_back(Status::IOError("The working folder could not be set to '" + program_folder +
                                       "': " + ec.message()));
    } else {
      ctx_->working_folder = program_folder;
    }
  }
  show_faults(faults);
}

void MainForm::form_unload() {
  if (ctx_->dialogs->program_ended()) return;
  if (!ctx_->hooks.review.apply_queued_merges) return;
  Status s = ctx_->hooks.review.apply_queued_merges(*ctx_);
  if (!s.ok()) ctx_->dialogs->message(s.message(), Buttons::kOk, Icon::kExclamation);
}

bool MainForm::run_in_progress() const {
  return ctx_->panel->text("cmdStart") == kNextImageCaption;
}

void MainForm::show_faults(const config::Faults& faults) {
  if (!faults.empty())
    ctx_->dialogs->message(config::fault_text(faults), Buttons::kOk, Icon::kExclamation);
}

void MainForm::open_database_now() {
  // A run works on the database it opened; reopening under it would drop
  // its statements.
  if (run_in_progress()) return;
  Status s = open_database_from_panel(*ctx_, false);
  if (!s.ok()) ctx_->dialogs->message(s.message(), Buttons::kOk, Icon::kExclamation);
}

void MainForm::show_folder_controls() {
  for (ControlName n : kFolderControls) ctx_->panel->set_visible(n, true);
}

}  // namespace velmora::runs
