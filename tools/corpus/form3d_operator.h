// The operator's work in the fitting window on a rendered photograph, for
// the tests that drive Form3D offscreen: the marks the renderer found, placed
// on a whole-photograph crop, then "Initial Fit", "Fit" and "Extract".
#pragma once

#include <gtest/gtest.h>

#include <QPoint>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>
#include <utility>
#include <vector>

#include "tools/corpus/synthetic_photo.h"
#include "workstation/model/ui/form3d.h"

namespace velmora::corpus::fitting_operator {

// The marks on the work picture of a whole-photograph crop.
struct WorkMarks {
  std::vector<std::pair<int, QPoint>> special;
  std::vector<QPoint> top, bottom;
};

inline WorkMarks work_marks(const PhotoMarks& m, int work_width) {
  const double s = static_cast<double>(work_width) / m.width;
  auto at = [&](PixelPoint p) {
    return QPoint(static_cast<int>(std::lround(p.x * s)), static_cast<int>(std::lround(p.y * s)));
  };
  WorkMarks w;
  w.special = {{0, at(m.tail_base)}, {1, at(m.sternum)}};
  for (const SpecialMark& n : m.near_points) w.special.push_back({n.index, at(n.at)});
  for (PixelPoint p : m.top) w.top.push_back(at(p));
  for (PixelPoint p : m.bottom) w.bottom.push_back(at(p));
  return w;
}

template <typename W>
W* control(model::Form3D& f, const char* name) {
  W* w = qobject_cast<W*>(f.control(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

// The operator's work from the crop to the extract.
inline void mark_and_extract(model::Form3D& f, const WorkMarks& w) {
  f.crop_pressed(Qt::RightButton, QPoint(5, 5));
  for (const auto& [i, p] : w.special) f.dot_dropped(i, f.picture_to_form(p));
  control<QRadioButton>(f, "OptionTop")->click();
  for (QPoint p : w.top) f.work_released(Qt::LeftButton, p);
  control<QRadioButton>(f, "OptionBot")->click();
  for (QPoint p : w.bottom) f.work_released(Qt::LeftButton, p);
  control<QPushButton>(f, "CmdInitFit")->click();
  EXPECT_TRUE(control<QPushButton>(f, "CmdFit")->isVisibleTo(&f));
  control<QPushButton>(f, "CmdFit")->click();
  control<QPushButton>(f, "cmdExtract")->click();
}

}  // namespace velmora::corpus::fitting_operator
