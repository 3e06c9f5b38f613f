// The review screen placed on the main window (see review_window.h).
#include "workstation/app/review_window.h"

#include <cmath>

#include "workstation/app/review_steps.h"

namespace velmora::app {
namespace {

// Space between the thumbnails and the progress line under them, in the
// window's pixels at design scale.
constexpr int kThumbnailGap = 8;

// Where the thumbnails go: above the large library view and as wide as it,
// in the band the run's settings leave empty while a review runs, so that
// the large view stays whole beside the pending photograph. The band is as
// tall as the highest grid the review lays out (one row of two thumbnails,
// two thirds of half the view's width).
QRect thumbnail_area(runs::MainWindow& window) {
  const QRect library = window.control("picLibImage(0)")->geometry();
  const QWidget* progress = window.control("lblProgress");
  const int height = static_cast<int>(std::lround(library.width() / 2.0 * 2.0 / 3.0));
  const int bottom = (progress ? progress->geometry().top() : library.top()) -
                     static_cast<int>(std::lround(kThumbnailGap * window.scale()));
  return QRect(library.left(), bottom - height, library.width(), height);
}

}  // namespace

std::unique_ptr<ReviewWindow> install_review_window(runs::MainWindow& window) {
  auto installed = std::make_unique<ReviewWindow>();
  runs::RunContext& ctx = window.context();
  installed->review = install_review_steps(ctx.hooks);
  installed->view = std::make_unique<confirm::CandidateReviewView>(
      &window, installed->review.get(), [&ctx] { return review_links(ctx); },
      thumbnail_area(window));
  confirm::CandidateReviewView* view = installed->view.get();
  ctx.hooks.review.show_next_pending = [next = ctx.hooks.review.show_next_pending,
                                        view](runs::RunContext& c) {
    Status s = next(c);
    view->refresh();
    return s;
  };
  return installed;
}

}  // namespace velmora::app
