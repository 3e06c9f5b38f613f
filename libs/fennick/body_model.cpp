// The body surface and camera (body_model.h).
#include "libs/fennick/body_model.h"

#include <cmath>
#include <string>

namespace velmora::fennick {
namespace {

Status invalid(const std::string& what) {
  return Status::InvalidArgument("body model: " + what);
}

bool finite(double v) {
  return std::isfinite(v);
}

}  // namespace

Status Body::build(const ModelRecord& model, Body* body) {
  const int n = model.row_count, m = model.values_per_row, q = model.table_count;
  if (n < 2 || n > kMaxProfileRows)
    return invalid("the profile has " + std::to_string(n) + " rows, expected 2 to 100");
  if (m < 1 || m > kMaxProfileValues)
    return invalid("the profile has " + std::to_string(m) + " values a row, expected 1 to 8");
  if (q < 3 || q > kMaxTableRows)
    return invalid("the table has " + std::to_string(q) + " rows, expected 3 to 100");
  Body b;
  std::vector<double> ys(n), heights(n), widths(n), lifts(n);
  for (int e = 0; e < n; ++e) {
    const ProfileRow& row = model.profile[e];
    ys[e] = row.position;
    heights[e] = row.values[0];
    widths[e] = m >= 2 ? row.values[1] : row.values[0];
    lifts[e] = m >= 3 ? row.values[2] : 0.0;
    if (!finite(ys[e]) || !finite(heights[e]) || !finite(widths[e]) || !finite(lifts[e]))
      return invalid("profile row " + std::to_string(e + 1) + " holds a value that is not finite");
    if (e > 0 && !(ys[e] > ys[e - 1]))
      return invalid("profile row " + std::to_string(e + 1) +
                     " does not lie beyond the one before");
    if (!(heights[e] > 0 && widths[e] > 0))
      return invalid("profile row " + std::to_string(e + 1) + " has a size that is not positive");
    b.largest_radius_ = std::max({b.largest_radius_, heights[e], widths[e]});
  }
  b.first_ = ys.front();
  b.last_ = ys.back();
  b.height_ = ShapePreservingCurve(ys, heights);
  b.width_ = ShapePreservingCurve(ys, widths);
  b.lift_ = ShapePreservingCurve(ys, lifts);

  std::vector<double> table(q);
  for (int i = 0; i < q; ++i) {
    table[i] = model.table[i][0];
    if (!(finite(table[i]) && table[i] > 0))
      return invalid("table row " + std::to_string(i + 1) + " is not a positive number");
  }
  b.table_ = PeriodicCurve(table);
  b.table_angle_ = model.table_angle;
  if (!finite(b.table_angle_)) return invalid("the table angle is not finite");

  for (int g = 0; g < kKnotGroups; ++g) {
    const KnotGroup& group = model.groups[g];
    const int k = group.count;
    if (k < 2 || k > kMaxKnots)
      return invalid("knot group " + std::to_string(g) + " has " + std::to_string(k) +
                     " knots, expected 2 to 16");
    for (int i = 0; i < k; ++i) {
      const double x = group.knots[2 * i];
      if (!finite(x) || (i > 0 && !(x > b.knot_x_[g].back())))
        return invalid("knot " + std::to_string(i) + " of group " + std::to_string(g) +
                       " does not lie beyond the one before");
      b.knot_x_[g].push_back(x);
    }
  }
  if (Status s = b.set_shape(b.rest_shape()); !s.ok()) return s;
  *body = std::move(b);
  return Status::Ok();
}

Shape Body::rest_shape() const {
  Shape s;
  for (int g = 0; g < kKnotGroups; ++g)
    s.knots[g].assign(knot_x_[g].size(), g == kGirth ? 1.0 : 0.0);
  return s;
}

Status Body::set_shape(const Shape& shape) {
  if (!(finite(shape.body_width) && shape.body_width > 0 && finite(shape.belly) &&
        shape.belly > -1))
    return invalid("the body width must be positive and the belly above -1");
  for (int g = 0; g < kKnotGroups; ++g) {
    if (shape.knots[g].size() != knot_x_[g].size())
      return invalid("knot group " + std::to_string(g) + " has " +
                     std::to_string(shape.knots[g].size()) + " values for " +
                     std::to_string(knot_x_[g].size()) + " knots");
    for (double v : shape.knots[g])
      if (!finite(v) || (g == kGirth && !(v > 0)))
        return invalid("knot group " + std::to_string(g) + " holds a value out of range");
  }
  shape_ = shape;
  for (int g = 0; g < kKnotGroups; ++g) deform_[g] = NaturalCurve(knot_x_[g], shape_.knots[g]);
  return Status::Ok();
}

SurfaceSample Body::sample(double y, double theta) const {
  const CurveValue h = height_.at(y), w = width_.at(y), lift = lift_.at(y);
  const CurveValue up = deform_[kBendUp].at(y), girth = deform_[kGirth].at(y);
  const CurveValue side = deform_[kBendSide].at(y), twist = deform_[kTwist].at(y);

  const double phi = theta - table_angle_;
  const double c = std::cos(phi), s = std::sin(phi);
  const CurveValue table = table_.at(phi);
  const double below = c < 0 ? -c : 0.0;  // the ventral half's share of the bulge
  const double bulge = 1 + shape_.belly * below * below;
  const double d_bulge = c < 0 ? 2 * shape_.belly * below * s : 0.0;  // d/dphi
  const double r = table.value * bulge, dr = table.slope * bulge + table.value * d_bulge;

  // The section before the twist: a = -H r cos phi (towards the belly),
  // b = W r sin phi (towards the left), H = h girth, W = w girth width.
  const double hh = h.value * girth.value, d_hh = h.slope * girth.value + h.value * girth.slope;
  const double ww = w.value * girth.value * shape_.body_width;
  const double d_ww = (w.slope * girth.value + w.value * girth.slope) * shape_.body_width;
  const double a = -hh * r * c, b = ww * r * s;
  const double a_y = -d_hh * r * c, b_y = d_ww * r * s;
  const double a_t = -hh * (dr * c - r * s), b_t = ww * (dr * s + r * c);

  const double ct = std::cos(twist.value), st = std::sin(twist.value);
  auto turn = [ct, st](double u, double v) {
    return Eigen::Vector2d(u * ct + v * st, -u * st + v * ct);
  };
  const Eigen::Vector2d off = turn(a, b);
  // d/dtwist of the turned vector
  const Eigen::Vector2d off_twist(-a * st + b * ct, -a * ct - b * st);
  const Eigen::Vector2d off_y = turn(a_y, b_y) + twist.slope * off_twist;
  const Eigen::Vector2d off_t = turn(a_t, b_t);

  SurfaceSample out;
  out.point = Eigen::Vector3d(y, -(lift.value + up.value) + off.x(), side.value + off.y());
  out.d_y = Eigen::Vector3d(1, -(lift.slope + up.slope) + off_y.x(), side.slope + off_y.y());
  out.d_theta = Eigen::Vector3d(0, off_t.x(), off_t.y());
  return out;
}

Eigen::Matrix3d orientation(const std::array<double, 3>& p) {
  const double ca = std::cos(p[0]), sa = std::sin(p[0]);
  const double cb = std::cos(p[1]), sb = std::sin(p[1]);
  const double ct = std::cos(p[2]), stt = std::sin(p[2]);
  Eigen::Matrix3d rx, ry, rz;
  rx << 1, 0, 0, 0, ca, sa, 0, -sa, ca;
  ry << cb, 0, sb, 0, 1, 0, -sb, 0, cb;
  rz << ct, stt, 0, -stt, ct, 0, 0, 0, 1;
  return rx * ry * rz;
}

View::View(const Pose& pose) : pose_(pose), rotation_(orientation(pose.angles)) {}

SeenPoint see(const Body& body, const View& view, double y, double theta) {
  const SurfaceSample s = body.sample(y, theta);
  SeenPoint p;
  p.model = s.point;
  p.screen = view.project(s.point);
  p.depth = view.depth(s.point);
  const Eigen::Vector3d n = view.turn(s.normal());
  const double length = n.norm();
  // A section shrunk to a point has no normal; it faces nowhere in particular.
  p.normal = length > 0 ? Eigen::Vector3d(n / length) : Eigen::Vector3d(0, 0, 0);
  return p;
}

}  // namespace velmora::fennick
