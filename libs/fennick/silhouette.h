// The body's outline on the picture: where the surface turns away from the
// camera.
//
// At each of `rows` places along the body (first to last profile position),
// theta is walked round the section in `steps` equal steps; where the
// normal's depth component changes sign the crossing is refined by
// bisection. A crossing from facing to turned away (theta growing) belongs
// to branch 0, the other way to branch 1; for the convex sections of a seal
// each place has one of each, and the two branches are the body's two
// outline edges. A place where a branch has no crossing (the body seen end
// on) leaves a gap.
#pragma once

#include <Eigen/Dense>
#include <array>
#include <optional>
#include <vector>

#include "libs/fennick/body_model.h"

namespace velmora::fennick {

struct ContourPoint {
  double y = 0;
  double theta = 0;
  Eigen::Vector2d screen;
};

struct Silhouette {
  std::vector<double> ys;  // the places along the body
  std::array<std::vector<std::optional<ContourPoint>>, 2> branches;
};

Silhouette find_silhouette(const Body& body, const View& view, int rows = 96, int steps = 72);

}  // namespace velmora::fennick
