// Real-time identification after the save (see real_time.h).
#include "workstation/runs/real_time.h"

#include "workstation/runs/start_driver.h"

namespace velmora::runs {
namespace {

// Extract processing's pictures, labels, sliders and buttons: the review
// takes their place on the window.
constexpr ControlName kProcessingControls[] = {
    "picExtract",     "lblExtract",     "picProcess",     "lblPic2",
    "picShapes",      "lblPic3",        "hscFilter",      "hscLimitSpots",
    "hscAvgDepth",    "lblNumberSpots", "cmdToggleSpots", "cmdSeed",
    "lblNumberSeeds", "cmdSaveExtract", "txtDet",         "txtDist"};

// The review controls a "visual confirm" run shows at its start.
constexpr ControlName kReviewControls[] = {
    "picPendImage", "picLibImage(0)", "cmdMoveOn",      "cmdMoveBack",     "cmdMatch",
    "lblPendImage", "lblProgress",    "lblLibImage",    "lblWhichExtract", "vscAnimList",
    "vscPendList",  "ProgressBar1",   "cmdSetupChoice", "cmdMoreLibPics"};

Status stopped(RunContext& ctx, const Status& s) {
  stop_run(ctx, s.message());
  return s;
}

// With "combine" the animal is reviewed after its last photograph of the
// list; the rows are in cell order, so its photographs lie together.
bool last_of_animal(db::RecordSet& rows) {
  const std::string id = rows.text("id");
  rows.move_next();
  const bool last = rows.eof() || rows.text("id") != id;
  rows.move_previous();
  return last;
}

}  // namespace

std::string nothing_to_review_message(const std::string& cell) {
  return "No comparison of " + cell +
         " is waiting for visual checking, so there is nothing to review; the extract stays "
         "pending for a batch comparison. Press \"Next image\" to go on.";
}

Status identify_saved_extract(RunContext& ctx) {
  ControlPanel& p = *ctx.panel;
  db::RecordSet& row = ctx.extraction.current_image_row;
  const std::string cell = row.text("cell");
  const std::string id = row.text("id");
  for (ControlName n : kProcessingControls) p.set_visible(n, false);
  // Start waits until the operator has decided on the item.
  p.set_visible("cmdStart", false);

  Status s = run_comparison_families(ctx);
  if (!s.ok()) return stopped(ctx, s);
  if (ctx.dialogs->program_ended()) return s;
  const RunStep& change = ctx.hooks.comparison.change_p_to_v;
  if (!change) {
    stop_run(ctx,
             not_available_message("Moving the compared extract to visual checking (P to V) is") +
                 " The extract is saved and stays pending.");
    return Status::Ok();
  }
  s = change(ctx);
  if (!s.ok()) return stopped(ctx, s);
  if (ctx.dialogs->program_ended()) return s;

  const bool combine = ctx.options.combine;
  if (combine && !last_of_animal(row)) {
    p.set_visible("cmdStart", true);
    return Status::Ok();
  }

  db::Statement* item = ctx.statement("review_item");
  s = combine ? item->set("pID", id) : item->set("pCell", cell);
  db::RecordSet& list = ctx.review.review_list;
  if (s.ok()) s = item->open(&list);
  if (!s.ok()) return stopped(ctx, s);
  if (list.row_count() == 0) {
    ctx.dialogs->message(nothing_to_review_message(cell), Buttons::kOk, Icon::kInformation);
    p.set_visible("cmdStart", true);
    return Status::Ok();
  }
  if (!ctx.hooks.review.show_next_pending) {
    stop_run(ctx, not_available_message("The review of candidates is") +
                      " The extract waits for visual checking.");
    return Status::Ok();
  }

  for (ControlName n : kReviewControls) p.set_visible(n, true);
  ctx.review.outcome_word = "unmatched";
  ctx.review.reviewed = 0;
  list.move_first();
  s = ctx.hooks.review.show_next_pending(ctx);
  if (!s.ok()) return stopped(ctx, s);
  return s;
}

}  // namespace velmora::runs
