// Real-time identification: what follows the save of each photograph's
// extract in "real-time ident.".
//
// The extract just saved (the run's current image row, now pending) is
// compared at once by every family whose letter the database holds, in the
// batch order, and moved to V; then its review opens:
//   - without "combine", the item is the extract itself (review_item by its
//     cell: one row per algorithm letter);
//   - with "combine", the item is the animal, and it opens only after the
//     animal's last photograph of the list (the next row is missing or is
//     another animal's), so that all its extracts are reviewed together.
// The review core then runs ShowNextPending with the counter at 0 and the
// outcome word "unmatched"; once the operator has decided, Start ("Next
// image") goes on with the next photograph, and the end of the list applies
// the queued merges (the Start driver's part).
//
// When nothing of the extract reached V (no family compared it: no letter,
// or a family missing from this version), the operator is told so and the
// run goes on with Start; the extract stays pending for a batch comparison.
// A failing family or step is shown and stops the run (Start back at
// "Start"); what the families committed before stays.
//
// GUI thread only; ctx.panel and ctx.dialogs must be set, and the run's
// current image row must be the extract just saved.
#pragma once

#include <string>

#include "workstation/common/status.h"
#include "workstation/runs/run_context.h"

namespace velmora::runs {

// The message when the extract just saved has nothing to review.
std::string nothing_to_review_message(const std::string& cell);

// Compares the extract just saved, moves it to V and opens its review (see
// the file comment). Returns the status it showed the operator.
Status identify_saved_extract(RunContext& ctx);

}  // namespace velmora::runs
