// The library's calls (fennick.h).
//
// find_ray and y_theta_to_screen are called once per pixel of an extract
// (65,536 times for one extraction) with the same ModelRecord, so the body
// built from a record is cached per thread: the cache keeps a copy of the
// bytes the body depends on (everything up to the table, and the table's
// first column) and rebuilds only when they differ. The comparison costs a
// few hundred nanoseconds; a rebuild some microseconds.
#include "libs/fennick/fennick.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <numbers>
#include <optional>
#include <vector>

#include "libs/fennick/body_model.h"
#include "libs/fennick/fit.h"
#include "libs/fennick/model_state.h"
#include "libs/fennick/silhouette.h"

namespace velmora::fennick {
namespace {

thread_local std::string last_message;

int32_t fail(int32_t code, const std::string& message) {
  last_message = message;
  return code;
}
int32_t succeed() {
  last_message.clear();
  return kFennickOk;
}

// The pose of the last reset or fit, for get_model_parms.
std::mutex current_mutex;
ModelParms current_parms{};

// The body of a record, with its state and camera.
struct Evaluator {
  Body body;
  ModelState state;
  View view{Pose{}};
};

constexpr std::size_t kKeyHead = offsetof(ModelRecord, table);

class BodyCache {
 public:
  // The evaluator of `model`, or null with `status` set.
  const Evaluator* get(const ModelRecord& model, Status* status) {
    if (!matches(model)) rebuild(model);
    *status = status_;
    return status_.ok() ? &evaluator_ : nullptr;
  }

 private:
  bool matches(const ModelRecord& model) const {
    if (key_.empty()) return false;
    if (std::memcmp(key_.data(), &model, kKeyHead) != 0) return false;
    const int q = std::clamp(model.table_count, 0, kMaxTableRows);
    if (table_.size() != static_cast<std::size_t>(q)) return false;
    for (int i = 0; i < q; ++i)
      if (std::memcmp(&table_[i],
                      reinterpret_cast<const char*>(&model) + kKeyHead +
                          static_cast<std::size_t>(i) * sizeof model.table[0],
                      sizeof(double)) != 0)
        return false;
    return true;
  }

  void rebuild(const ModelRecord& model) {
    key_.assign(reinterpret_cast<const unsigned char*>(&model),
                reinterpret_cast<const unsigned char*>(&model) + kKeyHead);
    const int q = std::clamp(model.table_count, 0, kMaxTableRows);
    table_.assign(q, 0.0);
    for (int i = 0; i < q; ++i) table_[i] = model.table[i][0];
    status_ = Body::build(model, &evaluator_.body);
    if (!status_.ok()) return;
    load_state(model, evaluator_.body, &evaluator_.state);
    status_ = evaluator_.body.set_shape(evaluator_.state.shape);
    evaluator_.view = View(evaluator_.state.pose);
  }

  std::vector<unsigned char> key_;
  std::vector<double> table_;
  Status status_;
  Evaluator evaluator_;
};

thread_local BodyCache cache;

const Evaluator* evaluator_for(const ModelRecord& model, int32_t* code) {
  Status s;
  const Evaluator* e = cache.get(model, &s);
  if (!e) *code = fail(kFennickBadModel, s.message());
  return e;
}

// Rounds to the nearest whole pixel, halves to even; false when the value
// does not fit a 32-bit integer.
bool to_pixel(double v, int32_t* out) {
  const double r = std::nearbyint(v);
  if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max()))
    return false;
  *out = static_cast<int32_t>(r);
  return true;
}

bool to_pixels(const Eigen::Vector2d& p, ScreenPoint* out) {
  ScreenPoint s;
  if (!to_pixel(p.x(), &s.x) || !to_pixel(p.y(), &s.y)) return false;
  *out = s;
  return true;
}

void report(const ModelState& s) {
  ModelParms p{};
  for (int i = 0; i < 3; ++i) p.v[i] = s.pose.angles[i];
  p.v[3] = s.pose.x;
  p.v[4] = s.pose.y;
  p.v[5] = s.pose.scale;
  p.v[6] = s.shape.body_width * 100;
  p.v[7] = s.last_fit.rms;
  p.v[8] = s.last_fit.iterations;
  p.v[9] = s.last_fit.result;
  p.v[10] = s.shape.belly;
  p.v[11] = s.model_code;
  std::lock_guard lock(current_mutex);
  current_parms = p;
}

// FitParams slot of knot i (1 to k-1) of group g.
int params_slot(const Body& body, int g, int i) {
  int slot = 7;
  for (int h = 0; h < g; ++h) slot += body.knot_count(h) - 1;
  return slot + i - 1;
}

}  // namespace

std::string fennick_last_message() {
  return last_message;
}

int32_t reset_model_parameters(ModelRecord& model, MarkedPoints& /*marks*/, FitControl& /*control*/,
                               int32_t /*one*/, int32_t /*zero*/, FitParams& params,
                               int32_t model_code) {
  Body body;
  if (Status s = Body::build(model, &body); !s.ok()) return fail(kFennickBadModel, s.message());
  for (double v : params.v)
    if (!std::isfinite(v))
      return fail(kFennickBadArguments, "FitParams holds a value that is not finite");
  ModelState state;
  state.model_code = model_code;
  for (int i = 0; i < 3; ++i) state.pose.angles[i] = params.v[i];
  state.pose.scale = params.v[5] == 0 ? 1.0 : params.v[5];
  if (!(state.pose.scale > 0))
    return fail(kFennickBadArguments, "FitParams[5], the scale, is negative");
  state.shape = body.rest_shape();
  state.shape.body_width = params.v[6] == 0 ? 1.0 : params.v[6] / 100;
  for (int g = 0; g < kKnotGroups; ++g)
    for (int i = 1; i < body.knot_count(g); ++i) {
      const double v = params.v[params_slot(body, g, i)];
      state.shape.knots[g][i] = (g == kGirth && v == 0) ? 1.0 : v;
    }
  if (Status s = body.set_shape(state.shape); !s.ok())
    return fail(kFennickBadArguments, "FitParams: " + s.message());
  state.rest = state.shape;
  store_state(state, &model);
  report(state);
  return succeed();
}

int32_t fit_to_known_points(ModelRecord& model, MarkedPoints& marks, FitControl& control,
                            int32_t initial, int32_t refine, int32_t /*window*/, int32_t /*zero*/,
                            FitParams& params) {
  static_assert(kFitTooFewMarks == kFennickTooFewMarks && kFitNotConverged == kFennickNotConverged);
  Body body;
  if (Status s = Body::build(model, &body); !s.ok()) return fail(kFennickBadModel, s.message());
  if (initial == 0 && refine == 0) return succeed();
  ModelState start;
  load_state(model, body, &start);
  FitRequest request;
  request.model = &model;
  request.marks = &marks;
  request.control = &control;
  request.initial = initial != 0;
  request.refine = refine != 0;
  for (int i = 0; i < 3; ++i) request.start_angles[i] = params.v[i];
  request.start_width = params.v[6] == 0 ? 1.0 : params.v[6] / 100;
  ModelState fitted;
  std::string message;
  const int32_t code = fit_model(body, start, request, &fitted, &message);
  if (code != kFennickOk) return fail(code, message);
  store_state(fitted, &model);
  for (int i = 0; i < 3; ++i) params.v[i] = fitted.pose.angles[i];
  params.v[3] = fitted.pose.x;
  params.v[4] = fitted.pose.y;
  params.v[5] = fitted.pose.scale;
  params.v[6] = fitted.shape.body_width * 100;
  for (int g = 0; g < kKnotGroups; ++g)
    for (int i = 1; i < body.knot_count(g); ++i)
      params.v[params_slot(body, g, i)] = fitted.shape.knots[g][i];
  control.fit_iterations = fitted.last_fit.iterations;
  report(fitted);
  return succeed();
}

int32_t get_model_parms(ModelParms& parms) {
  std::lock_guard lock(current_mutex);
  parms = current_parms;
  last_message.clear();
  return kFennickOk;
}

int32_t get_model_lines(const ModelRecord& model, ModelLines& lines, int32_t visible_only) {
  int32_t code = kFennickOk;
  const Evaluator* e = evaluator_for(model, &code);
  if (!e) return 0;
  const Body& body = e->body;
  std::vector<ScreenPoint> out;
  auto add = [&out](const Eigen::Vector2d& a, const Eigen::Vector2d& b) {
    ScreenPoint pa, pb;
    if (out.size() + 2 > kMaxModelLinePoints) return;
    if (!to_pixels(a, &pa) || !to_pixels(b, &pb)) return;
    out.push_back(pa);
    out.push_back(pb);
  };
  auto curve = [&](auto place, int pieces) {
    std::optional<SeenPoint> previous;
    for (int i = 0; i <= pieces; ++i) {
      const auto [y, theta] = place(static_cast<double>(i) / pieces);
      const SeenPoint p = see(body, e->view, y, theta);
      if (previous && (visible_only == 0 || (previous->faces_camera() && p.faces_camera())))
        add(previous->screen, p.screen);
      previous = p;
    }
  };
  const double turn = 2 * std::numbers::pi, first = body.first(), length = body.last() - first;
  constexpr int kRings = 21, kLines = 16, kPieces = 48;
  for (int r = 0; r < kRings; ++r) {
    const double y = first + length * r / (kRings - 1);
    curve([&](double u) { return std::pair{y, body.table_angle() + turn * u}; }, kPieces);
  }
  for (int l = 0; l < kLines; ++l) {
    const double theta = body.table_angle() + turn * l / kLines;
    curve([&](double u) { return std::pair{first + length * u, theta}; }, kPieces);
  }
  const Silhouette outline = find_silhouette(body, e->view);
  for (const auto& branch : outline.branches)
    for (std::size_t i = 1; i < branch.size(); ++i)
      if (branch[i - 1] && branch[i]) add(branch[i - 1]->screen, branch[i]->screen);
  std::memcpy(lines.points, out.data(), out.size() * sizeof(ScreenPoint));
  succeed();
  return static_cast<int32_t>(out.size());
}

int32_t y_theta_to_screen(const ModelRecord& model, const FitControl& /*control*/, double y,
                          double theta, ScreenScratch& scratch, ScreenPoint& point) {
  if (!std::isfinite(y) || !std::isfinite(theta))
    return fail(kFennickBadArguments, "y_theta_to_screen: Y or theta is not finite");
  int32_t code = kFennickOk;
  const Evaluator* e = evaluator_for(model, &code);
  if (!e) return code;
  const SurfaceSample s = e->body.sample(y, theta);
  const Eigen::Vector2d p = e->view.project(s.point);
  ScreenPoint rounded;
  if (!to_pixels(p, &rounded))
    return fail(kFennickBadArguments,
                "y_theta_to_screen: the point lies beyond the picture's range");
  const double unrounded[3] = {p.x(), p.y(), e->view.depth(s.point)};
  std::memcpy(scratch.bytes, unrounded, sizeof unrounded);
  point = rounded;
  return succeed();
}

int32_t get_sampling_positions(const ModelRecord& model, const FitControl& control, int32_t columns,
                               int32_t rows, const SamplingCorners& corners, GridPositions& grid) {
  const int over = control.oversampling <= 1 ? 1 : control.oversampling;
  if (over > 2)
    return fail(kFennickBadArguments,
                "get_sampling_positions: oversampling " + std::to_string(over) + ", at most 2");
  if (columns < 2 || rows < 2 || columns > 320 || rows > 320)
    return fail(kFennickBadArguments, "get_sampling_positions: a grid of " +
                                          std::to_string(columns) + " x " + std::to_string(rows) +
                                          ", expected 2 to 320 each way");
  for (double c : corners.s)
    if (!std::isfinite(c))
      return fail(kFennickBadArguments, "get_sampling_positions: a corner is not finite");
  int32_t code = kFennickOk;
  const Evaluator* e = evaluator_for(model, &code);
  if (!e) return code;
  const double* s = corners.s;
  std::vector<ScreenPoint> cells(static_cast<std::size_t>(columns) * rows);
  for (int j = 1; j <= rows; ++j) {
    const double t = static_cast<double>(j - 1) / (rows - 1);
    const double start_y = s[0] + (s[4] - s[0]) * t, start_theta = s[1] + (s[5] - s[1]) * t;
    const double end_y = s[2] + (s[6] - s[2]) * t, end_theta = s[3] + (s[7] - s[3]) * t;
    for (int k = 1; k <= columns; ++k) {
      const double u = static_cast<double>(k - 1) / (columns - 1);
      const double y = start_y + (end_y - start_y) * u;
      const double theta = start_theta + (end_theta - start_theta) * u;
      if (!to_pixels(e->view.project(e->body.sample(y, theta).point),
                     &cells[static_cast<std::size_t>(j - 1) * columns + (k - 1)]))
        return fail(kFennickBadArguments,
                    "get_sampling_positions: a grid point lies beyond the picture's range");
    }
  }
  for (int j = 1; j <= rows * over; ++j)
    for (int k = 1; k <= columns * over; ++k)
      grid.at(k, j) = cells[static_cast<std::size_t>(std::min(j, rows) - 1) * columns +
                            (std::min(k, columns) - 1)];
  return succeed();
}

int32_t find_ray(const ModelRecord& model, const FitControl& /*control*/, double y, double theta,
                 RayRecord& ray) {
  if (!std::isfinite(y) || !std::isfinite(theta))
    return fail(kFennickBadArguments, "find_ray: Y or theta is not finite");
  int32_t code = kFennickOk;
  const Evaluator* e = evaluator_for(model, &code);
  if (!e) return code;
  const SeenPoint p = see(e->body, e->view, y, theta);
  RayRecord r{};
  r.v[0] = p.screen.x();
  r.v[1] = p.screen.y();
  r.v[2] = p.depth;
  r.v[3] = p.model.x();
  r.v[4] = p.model.y();
  r.v[5] = p.model.z();
  r.v[6] = y;
  r.v[7] = theta;
  r.v[8] = p.normal.x();
  r.v[9] = p.normal.y();
  r.v[10] = p.normal.z();
  r.v[11] = -p.normal.z();
  r.v[12] = (y >= e->body.first() && y <= e->body.last()) ? 1.0 : 0.0;
  ray = r;
  return succeed();
}

}  // namespace velmora::fennick
