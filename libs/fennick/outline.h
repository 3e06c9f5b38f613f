// The operator's edge marks as the fit uses them.
//
// Before each Fit the window closes its top and bottom lists into one
// outline: after the last real point of each list it appends three points
// of a pentagon across the gap to the other list's first point and, with
// "Auto order", one point beside its own last point before them and one
// beside the other list's first point after them (3 or 5 points in all).
// Those points are not on the animal, so the fit takes them off again:
// real_point_count recognises them by rebuilding them from the real points
// (a pixel of slack for the rounding) and returns the number of points
// before them. Lists that carry no closing points are taken whole.
#pragma once

#include <Eigen/Dense>
#include <vector>

#include "libs/fennick/fennick_records.h"

namespace velmora::fennick {

// `list`'s points, count clamped to 0..100.
std::vector<Eigen::Vector2d> list_points(const PointList& list);

// The number of `list`'s points before the closing points the window
// appended towards `other_first`, the first point of the other list. `top`
// tells which list it is (the neighbour points step the other way on the
// bottom list).
int real_point_count(const PointList& list, const ScreenPoint& other_first, bool top);

// The three pentagon points the window appends from `last` across the gap
// to `other_first`: each the previous point plus the gap turned by 108, 36
// and -36 degrees (angles in single precision), rounded to whole pixels.
std::vector<ScreenPoint> pentagon_cap(ScreenPoint last, ScreenPoint other_first);

// Whether p lies inside the closed polygon (even-odd rule).
bool inside_polygon(const std::vector<Eigen::Vector2d>& polygon, const Eigen::Vector2d& p);

// The point of the closed polygon's boundary nearest to p.
Eigen::Vector2d nearest_on_polygon(const std::vector<Eigen::Vector2d>& polygon,
                                   const Eigen::Vector2d& p);

}  // namespace velmora::fennick
