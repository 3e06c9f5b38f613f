// The outline of the body (silhouette.h).
#include "libs/fennick/silhouette.h"

#include <numbers>

namespace velmora::fennick {

Silhouette find_silhouette(const Body& body, const View& view, int rows, int steps) {
  Silhouette out;
  const double turn = 2 * std::numbers::pi;
  const double start = body.table_angle();
  auto depth_of_normal = [&](double y, double theta) {
    return view.turn(body.sample(y, theta).normal()).z();
  };
  for (int r = 0; r < rows; ++r) {
    const double y = body.first() + (body.last() - body.first()) * r / (rows - 1);
    out.ys.push_back(y);
    std::array<std::optional<ContourPoint>, 2> found;
    double previous = depth_of_normal(y, start);
    for (int j = 1; j <= steps; ++j) {
      const double lo_theta = start + turn * (j - 1) / steps;
      const double hi_theta = start + turn * j / steps;
      const double now = depth_of_normal(y, hi_theta);
      const bool crosses = (previous < 0) != (now < 0);
      // Facing (< 0) to turned away is branch 0.
      const int branch = previous < 0 ? 0 : 1;
      if (crosses && !found[branch]) {
        double lo = lo_theta, hi = hi_theta, lo_value = previous;
        for (int i = 0; i < 12; ++i) {
          const double mid = 0.5 * (lo + hi);
          const double v = depth_of_normal(y, mid);
          if ((v < 0) == (lo_value < 0)) {
            lo = mid;
            lo_value = v;
          } else {
            hi = mid;
          }
        }
        const double theta = 0.5 * (lo + hi);
        found[branch] = ContourPoint{y, theta, view.project(body.sample(y, theta).point)};
      }
      previous = now;
    }
    for (int b = 0; b < 2; ++b) out.branches[b].push_back(found[b]);
  }
  return out;
}

}  // namespace velmora::fennick
