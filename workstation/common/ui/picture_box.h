// PictureBox: a picture box of the main window, a widget over a backing
// QImage that keeps whatever is drawn on it.
//
// Drawing goes to image(); the widget shows the image scaled to its own size
// on every repaint, so drawings survive being covered or hidden. The image
// starts white at the widget's design size. GUI thread only.
#pragma once

#include <QImage>
#include <QWidget>

namespace velmora {

class PictureBox : public QWidget {
  Q_OBJECT
 public:
  PictureBox(const QSize& image_size, QWidget* parent);
  QImage& image() { return image_; }
  const QImage& image() const { return image_; }
  // Replaces the backing image and repaints.
  void set_image(const QImage& image);
  // Paints the backing image white again.
  void clear();

 signals:
  void clicked(QMouseEvent* event);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QImage image_;
};

}  // namespace velmora
