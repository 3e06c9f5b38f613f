// The small movable controls of the fitting window: the special-point dots
// and the edge markers (one widget kind, two shapes' worth of colours), and
// the column of special-point labels.
//
// A marker's reference point, where its position is read and written, is its
// top-left corner plus a quarter of its width and height. The marker is
// drawn as a disc centred on that point, ringed white and black so that it
// shows on dark and light pelts alike, and only the disc takes the mouse:
// the rest of the widget is not there for a click. GUI thread only.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPoint>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

namespace velmora::model {

class MarkerWidget : public QWidget {
 public:
  // `side` is the widget's width and height; the disc's radius is side / 4.
  MarkerWidget(int side, QWidget* parent);

  void fillcolor(QColor c);
  void bordercolor(QColor c);
  QColor fill() const { return fill_; }
  // The name the marker carries (a dot: its special point's name).
  QString title() const { return property("Title").toString(); }
  void set_title(const QString& t) { setProperty("Title", t); }

  // The reference point in the parent's coordinates, and placing by it.
  QPoint reference() const;
  void move_reference(QPoint p);
  // The offset of the reference point from the top-left corner.
  QPoint reference_offset() const { return QPoint(width() / 4, height() / 4); }

  // Called with the reference point (parent coordinates) when the operator
  // lets go of a drag; and when a press starts or a release ends one.
  std::function<void(QPoint)> dropped;
  std::function<void()> pressed;
  std::function<void()> released;
  bool draggable = true;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QColor fill_ = Qt::yellow;
  QColor border_ = QColor(120, 120, 120);
  QPoint grab_;  // where in the widget the press took it
  bool dragging_ = false;
};

// UserControl3: the special-point labels, one per row of 24 pixels. The
// labels are "SPlabel(i)" under the column, so tests find them by name.
class LabelColumn : public QWidget {
 public:
  LabelColumn(int labels, int width, QWidget* parent);
  void set_caption(int index, const std::string& caption);
  std::string get_caption(int index) const;
  void set_backcolor(int index, QColor c);
  void set_visible(int index, bool on);
  int count() const { return static_cast<int>(labels_.size()); }
  static constexpr int kRowHeight = 24;

  // The operator dragged the column and let go at `p` (parent coordinates).
  std::function<void(QPoint)> dropped;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  std::vector<QLabel*> labels_;
  bool pressed_ = false;
};

}  // namespace velmora::model
