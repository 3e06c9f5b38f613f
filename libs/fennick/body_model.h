// The deformable body surface and the camera that sees it.
//
// Model frame (model units): x along the body axis, tail end to nose (x = Y);
// y towards the belly; z towards the animal's left side. A surface point is
// addressed by (Y, theta): Y along the axis, theta round it in radians,
// measured from the dorsal midline (the table angle) towards the left side:
//
//   P(Y, theta) = C(Y) + R_twist(Y) (-h(Y) r(phi) cos phi, w(Y) r(phi) sin phi)
//
// with phi = theta - table angle; C(Y) = (Y, -(lift(Y) + bend_up(Y)),
// bend_side(Y)) the axis; h, w the half-height and half-width of the
// section: the profile's x1 and x2 (x1 for both when m is 1) times the girth
// curve, w also times the body width; r(phi) the table's radius factor (a
// periodic curve through the q table rows at equal steps from the dorsal
// midline round to the left), times the belly's bulge 1 + belly max(0,
// -cos phi)^2; R_twist a turn of the section about the axis by twist(Y),
// anatomical points turning with it. lift(Y) is the profile's x3 (0 when m
// < 3). The four knot groups carry the deformations: 0 bend_up (model units,
// dorsal positive), 1 girth (a factor), 2 bend_side (towards the left), 3
// twist (radians). Sections stay in the planes across the rest axis (a
// shear, not a rotation of the sections): for the gentle bends of a seal
// that keeps the surface a graph over Y at no visible cost.
//
// Camera: a scaled orthographic projection. A photograph of a seal is taken
// from many body lengths away, so the perspective across the animal's depth
// is negligible, and the work picture's pixels are all the library knows of
// the camera. Camera axes: x right, y down (as the picture's pixels), z away
// from the camera. The orientation is R = Rx(p0) Ry(p1) Rz(p2) with
//   Rx(a) = [[1,0,0],[0,cos a,sin a],[0,-sin a,cos a]]
//   Ry(b) = [[cos b,0,sin b],[0,1,0],[-sin b,0,cos b]]
//   Rz(t) = [[cos t,sin t,0],[-sin t,cos t,0],[0,0,1]]
// (the forms the workstation composes a hind-leg start with), and a model
// point v lands on the picture at (x, y) + scale (R v)_xy. At p = 0 the head
// points right and the back up, the right side facing the camera; p1 = pi
// turns the head to the left. p0 turns about the picture's horizontal (roll
// of a lateral view), p1 about its vertical (yaw), p2 about the line of
// sight, applied first in the model frame (pitch).
#pragma once

#include <Eigen/Dense>
#include <array>
#include <vector>

#include "libs/fennick/fennick_records.h"
#include "libs/fennick/spline.h"
#include "workstation/common/status.h"

namespace velmora::fennick {

// Where the body lies on the picture.
struct Pose {
  std::array<double, 3> angles{0, 0, 0};  // p0, p1, p2, radians
  double x = 0;                           // picture position of the model origin, pixels
  double y = 0;
  double scale = 1;  // pixels per model unit
};

// The deformations the fit may change.
struct Shape {
  double body_width = 1;  // factor on the half-width (1 = as profiled)
  double belly = 0;       // bulge of the ventral half
  // Value of each knot of each group (counts as in the ModelRecord).
  std::array<std::vector<double>, kKnotGroups> knots;
};

inline constexpr int kBendUp = 0;
inline constexpr int kGirth = 1;
inline constexpr int kBendSide = 2;
inline constexpr int kTwist = 3;

// A surface point and its derivatives, model frame.
struct SurfaceSample {
  Eigen::Vector3d point;
  Eigen::Vector3d d_y;      // dP/dY
  Eigen::Vector3d d_theta;  // dP/dtheta
  // Outward normal (not unit): dP/dY x dP/dtheta.
  Eigen::Vector3d normal() const { return d_y.cross(d_theta); }
};

// The body's geometry from a ModelRecord. Copyable; evaluation is const and
// allocates nothing.
class Body {
 public:
  // Checks the record describes a body (rows, table and knots in range,
  // increasing, finite, positive sizes) and builds the curves; the shape is
  // the rest shape.
  static Status build(const ModelRecord& model, Body* body);

  // Girth 1 everywhere, no bend, no twist, body width 1, no belly.
  Shape rest_shape() const;
  // Replaces the deformations; the knot counts must match.
  Status set_shape(const Shape& shape);
  const Shape& shape() const { return shape_; }

  SurfaceSample sample(double y, double theta) const;

  double first() const { return first_; }
  double last() const { return last_; }
  double table_angle() const { return table_angle_; }
  int knot_count(int group) const { return static_cast<int>(knot_x_[group].size()); }
  double knot_position(int group, int i) const { return knot_x_[group][i]; }
  // Largest half-height or half-width of the profile, model units.
  double largest_radius() const { return largest_radius_; }

 private:
  double first_ = 0, last_ = 0, table_angle_ = 0, largest_radius_ = 0;
  ShapePreservingCurve height_, width_, lift_;
  PeriodicCurve table_;
  std::array<std::vector<double>, kKnotGroups> knot_x_;
  std::array<NaturalCurve, kKnotGroups> deform_;
  Shape shape_;
};

// R = Rx(p0) Ry(p1) Rz(p2), forms above.
Eigen::Matrix3d orientation(const std::array<double, 3>& angles);

// The camera of one pose.
class View {
 public:
  explicit View(const Pose& pose);
  // Picture position of a model point, pixels.
  Eigen::Vector2d project(const Eigen::Vector3d& model_point) const {
    const Eigen::Vector3d c = rotation_ * model_point;
    return {pose_.x + pose_.scale * c.x(), pose_.y + pose_.scale * c.y()};
  }
  // Distance along the line of sight, pixels (larger is farther).
  double depth(const Eigen::Vector3d& model_point) const {
    return pose_.scale * rotation_.row(2).dot(model_point);
  }
  // A model-frame direction in camera axes.
  Eigen::Vector3d turn(const Eigen::Vector3d& v) const { return rotation_ * v; }
  const Pose& pose() const { return pose_; }
  const Eigen::Matrix3d& rotation() const { return rotation_; }

 private:
  Pose pose_;
  Eigen::Matrix3d rotation_;
};

// One surface point as the camera sees it.
struct SeenPoint {
  Eigen::Vector2d screen;  // pixels
  double depth = 0;        // pixels along the line of sight
  Eigen::Vector3d model;   // model frame, model units
  Eigen::Vector3d normal;  // unit outward normal, camera axes
  bool faces_camera() const { return normal.z() < 0; }
};

SeenPoint see(const Body& body, const View& view, double y, double theta);

}  // namespace velmora::fennick
