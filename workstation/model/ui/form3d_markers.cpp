#include "workstation/model/ui/form3d_markers.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRegion>

namespace velmora::model {

MarkerWidget::MarkerWidget(int side, QWidget* parent) : QWidget(parent) {
  resize(side, side);
  const int r = side / 4;
  // Only the disc (and its rings) is the marker; the other three quarters of
  // the widget must not hide what lies under them from the mouse.
  setMask(QRegion(QRect(reference_offset() - QPoint(r + 1, r + 1), QSize(2 * r + 3, 2 * r + 3)),
                  QRegion::Ellipse));
  setCursor(Qt::OpenHandCursor);
}

void MarkerWidget::fillcolor(QColor c) {
  fill_ = c;
  update();
}

void MarkerWidget::bordercolor(QColor c) {
  border_ = c;
  update();
}

QPoint MarkerWidget::reference() const {
  return pos() + reference_offset();
}

void MarkerWidget::move_reference(QPoint p) {
  move(p - reference_offset());
}

void MarkerWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c = QPointF(reference_offset()) + QPointF(0.5, 0.5);
  const double r = width() / 4.0;
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(c, r + 0.5, r + 0.5);
  p.setPen(QPen(Qt::white, 1.5));
  p.drawEllipse(c, r - 0.5, r - 0.5);
  p.setPen(QPen(border_, 1));
  p.setBrush(fill_);
  p.drawEllipse(c, r - 2, r - 2);
}

void MarkerWidget::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
  grab_ = e->position().toPoint();
  dragging_ = draggable;
  raise();
  if (pressed) pressed();
}

void MarkerWidget::mouseMoveEvent(QMouseEvent* e) {
  if (!dragging_) return;
  move(mapToParent(e->position().toPoint()) - grab_);
}

void MarkerWidget::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(e);
  const bool was_dragging = dragging_;
  dragging_ = false;
  if (released) released();
  if (was_dragging && dropped) dropped(reference());
}

LabelColumn::LabelColumn(int labels, int width, QWidget* parent) : QWidget(parent) {
  resize(width, labels * kRowHeight);
  for (int i = 0; i < labels; ++i) {
    auto* l = new QLabel(this);
    l->setObjectName(QString("SPlabel(%1)").arg(i));
    l->setGeometry(0, i * kRowHeight + 2, width, kRowHeight - 4);
    l->setAutoFillBackground(true);
    l->setIndent(4);
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    labels_.push_back(l);
    set_backcolor(i, Qt::white);
    l->hide();
  }
  setCursor(Qt::SizeAllCursor);
}

void LabelColumn::set_caption(int index, const std::string& caption) {
  if (index >= 0 && index < count()) labels_[index]->setText(QString::fromStdString(caption));
}

std::string LabelColumn::get_caption(int index) const {
  return index >= 0 && index < count() ? labels_[index]->text().toStdString() : std::string();
}

void LabelColumn::set_backcolor(int index, QColor c) {
  if (index < 0 || index >= count()) return;
  QPalette pal = labels_[index]->palette();
  pal.setColor(QPalette::Window, c);
  pal.setColor(QPalette::WindowText, Qt::black);
  labels_[index]->setPalette(pal);
}

void LabelColumn::set_visible(int index, bool on) {
  if (index >= 0 && index < count()) labels_[index]->setVisible(on);
}

void LabelColumn::mousePressEvent(QMouseEvent* e) {
  pressed_ = e->button() == Qt::LeftButton;
}

void LabelColumn::mouseReleaseEvent(QMouseEvent* e) {
  if (pressed_ && e->button() == Qt::LeftButton && dropped)
    dropped(mapToParent(e->position().toPoint()));
  pressed_ = false;
}

}  // namespace velmora::model
