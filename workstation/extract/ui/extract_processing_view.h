// ExtractProcessingView: the operator's side of extract processing, over
// the processing controls of a window (picExtract, picProcess, picShapes,
// picDilate_top, picDilate_bot, the sliders hscFilter, hscAvgDepth and
// hscLimitSpots, the labels and buttons), found under `root` by their names.
//
// The work is ExtractProcessing's; this class only turns the operator's
// moves into its calls and draws what it returns: the extract in colour with
// a circle per shown spot, the detrended or filtered image in grey (with the
// thinned stripes in blue, or the seed circles), the wavelet decomposition
// and the liquid-fill basins, and the two dilated spot maps. Circles are
// drawn over a kept copy of each picture, so a redraw removes the old ones.
//
// GUI thread only. The root, the processing and the extract must outlive
// the view.
#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <functional>
#include <string>

#include "workstation/common/status.h"
#include "workstation/common/ui/widget_control_panel.h"
#include "workstation/extract/pipeline.h"
#include "workstation/extract/shared_extract.h"

class QMouseEvent;

namespace velmora::extract {

// Circle colours of the spot kinds on picExtract.
QColor spot_kind_colour(float kind);

// Grey picture of a 256 x 256 row-major image, each value rounded to the
// nearest grey level and clamped to 0..255.
QImage grey_picture(const float* values);
QImage grey_picture(const double* values);

class ExtractProcessingView : public QObject {
  Q_OBJECT
 public:
  ExtractProcessingView(QWidget* root, ExtractProcessing* processing, SharedExtract* extract);

  // Runs the pipeline on the current extract and shows it: "extract from
  // CELL, K of N". When the aspect needs no operator step the extract is
  // saved at once (on_saved is called); otherwise the sliders and buttons of
  // the spot step are shown. Errors are returned, and shown by the caller.
  Status process(const std::string& cell, int k, int n);

  // Called after every successful save, with the cell; the caller marks the
  // extract pending in the database and shows Start. Its failure is shown
  // to the operator.
  std::function<Status(const std::string& cell)> on_saved;
  // Shows a message to the operator (errors and notes); default: none.
  std::function<void(const std::string& text)> on_message;

  // The picture a control shows, as drawn last (for tests and screenshots).
  QImage picture(ControlName name) const;

  // The operator's moves, as the widgets' signals call them (public so that
  // tests and drivers can make them without a mouse).
  void avg_depth_changed(int value);
  void spot_limit_changed(int value);
  void toggle_spots_clicked();
  void seed_clicked();
  void save_clicked();
  void filter_changed(int value);
  void extract_clicked(Qt::MouseButton button, bool shift, QPoint image_point);
  void process_clicked(Qt::MouseButton button, QPoint image_point);

 private:
  void connect_controls();
  void show_extract();
  void show_features();
  void show_seeds();
  void draw_spot_circles();
  void set_picture(ControlName name, const QImage& image);
  void set_slider(ControlName name, int minimum, int maximum, int value);
  void report(const Status& s);
  QPoint image_point(ControlName name, const QMouseEvent* event) const;

  QWidget* root_;
  ExtractProcessing* processing_;
  SharedExtract* extract_;
  WidgetControlPanel panel_;
  QImage extract_picture_;  // picExtract without circles
  bool circles_shown_ = false;
  bool updating_sliders_ = false;  // slider moves made by the view itself
};

}  // namespace velmora::extract
