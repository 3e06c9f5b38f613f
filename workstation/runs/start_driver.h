// The Start driver: what the Start button (cmdStart) does.
//
// The caption of cmdStart is the run state. While it reads "Start", a press
// runs begin_run: open the database, write the folder file, reread
// orlain.ini, prepare the statements for the current options, renumber the
// cells, load the lookups, hide the settings and dispatch on the mode. The
// extraction and review runs then set the caption to "Next image", and each
// further press runs next_image, which takes up the next photograph or review
// item.
//
// Every step that belongs to another part of the workstation (extraction
// window, extract pipeline, comparison families, review, test) is reached
// through ctx.hooks. When a step's hook is not set, the operator is told
// that it is not available in this version: a comparison family is passed
// over and the batch goes on; any other step stops the run cleanly, with
// Start back at "Start" and the settings shown again.
//
// Failures: a database error (the status names the statement and carries
// the engine's message) or another fault is shown to the operator, and the
// run stops; writes that belong together (renumbering, the multi-aspect
// batch) are one transaction, so nothing is left half written. Each function
// returns the status it showed, for callers that want it; a run that ends the
// program (Cancel, an empty list) returns Ok with ctx.dialogs->program_ended().
//
// GUI thread only; ctx.panel and ctx.dialogs must be set.
#pragma once

#include <string>

#include "workstation/common/status.h"
#include "workstation/runs/run_context.h"

namespace velmora::runs {

inline constexpr const char* kStartCaption = "Start";
inline constexpr const char* kNextImageCaption = "Next image";
inline constexpr const char* kStopRunQuestion =
    "A run is in progress. Stop it and close Velmora? The comparison program is ended; what "
    "it compared of the current aspect and side is not imported, and what was imported before "
    "stays.";
inline constexpr const char* kNoModeMessage =
    "Choose what to do first: \"real-time ident.\", \"batch extract\", \"batch compare\", "
    "\"visual confirm\" or \"test\", then press Start.";

enum class Mode { kNone, kRealTime, kBatchExtract, kBatchCompare, kVisualConfirm, kTest };

// The chosen mode option, first match in the order of the dispatch.
Mode chosen_mode(const ControlPanel& panel);

// cmdStart pressed: begin_run or next_image by its caption.
Status cmdStart_clicked(RunContext& ctx);

// The run's beginning, steps in order (see the file comment).
Status begin_run(RunContext& ctx);

// The next photograph (extraction modes) or review item (visual confirm).
Status next_image(RunContext& ctx);

// open_database over the three folder boxes: drops the statements and record
// sets of the previous database, opens the one named in txtDatabase, loads
// AspectList and (with LimitSearch) fills cmbSites and cmbLandscapes. Faults
// and engine errors are shown to the operator; a path that is not a database
// file leaves the database closed quietly. `normalise_boxes` writes the
// normalised folders back into their boxes (Start does).
Status open_database_from_panel(RunContext& ctx, bool normalise_boxes);

// The comparison families in batch order (tarvik, correlation and spot, leg
// codes, key points), or in the test run's order (key points before leg
// codes), each only when its letter is set, then nothing else. Used by the
// batch comparison, the real-time save step and the test run. A family
// whose hook is missing is reported and passed over.
enum class FamilyOrder { kBatch, kTest };
Status run_comparison_families(RunContext& ctx, FamilyOrder order = FamilyOrder::kBatch);

// The operator's options for a run of `mode`, read once from the controls.
// Fails (InvalidArgument naming the text) when a run that compares finds no
// usable batch size in txtNumPend.
Status read_run_options(const ControlPanel& panel, Mode mode, session::RunOptions* options);

// The batch size typed in txtNumPend (see session::read_batch_size).
Status batch_size(const ControlPanel& panel, int* size);

// Stops a run that cannot go on: shows `message` (when not empty), puts
// Start back at "Start", shows it and the settings again, and drops the run
// state.
void stop_run(RunContext& ctx, const std::string& message);

// The operator's message when a step of this version is missing.
std::string not_available_message(const std::string& what);

}  // namespace velmora::runs
