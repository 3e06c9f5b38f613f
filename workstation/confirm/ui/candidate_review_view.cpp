// The operator's side of visual confirmation (see review_screen.h).
#include "workstation/confirm/ui/candidate_review_view.h"

#include <QAbstractButton>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "workstation/common/ui/picture_box.h"

namespace velmora::confirm {
namespace {

constexpr ControlName kLibraryPictures[] = {"picLibImage(0)", "picLibImage(1)", "picLibImage(2)",
                                            "picLibImage(3)", "picLibImage(4)", "picLibImage(5)",
                                            "picLibImage(6)", "picLibImage(7)", "picLibImage(8)"};
constexpr ControlName kLabels[] = {"lblPendImage", "lblLibImage"};

// The chosen thumbnail's border: wide enough to be seen on a photograph
// shrunk to a few dozen pixels.
constexpr int kBorderWidth = 3;
const QColor kBorderColour(255, 0, 0);

// [from, to) of one axis of a source rectangle, and the part of it that lies
// on the photograph.
struct Span {
  double from, to;
};
Span normalised(double start, double size) {
  return size < 0 ? Span{start + size, start} : Span{start, start + size};
}

// The picture of a photograph Qt cannot read: the file and the reader's
// words, so that the operator sees which photograph to look at.
QImage complaint(QImage* out, const std::string& file, const QString& error) {
  QPainter painter(out);
  painter.drawText(out->rect(), Qt::AlignCenter | Qt::TextWordWrap,
                   QString::fromStdString(file) + "\n" + error);
  painter.end();
  return *out;
}

}  // namespace

QImage draw_photo_picture(const PhotoPicture& picture, QSize size) {
  QImage out(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  out.fill(Qt::white);
  QImageReader reader(QString::fromStdString(picture.file));
  // The review's rectangles are in the pixels of the stored frame, as the
  // frame header gives them.
  reader.setAutoTransform(false);
  const QSize photo = reader.size();
  if (!photo.isValid()) {
    return complaint(&out, picture.file, reader.errorString());
  }
  const SourceRect& s = picture.source;
  if (s.width == 0 || s.height == 0) return out;
  const Span x = normalised(s.x, s.width), y = normalised(s.y, s.height);
  // The part of the rectangle on the photograph, in whole pixels, and where
  // it lands in the picture (of the rectangle drawn unturned).
  const int x0 = static_cast<int>(std::floor(std::max(x.from, 0.0)));
  const int y0 = static_cast<int>(std::floor(std::max(y.from, 0.0)));
  const int x1 = static_cast<int>(std::ceil(std::min<double>(x.to, photo.width())));
  const int y1 = static_cast<int>(std::ceil(std::min<double>(y.to, photo.height())));
  if (x1 <= x0 || y1 <= y0) return out;
  const QRect on_photo(x0, y0, x1 - x0, y1 - y0);
  const double sx = out.width() / (x.to - x.from), sy = out.height() / (y.to - y.from);
  auto at = [](double v) { return static_cast<int>(std::lround(v)); };
  const int left = at((x0 - x.from) * sx), right = at((x1 - x.from) * sx);
  const int top = at((y0 - y.from) * sy), bottom = at((y1 - y.from) * sy);
  const QRect target(left, top, right - left, bottom - top);
  if (target.isEmpty()) return out;
  // Only the part shown is decoded, then shrunk with an area-averaging
  // filter: a photograph of thousands of pixels into a few hundred would
  // shimmer under the painter's own bilinear scaling.
  reader.setClipRect(on_photo);
  QImage part = reader.read();
  if (part.isNull()) {
    return complaint(&out, picture.file, reader.errorString());
  }
  part = part.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  {
    QPainter painter(&out);
    painter.drawImage(target.topLeft(), part);
  }
  // A rectangle running from the opposite corner on an axis mirrors that
  // axis; both together are the turn by 180 degrees.
  const bool mirror_x = s.width < 0, mirror_y = s.height < 0;
  if (mirror_x || mirror_y) {
    out = out.mirrored(mirror_x, mirror_y);
  }
  return out;
}

CandidateReviewView::CandidateReviewView(QWidget* root, CandidateReview* review,
                                         std::function<ReviewLinks()> links, QRect thumbnail_area)
    : root_(root),
      review_(review),
      links_(std::move(links)),
      thumbnail_area_(thumbnail_area),
      panel_(root) {
  connect_controls();
}

void CandidateReviewView::connect_controls() {
  auto scroll = [this](ControlName name, void (CandidateReviewView::*slot)(int)) {
    if (auto* s = qobject_cast<QScrollBar*>(panel_.widget(name)))
      connect(s, &QScrollBar::valueChanged, this, [this, slot](int v) {
        if (!updating_) (this->*slot)(v);
      });
  };
  scroll("vscPendList", &CandidateReviewView::pend_list_changed);
  scroll("vscAnimList", &CandidateReviewView::anim_list_changed);
  for (ControlName name :
       {ControlName("cmdMoveOn"), ControlName("cmdMoveBack"), ControlName("cmdMatch"),
        ControlName("cmdSetupChoice"), ControlName("cmdMoreLibPics"), ControlName("cmdContinue"),
        ControlName("cmdSkip")}) {
    if (auto* b = qobject_cast<QAbstractButton*>(panel_.widget(name)))
      connect(b, &QAbstractButton::clicked, this, [this, name] { button_clicked(name); });
  }
  if (auto* p = qobject_cast<PictureBox*>(panel_.widget("picPendImage")))
    connect(p, &PictureBox::clicked, this, [this](QMouseEvent* e) {
      pend_picture_clicked(e->button(), e->modifiers().testFlag(Qt::ShiftModifier));
    });
  for (int k = 1; k <= 8; ++k) {
    if (auto* p = qobject_cast<PictureBox*>(panel_.widget(kLibraryPictures[k])))
      connect(p, &PictureBox::clicked, this,
              [this, k](QMouseEvent* e) { thumbnail_clicked(k, e->button()); });
  }
  for (ControlName label : kLabels)
    if (QWidget* w = panel_.widget(label)) w->installEventFilter(this);
}

bool CandidateReviewView::eventFilter(QObject* watched, QEvent* event) {
  const bool press = event->type() == QEvent::MouseButtonPress;
  const bool double_click = event->type() == QEvent::MouseButtonDblClick;
  if (press || double_click) {
    for (ControlName label : kLabels)
      if (watched == panel_.widget(label)) label_clicked(label, double_click);
  }
  return QObject::eventFilter(watched, event);
}

void CandidateReviewView::run(const std::function<Status()>& handler) {
  const ReviewLinks links = links_();
  review_->attach(links);
  Status s = handler();
  // A handler fails only when called outside a run; the operator is told
  // rather than left with a button that does nothing.
  if (!s.ok() && links.dialogs != nullptr)
    links.dialogs->message(s.message(), Buttons::kOk, Icon::kExclamation);
  refresh();
}

void CandidateReviewView::pend_list_changed(int row) {
  run([this, row] { return review_->vscPendList_changed(row); });
}

void CandidateReviewView::anim_list_changed(int rank) {
  run([this, rank] { return review_->vscAnimList_changed(rank); });
}

void CandidateReviewView::pend_picture_clicked(Qt::MouseButton button, bool shift) {
  run([this, button, shift] {
    return review_->picPendImage_clicked(shift, button == Qt::RightButton);
  });
}

void CandidateReviewView::thumbnail_clicked(int k, Qt::MouseButton button) {
  run([this, k, button] { return review_->picLibImage_clicked(k, button == Qt::RightButton); });
}

void CandidateReviewView::label_clicked(ControlName label, bool double_click) {
  run([this, label, double_click] {
    const bool pend = label == ControlName("lblPendImage");
    if (double_click) {
      pend ? review_->lblPendImage_double_clicked() : review_->lblLibImage_double_clicked();
    } else {
      pend ? review_->lblPendImage_clicked() : review_->lblLibImage_clicked();
    }
    return Status::Ok();
  });
}

void CandidateReviewView::button_clicked(ControlName button) {
  run([this, button] {
    if (button == ControlName("cmdMoveOn")) return review_->cmdMoveOn_clicked();
    if (button == ControlName("cmdMoveBack")) return review_->cmdMoveBack_clicked();
    if (button == ControlName("cmdMatch")) return review_->cmdMatch_clicked();
    if (button == ControlName("cmdSetupChoice")) return review_->cmdSetupChoice_clicked();
    if (button == ControlName("cmdMoreLibPics")) return review_->cmdMoreLibPics_clicked();
    if (button == ControlName("cmdContinue")) return review_->cmdContinue_clicked();
    return review_->cmdSkip_clicked();
  });
}

// --------------------------------------------------------------- drawing

void CandidateReviewView::refresh() {
  const ReviewScreen& screen = review_->screen();
  place_thumbnails();
  draw("picPendImage", screen.pending_picture, false, &drawn_[0]);
  for (int i = 0; i <= 8; ++i) {
    draw(kLibraryPictures[i], screen.library_pictures[i], i > 0 && screen.bordered_thumbnail == i,
         &drawn_[1 + i]);
  }
  set_scroll_bar("vscPendList", screen.pend_list);
  set_scroll_bar("vscAnimList", screen.anim_list);
  set_label_colour("lblPendImage", screen.pend_label);
  set_label_colour("lblLibImage", screen.lib_label);
  set_label_colour("lblProgress", screen.progress_label);
}

void CandidateReviewView::draw(ControlName name, const std::optional<PhotoPicture>& picture,
                               bool bordered, Drawn* drawn) {
  auto* box = qobject_cast<PictureBox*>(panel_.widget(name));
  if (!box) return;
  const QSize size = box->size();
  if (drawn->picture == picture && drawn->size == size && drawn->bordered == bordered) return;
  drawn->picture = picture;
  drawn->size = size;
  drawn->bordered = bordered;
  if (!picture) {
    QImage blank(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    blank.fill(Qt::white);
    box->set_image(blank);
    return;
  }
  QImage image = draw_photo_picture(*picture, size);
  if (bordered) {
    QPainter painter(&image);
    painter.setPen(QPen(kBorderColour, kBorderWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(Qt::NoBrush);
    const int inset = kBorderWidth / 2;
    painter.drawRect(image.rect().adjusted(inset, inset, -inset - 1, -inset - 1));
  }
  box->set_image(image);
}

void CandidateReviewView::place_thumbnails() {
  const double unit = review_->sizes().library.width;
  if (!(unit > 0)) return;
  const double scale = thumbnail_area_.width() / unit;
  const ReviewScreen& screen = review_->screen();
  for (int k = 1; k <= 8; ++k) {
    const std::optional<ThumbnailPlace>& place = screen.thumbnail_places[k];
    QWidget* w = panel_.widget(kLibraryPictures[k]);
    if (!place || !w) continue;
    auto at = [scale](int v) { return static_cast<int>(std::lround(v * scale)); };
    // Edges rounded on their own, so that neighbours meet without a gap.
    const int left = at(place->left), top = at(place->top);
    const QRect r(thumbnail_area_.left() + left, thumbnail_area_.top() + top,
                  at(place->left + place->width) - left, at(place->top + place->height) - top);
    if (w->geometry() != r) w->setGeometry(r);
    w->raise();
  }
}

void CandidateReviewView::set_scroll_bar(ControlName name, const ScrollBar& bar) {
  auto* s = qobject_cast<QScrollBar*>(panel_.widget(name));
  if (!s) return;
  updating_ = true;
  s->setRange(bar.minimum, std::max(bar.minimum, bar.maximum));
  s->setPageStep(1);
  s->setValue(bar.value);
  updating_ = false;
}

void CandidateReviewView::set_label_colour(ControlName name, const Colour& colour) {
  QWidget* w = panel_.widget(name);
  if (!w) return;
  const QColor c(colour.red, colour.green, colour.blue);
  QPalette pal = w->palette();
  if (pal.color(QPalette::WindowText) == c) return;
  pal.setColor(QPalette::WindowText, c);
  w->setPalette(pal);
}

}  // namespace velmora::confirm
