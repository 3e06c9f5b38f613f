// The review steps of the window's run, made from the visual confirmation
// core.
//
// The Start driver (runs/) reaches ShowNextPending, ApplyQueuedMerges and
// the emptying of the merge queue through RunHooks, whose steps take the
// whole RunContext; the review core (confirm/) takes the run state, the
// control panel, the dialogs and the pending list the driver opened. These
// adapters are the one place where the two meet. The review itself lives as
// long as the hooks (its merge queue as long as the program); the window's
// review controls call its handlers after attaching it to the run with
// review_links.
#pragma once

#include <memory>

#include "workstation/confirm/candidate_review.h"
#include "workstation/runs/run_context.h"

namespace velmora::app {

// The review's links to the window's run: its state, controls, dialogs,
// pending list, reviewed counter and outcome word. Real-time identification
// reviews the item of the extract just saved (review_item), a visual-confirm
// run the whole list (review_list).
confirm::ReviewLinks review_links(runs::RunContext& ctx);

// Hands the review's steps to the hooks and returns the review.
std::shared_ptr<confirm::CandidateReview> install_review_steps(runs::RunHooks& hooks);

}  // namespace velmora::app
