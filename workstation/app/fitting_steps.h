// The fitting window in a workstation run: for the photograph at the run's
// current image row, load it from the newpics folder, open Form3D on the
// row's aspect and show it; the window leaves the extract and its flags in
// ctx.shared_extract (OK: extract_ready, with the fit and blank files and the
// row's record written; Scrap: image_scrapped).
//
// A photograph that is missing or cannot be read, or a model file the
// session refuses, is returned as a status naming the cell, which the Start
// driver shows before it stops the run. GUI thread only.
#pragma once

#include <functional>

#include "workstation/common/status.h"
#include "workstation/model/ui/form3d.h"
#include "workstation/runs/run_context.h"

namespace velmora::app {

// How the window is shown: modally by default; a test plays the operator
// instead.
using ShowForm3D = std::function<void(model::Form3D& form)>;

// The photograph file of the current image row: newpics folder + photo +
// ".jpg". Refuses a photo name that would leave the folder.
Status current_photo_path(const runs::RunContext& ctx, std::string* path);

// Shows the fitting window for the current image row.
Status show_fitting_window(runs::RunContext& ctx, const ShowForm3D& show);

// Sets ctx.hooks.extraction.show_extraction_window; `show` empty: exec().
void install_fitting_steps(runs::RunContext& ctx, ShowForm3D show = {});

}  // namespace velmora::app
