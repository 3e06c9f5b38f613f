#include "workstation/extract/ui/extract_processing_view.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "workstation/common/ui/picture_box.h"
#include "workstation/extract/spots.h"

namespace velmora::extract {
namespace {

constexpr int kSpotLimitDesignMax = 200;
constexpr int kSpotLimitDesignValue = 100;
constexpr int kFilterMax = 12;
const QColor kStripeBlue(0, 0, 255);

// The controls of the spot step, shown when it begins.
constexpr ControlName kSpotStepControls[] = {"hscLimitSpots",  "hscAvgDepth", "lblNumberSpots",
                                             "cmdToggleSpots", "cmdSeed",     "txtDet",
                                             "txtDist"};
// The pictures and captions of a loaded extract.
constexpr ControlName kExtractPictures[] = {"picExtract", "lblExtract", "picProcess", "lblPic2"};

int grey_level(double v) {
  if (!(v > 0.0)) return 0;  // also NaN
  if (v >= 255.0) return 255;
  return static_cast<int>(std::nearbyint(v));
}

template <typename T>
QImage grey_from(const T* values) {
  QImage image(kExtractColumns, kExtractRows, QImage::Format_RGB32);
  for (int r = 0; r < kExtractRows; ++r) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(r));
    for (int c = 0; c < kExtractColumns; ++c) {
      const int g = grey_level(values[static_cast<std::size_t>(r) * kExtractColumns + c]);
      line[c] = qRgb(g, g, g);
    }
  }
  return image;
}

QImage colour_picture(const WorkImages& images) {
  QImage image(kExtractColumns, kExtractRows, QImage::Format_RGB32);
  for (int r = 1; r <= kExtractRows; ++r) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(r - 1));
    for (int c = 1; c <= kExtractColumns; ++c) {
      auto level = [&](ColourPlane p) { return std::clamp<int>(images.colour(p, r, c), 0, 255); };
      line[c - 1] =
          qRgb(level(ColourPlane::kRed), level(ColourPlane::kGreen), level(ColourPlane::kBlue));
    }
  }
  return image;
}

// The accepted basins of the liquid fill, black on white.
QImage basin_picture(const std::vector<std::int16_t>& filled) {
  QImage image(kExtractColumns, kExtractRows, QImage::Format_RGB32);
  image.fill(Qt::white);
  const int stride = kExtractColumns + 2;
  if (filled.size() != static_cast<std::size_t>(stride) * stride) return image;
  for (int r = 1; r <= kExtractRows; ++r)
    for (int c = 1; c <= kExtractColumns; ++c)
      if (filled[static_cast<std::size_t>(r) * stride + c] != 0) image.setPixel(c - 1, r - 1, 0);
  return image;
}

QImage spot_map_picture(const SpotMap& map) {
  QImage image(kSpotMapSide, kSpotMapSide, QImage::Format_RGB32);
  image.fill(Qt::white);
  for (int y = 1; y <= kSpotMapSide; ++y)
    for (int x = 1; x <= kSpotMapSide; ++x)
      if (map.is_black(x, y)) image.setPixel(x - 1, y - 1, 0);
  return image;
}

void draw_circle(QImage* image, float row, float column, int radius, const QColor& colour) {
  QPainter painter(image);
  painter.setPen(QPen(colour, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QPointF(column - 1.0f, row - 1.0f), radius, radius);
}

}  // namespace

QColor spot_kind_colour(float kind) {
  const CircleColour c = spot_circle_colour(kind);
  return QColor(c.red, c.green, c.blue);
}

QImage grey_picture(const float* values) {
  return grey_from(values);
}
QImage grey_picture(const double* values) {
  return grey_from(values);
}

ExtractProcessingView::ExtractProcessingView(QWidget* root, ExtractProcessing* processing,
                                             SharedExtract* extract)
    : QObject(root), root_(root), processing_(processing), extract_(extract), panel_(root) {
  set_slider("hscFilter", 0, kFilterMax, kDefaultFilterCutoff);
  set_slider("hscAvgDepth", kAvgDepthRight, kAvgDepthLeft, kAvgDepthLeft);
  set_slider("hscLimitSpots", 0, kSpotLimitDesignMax, kSpotLimitDesignValue);
  if (auto* s = qobject_cast<QScrollBar*>(panel_.widget("hscAvgDepth")))
    s->setInvertedAppearance(true);  // 100 at the left end, 1 at the right
  connect_controls();
}

void ExtractProcessingView::connect_controls() {
  auto slider = [this](ControlName name, void (ExtractProcessingView::*slot)(int)) {
    if (auto* s = qobject_cast<QScrollBar*>(panel_.widget(name)))
      connect(s, &QScrollBar::valueChanged, this, [this, slot](int v) {
        if (!updating_sliders_) (this->*slot)(v);
      });
  };
  slider("hscAvgDepth", &ExtractProcessingView::avg_depth_changed);
  slider("hscLimitSpots", &ExtractProcessingView::spot_limit_changed);
  slider("hscFilter", &ExtractProcessingView::filter_changed);
  auto button = [this](ControlName name, void (ExtractProcessingView::*slot)()) {
    if (auto* b = qobject_cast<QAbstractButton*>(panel_.widget(name)))
      connect(b, &QAbstractButton::clicked, this, [this, slot] { (this->*slot)(); });
  };
  button("cmdToggleSpots", &ExtractProcessingView::toggle_spots_clicked);
  button("cmdSeed", &ExtractProcessingView::seed_clicked);
  button("cmdSaveExtract", &ExtractProcessingView::save_clicked);
  if (auto* p = qobject_cast<PictureBox*>(panel_.widget("picExtract")))
    connect(p, &PictureBox::clicked, this, [this](QMouseEvent* e) {
      extract_clicked(e->button(), e->modifiers().testFlag(Qt::ShiftModifier),
                      image_point("picExtract", e));
    });
  if (auto* p = qobject_cast<PictureBox*>(panel_.widget("picProcess")))
    connect(p, &PictureBox::clicked, this,
            [this](QMouseEvent* e) { process_clicked(e->button(), image_point("picProcess", e)); });
}

Status ExtractProcessingView::process(const std::string& cell, int k, int n) {
  panel_.set_text("lblExtract",
                  "extract from " + cell + ", " + std::to_string(k) + " of " + std::to_string(n));
  bool operator_step = false;
  Status s = processing_->run_pipeline(*extract_, cell, &operator_step);
  if (!s.ok()) return s;
  show_extract();
  for (const std::string& note : processing_->notes())
    if (on_message) on_message(note);
  if (!operator_step) {
    save_clicked();
    return Status::Ok();
  }
  set_slider("hscAvgDepth", kAvgDepthRight, kAvgDepthLeft, processing_->avg_depth());
  panel_.set_visible("lblNumberSeeds", false);
  panel_.set_visible("cmdSaveExtract", false);
  for (ControlName name : kSpotStepControls) panel_.set_visible(name, true);
  show_features();
  return Status::Ok();
}

void ExtractProcessingView::show_extract() {
  const WorkImages& images = processing_->images();
  extract_picture_ = colour_picture(images);
  circles_shown_ = false;
  set_picture("picExtract", extract_picture_);
  set_picture("picProcess", grey_picture(images.work_image.data()));
  panel_.set_text("lblPic2", "detrended");
  for (ControlName name : kExtractPictures) panel_.set_visible(name, true);
  if (processing_->has_wavelets()) {
    set_picture("picShapes", grey_picture(processing_->wavelets().image.data()));
    panel_.set_text("lblPic3", "wavelet decomp");
    panel_.set_visible("lblPic3", true);
    panel_.set_visible("picShapes", true);
  }
}

void ExtractProcessingView::show_features() {
  QImage process = grey_picture(processing_->wavelets().image.data());
  if (processing_->stripe_pattern()) {
    const StripeImages& stripes = processing_->stripe_images();
    for (int r = 1; r <= kExtractRows; ++r)
      for (int c = 1; c <= kExtractColumns; ++c)
        if (stripes.skeleton_set(r, c)) process.setPixelColor(c - 1, r - 1, kStripeBlue);
    panel_.set_text("lblPic2", "thinned stripes on wavelet decomp");
    panel_.set_text("lblPic3", "binary image using 'liquid fill'");
    set_picture("picShapes", basin_picture(processing_->filled()));
  }
  set_picture("picProcess", process);
  set_slider("hscLimitSpots", 0, processing_->spot_limit_max(), processing_->spot_limit());
  panel_.set_text("lblNumberSpots", spots_caption(processing_->spot_limit()));
  // The circles end up shown and the button reads "Hide", whatever it read.
  panel_.set_text("cmdToggleSpots", "Show");
  toggle_spots_clicked();
}

void ExtractProcessingView::draw_spot_circles() {
  QImage image = extract_picture_;
  if (circles_shown_) {
    const SpotList& spots = processing_->spots();
    const int shown = std::min<int>(processing_->spot_limit(), static_cast<int>(spots.size()));
    for (int k = 0; k < shown; ++k)
      draw_circle(&image, spots[k].row, spots[k].column, kSpotCircleRadius,
                  spot_kind_colour(spots[k].kind));
  }
  set_picture("picExtract", image);
}

void ExtractProcessingView::avg_depth_changed(int value) {
  report(processing_->set_avg_depth(value));
  panel_.set_visible("lblNumberSeeds", false);
  panel_.set_visible("cmdSaveExtract", false);
  show_features();
}

void ExtractProcessingView::spot_limit_changed(int value) {
  processing_->set_spot_limit(value);
  panel_.set_text("lblNumberSpots", spots_caption(processing_->spot_limit()));
  draw_spot_circles();
}

void ExtractProcessingView::toggle_spots_clicked() {
  circles_shown_ = panel_.text("cmdToggleSpots") == "Show";
  panel_.set_text("cmdToggleSpots", circles_shown_ ? "Hide" : "Show");
  draw_spot_circles();
}

void ExtractProcessingView::seed_clicked() {
  Status s = processing_->place_seeds(panel_.text("txtDet"));
  if (!s.ok()) return report(s);
  show_seeds();
}

void ExtractProcessingView::show_seeds() {
  const SeedResult& seeds = processing_->seeds();
  panel_.set_text("txtDist", seeds.min_distance_text);
  QImage process = grey_picture(processing_->images().work_image.data());
  for (const SeedCircle& c : seed_circles(processing_->spots(), seeds.sets))
    draw_circle(&process, c.y, c.x, c.radius, QColor(c.colour.red, c.colour.green, c.colour.blue));
  set_picture("picProcess", process);
  set_picture("picDilate_top", spot_map_picture(seeds.top));
  set_picture("picDilate_bot", spot_map_picture(seeds.bottom));
  panel_.set_visible("picDilate_top", true);
  panel_.set_visible("picDilate_bot", true);
  panel_.set_text("lblNumberSeeds", seeds.caption);
  panel_.set_visible("lblNumberSeeds", true);
  panel_.set_visible("cmdSaveExtract", true);
}

void ExtractProcessingView::save_clicked() {
  panel_.set_visible("cmdSaveExtract", false);
  SaveReport saved;
  Status s = processing_->save(*extract_, &saved);
  if (!saved.note.empty() && on_message) on_message(saved.note);
  if (s.ok() && on_saved) s = on_saved(processing_->cell());
  if (!s.ok()) {
    // Nothing is marked: the operator may put the fault right and save again.
    panel_.set_visible("cmdSaveExtract", true);
    report(s);
  }
}

void ExtractProcessingView::filter_changed(int value) {
  std::vector<float> preview;
  Status s = processing_->filter_preview(*extract_, value, &preview);
  if (!s.ok()) return report(s);
  set_picture("picProcess", grey_picture(preview.data()));
  panel_.set_visible("cmdSaveExtract", true);
}

void ExtractProcessingView::extract_clicked(Qt::MouseButton button, bool shift, QPoint at) {
  if (button != Qt::LeftButton && button != Qt::RightButton) return;
  if (!processing_->click_extract(button == Qt::RightButton, shift, at.x() + 1, at.y() + 1)) return;
  set_slider("hscLimitSpots", 0, processing_->spot_limit_max(), processing_->spot_limit());
  panel_.set_text("lblNumberSpots", spots_caption(processing_->spot_limit()));
  circles_shown_ = true;
  panel_.set_text("cmdToggleSpots", "Hide");
  draw_spot_circles();
  if (button == Qt::LeftButton) {
    QImage image = picture("picExtract");
    const Spot& added = processing_->spots()[processing_->spot_limit() - 1];
    draw_circle(&image, added.row, added.column, kAddedSpotCircleRadius,
                spot_kind_colour(added.kind));
    set_picture("picExtract", image);
  }
}

void ExtractProcessingView::process_clicked(Qt::MouseButton button, QPoint at) {
  if (button != Qt::RightButton) return;
  bool changed = false;
  Status s = processing_->exclude_spot_at(at.x() + 1, at.y() + 1, &changed);
  if (!s.ok()) return report(s);
  if (changed) show_seeds();
}

QImage ExtractProcessingView::picture(ControlName name) const {
  if (auto* p = qobject_cast<PictureBox*>(panel_.widget(name))) return p->image();
  return QImage();
}

void ExtractProcessingView::set_picture(ControlName name, const QImage& image) {
  if (auto* p = qobject_cast<PictureBox*>(panel_.widget(name))) p->set_image(image);
}

void ExtractProcessingView::set_slider(ControlName name, int minimum, int maximum, int value) {
  auto* s = qobject_cast<QScrollBar*>(panel_.widget(name));
  if (!s) return;
  updating_sliders_ = true;
  s->setRange(minimum, std::max(minimum, maximum));
  s->setValue(value);
  updating_sliders_ = false;
}

void ExtractProcessingView::report(const Status& s) {
  if (!s.ok() && on_message) on_message(s.message());
}

QPoint ExtractProcessingView::image_point(ControlName name, const QMouseEvent* event) const {
  const QWidget* w = panel_.widget(name);
  const QImage image = picture(name);
  if (!w || image.isNull() || w->width() < 1 || w->height() < 1) return QPoint(-1, -1);
  const QPointF p = event->position();
  return QPoint(static_cast<int>(p.x() * image.width() / w->width()),
                static_cast<int>(p.y() * image.height() / w->height()));
}

}  // namespace velmora::extract
