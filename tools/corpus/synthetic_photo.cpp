// Synthetic field photographs (see the header).
//
// The mesh is a grid over (Y, theta): 2.5 model units along the body and
// 2.5 degrees round it, some 4 pixels a side at the photographs' scales, so
// interpolating Y, theta and the normal linearly inside its triangles is
// finer than the pelt's stripes. Triangles whose three corners all face away
// are skipped; the rest go through the depth buffer, which leaves every
// pixel the nearest surface. The edges of the silhouette are aliased as
// drawn; the lens blur that follows softens them as a camera would.
#include "tools/corpus/synthetic_photo.h"

#include <QBuffer>
#include <QImage>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <numbers>
#include <sstream>
#include <string_view>
#include <system_error>
#include <thread>

#include "libs/fennick/fennick.h"
#include "libs/fennick/model_file.h"
#include "libs/fennick/model_state.h"
#include "tools/corpus/corpus_writer.h"
#include "tools/corpus/data_folder.h"
#include "tools/corpus/random.h"
#include "tools/corpus/synthetic_extract.h"
#include "workstation/common/atomic_file.h"
#include "workstation/common/number_text.h"
#include "workstation/model/fit_session.h"
#include "workstation/model/photo.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;
using fennick::find_ray;
using fennick::kFennickOk;
using fennick::RayRecord;

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = kPi / 180;

// Stream purposes under the corpus seed, apart from the other writers'.
constexpr uint64_t kPeltStream = 201;
constexpr uint64_t kBuildStream = 202;
constexpr uint64_t kViewStream = 203;
constexpr uint64_t kNoiseStream = 204;
constexpr uint64_t kFlankStream = 205;

// The pelt raster: 1 model unit along the body, 384 steps round it (about
// one unit at the flank's mid-girth radius of some 60 units).
constexpr int kPeltRows = 384;
constexpr double kMeshStepY = 2.5;
constexpr int kMeshColumns = 144;  // round the body

// The stretch of body the edge marks cover: from before the hips to the
// neck, where an operator finds the outline clear of the flippers and head.
constexpr double kEdgeFrom = 75;
constexpr double kEdgeTo = 395;

double smoothstep(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

// A smooth random field over a columns x rows raster: normals on a grid
// `spacing` raster points apart, blended with smoothstep weights, added to
// `out` times `amplitude`. With `wrap_rows` the field is periodic over the
// rows (round the body).
void add_field(Random& rnd, int columns, int rows, double spacing, double amplitude, bool wrap_rows,
               std::vector<float>* out) {
  const int gc = static_cast<int>(std::ceil(columns / spacing)) + 2;
  const int gr = wrap_rows ? std::max(1, static_cast<int>(std::lround(rows / spacing)))
                           : static_cast<int>(std::ceil(rows / spacing)) + 2;
  const double row_spacing = wrap_rows ? static_cast<double>(rows) / gr : spacing;
  std::vector<double> grid(static_cast<size_t>(gc) * gr);
  for (double& g : grid) g = amplitude * rnd.normal();
  auto g = [&](int r, int c) {
    if (wrap_rows) r %= gr;
    return grid[static_cast<size_t>(r) * gc + c];
  };
  std::vector<int> cell(static_cast<size_t>(columns));
  std::vector<double> weight(static_cast<size_t>(columns));
  for (int c = 0; c < columns; ++c) {
    const double f = c / spacing;
    cell[static_cast<size_t>(c)] = std::min(static_cast<int>(f), gc - 2);
    weight[static_cast<size_t>(c)] = smoothstep(f - cell[static_cast<size_t>(c)]);
  }
  for (int r = 0; r < rows; ++r) {
    const double f = r / row_spacing;
    const int i = wrap_rows ? static_cast<int>(f) : std::min(static_cast<int>(f), gr - 2);
    const double tr = smoothstep(f - i);
    float* line = out->data() + static_cast<size_t>(r) * columns;
    for (int c = 0; c < columns; ++c) {
      const int j = cell[static_cast<size_t>(c)];
      const double tc = weight[static_cast<size_t>(c)];
      line[c] += static_cast<float>((1 - tr) * ((1 - tc) * g(i, j) + tc * g(i, j + 1)) +
                                    tr * ((1 - tc) * g(i + 1, j) + tc * g(i + 1, j + 1)));
    }
  }
}

// Gaussian blur of a columns x rows raster, periodic over the rows.
void blur_wrapping_rows(int columns, int rows, double sigma, std::vector<double>* v) {
  const int pad = static_cast<int>(std::ceil(3 * sigma));
  std::vector<double> kernel(static_cast<size_t>(2 * pad + 1));
  for (int d = -pad; d <= pad; ++d)
    kernel[static_cast<size_t>(d + pad)] = std::exp(-d * d / (2 * sigma * sigma));
  std::vector<double> pass(v->size(), 0.0);
  const auto at = [columns](int r, int c) { return static_cast<size_t>(r) * columns + c; };
  for (int r = 0; r < rows; ++r)  // along Y, clamped at the ends
    for (int c = 0; c < columns; ++c) {
      double s = 0;
      for (int d = std::max(-pad, -c); d <= std::min(pad, columns - 1 - c); ++d)
        s += kernel[static_cast<size_t>(d + pad)] * (*v)[at(r, c + d)];
      pass[at(r, c)] = s;
    }
  for (int r = 0; r < rows; ++r)  // round the body, wrapping
    for (int c = 0; c < columns; ++c) {
      double s = 0;
      for (int d = -pad; d <= pad; ++d)
        s += kernel[static_cast<size_t>(d + pad)] * pass[at(((r + d) % rows + rows) % rows, c)];
      (*v)[at(r, c)] = s;
    }
}

int ray_at(const PhotoModel& m, double y, double theta, RayRecord* ray) {
  return find_ray(*m.record, m.control, y, theta, *ray);
}

Status ray_failure(const char* what) {
  return Status::Corruption(std::string("synthetic photograph: find_ray failed for the ") + what +
                            ": " + fennick::fennick_last_message());
}

// Where, at Y, the surface turns from facing the camera to facing away as
// theta runs from `from` to `to`: bisection on the normal.
Status turning_theta(const PhotoModel& m, double y, double from, double to, RayRecord* at) {
  RayRecord ray{};
  if (ray_at(m, y, from, &ray) != kFennickOk) return ray_failure("outline");
  const bool from_faces = ray.v[10] < 0;
  double lo = from, hi = to;
  for (int i = 0; i < 40; ++i) {
    const double mid = 0.5 * (lo + hi);
    if (ray_at(m, y, mid, &ray) != kFennickOk) return ray_failure("outline");
    ((ray.v[10] < 0) == from_faces ? lo : hi) = mid;
  }
  if (ray_at(m, y, 0.5 * (lo + hi), at) != kFennickOk) return ray_failure("outline");
  return Status::Ok();
}

// The pose and shape of the view, into the model record.
Status place_model(const AnimalBuild& build, const PhotoView& v, PhotoModel* m) {
  fennick::Body body;
  if (Status s = fennick::Body::build(*m->record, &body); !s.ok()) return s;
  fennick::ModelState state;
  fennick::load_state(*m->record, body, &state);
  state.pose.angles = {v.roll * kDegree, (v.side == 'L' ? kPi : 0.0) + v.yaw * kDegree,
                       v.pitch * kDegree};
  state.pose.x = v.x;
  state.pose.y = v.y;
  state.pose.scale = v.scale * build.length;
  fennick::Shape shape = body.rest_shape();
  shape.body_width = build.body_width;
  const std::vector<double>* groups[] = {&v.bend_up, &build.girth, &v.bend_side};
  for (int g = 0; g < 3; ++g)
    for (size_t k = 0; k < groups[g]->size() && k < shape.knots[g].size(); ++k)
      shape.knots[g][k] = (*groups[g])[k];
  if (Status s = body.set_shape(shape); !s.ok()) return s;
  state.shape = shape;
  fennick::store_state(state, m->record.get());
  return Status::Ok();
}

struct Vertex {
  double x, y, depth;
  double normal[3];
};

// The surface as the camera sees it: per pixel the nearest surface point's
// depth, Y, theta and normal (depth infinite off the body).
struct SurfaceBuffer {
  int width, height;
  std::vector<float> depth, y, theta, nx, ny, nz;
  SurfaceBuffer(int w, int h)
      : width(w),
        height(h),
        depth(static_cast<size_t>(w) * h, std::numeric_limits<float>::infinity()),
        y(depth.size()),
        theta(depth.size()),
        nx(depth.size()),
        ny(depth.size()),
        nz(depth.size()) {}
};

void fill_triangle(const Vertex* v[3], const double ys[3], const double thetas[3],
                   SurfaceBuffer* b) {
  if (v[0]->normal[2] > 0 && v[1]->normal[2] > 0 && v[2]->normal[2] > 0) return;
  const double area =
      (v[1]->x - v[0]->x) * (v[2]->y - v[0]->y) - (v[1]->y - v[0]->y) * (v[2]->x - v[0]->x);
  if (std::abs(area) < 1e-12) return;
  const int x0 = std::max(0, static_cast<int>(std::ceil(std::min({v[0]->x, v[1]->x, v[2]->x}))));
  const int x1 =
      std::min(b->width - 1, static_cast<int>(std::floor(std::max({v[0]->x, v[1]->x, v[2]->x}))));
  const int y0 = std::max(0, static_cast<int>(std::ceil(std::min({v[0]->y, v[1]->y, v[2]->y}))));
  const int y1 =
      std::min(b->height - 1, static_cast<int>(std::floor(std::max({v[0]->y, v[1]->y, v[2]->y}))));
  constexpr double kSlack = -1e-9;
  for (int py = y0; py <= y1; ++py)
    for (int px = x0; px <= x1; ++px) {
      const auto edge = [px, py](const Vertex* a, const Vertex* c) {
        return (c->x - a->x) * (py - a->y) - (c->y - a->y) * (px - a->x);
      };
      const double w0 = edge(v[1], v[2]) / area, w1 = edge(v[2], v[0]) / area;
      const double w2 = 1 - w0 - w1;
      if (w0 < kSlack || w1 < kSlack || w2 < kSlack) continue;
      const double depth = w0 * v[0]->depth + w1 * v[1]->depth + w2 * v[2]->depth;
      const size_t i = static_cast<size_t>(py) * b->width + px;
      if (!(depth < b->depth[i])) continue;
      b->depth[i] = static_cast<float>(depth);
      b->y[i] = static_cast<float>(w0 * ys[0] + w1 * ys[1] + w2 * ys[2]);
      b->theta[i] = static_cast<float>(w0 * thetas[0] + w1 * thetas[1] + w2 * thetas[2]);
      b->nx[i] =
          static_cast<float>(w0 * v[0]->normal[0] + w1 * v[1]->normal[0] + w2 * v[2]->normal[0]);
      b->ny[i] =
          static_cast<float>(w0 * v[0]->normal[1] + w1 * v[1]->normal[1] + w2 * v[2]->normal[1]);
      b->nz[i] =
          static_cast<float>(w0 * v[0]->normal[2] + w1 * v[1]->normal[2] + w2 * v[2]->normal[2]);
    }
}

Status rasterise(const PhotoModel& m, SurfaceBuffer* b) {
  const double first = m.record->first_position, last = m.record->last_position;
  const int rows = static_cast<int>(std::ceil((last - first) / kMeshStepY)) + 1;
  const int columns = kMeshColumns + 1;  // the last repeats the first, theta + 2 pi
  std::vector<Vertex> mesh(static_cast<size_t>(rows) * columns);
  std::vector<double> ys(static_cast<size_t>(rows)), thetas(static_cast<size_t>(columns));
  for (int j = 0; j < columns; ++j)
    thetas[static_cast<size_t>(j)] = -kPi + 2 * kPi * j / kMeshColumns;
  for (int i = 0; i < rows; ++i) {
    ys[static_cast<size_t>(i)] = std::min(last, first + kMeshStepY * i);
    for (int j = 0; j < columns; ++j) {
      RayRecord ray{};
      if (ray_at(m, ys[static_cast<size_t>(i)], thetas[static_cast<size_t>(j)], &ray) != kFennickOk)
        return ray_failure("mesh");
      mesh[static_cast<size_t>(i) * columns + j] = {
          ray.v[0], ray.v[1], ray.v[2], {ray.v[8], ray.v[9], ray.v[10]}};
    }
  }
  for (int i = 0; i + 1 < rows; ++i)
    for (int j = 0; j + 1 < columns; ++j) {
      const auto at = [&](int r, int c) { return &mesh[static_cast<size_t>(r) * columns + c]; };
      const double y0 = ys[static_cast<size_t>(i)], y1 = ys[static_cast<size_t>(i + 1)];
      const double t0 = thetas[static_cast<size_t>(j)], t1 = thetas[static_cast<size_t>(j + 1)];
      const Vertex* a[3] = {at(i, j), at(i + 1, j), at(i + 1, j + 1)};
      const double ay[3] = {y0, y1, y1}, at_[3] = {t0, t0, t1};
      fill_triangle(a, ay, at_, b);
      const Vertex* c[3] = {at(i, j), at(i + 1, j + 1), at(i, j + 1)};
      const double cy[3] = {y0, y1, y0}, ct[3] = {t0, t1, t1};
      fill_triangle(c, cy, ct, b);
    }
  return Status::Ok();
}

// Water: a slow swell of blue-green greys with ripples; rock: brown greys,
// blotched and grainy.
void paint_background(const PhotoView& v, Random& rnd, std::vector<float> planes[3]) {
  const int w = kPhotoWidth, h = kPhotoHeight;
  std::vector<float> shade(static_cast<size_t>(w) * h, 0.0f);
  std::array<double, 3> base;
  if (v.water) {
    base = {rnd.uniform(45, 75), rnd.uniform(70, 95), rnd.uniform(80, 105)};
    add_field(rnd, w, h, 220, 14, false, &shade);
    add_field(rnd, w, h, 40, 7, false, &shade);
    add_field(rnd, w, h, 9, 4, false, &shade);
  } else {
    base = {rnd.uniform(95, 130), rnd.uniform(88, 115), rnd.uniform(75, 100)};
    add_field(rnd, w, h, 160, 22, false, &shade);
    add_field(rnd, w, h, 30, 12, false, &shade);
    add_field(rnd, w, h, 5, 8, false, &shade);
  }
  for (int p = 0; p < 3; ++p) {
    planes[p].resize(shade.size());
    for (size_t i = 0; i < shade.size(); ++i)
      planes[p][i] = static_cast<float>(base[static_cast<size_t>(p)] + shade[i]);
  }
}

void blur_121(int w, int h, std::vector<float>* plane) {
  std::vector<float> pass(plane->size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      const float l = (*plane)[x > 0 ? i - 1 : i], r = (*plane)[x + 1 < w ? i + 1 : i];
      pass[i] = 0.25f * l + 0.5f * (*plane)[i] + 0.25f * r;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      const float u = pass[y > 0 ? i - w : i], d = pass[y + 1 < h ? i + w : i];
      (*plane)[i] = 0.25f * u + 0.5f * pass[i] + 0.25f * d;
    }
}

// Sensor noise of unit spread: a sum of four uniforms, near enough to
// normal for grain, from the four 16-bit parts of one draw (Box-Muller for
// three planes of a million pixels costs more than the rest of a photograph).
double grain(Random& rnd) {
  const uint64_t bits = rnd.next();
  double sum = -2;
  for (int k = 0; k < 4; ++k) sum += static_cast<double>((bits >> (16 * k)) & 0xFFFFu) / 65536.0;
  return std::sqrt(3.0) * sum;
}

// The operator's hand: a normal draw of unit spread clamped to 2 pixels each
// way, times `amount`. The draws are made whatever the amount, so marks
// without jitter lie at the same places along the body as those with it.
PixelPoint jittered(Random& rnd, double amount, double x, double y) {
  const auto jitter = [&rnd, amount] { return amount * std::clamp(rnd.normal(), -2.0, 2.0); };
  const double jx = jitter(), jy = jitter();
  return {static_cast<int>(std::nearbyint(x + jx)), static_cast<int>(std::nearbyint(y + jy))};
}

// The operator's marks on the model at its pose: the two base points, the
// edges from hips to neck on both outlines, a crop round the body with a
// margin, and the shoulder and the hip of the flank shown (drawn last, so the
// other marks are those of a corpus made without them).
Status find_marks(const PhotoModel& m, const PhotoView& v, const Photo& photo, Random& rnd,
                  double jitter, PhotoMarks* marks) {
  const fennick::ModelRecord& r = *m.record;
  RayRecord ray{};
  if (ray_at(m, r.special_y[0], r.special_theta[0], &ray) != kFennickOk)
    return ray_failure("tail base");
  marks->tail_base = jittered(rnd, jitter, ray.v[0], ray.v[1]);
  if (ray_at(m, r.special_y[1], r.special_theta[1], &ray) != kFennickOk)
    return ray_failure("sternum");
  marks->sternum = jittered(rnd, jitter, ray.v[0], ray.v[1]);
  // The flank shown is theta -pi/2 for the right side, pi/2 for the left;
  // the outline lies a quarter turn either way from it.
  const double near = v.side == 'R' ? -kPi / 2 : kPi / 2;
  for (int list = 0; list < 2; ++list) {
    const int n = 8 + rnd.below(5);
    std::vector<PixelPoint> upper, lower;
    for (int k = 0; k < n; ++k) {
      const double y = kEdgeFrom + (kEdgeTo - kEdgeFrom) * (k + rnd.uniform(0.2, 0.8)) / n;
      RayRecord a{}, b{};
      if (Status s = turning_theta(m, y, near, near + kPi, &a); !s.ok()) return s;
      if (Status s = turning_theta(m, y, near - kPi, near, &b); !s.ok()) return s;
      if (a.v[1] > b.v[1]) std::swap(a, b);
      const RayRecord& chosen = list == 0 ? a : b;
      (list == 0 ? upper : lower).push_back(jittered(rnd, jitter, chosen.v[0], chosen.v[1]));
    }
    std::vector<PixelPoint>& out = list == 0 ? marks->top : marks->bottom;
    out = list == 0 ? upper : lower;
    std::sort(out.begin(), out.end(),
              [](const PixelPoint& p, const PixelPoint& q) { return p.x < q.x; });
  }
  int x0 = photo.width, y0 = photo.height, x1 = -1, y1 = -1;
  for (int y = 0; y < photo.height; ++y)
    for (int x = 0; x < photo.width; ++x)
      if (photo.on_body(x, y)) {
        x0 = std::min(x0, x);
        x1 = std::max(x1, x);
        y0 = std::min(y0, y);
        y1 = std::max(y1, y);
      }
  if (x1 < 0) return Status::Corruption("synthetic photograph: the body is not in the picture");
  const auto margin = [&rnd] { return static_cast<int>(std::lround(rnd.uniform(20, 70))); };
  marks->crop0 = {std::max(0, x0 - margin()), std::max(0, y0 - margin())};
  marks->crop1 = {std::min(photo.width - 1, x1 + margin()),
                  std::min(photo.height - 1, y1 + margin())};
  // The flank shown is the one whose special points lie on its side of the
  // plane of symmetry (theta of the same sign as its middle).
  marks->near_points.clear();
  for (int i = kFirstNearSpecial; i <= kLastNearSpecial && i < r.special_count; ++i) {
    if ((r.special_theta[i] < 0) != (near < 0)) continue;
    if (ray_at(m, r.special_y[i], r.special_theta[i], &ray) != kFennickOk)
      return ray_failure("shoulder or hip");
    marks->near_points.push_back({i, jittered(rnd, jitter, ray.v[0], ray.v[1])});
  }
  return Status::Ok();
}

}  // namespace

std::string check_photo_options(const PhotoCorpusOptions& o) {
  if (o.animals < 1 || o.animals > kMaxAnimals)
    return "the number of animals must be from 1 to " + std::to_string(kMaxAnimals);
  if (o.sightings < 1 || o.sightings > kMaxSightings)
    return "the number of sightings must be from 1 to " + std::to_string(kMaxSightings);
  return {};
}

std::string photo_model_path(const PhotoCorpusOptions& o) {
  const std::string folder = o.models_folder.empty() ? VELMORA_FENNICK_MODELS_DIR : o.models_folder;
  return (fs::path(folder) / kPhotoModelFile).string();
}

Status load_photo_model(const std::string& path, PhotoModel* m) {
  fennick::ModelDefinition definition;
  if (Status s = fennick::read_model_definition_file(
          path, {m->record.get(), m->marks.get(), &m->params}, &definition);
      !s.ok())
    return s;
  if (definition.empty) return Status::InvalidArgument("the model file " + path + " is empty");
  if (m->record->special_count < 2)
    return Status::InvalidArgument("the model file " + path +
                                   " names no tail base and sternum (special points 0 and 1)");
  if (fennick::reset_model_parameters(*m->record, *m->marks, m->control, 1, 0, m->params, 0) !=
      kFennickOk)
    return Status::InvalidArgument("the model of " + path +
                                   " does not reset: " + fennick::fennick_last_message());
  return Status::Ok();
}

PhotoPelt PhotoPelt::make(uint64_t seed, double first_y, double last_y) {
  Random rnd(seed);
  PhotoPelt p;
  p.first_y_ = first_y;
  p.step_y_ = 1.0;
  p.columns_ = static_cast<int>(std::ceil((last_y - first_y) / p.step_y_)) + 1;
  p.rows_ = kPeltRows;
  const int cols = p.columns_, rows = p.rows_;
  const size_t n = static_cast<size_t>(cols) * rows;

  // The reticulation, as for the extracts: the level crossings of a smooth
  // random field wind into a network of stripes and loops, widening into
  // blotches where the field runs deep. The field is a sum of Gaussian bumps
  // of random sign some 5 model units wide, on the surface's own scale.
  const double sigma = rnd.uniform(4.5, 6.0);
  std::vector<double> field(n, 0.0);
  const int bumps = static_cast<int>(static_cast<double>(n) / ((0.9 * sigma) * (0.9 * sigma)));
  for (int k = 0; k < bumps; ++k)
    field[static_cast<size_t>(rnd.below(rows)) * cols + static_cast<size_t>(rnd.below(cols))] +=
        rnd.chance(0.5) ? 1.0 : -1.0;
  blur_wrapping_rows(cols, rows, sigma, &field);
  double s = 0, s2 = 0;
  for (double f : field) {
    s += f;
    s2 += f * f;
  }
  const double mean = s / n, sd = std::sqrt(std::max(1e-12, s2 / n - mean * mean));

  std::vector<float> strength(n, 0.0f), mottle(n, 0.0f);
  add_field(rnd, cols, rows, 48, 0.25, true, &strength);
  add_field(rnd, cols, rows, 30, 7, true, &mottle);
  const double level = rnd.uniform(-0.3, 0.3), line = rnd.uniform(0.22, 0.32);
  const double deep = rnd.uniform(1.2, 1.6), ink = rnd.uniform(55, 80);
  const double ground = rnd.uniform(140, 185), counter = rnd.uniform(12, 28);
  p.raster_.resize(n);
  for (int r = 0; r < rows; ++r) {
    // Darker along the back, paler towards the belly.
    const double theta = -kPi + 2 * kPi * r / rows;
    const double base = ground - counter * std::cos(theta);
    for (int c = 0; c < cols; ++c) {
      const size_t i = static_cast<size_t>(r) * cols + c;
      const double f = (field[i] - mean) / sd;
      const double w = std::max(smoothstep((line - std::abs(f - level)) / 0.12 + 0.5),
                                smoothstep((level - deep - f) / 0.3 + 0.5));
      p.raster_[i] = static_cast<float>(base + mottle[i] + 3 * grain(rnd) -
                                        ink * std::clamp(1.0 + strength[i], 0.5, 1.3) * w);
    }
  }
  // Brownish: red up, blue down, their mean 1.
  const double warm = rnd.uniform(0.02, 0.08);
  p.tint_ = {1 + warm, 1.0, 1 - warm};
  return p;
}

double PhotoPelt::grey(double y, double theta) const {
  const double fc = std::clamp((y - first_y_) / step_y_, 0.0, columns_ - 1.0);
  double fr = (theta + kPi) / (2 * kPi) * rows_;
  fr -= std::floor(fr / rows_) * rows_;
  const int c = std::min(static_cast<int>(fc), columns_ - 2);
  const int r = std::min(static_cast<int>(fr), rows_ - 1), r1 = (r + 1) % rows_;
  const double tc = fc - c, tr = fr - r;
  const auto at = [this](int i, int j) {
    return static_cast<double>(raster_[static_cast<size_t>(i) * columns_ + j]);
  };
  return (1 - tr) * ((1 - tc) * at(r, c) + tc * at(r, c + 1)) +
         tr * ((1 - tc) * at(r1, c) + tc * at(r1, c + 1));
}

AnimalBuild make_animal_build(uint64_t seed, const fennick::ModelRecord& record) {
  Random rnd(seed);
  AnimalBuild b;
  b.length = rnd.uniform(0.9, 1.1);
  b.body_width = rnd.uniform(0.9, 1.1);
  const double stout = rnd.uniform(0.88, 1.12);
  const int knots = std::clamp(record.groups[fennick::kGirth].count, 0, fennick::kMaxKnots);
  b.girth.assign(static_cast<size_t>(knots), 1.0);
  for (int k = 1; k < knots; ++k) b.girth[static_cast<size_t>(k)] = stout * rnd.uniform(0.93, 1.07);
  return b;
}

PhotoView make_photo_view(uint64_t seed, const fennick::ModelRecord& record, bool hard) {
  Random rnd(seed);
  PhotoView v;
  v.side = rnd.chance(0.5) ? 'L' : 'R';
  // Widening the bounds rather than drawing differently keeps every other
  // quantity of the view equal between an ordinary and a hard season.
  const double yaw = hard ? 35 : 25, pitch = hard ? 15 : 10, roll = hard ? 22 : 15;
  v.yaw = rnd.uniform(-yaw, yaw);
  v.pitch = rnd.uniform(-pitch, pitch);
  v.roll = rnd.uniform(-roll, roll);
  v.scale = rnd.uniform(1.3, 1.65);
  const auto bends = [&rnd, &record](int group, double amplitude) {
    const int knots = std::clamp(record.groups[group].count, 0, fennick::kMaxKnots);
    std::vector<double> b(static_cast<size_t>(knots), 0.0);
    // A posture: a smooth curve through the knots, not independent kinks.
    const double a = rnd.uniform(-amplitude, amplitude), c = rnd.uniform(-amplitude, amplitude);
    for (int k = 1; k < knots; ++k) {
      const double t = static_cast<double>(k) / (knots - 1);
      b[static_cast<size_t>(k)] = a * t * t + c * std::sin(kPi * t) + rnd.uniform(-2, 2);
    }
    return b;
  };
  v.bend_up = bends(fennick::kBendUp, 14);
  v.bend_side = bends(fennick::kBendSide, 12);
  // Light from above, from some way to either side and from the camera's
  // half of the sky more often than not.
  const double elevation = rnd.uniform(35, 75) * kDegree, azimuth = rnd.uniform(-80, 80) * kDegree;
  v.light = {std::cos(elevation) * std::sin(azimuth), -std::sin(elevation),
             -std::cos(elevation) * std::cos(azimuth) * rnd.uniform(0.2, 1.0)};
  const double norm =
      std::sqrt(v.light[0] * v.light[0] + v.light[1] * v.light[1] + v.light[2] * v.light[2]);
  for (double& l : v.light) l /= norm;
  v.ambient = rnd.uniform(0.3, 0.5);
  v.exposure = rnd.uniform(0.85, 1.15);
  v.water = rnd.chance(0.5);
  v.noise = hard ? rnd.uniform(4, 10) : rnd.uniform(2, 5);
  v.centre_dx = rnd.uniform(-0.8, 0.8);
  v.centre_dy = rnd.uniform(-0.6, 0.6);
  return v;
}

Status render_photo(const PhotoPelt& pelt, const AnimalBuild& build, PhotoView* view,
                    uint64_t noise_seed, PhotoModel* model, Photo* photo, PhotoMarks* marks) {
  // Where the body falls at position (0, 0), from a coarse ring of points,
  // then the position that puts its box where the view asks, inside the
  // picture.
  view->x = view->y = 0;
  if (Status s = place_model(build, *view, model); !s.ok()) return s;
  double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
  const double first = model->record->first_position, last = model->record->last_position;
  for (int i = 0; i <= 60; ++i)
    for (int j = 0; j < 48; ++j) {
      RayRecord ray{};
      if (ray_at(*model, first + (last - first) * i / 60, -kPi + 2 * kPi * j / 48, &ray) !=
          kFennickOk)
        return ray_failure("placing");
      for (int a = 0; a < 2; ++a) {
        lo[a] = std::min(lo[a], ray.v[a]);
        hi[a] = std::max(hi[a], ray.v[a]);
      }
    }
  const double size[2] = {kPhotoWidth, kPhotoHeight};
  const double shift[2] = {view->centre_dx, view->centre_dy};
  double at[2];
  for (int a = 0; a < 2; ++a) {
    const double room = std::max(0.0, (size[a] - 24 - (hi[a] - lo[a])) / 2);
    at[a] = size[a] / 2 + shift[a] * room - (lo[a] + hi[a]) / 2;
  }
  view->x = at[0];
  view->y = at[1];
  if (Status s = place_model(build, *view, model); !s.ok()) return s;

  SurfaceBuffer b(kPhotoWidth, kPhotoHeight);
  if (Status s = rasterise(*model, &b); !s.ok()) return s;

  Random rnd(noise_seed);
  std::vector<float> planes[3];
  paint_background(*view, rnd, planes);
  Photo out;
  out.body.assign(b.depth.size(), 0);
  const double* light = view->light.data();
  // The half vector of the light and the line of sight, for the wet sheen.
  double half[3] = {light[0], light[1], light[2] - 1};
  const double hn = std::sqrt(half[0] * half[0] + half[1] * half[1] + half[2] * half[2]);
  for (double& h : half) h /= hn;
  for (size_t i = 0; i < b.depth.size(); ++i) {
    if (!std::isfinite(b.depth[i])) continue;
    out.body[i] = 1;
    double n[3] = {b.nx[i], b.ny[i], b.nz[i]};
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (double& c : n) c /= len > 0 ? len : 1;
    const double diffuse = std::max(0.0, n[0] * light[0] + n[1] * light[1] + n[2] * light[2]);
    const double sheen =
        std::pow(std::max(0.0, n[0] * half[0] + n[1] * half[1] + n[2] * half[2]), 24);
    const double grey = pelt.grey(b.y[i], b.theta[i]) * view->exposure *
                        (view->ambient + (1 - view->ambient) * diffuse);
    for (int p = 0; p < 3; ++p)
      planes[p][i] = static_cast<float>(grey * pelt.tint()[static_cast<size_t>(p)] + 60 * sheen);
  }
  out.rgb.resize(3 * b.depth.size());
  for (int p = 0; p < 3; ++p) {
    blur_121(kPhotoWidth, kPhotoHeight, &planes[p]);
  }
  for (size_t i = 0; i < b.depth.size(); ++i)
    for (int p = 0; p < 3; ++p) {
      const double v = planes[p][i] + view->noise * grain(rnd);
      out.rgb[3 * i + static_cast<size_t>(p)] =
          static_cast<uint8_t>(std::clamp(static_cast<int>(v + 0.5), 0, 255));
    }

  PhotoMarks m;
  if (Status s = find_photo_marks(*model, *view, out, noise_seed, 1, &m); !s.ok()) return s;
  *photo = std::move(out);
  *marks = std::move(m);
  return Status::Ok();
}

Status find_photo_marks(const PhotoModel& model, const PhotoView& view, const Photo& photo,
                        uint64_t noise_seed, double jitter, PhotoMarks* marks) {
  Random rnd(stream_seed(noise_seed, 1));
  PhotoMarks m;
  if (Status s = find_marks(model, view, photo, rnd, jitter, &m); !s.ok()) return s;
  *marks = std::move(m);
  return Status::Ok();
}

PhotoPelt photo_pelt(const PhotoCorpusOptions& o, const fennick::ModelRecord& r, int animal) {
  return PhotoPelt::make(stream_seed(o.seed, kPeltStream, static_cast<uint64_t>(animal)),
                         r.first_position, r.last_position);
}

AnimalBuild photo_build(const PhotoCorpusOptions& o, const fennick::ModelRecord& r, int animal) {
  return make_animal_build(stream_seed(o.seed, kBuildStream, static_cast<uint64_t>(animal)), r);
}

char photo_flank(const PhotoCorpusOptions& o, int animal) {
  Random rnd(stream_seed(o.seed, kFlankStream, static_cast<uint64_t>(animal)));
  return rnd.chance(0.5) ? 'L' : 'R';
}

PhotoView photo_view(const PhotoCorpusOptions& o, const fennick::ModelRecord& r, int animal,
                     int sighting) {
  PhotoView v = make_photo_view(stream_seed(o.seed, kViewStream, static_cast<uint64_t>(animal),
                                            static_cast<uint64_t>(sighting)),
                                r, o.hard);
  v.side = photo_flank(o, animal);
  return v;
}

uint64_t photo_noise_seed(const PhotoCorpusOptions& o, int animal, int sighting) {
  return stream_seed(o.seed, kNoiseStream, static_cast<uint64_t>(animal),
                     static_cast<uint64_t>(sighting));
}

Status encode_jpeg(const Photo& photo, std::string* bytes) {
  const QImage image(photo.rgb.data(), photo.width, photo.height, 3 * photo.width,
                     QImage::Format_RGB888);
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "JPEG", 92))
    return Status::IOError("cannot encode a photograph as JPEG (no JPEG writer in Qt's plugins?)");
  bytes->assign(data.constData(), static_cast<size_t>(data.size()));
  return Status::Ok();
}

std::string format_photo_marks(const PhotoMarks& m) {
  std::string t = "; operator's marks in photograph pixels: x right, y down\n";
  const auto point = [](const PixelPoint& p) {
    return std::to_string(p.x) + " " + std::to_string(p.y);
  };
  t += "photo " + m.photo + " " + std::to_string(m.width) + " " + std::to_string(m.height) + "\n";
  t += "crop " + point(m.crop0) + " " + point(m.crop1) + "\n";
  t += "special 0 " + point(m.tail_base) + "\n";
  t += "special 1 " + point(m.sternum) + "\n";
  for (const SpecialMark& p : m.near_points)
    t += "special " + std::to_string(p.index) + " " + point(p.at) + "\n";
  for (const PixelPoint& p : m.top) t += "top " + point(p) + "\n";
  for (const PixelPoint& p : m.bottom) t += "bottom " + point(p) + "\n";
  return t;
}

Status parse_photo_marks(const std::string& text, const std::string& name, PhotoMarks* out) {
  PhotoMarks m;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool seen_photo = false, seen_crop = false, seen[2] = {false, false};
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    std::vector<std::string> words;
    for (size_t at = 0; at <= line.size();) {
      const size_t end = std::min(line.find(' ', at), line.size());
      words.push_back(line.substr(at, end - at));
      at = end + 1;
    }
    const auto bad = [&](const std::string& why) {
      return Status::Corruption(name + " line " + std::to_string(number) + ": " + why);
    };
    std::vector<int> v;
    for (size_t k = (words[0] == "photo" ? 2 : 1); k < words.size(); ++k) {
      const std::optional<int> n = whole_from_text<int>(words[k], Blanks::kRefuse);
      if (!n) return bad("'" + words[k] + "' is not a whole number");
      v.push_back(*n);
    }
    if (words[0] == "photo" && words.size() == 4) {
      m.photo = words[1];
      m.width = v[0];
      m.height = v[1];
      seen_photo = true;
    } else if (words[0] == "crop" && v.size() == 4) {
      m.crop0 = {v[0], v[1]};
      m.crop1 = {v[2], v[3]};
      seen_crop = true;
    } else if (words[0] == "special" && v.size() == 3 && (v[0] == 0 || v[0] == 1)) {
      (v[0] == 0 ? m.tail_base : m.sternum) = {v[1], v[2]};
      seen[v[0]] = true;
    } else if (words[0] == "special" && v.size() == 3 && v[0] >= kFirstNearSpecial &&
               v[0] <= kLastNearSpecial) {
      for (const SpecialMark& p : m.near_points)
        if (p.index == v[0]) return bad("special point " + std::to_string(v[0]) + " twice");
      m.near_points.push_back({v[0], {v[1], v[2]}});
    } else if ((words[0] == "top" || words[0] == "bottom") && v.size() == 2) {
      std::vector<PixelPoint>& list = words[0] == "top" ? m.top : m.bottom;
      if (static_cast<int>(list.size()) == fennick::kMaxListPoints)
        return bad("more " + words[0] + " points than a list holds");
      list.push_back({v[0], v[1]});
    } else {
      return bad("expected photo, crop, special, top or bottom with its numbers");
    }
  }
  if (!seen_photo || !seen_crop || !seen[0] || !seen[1])
    return Status::Corruption(name + ": the photo, crop and both special points are required");
  *out = std::move(m);
  return Status::Ok();
}

Status photo_fit_record(const PhotoMarks& marks, const fennick::MarkedPoints& model_marks,
                        model::FitRecord* record) {
  if (marks.top.size() > static_cast<size_t>(model::kTopMarkers) ||
      marks.bottom.size() > static_cast<size_t>(model::kBottomMarkers))
    return Status::InvalidArgument("the marks of " + marks.photo +
                                   " hold more edge points than the window offers markers");
  // The crop record does not depend on the pixels, so a black photograph of
  // the size stands in for the rendered one.
  const model::Photo blank(marks.width, marks.height);
  model::Photo work;
  model::Crop crop;
  const model::CropRequest request{false, marks.crop0.x, marks.crop0.y, marks.crop1.x,
                                   marks.crop1.y};
  if (Status s = model::crop_photo(blank, request, kFitWorkWidth, kFitWorkHeight, &work, &crop);
      !s.ok())
    return s.with_note(" (the crop of " + marks.photo + ")");
  const auto to_work = [&crop](const PixelPoint& p) {
    return model::photo_pixel_to_work(crop, p.x, p.y);
  };
  model::FitRecord r;
  fennick::MarkedPoints& m = r.marks;
  std::copy(std::begin(model_marks.weights), std::end(model_marks.weights), m.weights);
  std::fill(std::begin(m.trailing), std::end(m.trailing), 1000);
  const PixelPoint* special[2] = {&marks.tail_base, &marks.sternum};
  for (int i = 0; i < 2; ++i) {
    const fennick::ScreenPoint q = to_work(*special[i]);
    m.special[2 * i] = q.x;
    m.special[2 * i + 1] = q.y;
    m.placed[i] = 1;
  }
  for (const SpecialMark& p : marks.near_points) {
    if (p.index < kFirstNearSpecial || p.index > kLastNearSpecial)
      return Status::InvalidArgument("the marks of " + marks.photo + " place special point " +
                                     std::to_string(p.index) + ", not a shoulder or hip");
    const fennick::ScreenPoint q = to_work(p.at);
    m.special[2 * p.index] = q.x;
    m.special[2 * p.index + 1] = q.y;
    m.placed[p.index] = 1;
  }
  const auto fill = [&to_work](const std::vector<PixelPoint>& from, fennick::PointList* list) {
    list->count = static_cast<int32_t>(from.size());
    for (size_t k = 0; k < from.size(); ++k) {
      const fennick::ScreenPoint q = to_work(from[k]);
      list->x[k] = q.x;
      list->y[k] = q.y;
    }
  };
  fill(marks.top, &m.top);
  fill(marks.bottom, &m.bottom);
  r.crop = crop.record;
  *record = r;
  return Status::Ok();
}

namespace {

Status fill_photo_database(db::Database* db, const std::vector<DataExtract>& plan,
                           const std::vector<LegCodeExtract>& legcodes) {
  const ExtractAspect* reticulated = nullptr;
  for (const ExtractAspect& a : extract_aspects())
    if (a.style == MarkStyle::kReticulated) reticulated = &a;
  if (reticulated == nullptr)
    return Status::Corruption("no reticulated aspect to copy kernels from");
  const ExtractAspect& a = *reticulated;
  std::unique_ptr<db::Statement> aspect;
  Status s = db->prepare(
      "photo corpus",
      "INSERT INTO aspects (aspect, aspect_letter, cell_type, pattern, model_fname, "
      "show_n_spots, left_right, from_r, to_r, step_r, from_theta_deg, to_theta_deg, "
      "step_theta_deg, sigmax_ratio, sigmay, all_green, scale_special, scale_mid, "
      "scale_overspill, scale_mag, scale_edge, scale_stiff, scale_twist, scale_thin) VALUES "
      "(:aspect, :letter, 'lateral', :pattern, :model, :show_n_spots, :left_right, :from_r, "
      ":to_r, :step_r, :from_theta, :to_theta, :step_theta, :sigmax_ratio, :sigmay, :all_green, "
      "1, 1, 1, 1, 1, 1, 1, 1)",
      &aspect);
  if (s.ok())
    s = run_statement(aspect.get(), {{"aspect", std::string(kPhotoAspect)},
                                     {"letter", std::string(kPhotoAspectLetter)},
                                     {"pattern", std::string(a.pattern)},
                                     {"model", std::string(kPhotoModelFile)},
                                     {"show_n_spots", int64_t{a.show_n_spots}},
                                     {"left_right", int64_t{a.left_right}},
                                     {"from_r", int64_t{a.from_r}},
                                     {"to_r", int64_t{a.to_r}},
                                     {"step_r", int64_t{a.step_r}},
                                     {"from_theta", int64_t{a.from_theta_deg}},
                                     {"to_theta", int64_t{a.to_theta_deg}},
                                     {"step_theta", int64_t{a.step_theta_deg}},
                                     {"sigmax_ratio", a.sigmax_ratio},
                                     {"sigmay", a.sigmay},
                                     {"all_green", int64_t{a.all_green}}});
  if (s.ok()) s = insert_legcode_aspects(db);
  if (s.ok()) s = insert_family_letters(db);
  if (s.ok()) s = insert_synthetic_site(db);
  int64_t image_number = 0;
  if (s.ok()) s = insert_extracts(db, plan, kPhotoAspect, "", &image_number, "E");
  if (s.ok()) s = insert_legcode_extracts(db, legcodes);
  if (s.ok()) s = number_cells(db);
  return s;
}

std::string degrees_text(double v) {
  return real_to_fixed_text(v, 3);
}

}  // namespace

Status write_photo_corpus(const std::string& dir, const PhotoCorpusOptions& o,
                          PhotoCorpusSummary* summary) {
  if (std::string why = check_photo_options(o); !why.empty()) return Status::InvalidArgument(why);
  PhotoModel model;
  const std::string model_path = photo_model_path(o);
  if (Status s = load_photo_model(model_path, &model); !s.ok()) return s;
  std::string model_bytes;
  {
    std::ifstream in(model_path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (!in) return Status::IOError("cannot read the model file " + model_path);
    model_bytes = all.str();
  }
  CorpusOptions group;
  group.animals = o.animals;
  group.sightings = o.sightings;
  group.seed = o.seed;
  group.aspect_letter = kPhotoAspectLetter;
  const std::vector<DataExtract> plan = plan_animals(group, 1);
  size_t longest = 0;
  for (const DataExtract& e : plan) longest = std::max(longest, e.cell.size());
  std::string unused;
  if (Status s = check_new_corpus_folder(dir, longest, &unused); !s.ok()) return s;
  const fs::path root(dir);
  std::error_code ec;
  const std::string data_folder = (root / "").string();
  for (const char* sub : {kNewpicsFolderName, kMarksFolderName, "oldlib", "newlib", "raw",
                          "savedraw", "blank", kWorkingFolderName}) {
    fs::create_directories(root / sub, ec);
    if (ec) return Status::IOError("cannot create " + (root / sub).string() + ": " + ec.message());
  }

  PhotoCorpusSummary sum;
  sum.newpics = (root / kNewpicsFolderName).string();
  sum.marks = (root / kMarksFolderName).string();
  sum.truth = (root / kPhotoTruthFileName).string();
  sum.roles = (root / kTruthFileName).string();
  sum.working_folder = (root / kWorkingFolderName).string();
  sum.fits = (root / model::kFitFolder).string();
  sum.database_path = (root / kDatabaseFileName).string();
  const std::string header = "; Truth of synthetic photographs: seed " + std::to_string(o.seed) +
                             ", " + std::to_string(o.animals) + " animals, " +
                             std::to_string(o.sightings) + " sightings each\n";
  std::string truth = header +
                      "; cell animal side yaw pitch roll (degrees off the side view) scale x y "
                      "(pixels)\n";
  std::string roles = header + "; cell, the animal really photographed (its library ID), role\n";
  // Animals are rendered on up to two threads (each with its own model
  // record; the library caches a body per thread), each photograph written
  // by the thread that made it; the truth is gathered in plan order, so the
  // files do not depend on the threads.
  std::vector<std::string> lines(plan.size());
  std::vector<char> sides(plan.size(), 0);
  std::vector<std::pair<size_t, size_t>> animals;  // plan index ranges
  for (size_t i = 0; i < plan.size(); ++i)
    if (i == 0 || plan[i].animal_number != plan[i - 1].animal_number)
      animals.push_back({i, i + 1});
    else
      animals.back().second = i + 1;
  std::atomic<size_t> next{0};
  std::mutex failure_mutex;
  Status failure;
  const auto fail = [&](const Status& s) {
    std::lock_guard<std::mutex> lock(failure_mutex);
    if (failure.ok()) failure = s;
  };
  const auto failed = [&] {
    std::lock_guard<std::mutex> lock(failure_mutex);
    return !failure.ok();
  };
  const auto work = [&] {
    PhotoModel own;
    if (Status s = load_photo_model(model_path, &own); !s.ok()) return fail(s);
    for (size_t k = next++; k < animals.size() && !failed(); k = next++) {
      const int animal = plan[animals[k].first].animal_number;
      const PhotoPelt pelt = photo_pelt(o, *own.record, animal);
      const AnimalBuild build = photo_build(o, *own.record, animal);
      for (size_t i = animals[k].first; i < animals[k].second; ++i) {
        const DataExtract& e = plan[i];
        PhotoView view = photo_view(o, *own.record, animal, e.sighting);
        Photo photo;
        PhotoMarks marks;
        Status s = render_photo(pelt, build, &view, photo_noise_seed(o, animal, e.sighting), &own,
                                &photo, &marks);
        marks.photo = e.image + ".jpg";
        std::string jpeg;
        if (s.ok()) s = encode_jpeg(photo, &jpeg);
        if (s.ok())
          s = write_file_atomically((root / kNewpicsFolderName / marks.photo).string(), jpeg);
        if (s.ok())
          s = write_file_atomically((root / kMarksFolderName / (e.cell + ".txt")).string(),
                                    format_photo_marks(marks));
        model::FitRecord fit;
        std::string fit_path;
        if (s.ok()) s = photo_fit_record(marks, *model.marks, &fit);
        if (s.ok()) s = model::fit_file_path(data_folder, e.cell, &fit_path);
        if (s.ok()) s = write_file_atomically(fit_path, model::fit_file_bytes(fit));
        if (!s.ok()) return fail(s);
        lines[i] = e.cell + " " + e.animal + " " + view.side + " " + degrees_text(view.yaw) + " " +
                   degrees_text(view.pitch) + " " + degrees_text(view.roll) + " " +
                   real_to_fixed_text(view.scale * build.length, 4) + " " +
                   real_to_fixed_text(view.x, 2) + " " + real_to_fixed_text(view.y, 2) + "\n";
        sides[i] = view.side;
      }
    }
  };
  {
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
  }
  if (!failure.ok()) return failure;
  for (size_t i = 0; i < plan.size(); ++i) {
    truth += lines[i];
    roles += plan[i].cell + " " + plan[i].animal + " " + (plan[i].pending ? "pending" : "library") +
             "\n";
    ++sum.photographs;
    (sides[i] == 'L' ? sum.left : sum.right) += 1;
    (plan[i].pending ? sum.pending : sum.library) += 1;
  }
  // Leg-code extracts for a few animals.
  const std::vector<LegCodeExtract> legcodes = plan_legcode_extracts(plan, o.seed);
  if (Status s = create_filled_database(
          sum.database_path,
          [&plan, &legcodes](db::Database* db) { return fill_photo_database(db, plan, legcodes); });
      !s.ok())
    return s;
  // The first item is a header; no comma in it (see data_folder.cpp).
  const std::string ini = "[Velmora synthetic photographs seed " + std::to_string(o.seed) +
                          "]\n"
                          "library_name=newlib/\n"
                          "do_blankdist=True\n"
                          "avg_depth_default=10\n"
                          "critical_distance=9\n"
                          "dilate_proportion=0.25\n"
                          "MultiAspect=False\n"
                          "LimitSearch=False\n";
  Status s = write_file_atomically((root / "orlain.ini").string(), ini);
  if (s.ok()) s = write_file_atomically((root / kPhotoModelFile).string(), model_bytes);
  if (s.ok()) s = write_run_files((root / kWorkingFolderName).string());
  if (s.ok()) s = write_file_atomically(sum.truth, truth);
  if (s.ok()) s = write_file_atomically(sum.roles, roles);
  if (s.ok())
    s = write_file_atomically((root / kLegCodeTruthFileName).string(), legcode_truth(legcodes));
  if (s.ok()) *summary = std::move(sum);
  return s;
}

}  // namespace velmora::corpus
