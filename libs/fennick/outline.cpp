// Edge marks and the outline (outline.h).
#include "libs/fennick/outline.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velmora::fennick {
namespace {

bool near(const ScreenPoint& a, const ScreenPoint& b) {
  return std::abs(a.x - b.x) <= 1 && std::abs(a.y - b.y) <= 1;
}

ScreenPoint at(const PointList& list, int i) {
  return {list.x[i], list.y[i]};
}

// A neighbour point: one pixel right (ordered aspects) or up (unordered) of
// `p` on the top list, left or down on the bottom list.
bool is_neighbour(const ScreenPoint& n, const ScreenPoint& p, bool top) {
  const int s = top ? 1 : -1;
  return (n.x == p.x + s && n.y == p.y) || (n.x == p.x && n.y == p.y - s);
}

bool cap_follows(const PointList& list, int from, const ScreenPoint& other_first) {
  const std::vector<ScreenPoint> cap = pentagon_cap(at(list, from), other_first);
  for (int i = 0; i < 3; ++i)
    if (!near(at(list, from + 1 + i), cap[i])) return false;
  return true;
}

}  // namespace

std::vector<Eigen::Vector2d> list_points(const PointList& list) {
  const int n = std::clamp(list.count, 0, kMaxListPoints);
  std::vector<Eigen::Vector2d> out;
  for (int i = 0; i < n; ++i) out.emplace_back(list.x[i], list.y[i]);
  return out;
}

std::vector<ScreenPoint> pentagon_cap(ScreenPoint last, ScreenPoint other_first) {
  const double n = other_first.x - last.x, o = other_first.y - last.y;
  std::vector<ScreenPoint> out;
  ScreenPoint previous = last;
  for (const double degrees : {108.0, 36.0, -36.0}) {
    const float theta = static_cast<float>(degrees * 3.14159265358979 / 180);
    const double s = std::sin(static_cast<double>(theta)), c = std::cos(static_cast<double>(theta));
    previous = {static_cast<int32_t>(std::nearbyint(previous.x + o * s + n * c)),
                static_cast<int32_t>(std::nearbyint(previous.y - n * s + o * c))};
    out.push_back(previous);
  }
  return out;
}

int real_point_count(const PointList& list, const ScreenPoint& other_first, bool top) {
  const int n = std::clamp(list.count, 0, kMaxListPoints);
  // With Auto order: real ..., neighbour, three cap points, neighbour of other_first.
  if (n >= 6 && is_neighbour(at(list, n - 5), at(list, n - 6), top) &&
      cap_follows(list, n - 5, other_first) && is_neighbour(at(list, n - 1), other_first, top))
    return n - 5;
  if (n >= 4 && cap_follows(list, n - 4, other_first)) return n - 3;
  return n;
}

bool inside_polygon(const std::vector<Eigen::Vector2d>& polygon, const Eigen::Vector2d& p) {
  bool inside = false;
  const std::size_t n = polygon.size();
  for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
    const Eigen::Vector2d& a = polygon[i];
    const Eigen::Vector2d& b = polygon[j];
    if ((a.y() > p.y()) != (b.y() > p.y()) &&
        p.x() < (b.x() - a.x()) * (p.y() - a.y()) / (b.y() - a.y()) + a.x())
      inside = !inside;
  }
  return inside;
}

Eigen::Vector2d nearest_on_polygon(const std::vector<Eigen::Vector2d>& polygon,
                                   const Eigen::Vector2d& p) {
  Eigen::Vector2d best = polygon.front();
  double best_d = (best - p).squaredNorm();
  const std::size_t n = polygon.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Eigen::Vector2d& a = polygon[i];
    const Eigen::Vector2d& b = polygon[(i + 1) % n];
    const Eigen::Vector2d ab = b - a;
    const double len2 = ab.squaredNorm();
    const double t = len2 > 0 ? std::clamp((p - a).dot(ab) / len2, 0.0, 1.0) : 0.0;
    const Eigen::Vector2d q = a + t * ab;
    const double d = (q - p).squaredNorm();
    if (d < best_d) best_d = d, best = q;
  }
  return best;
}

}  // namespace velmora::fennick
