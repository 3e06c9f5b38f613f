// CandidateReviewView: the operator's side of visual confirmation, over the
// review controls of a window (picPendImage, vscPendList, picLibImage(0) to (8),
// vscAnimList, lblPendImage, lblLibImage, lblProgress and the review
// buttons), found under `root` by their names.
//
// The review is CandidateReview's: it sets captions, visibility and the score
// bar through the control panel, and keeps the rest in screen(). This class
// turns the operator's clicks and scroll-bar moves into the review's handlers
// and, after each, draws what screen() holds: the photographs (loaded with
// Qt's image reader, the review's source rectangle of each scaled smoothly
// over the whole picture, turned by 180 degrees when the review says so),
// the thumbnails at their places with the chosen one bordered, the two
// scroll bars and the colours of the labels. A picture is decoded again only
// when what it shows has changed.
//
// Thumbnails are placed in `thumbnail_area` (window coordinates of the
// thumbnails' parent): the review's thumbnail unit, the width of the library
// view (CandidateReview::Sizes), is mapped to the area's width.
//
// The view is no child of the root: whoever makes it owns it. GUI thread
// only. The root and the review must outlive the view; `links` is asked
// before every handler, so that the review works on the run the window
// holds at that moment.
#pragma once

#include <QImage>
#include <QObject>
#include <QRect>

#include <array>
#include <functional>
#include <optional>

#include "workstation/common/status.h"
#include "workstation/common/ui/widget_control_panel.h"
#include "workstation/confirm/candidate_review.h"

namespace velmora::confirm {

// The picture of `picture` at `size` pixels: its source rectangle of the
// photograph file scaled smoothly over the whole picture, white where the
// rectangle lies beyond the photograph, turned by 180 degrees when the
// source runs from the opposite corner. A file Qt cannot decode gives a
// white picture with the reader's complaint written on it.
QImage draw_photo_picture(const PhotoPicture& picture, QSize size);

class CandidateReviewView : public QObject {
  Q_OBJECT
 public:
  CandidateReviewView(QWidget* root, CandidateReview* review, std::function<ReviewLinks()> links,
                      QRect thumbnail_area);

  // Draws what the review's screen() holds. The handlers below call it; the
  // application calls it after the review steps the Start driver runs.
  void refresh();

  // The operator's moves, as the widgets' signals call them (public so that
  // drivers can make them without a mouse).
  void pend_list_changed(int row);
  void anim_list_changed(int rank);
  void pend_picture_clicked(Qt::MouseButton button, bool shift);
  void thumbnail_clicked(int k, Qt::MouseButton button);
  void label_clicked(ControlName label, bool double_click);
  void button_clicked(ControlName button);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // What a picture box was last drawn with.
  struct Drawn {
    std::optional<PhotoPicture> picture;
    QSize size;
    bool bordered = false;
  };

  void connect_controls();
  // Attaches the review to the window's run, runs `handler`, redraws.
  void run(const std::function<Status()>& handler);
  void draw(ControlName name, const std::optional<PhotoPicture>& picture, bool bordered,
            Drawn* drawn);
  void place_thumbnails();
  void set_scroll_bar(ControlName name, const ScrollBar& bar);
  void set_label_colour(ControlName name, const Colour& colour);

  QWidget* root_;
  CandidateReview* review_;
  std::function<ReviewLinks()> links_;
  QRect thumbnail_area_;
  WidgetControlPanel panel_;
  std::array<Drawn, 10> drawn_;  // [0] picPendImage, [1 + i] picLibImage(i)
  bool updating_ = false;        // scroll-bar moves made by the screen itself
};

}  // namespace velmora::confirm
