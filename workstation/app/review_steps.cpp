// The review steps of the window's run (see review_steps.h).
#include "workstation/app/review_steps.h"

namespace velmora::app {

confirm::ReviewLinks review_links(runs::RunContext& ctx) {
  confirm::ReviewLinks links;
  links.state = &ctx;
  links.panel = ctx.panel;
  links.dialogs = ctx.dialogs;
  links.pending_list = &ctx.review.review_list;
  links.pending_statement = ctx.options.real_time ? "review_item" : "review_list";
  links.reviewed = &ctx.review.reviewed;
  links.outcome_word = &ctx.review.outcome_word;
  return links;
}

std::shared_ptr<confirm::CandidateReview> install_review_steps(runs::RunHooks& hooks) {
  auto review = std::make_shared<confirm::CandidateReview>();
  hooks.review.show_next_pending = [review](runs::RunContext& ctx) {
    review->attach(review_links(ctx));
    return review->ShowNextPending();
  };
  hooks.review.apply_queued_merges = [review](runs::RunContext& ctx) {
    review->attach(review_links(ctx));
    return review->ApplyQueuedMerges();
  };
  hooks.review.clear_merge_queue = [review](runs::RunContext&) {
    review->clear_merge_queue();
    return Status::Ok();
  };
  return review;
}

}  // namespace velmora::app
