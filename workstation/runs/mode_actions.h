// The main window's option and check-box actions: which settings controls
// each choice shows, hides or sets.
//
// Every action only touches controls, through ControlPanel, by the controls'
// own names; none reads or writes the database. Where an action also needs
// the database opened first ("use multiple cores", leaving "batch compare"),
// the caller runs open_database and then the action, handing it what the
// database gave (aspect names, cell types). Each action reads the options as
// they stand when it runs.
//
// Called by the Qt window on the operator's clicks and by tests on a
// RecordingControlPanel; GUI thread only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "workstation/common/control_panel.h"
#include "workstation/session/run_start.h"

namespace velmora::runs {

// The largest batch size the window accepts in txtNumPend.
using ::velmora::session::kMaxBatchSize;

// Mode options.
void optInField_chosen(ControlPanel& panel);
void optBatchExtract_chosen(ControlPanel& panel);
// `limit_search` is the LimitSearch setting: Frame1 is offered only with it.
void optBatchCompare_chosen(ControlPanel& panel, bool limit_search);
void optVcheck_chosen(ControlPanel& panel);
void optTest_chosen(ControlPanel& panel);

// Check boxes; each reads its own state from the panel.
void chkStan_clicked(ControlPanel& panel);
void chkComb_clicked(ControlPanel& panel);
// Run after open_database; `aspect_names` are the names of AspectList in its
// order. The list is rebuilt, so clicking twice does not repeat the names.
void chkMultiCore_clicked(ControlPanel& panel, const std::vector<std::string>& aspect_names);

// An aspect chosen in cmbAspect; `cell_type` is that aspect's cell_type in
// AspectList ("lateral", "Dorsal", "Ventral"; empty when not found). cmbSide
// is rebuilt with "L" and "R" for a lateral aspect, else "M", and its first
// entry selected.
void cmbAspect_chosen(ControlPanel& panel, const std::string& cell_type);

// One of "don't limit", "limit to site", "limit to landscape" chosen (read
// from the three options of Frame1).
void limit_option_chosen(ControlPanel& panel);

// txtNumPend changed: a number above 400 becomes "400"; 0 hides
// "use multiple cores". Text that is not a number is left alone.
void txtNumPend_changed(ControlPanel& panel);

void lblWhichExtract_clicked(ControlPanel& panel);

// The caption of cmdSetupChoice for the state of "combine".
std::string setup_choice_caption(bool combine);

// A number typed into a text box, read the way the window reads numbers:
// decimal text with a point whatever the operator's locale ("2.5", ".5",
// "-3", "1e2"), blanks around it allowed, nothing else (see number_text.h).
// Empty when the text is not a number.
std::optional<double> number_in_text(const std::string& text);

}  // namespace velmora::runs
