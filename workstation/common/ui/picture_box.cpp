#include "workstation/common/ui/picture_box.h"

#include <QMouseEvent>
#include <QPainter>

namespace velmora {

PictureBox::PictureBox(const QSize& image_size, QWidget* parent)
    : QWidget(parent), image_(image_size.expandedTo(QSize(1, 1)), QImage::Format_RGB32) {
  image_.fill(Qt::white);
}

void PictureBox::set_image(const QImage& image) {
  image_ = image;
  update();
}

void PictureBox::clear() {
  image_.fill(Qt::white);
  update();
}

void PictureBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(rect(), image_);
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
  emit clicked(event);
  QWidget::mousePressEvent(event);
}

}  // namespace velmora
