// The review screen placed on the main window: the review core's steps handed
// to the Start driver, and the window's review controls drawn and wired to
// the same review.
//
// The Start driver reaches the review through the hooks (review_steps.h);
// after the steps that change what the review shows (ShowNextPending, at
// Start and "Next image") the screen is redrawn, and the operator's clicks
// reach the review through the view. The returned object owns the view and
// shares the review with the hooks; it must live as long as the window is
// used, and the window must outlive it.
#pragma once

#include <memory>

#include "workstation/confirm/candidate_review.h"
#include "workstation/confirm/ui/candidate_review_view.h"
#include "workstation/runs/ui/main_window.h"

namespace velmora::app {

struct ReviewWindow {
  std::shared_ptr<confirm::CandidateReview> review;
  std::unique_ptr<confirm::CandidateReviewView> view;
};

std::unique_ptr<ReviewWindow> install_review_window(runs::MainWindow& window);

}  // namespace velmora::app
