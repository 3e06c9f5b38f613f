// Synthetic marks for the fit's tests and benchmark: what an operator would
// mark on the body model seen at a known pose, found through the library's
// own calls (find_ray), as whole pixels; and the window's preparation of a
// fit (FitParams, controls, the closed outline).
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "libs/fennick/outline.h"
#include "libs/fennick/test_support.h"

namespace velmora::fennick::testing {

inline RayRecord ray_at(const LoadedModel& m, double y, double theta) {
  RayRecord ray{};
  EXPECT_EQ(find_ray(*m.model, m.control, y, theta, ray), kFennickOk) << fennick_last_message();
  return ray;
}

inline ScreenPoint pixel(double x, double y) {
  return {static_cast<int32_t>(std::nearbyint(x)), static_cast<int32_t>(std::nearbyint(y))};
}

inline void push(PointList* list, ScreenPoint p) {
  list->x[list->count] = p.x;
  list->y[list->count] = p.y;
  ++list->count;
}

// Where, at Y, the surface turns from facing the camera to facing away as
// theta grows from `from` to `to`: bisection on find_ray's normal.
inline double turning_theta(const LoadedModel& m, double y, double from, double to) {
  double lo = from, hi = to;
  const bool lo_faces = ray_at(m, y, lo).v[10] < 0;
  for (int i = 0; i < 40; ++i) {
    const double mid = 0.5 * (lo + hi);
    ((ray_at(m, y, mid).v[10] < 0) == lo_faces ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

// The window's closing of the outline before a Fit, without Auto order:
// each list gets the pentagon cap across the gap to the other's first point.
inline void close_outline(MarkedPoints* marks) {
  const ScreenPoint top_last{marks->top.x[marks->top.count - 1],
                             marks->top.y[marks->top.count - 1]};
  const ScreenPoint bottom_last{marks->bottom.x[marks->bottom.count - 1],
                                marks->bottom.y[marks->bottom.count - 1]};
  const ScreenPoint top_first{marks->top.x[0], marks->top.y[0]};
  const ScreenPoint bottom_first{marks->bottom.x[0], marks->bottom.y[0]};
  for (ScreenPoint p : pentagon_cap(top_last, bottom_first)) push(&marks->top, p);
  for (ScreenPoint p : pentagon_cap(bottom_last, top_first)) push(&marks->bottom, p);
}

// The marks an operator would place on the model of `truth` seen at its pose:
// the special points whose surface faces the camera (or is seen edge-on), a
// midline of 8 points along the flank it shows, 12 top and 12 bottom edge
// points between the hips and the neck, left to right.
inline std::unique_ptr<MarkedPoints> synthetic_marks(const LoadedModel& truth) {
  auto marks = std::make_unique<MarkedPoints>(*truth.marks);
  const ModelRecord& r = *truth.model;
  for (int i = 0; i < r.special_count; ++i) {
    const RayRecord ray = ray_at(truth, r.special_y[i], r.special_theta[i]);
    marks->placed[i] = ray.v[10] < 0.3 ? 1 : 0;
    const ScreenPoint p = pixel(ray.v[0], ray.v[1]);
    marks->special[2 * i] = p.x;
    marks->special[2 * i + 1] = p.y;
  }
  // The flank the camera sees: theta of the side whose mid-line faces it.
  const double near_theta = ray_at(truth, 230, -std::numbers::pi / 2).v[10] < 0
                                ? -std::numbers::pi / 2
                                : std::numbers::pi / 2;
  for (int i = 0; i < 8; ++i) {
    const RayRecord ray = ray_at(truth, 90 + 40 * i, near_theta);
    push(&marks->midline, pixel(ray.v[0], ray.v[1]));
  }
  std::vector<ScreenPoint> top, bottom;
  for (int i = 0; i < 12; ++i) {
    const double y = 70 + 30 * i;
    // The two outline points of this section: one between the back and the
    // flank shown, one between that flank and the belly.
    const double upper = turning_theta(truth, y, near_theta, near_theta + std::numbers::pi);
    const double lower = turning_theta(truth, y, near_theta - std::numbers::pi, near_theta);
    RayRecord a = ray_at(truth, y, upper), b = ray_at(truth, y, lower);
    if (a.v[1] > b.v[1]) std::swap(a, b);
    top.push_back(pixel(a.v[0], a.v[1]));
    bottom.push_back(pixel(b.v[0], b.v[1]));
  }
  auto by_x = [](ScreenPoint p, ScreenPoint q) { return p.x < q.x; };
  std::sort(top.begin(), top.end(), by_x);
  std::sort(bottom.begin(), bottom.end(), by_x);
  for (ScreenPoint p : top) push(&marks->top, p);
  for (ScreenPoint p : bottom) push(&marks->bottom, p);
  for (int& v : marks->trailing) v = 1000;
  return marks;
}

// The marks an operator places on a photograph of the body of `truth` at its
// pose, as the photographs' marks files carry them: the tail base and the
// sternum (special points 0 and 1) and, with `near_points`, the shoulder and
// the hip of the flank shown (2 to 5, whichever face the camera); `edges`
// top and `edges` bottom points between the hips and the neck at uneven
// places along the body; no midline. Every point is moved by up to
// `jitter` whole pixels each way.
inline std::unique_ptr<MarkedPoints> photograph_marks(const LoadedModel& truth, bool near_points,
                                                      int edges, int jitter, std::mt19937* rng) {
  auto marks = std::make_unique<MarkedPoints>(*truth.marks);
  std::uniform_int_distribution<int> moved(-jitter, jitter);
  std::uniform_real_distribution<double> spread(0.2, 0.8);
  auto place = [&](double x, double y) { return pixel(x + moved(*rng), y + moved(*rng)); };
  const ModelRecord& r = *truth.model;
  for (int i = 0; i < r.special_count; ++i) {
    const RayRecord ray = ray_at(truth, r.special_y[i], r.special_theta[i]);
    marks->placed[i] = (i < 2 || (near_points && i < 6 && ray.v[10] < 0)) ? 1 : 0;
    const ScreenPoint p = place(ray.v[0], ray.v[1]);
    marks->special[2 * i] = marks->placed[i] ? p.x : 0;
    marks->special[2 * i + 1] = marks->placed[i] ? p.y : 0;
  }
  marks->midline.count = marks->top.count = marks->bottom.count = 0;
  const double near_theta = ray_at(truth, 230, -std::numbers::pi / 2).v[10] < 0
                                ? -std::numbers::pi / 2
                                : std::numbers::pi / 2;
  std::vector<ScreenPoint> top, bottom;
  for (int i = 0; i < edges; ++i) {
    const double y = 75 + 320 * (i + spread(*rng)) / edges;
    const double upper = turning_theta(truth, y, near_theta, near_theta + std::numbers::pi);
    const double lower = turning_theta(truth, y, near_theta - std::numbers::pi, near_theta);
    RayRecord a = ray_at(truth, y, upper), b = ray_at(truth, y, lower);
    if (a.v[1] > b.v[1]) std::swap(a, b);
    top.push_back(place(a.v[0], a.v[1]));
    bottom.push_back(place(b.v[0], b.v[1]));
  }
  auto by_x = [](ScreenPoint p, ScreenPoint q) { return p.x < q.x; };
  std::sort(top.begin(), top.end(), by_x);
  std::sort(bottom.begin(), bottom.end(), by_x);
  for (ScreenPoint p : top) push(&marks->top, p);
  for (ScreenPoint p : bottom) push(&marks->bottom, p);
  for (int& v : marks->trailing) v = 1000;
  return marks;
}

// FitParams and controls as the window sets them for a lateral aspect
// before "Initial Fit".
inline void prepare_initial_fit(const MarkedPoints& marks, LoadedModel* m, int32_t lock_code) {
  const bool facing = marks.special[0] < marks.special[2];  // tail base x < sternum x
  m->params.v[0] = 0;
  m->params.v[1] = facing ? 0 : 3.15149;
  m->params.v[2] = 0;
  m->params.v[3] = facing ? -7 : 0;
  m->params.v[4] = 0;
  m->params.v[6] = 100;
  m->control.fit_iterations = 0;
  m->control.lock_code = lock_code;
}

}  // namespace velmora::fennick::testing
