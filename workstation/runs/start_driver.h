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

// The comparison families in batch order, each only when its letter is set,
// then nothing else. Used by the batch comparison and by the real-time save
// step. A family whose hook is missing is reported and passed over.
Status run_comparison_families(RunContext& ctx);

// What every Start does to the database before its mode runs: prepares the
// statements in the forms `options` choose, copies each site's landscape
// into the sightings when LimitSearch is on, renumbers the cells and sets
// the side letters. The headless batch comparison uses it too.
Status prepare_run_database(RunContext& ctx, const db::StatementOptions& options);

// The batch size typed in txtNumPend, as a whole number (fractions rounded
// half to even). InvalidArgument naming the text when it is not a number or
// is negative.
Status batch_size(const ControlPanel& panel, int* size);

// Fills table compIDs with whole animals until the batch size is reached:
// animals are taken while the batch size is above both the left and the
// right image count, so the last one may carry either count past it. One
// transaction. *left / *right (optional) receive the final counts.
Status fill_multi_aspect_batch(RunContext& ctx, int batch, int* left = nullptr,
                               int* right = nullptr);

// The message of the records-waiting question.
std::string records_waiting_message(int records);

// Stops a run that cannot go on: shows `message` (when not empty), puts
// Start back at "Start", shows it and the settings again, and drops the run
// state.
void stop_run(RunContext& ctx, const std::string& message);

// The operator's message when a step of this version is missing.
std::string not_available_message(const std::string& what);

}  // namespace velmora::runs
