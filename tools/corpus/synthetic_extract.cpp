// Synthetic extracts (see the header). The pelt is a raster at half-pixel
// spacing from pelt coordinate -32 to 288, enough for any view: shifts of up
// to 6 pixels, 3 degrees of turn, 3 % of scale and a bend of 1.5 pixels move
// the frame's corners at most about 18 pixels along either axis, within the
// raster's margin of 32. Ground, mottling and fur texture add up; the
// marks of one polarity combine by their maximum, so that touching marks
// merge as ink does rather than darken twice where they overlap.
#include "tools/corpus/synthetic_extract.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "tools/corpus/corpus_writer.h"
#include "tools/corpus/data_folder.h"
#include "tools/corpus/random.h"
#include "tools/corpus/run_file.h"
#include "workstation/common/atomic_file.h"
#include "workstation/common/number_text.h"
#include "workstation/extract/extract_bundle.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;
using extract::SharedExtract;

constexpr double kPi = 3.141592653589793;
constexpr double kCentre = 128.5;  // the extract's centre, rows and columns counted from 1
constexpr double kOrigin = -32.0;  // pelt coordinate of raster point 0
constexpr double kStep = 0.5;
constexpr int kPoints = 641;  // raster points per axis: kOrigin .. 288

// Stream purposes under the corpus seed, apart from those of the corpus
// writer and the data folder.
constexpr uint64_t kPeltStream = 101;
constexpr uint64_t kViewStream = 102;
constexpr uint64_t kNoiseStream = 103;
constexpr uint64_t kPlanStream = 104;

double smoothstep(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

// 1 inside [lo, hi], 0 outside, with soft edges `soft` wide.
double band(double x, double lo, double hi, double soft) {
  return smoothstep((x - lo) / soft + 0.5) * smoothstep((hi - x) / soft + 0.5);
}

double square(double x) {
  return x * x;
}

class Raster {
 public:
  Raster() : v_(static_cast<size_t>(kPoints) * kPoints, 0.0f) {}
  float& at(int r, int c) { return v_[static_cast<size_t>(r) * kPoints + static_cast<size_t>(c)]; }
  float at(int r, int c) const {
    return v_[static_cast<size_t>(r) * kPoints + static_cast<size_t>(c)];
  }
  static double coordinate(int k) { return kOrigin + k * kStep; }

  // Calls f(row, col) for the raster points within `reach` of (row, col)
  // and keeps the largest of the old value and f's.
  template <typename F>
  void paint_max(double row, double col, double reach, F f) {
    visit(row, col, reach, [&](int r, int c, double y, double x) {
      const double w = f(y, x);
      if (w > at(r, c)) at(r, c) = static_cast<float>(w);
    });
  }
  std::vector<float>& values() { return v_; }

 private:
  template <typename F>
  void visit(double row, double col, double reach, F f) {
    const auto first = [](double x) {
      return std::max(0, static_cast<int>(std::floor((x - kOrigin) / kStep)));
    };
    const auto last = [](double x) {
      return std::min(kPoints - 1, static_cast<int>(std::ceil((x - kOrigin) / kStep)));
    };
    for (int r = first(row - reach); r <= last(row + reach); ++r)
      for (int c = first(col - reach); c <= last(col + reach); ++c)
        f(r, c, coordinate(r), coordinate(c));
  }
  std::vector<float> v_;
};

// A smooth random field: normals on a grid `spacing` pixels apart, blended
// with smoothstep weights, times `amplitude`.
void add_field(Random& rnd, double spacing, double amplitude, Raster* out) {
  const int n = static_cast<int>(std::ceil(kStep * (kPoints - 1) / spacing)) + 2;
  std::vector<double> grid(static_cast<size_t>(n) * n);
  for (double& g : grid) g = amplitude * rnd.normal();
  // Grid cell and blend weight of every raster line, the same for rows and
  // columns.
  std::vector<int> cell(kPoints);
  std::vector<double> weight(kPoints);
  for (int k = 0; k < kPoints; ++k) {
    const double f = (Raster::coordinate(k) - kOrigin) / spacing;
    cell[static_cast<size_t>(k)] = std::min(static_cast<int>(f), n - 2);
    weight[static_cast<size_t>(k)] = smoothstep(f - cell[static_cast<size_t>(k)]);
  }
  auto g = [&](int a, int b) { return grid[static_cast<size_t>(a) * n + b]; };
  for (int r = 0; r < kPoints; ++r) {
    const int i = cell[static_cast<size_t>(r)];
    const double tr = weight[static_cast<size_t>(r)];
    for (int c = 0; c < kPoints; ++c) {
      const int j = cell[static_cast<size_t>(c)];
      const double tc = weight[static_cast<size_t>(c)];
      out->at(r, c) += static_cast<float>((1 - tr) * ((1 - tc) * g(i, j) + tc * g(i, j + 1)) +
                                          tr * ((1 - tc) * g(i + 1, j) + tc * g(i + 1, j + 1)));
    }
  }
}

// An irregular oval: half-axes a (along `angle`) and b, an edge that wobbles
// with two and three lobes. shape() is the distance from the centre in units
// of the edge (1 on it).
struct Oval {
  double row = 0, col = 0, a = 1, b = 1, cos_angle = 1, sin_angle = 0;
  double wobble[2] = {0, 0}, phase[2] = {0, 0};

  static Oval random(Random& rnd, double row, double col, double a, double b, double angle,
                     double max_wobble) {
    Oval o;
    o.row = row;
    o.col = col;
    o.a = a;
    o.b = b;
    o.cos_angle = std::cos(angle);
    o.sin_angle = std::sin(angle);
    for (int h = 0; h < 2; ++h) {
      o.wobble[h] = rnd.uniform(0, max_wobble);
      o.phase[h] = rnd.uniform(0, 2 * kPi);
    }
    return o;
  }
  double shape(double y, double x, double* phi = nullptr) const {
    const double dr = y - row, dc = x - col;
    const double u = (dr * cos_angle + dc * sin_angle) / a;
    const double w = (-dr * sin_angle + dc * cos_angle) / b;
    const double p = std::atan2(w, u);
    if (phi != nullptr) *phi = p;
    return std::sqrt(u * u + w * w) /
           (1 + wobble[0] * std::sin(2 * p + phase[0]) + wobble[1] * std::sin(3 * p + phase[1]));
  }
  double reach() const { return std::max(a, b) * 1.6 + 2; }
  // Full strength inside, fading over about 1.5 pixels at the edge.
  double solid(double y, double x) const {
    return smoothstep((1 - shape(y, x)) * std::min(a, b) / 1.5 + 0.5);
  }
};

// Places up to `count` centres, none closer to another than the sum of their
// radii plus `gap`; radius(rnd) draws a radius, accept(row, col) may refuse a
// place (density along the body).
template <typename R, typename A>
std::vector<std::array<double, 3>> place(Random& rnd, int count, double gap, R radius, A accept) {
  std::vector<std::array<double, 3>> placed;
  const double lo = kOrigin + 4, hi = kOrigin + kStep * (kPoints - 1) - 4;
  for (int tries = 0; tries < 40 * count && static_cast<int>(placed.size()) < count; ++tries) {
    const double row = rnd.uniform(lo, hi), col = rnd.uniform(lo, hi), rad = radius(rnd);
    if (!accept(rnd, row, col)) continue;
    const bool free = std::none_of(placed.begin(), placed.end(), [&](const auto& p) {
      return square(p[0] - row) + square(p[1] - col) < square(p[2] + rad + gap);
    });
    if (free) placed.push_back({row, col, rad});
  }
  return placed;
}

auto anywhere = [](Random&, double, double) { return true; };

// Dots of radius 3..9 (mostly small), some oval; `light` ones on dark ground.
void draw_dots(Random& rnd, int count, bool light, Raster* ink) {
  const auto dots = place(
      rnd, count, 5, [](Random& r) { return 3 + 6 * square(r.uniform()); }, anywhere);
  for (const auto& [row, col, rad] : dots) {
    const double stretch = rnd.uniform(1.0, 1.7);
    const Oval o = Oval::random(rnd, row, col, rad * std::sqrt(stretch), rad / std::sqrt(stretch),
                                rnd.uniform(0, kPi), 0.15);
    const double strength = light ? rnd.uniform(35, 80) : rnd.uniform(35, 85);
    ink->paint_max(row, col, o.reach(),
                   [&](double y, double x) { return strength * o.solid(y, x); });
  }
}

// Ringed marks: a dark core, a pale ring round it and a dark rim, the rim
// broken open over an arc on some; a few plain small dots between them.
void draw_rings(Random& rnd, Raster* ink, Raster* glow) {
  const auto rings = place(
      rnd, 40, 4, [](Random& r) { return r.uniform(6, 13); }, anywhere);
  for (const auto& [row, col, rad] : rings) {
    const double stretch = rnd.uniform(1.0, 1.3);
    const Oval o = Oval::random(rnd, row, col, rad * std::sqrt(stretch), rad / std::sqrt(stretch),
                                rnd.uniform(0, kPi), 0.1);
    const double core = rnd.uniform(35, 65), pale = rnd.uniform(18, 35), rim = rnd.uniform(25, 50);
    const double inner = rnd.uniform(0.25, 0.35), outer = rnd.uniform(0.68, 0.78);
    const double gap_at = rnd.uniform(-kPi, kPi);
    const double gap = rnd.chance(0.4) ? rnd.uniform(0.4, 1.2) : 0.0;
    const double soft = 1.5 / rad;
    ink->paint_max(row, col, o.reach(), [&](double y, double x) {
      double phi = 0;
      const double d = o.shape(y, x, &phi);
      const double off = std::abs(std::remainder(phi - gap_at, 2 * kPi));
      const double open = gap > 0 ? smoothstep((off - gap) / 0.3 + 0.5) : 1.0;
      return std::max(core * band(d, -1, inner, soft), rim * open * band(d, outer, 1.0, soft));
    });
    glow->paint_max(row, col, o.reach(), [&](double y, double x) {
      return pale * band(o.shape(y, x), inner, outer, soft);
    });
  }
  draw_dots(rnd, 12, false, ink);
}

// Grey-seal-like reticulation: the dark lines are where a smooth random
// field crosses a level, which winds them into an irregular network of
// loops and stripes; where the field runs deep they widen into blotches.
// The field is a sum of Gaussian bumps of random sign about 8 pixels wide,
// so stripes come out some 4..8 pixels wide and the network has no grain.
void draw_reticulation(Random& rnd, Raster* ink) {
  // The bumps are impulses on a one-pixel grid blurred by a separable
  // Gaussian, then read back at the raster's half pixels: the field is far
  // smoother than a pixel, and this costs a fraction of drawing each bump.
  const double sigma = rnd.uniform(7, 9);
  const int pad = static_cast<int>(std::ceil(3 * sigma));
  const int size = static_cast<int>(kStep * (kPoints - 1)) + 1 + 2 * pad;  // grid points per axis
  const double grid_origin = kOrigin - pad;
  std::vector<double> grid(static_cast<size_t>(size) * size, 0.0), pass(grid.size(), 0.0);
  const int bumps = static_cast<int>(square((size - 1) / (0.9 * sigma)));
  for (int k = 0; k < bumps; ++k) {
    const auto r = static_cast<size_t>(rnd.below(size)), c = static_cast<size_t>(rnd.below(size));
    grid[r * static_cast<size_t>(size) + c] += rnd.chance(0.5) ? 1.0 : -1.0;
  }
  std::vector<double> kernel(static_cast<size_t>(2 * pad + 1));
  for (int d = -pad; d <= pad; ++d)
    kernel[static_cast<size_t>(d + pad)] = std::exp(-d * d / (2 * sigma * sigma));
  for (int pass_no = 0; pass_no < 2; ++pass_no) {  // rows, then columns
    for (int r = 0; r < size; ++r)
      for (int c = 0; c < size; ++c) {
        double s = 0;
        for (int d = -pad; d <= pad; ++d) {
          const int rr = pass_no == 0 ? r : r + d, cc = pass_no == 0 ? c + d : c;
          if (rr < 0 || rr >= size || cc < 0 || cc >= size) continue;
          s += kernel[static_cast<size_t>(d + pad)] * grid[static_cast<size_t>(rr * size + cc)];
        }
        pass[static_cast<size_t>(r * size + c)] = s;
      }
    grid.swap(pass);
  }
  Raster field;
  for (int r = 0; r < kPoints; ++r)
    for (int c = 0; c < kPoints; ++c) {
      const double fr = Raster::coordinate(r) - grid_origin,
                   fc = Raster::coordinate(c) - grid_origin;
      const int i = std::min(static_cast<int>(fr), size - 2),
                j = std::min(static_cast<int>(fc), size - 2);
      const double tr = fr - i, tc = fc - j;
      auto g = [&](int a, int b) { return grid[static_cast<size_t>(a * size + b)]; };
      field.at(r, c) = static_cast<float>((1 - tr) * ((1 - tc) * g(i, j) + tc * g(i, j + 1)) +
                                          tr * ((1 - tc) * g(i + 1, j) + tc * g(i + 1, j + 1)));
    }
  double s = 0, s2 = 0;
  for (float v : field.values()) {
    s += v;
    s2 += static_cast<double>(v) * v;
  }
  const double n = static_cast<double>(field.values().size());
  const double mean = s / n, sd = std::sqrt(std::max(1e-12, s2 / n - mean * mean));
  // How strong the ink is drifts slowly over the pelt.
  Raster strength;
  add_field(rnd, 48, 0.25, &strength);
  const double level = rnd.uniform(-0.3, 0.3), line = rnd.uniform(0.22, 0.32);
  const double deep = rnd.uniform(1.2, 1.6), ink_strength = rnd.uniform(50, 75);
  for (int r = 0; r < kPoints; ++r)
    for (int c = 0; c < kPoints; ++c) {
      const double f = (field.at(r, c) - mean) / sd;
      const double w = std::max(smoothstep((line - std::abs(f - level)) / 0.12 + 0.5),
                                smoothstep((level - deep - f) / 0.3 + 0.5));
      ink->at(r, c) =
          static_cast<float>(ink_strength * std::clamp(1.0 + strength.at(r, c), 0.5, 1.3) * w);
    }
}

// The back: a darker band along the midline (rows run along the body, so the
// band runs down the middle columns), blotches drawn out along the body,
// most of them near the midline.
void draw_dorsal(Random& rnd, Raster* ground, Raster* ink) {
  const double mid = kCentre + rnd.uniform(-6, 6), half = rnd.uniform(35, 55);
  const double depth = rnd.uniform(12, 22), sway = rnd.uniform(2, 6), sway_at = rnd.uniform(0, 7);
  for (int r = 0; r < kPoints; ++r)
    for (int c = 0; c < kPoints; ++c) {
      const double centre = mid + sway * std::sin(Raster::coordinate(r) / 60 + sway_at);
      ground->at(r, c) -=
          static_cast<float>(depth * std::exp(-square((Raster::coordinate(c) - centre) / half)));
    }
  const auto blotches = place(
      rnd, 70, 4, [](Random& r) { return 3 + 7 * square(r.uniform()); },
      [mid](Random& r, double, double col) {
        return r.chance(0.25 + 0.75 * std::exp(-square((col - mid) / 80)));
      });
  for (const auto& [row, col, rad] : blotches) {
    const double stretch = rnd.uniform(1.3, 2.2);
    const Oval o = Oval::random(rnd, row, col, rad * std::sqrt(stretch), rad / std::sqrt(stretch),
                                rnd.uniform(-0.25, 0.25), 0.2);
    const double strength = rnd.uniform(30, 70);
    ink->paint_max(row, col, o.reach(),
                   [&](double y, double x) { return strength * o.solid(y, x); });
  }
}

// Whether extract pixel (r, c) lies in the view's blanked region.
bool blanked(const ExtractView& v, int r, int c) {
  const double* p = v.blank_params;
  switch (v.blank) {
    case BlankShape::kNone:
      return false;
    case BlankShape::kEdgePatch: {
      // p: side (0 top, 1 bottom, 2 left, 3 right), centre along the edge,
      // half-length, depth, wave phase, wave amplitude.
      const int side = static_cast<int>(p[0]);
      const double along = side < 2 ? c : r;
      const double depth = side == 0 ? r : side == 1 ? 257 - r : side == 2 ? c : 257 - c;
      const double t = (along - p[1]) / p[2];
      if (std::abs(t) >= 1) return false;
      const double edge = p[3] * std::sqrt(1 - t * t) + p[5] * std::sin(along / 9 + p[4]) +
                          0.5 * p[5] * std::sin(along / 4.3 + 2 * p[4]);
      return depth <= edge;
    }
    case BlankShape::kBand: {
      // p: angle of the band, its distance from the centre, half-width,
      // wave phase, wave amplitude.
      const double dr = r - kCentre, dc = c - kCentre;
      const double across = dr * std::cos(p[0]) - dc * std::sin(p[0]) - p[1];
      const double along = dr * std::sin(p[0]) + dc * std::cos(p[0]);
      return std::abs(across) <= p[2] + p[4] * std::sin(along / 11 + p[3]);
    }
    case BlankShape::kGlare: {
      // p: centre row and column, radius, stretch, angle, wave phase.
      const double dr = r - p[0], dc = c - p[1];
      const double u = (dr * std::cos(p[4]) + dc * std::sin(p[4])) / (p[2] * p[3]);
      const double w = (-dr * std::sin(p[4]) + dc * std::cos(p[4])) / p[2];
      const double phi = std::atan2(w, u);
      return std::hypot(u, w) <= 1 + 0.15 * std::sin(3 * phi + p[5]);
    }
  }
  return false;
}

}  // namespace

const std::vector<ExtractAspect>& extract_aspects() {
  // Kernel radii match the marks drawn: dots of radius 3..9 against discs of
  // 4..10; ringed marks of radius 6..13 against ring kernels of 8..16 whose
  // positive core and negative annulus at half the radius meet the dark core
  // and the pale ring; reticulation lines some 4..8 pixels wide against
  // stripe periods of 8..16 at 12 angles (36 pairs, within the bank's 48),
  // the kernels drawn out along the line (sigmay 8). Dots and rings are
  // one angle each, so the correlation visits one pair per kernel built.
  static const std::vector<ExtractAspect> aspects = {
      {"Spotted", "SP", "black_dots", "lateral", "L", MarkStyle::kDarkDots, 4, 10, 2, 0, 0, 1, 0, 0,
       30, false, false},
      {"Pale", "PL", "white_dots", "lateral", "L", MarkStyle::kLightDots, 4, 10, 2, 0, 0, 1, 0, 0,
       30, false, false},
      {"Ringed", "RG", "black_rings", "lateral", "L", MarkStyle::kRings, 8, 16, 4, 0, 0, 1, 0.5, 0,
       25, false, false},
      {"Reticulated", "RT", "black_stripe", "lateral", "L", MarkStyle::kReticulated, 8, 16, 4, 0,
       165, 15, 0.5, 8, 40, false, false},
      {"Back", "BK", "black_dots", "Dorsal", "M", MarkStyle::kDorsalBlotches, 4, 10, 2, 0, 0, 1, 0,
       0, 25, false, false},
  };
  return aspects;
}

std::string check_extract_options(const ExtractCorpusOptions& o) {
  // Animal IDs have four digits across all aspects.
  const int most = kMaxAnimals / static_cast<int>(extract_aspects().size());
  if (o.animals < 2 || o.animals > most)
    return "the number of animals per aspect must be from 2 to " + std::to_string(most);
  if (o.sightings < 2 || o.sightings > kMaxSightings)
    return "the number of sightings per animal must be from 2 to " + std::to_string(kMaxSightings);
  return {};
}

ExtractPelt ExtractPelt::make(const ExtractAspect& aspect, uint64_t seed) {
  Random rnd(seed);
  Raster ground, ink, glow;
  double base = 0;
  switch (aspect.style) {
    case MarkStyle::kDarkDots:
      base = rnd.uniform(135, 170);
      break;
    case MarkStyle::kLightDots:
      base = rnd.uniform(70, 100);
      break;
    case MarkStyle::kRings:
      base = rnd.uniform(95, 125);
      break;
    case MarkStyle::kReticulated:
      base = rnd.uniform(150, 175);
      break;
    case MarkStyle::kDorsalBlotches:
      base = rnd.uniform(120, 150);
      break;
  }
  add_field(rnd, 32, rnd.uniform(5, 10), &ground);    // mottling
  add_field(rnd, 2, rnd.uniform(2.5, 4.5), &ground);  // fur

  ExtractPelt p;
  // Brownish: red above green above blue, averaging the grey.
  const double red = rnd.uniform(0.06, 0.12), green = rnd.uniform(-0.02, 0.02);
  p.tint_[0] = 1 + red;
  p.tint_[1] = 1 + green;
  p.tint_[2] = 1 - red - green;
  switch (aspect.style) {
    case MarkStyle::kDarkDots:
      draw_dots(rnd, 80, false, &ink);
      break;
    case MarkStyle::kLightDots:
      draw_dots(rnd, 70, true, &glow);
      break;
    case MarkStyle::kRings:
      draw_rings(rnd, &ink, &glow);
      break;
    case MarkStyle::kReticulated:
      draw_reticulation(rnd, &ink);
      break;
    case MarkStyle::kDorsalBlotches:
      draw_dorsal(rnd, &ground, &ink);
      break;
  }
  p.raster_.resize(ground.values().size());
  for (size_t i = 0; i < p.raster_.size(); ++i)
    p.raster_[i] =
        static_cast<float>(base + ground.values()[i] - ink.values()[i] + glow.values()[i]);
  // The share of the frame at rest that the marks cover clearly.
  int marked = 0, points = 0;
  for (int r = 0; r < kPoints; ++r)
    for (int c = 0; c < kPoints; ++c) {
      const double y = Raster::coordinate(r), x = Raster::coordinate(c);
      if (y < 1 || y > 256 || x < 1 || x > 256) continue;
      ++points;
      marked += ink.at(r, c) + glow.at(r, c) > 10 ? 1 : 0;
    }
  p.marked_share_ = static_cast<double>(marked) / points;
  return p;
}

double ExtractPelt::grey(double row, double col) const {
  const double fr = std::clamp((row - kOrigin) / kStep, 0.0, kPoints - 1.0);
  const double fc = std::clamp((col - kOrigin) / kStep, 0.0, kPoints - 1.0);
  const int r = std::min(static_cast<int>(fr), kPoints - 2);
  const int c = std::min(static_cast<int>(fc), kPoints - 2);
  const double tr = fr - r, tc = fc - c;
  auto at = [this](int i, int j) {
    return static_cast<double>(raster_[static_cast<size_t>(i) * kPoints + static_cast<size_t>(j)]);
  };
  return (1 - tr) * ((1 - tc) * at(r, c) + tc * at(r, c + 1)) +
         tr * ((1 - tc) * at(r + 1, c) + tc * at(r + 1, c + 1));
}

ExtractView make_extract_view(uint64_t seed) {
  Random rnd(seed);
  ExtractView v;
  for (double& s : v.shift) s = rnd.uniform(-6, 6);
  v.rotation = rnd.uniform(-3, 3) * kPi / 180;
  v.scale = 1 + rnd.uniform(-0.03, 0.03);
  for (int a = 0; a < 2; ++a) {
    v.bend[a] = rnd.uniform(0, 1.5);
    v.bend_phase[a] = rnd.uniform(0, 2 * kPi);
  }
  v.gain = rnd.uniform(0.85, 1.15);
  v.offset = rnd.uniform(-15, 15);
  for (double& g : v.ramp) g = rnd.uniform(-20, 20);
  v.bulge = rnd.uniform(-10, 10);
  double mean = 0;
  for (double& b : v.balance) mean += (b = rnd.uniform(-0.03, 0.03)) / 3;
  for (double& b : v.balance) b -= mean;
  v.noise = rnd.uniform(2.5, 5);

  const double shape = rnd.uniform();
  double* p = v.blank_params;
  if (shape < 0.2) {
    v.blank = BlankShape::kNone;
  } else if (shape < 0.6) {
    v.blank = BlankShape::kEdgePatch;
    p[0] = rnd.below(4);
    p[1] = rnd.uniform(30, 226);
    p[2] = rnd.uniform(40, 110);
    p[3] = rnd.uniform(14, 45);
    p[4] = rnd.uniform(0, 2 * kPi);
    p[5] = rnd.uniform(2, 6);
  } else if (shape < 0.8) {
    v.blank = BlankShape::kBand;
    p[0] = rnd.uniform(0, kPi);
    p[1] = rnd.uniform(-80, 80);
    p[2] = rnd.uniform(5, 11);
    p[3] = rnd.uniform(0, 2 * kPi);
    p[4] = rnd.uniform(1, 3);
  } else {
    v.blank = BlankShape::kGlare;
    p[0] = rnd.uniform(40, 216);
    p[1] = rnd.uniform(40, 216);
    p[2] = rnd.uniform(9, 22);
    p[3] = rnd.uniform(1, 1.8);
    p[4] = rnd.uniform(0, kPi);
    p[5] = rnd.uniform(0, 2 * kPi);
  }
  return v;
}

SharedExtract render_extract(const ExtractPelt& pelt, const ExtractView& v, uint64_t noise_seed) {
  Random noise(noise_seed);
  SharedExtract e;
  const double cr = std::cos(v.rotation) * v.scale, sr = std::sin(v.rotation) * v.scale;
  // The bend moves rows by an amount that changes along the columns, and
  // columns along the rows, over a wavelength longer than the extract.
  std::vector<double> row_bend(extract::kExtractColumns + 1), col_bend(extract::kExtractRows + 1);
  for (int k = 1; k <= extract::kExtractColumns; ++k) {
    row_bend[static_cast<size_t>(k)] = v.bend[0] * std::sin(2 * kPi * k / 320 + v.bend_phase[0]);
    col_bend[static_cast<size_t>(k)] = v.bend[1] * std::sin(2 * kPi * k / 320 + v.bend_phase[1]);
  }
  double usable_sum = 0;
  int usable = 0;
  for (int r = 1; r <= extract::kExtractRows; ++r)
    for (int c = 1; c <= extract::kExtractColumns; ++c) {
      const double dr = r - kCentre, dc = c - kCentre;
      const double pr = kCentre + cr * dr - sr * dc + v.shift[0] + row_bend[static_cast<size_t>(c)];
      const double pc = kCentre + sr * dr + cr * dc + v.shift[1] + col_bend[static_cast<size_t>(r)];
      const double grey = kCentre + v.gain * (pelt.grey(pr, pc) - kCentre) + v.offset +
                          v.ramp[0] * dr / kCentre + v.ramp[1] * dc / kCentre +
                          v.bulge * (1 - (dr * dr + dc * dc) / (2 * kCentre * kCentre)) +
                          v.noise * noise.normal();
      int total = 0;
      for (int plane = 0; plane < extract::kColourPlanes; ++plane) {
        // Each plane's own noise: a sum of four uniforms, near enough to
        // normal for sensor noise, taken as the four 16-bit parts of one draw.
        const uint64_t bits = noise.next();
        double own = -2;
        for (int k = 0; k < 4; ++k)
          own += static_cast<double>((bits >> (16 * k)) & 0xFFFFu) / 65536.0;
        const double value = grey * (pelt.tint()[plane] + v.balance[plane]) + 2.6 * own;
        const auto level = static_cast<int16_t>(std::clamp(std::lround(value), 0L, 255L));
        e.cell_rgb(static_cast<extract::ColourPlane>(plane), r, c) = level;
        total += level;
      }
      // Fitting samples colour and takes the grey as the planes' mean.
      e.cell_intensity(r, c) = total / 3.0;
      if (blanked(v, r, c)) {
        e.cell_blank(r, c) = extract::kBlankPixel;
        e.blank_edited = true;
      } else {
        usable_sum += e.cell_intensity(r, c);
        ++usable;
      }
    }
  if (!e.blank_edited || usable == 0) return e;
  // As fitting leaves a blanked extract: the usable pixels' mean grey in the
  // blanks, rounded (halves to even, the default rounding mode) in every
  // colour plane, so that filters see no edge where the mask begins.
  const double mean = usable_sum / usable;
  const auto level = static_cast<int16_t>(std::nearbyint(mean));
  for (size_t i = 0; i < extract::kExtractPixels; ++i) {
    if (e.blank[i] != extract::kBlankPixel) continue;
    e.intensity[i] = mean;
    for (int plane = 0; plane < 3; ++plane)
      e.rgb[static_cast<size_t>(plane) * extract::kExtractPixels + i] = level;
  }
  return e;
}

ExtractPelt extract_pelt(const ExtractCorpusOptions& o, int aspect_index, int animal_number) {
  return ExtractPelt::make(extract_aspects()[static_cast<size_t>(aspect_index)],
                           stream_seed(o.seed, kPeltStream, static_cast<uint64_t>(aspect_index),
                                       static_cast<uint64_t>(animal_number)));
}

SharedExtract sighting_extract(const ExtractCorpusOptions& o, int aspect_index,
                               const ExtractPelt& pelt, int animal_number, int sighting) {
  const auto a = static_cast<uint64_t>(aspect_index);
  const auto n = static_cast<uint64_t>(animal_number);
  const auto s = static_cast<uint64_t>(sighting);
  return render_extract(pelt,
                        make_extract_view(stream_seed(stream_seed(o.seed, kViewStream, a), n, s)),
                        stream_seed(stream_seed(o.seed, kNoiseStream, a), n, s));
}

std::string format_aspect_summary(const ExtractAspectSummary& s) {
  return s.aspect + " (" + s.letter + ", " + s.pattern + ", " + s.cell_type +
         "): " + std::to_string(s.animals) + " animals, " + std::to_string(s.extracts) +
         " extracts (" + std::to_string(s.pending) + " pending, " + std::to_string(s.library) +
         " library), " + real_to_fixed_text(100 * s.marked_share, 1) + " % of the pelt marked, " +
         std::to_string(s.blanked) + " with a blanked region, " +
         real_to_fixed_text(100 * s.blank_share, 1) + " % of pixels blank";
}

namespace {

// The rows of the corpus: its aspects, the families' letters, its
// photographs and extracts aspect by aspect, and the leg-code extracts.
Status fill_extract_database(db::Database* db, const std::vector<std::vector<DataExtract>>& plans,
                             const std::vector<LegCodeExtract>& legcodes) {
  const std::vector<ExtractAspect>& aspects = extract_aspects();
  std::unique_ptr<db::Statement> aspect_row;
  Status s = db->prepare(
      "extract corpus",
      "INSERT INTO aspects (aspect, aspect_letter, cell_type, pattern, show_n_spots, left_right, "
      "from_r, to_r, step_r, from_theta_deg, to_theta_deg, step_theta_deg, sigmax_ratio, "
      "sigmay, all_green) VALUES (:aspect, :letter, :cell_type, :pattern, :show_n_spots, "
      ":left_right, :from_r, :to_r, :step_r, :from_theta, :to_theta, :step_theta, "
      ":sigmax_ratio, :sigmay, :all_green)",
      &aspect_row);
  for (const ExtractAspect& a : aspects) {
    if (!s.ok()) break;
    s = run_statement(aspect_row.get(), {{"aspect", std::string(a.aspect)},
                                         {"letter", std::string(a.letter)},
                                         {"cell_type", std::string(a.cell_type)},
                                         {"pattern", std::string(a.pattern)},
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
  }
  if (s.ok()) s = insert_legcode_aspects(db);
  if (s.ok()) s = insert_family_letters(db);
  if (s.ok()) s = insert_synthetic_site(db);
  int64_t image_number = 0;
  for (size_t k = 0; k < aspects.size() && s.ok(); ++k)
    s = insert_extracts(db, plans[k], aspects[k].aspect, aspects[k].side, &image_number);
  if (s.ok()) s = insert_legcode_extracts(db, legcodes);
  if (s.ok()) s = number_cells(db);
  return s;
}

}  // namespace

Status write_extract_corpus(const std::string& dir, const ExtractCorpusOptions& o,
                            ExtractCorpusSummary* summary) {
  if (std::string why = check_extract_options(o); !why.empty()) return Status::InvalidArgument(why);
  const std::vector<ExtractAspect>& aspects = extract_aspects();
  std::vector<std::vector<DataExtract>> plans;
  size_t longest = 0;
  for (size_t k = 0; k < aspects.size(); ++k) {
    CorpusOptions group;
    group.animals = o.animals;
    group.sightings = o.sightings;
    group.seed = stream_seed(o.seed, kPlanStream, k);
    group.aspect_letter = aspects[k].letter;
    plans.push_back(plan_animals(group, static_cast<int>(k) * o.animals + 1));
    for (const DataExtract& e : plans.back()) longest = std::max(longest, e.cell.size());
  }
  const fs::path root(dir);
  const fs::path data = root / kExtractDataFolderName;
  const fs::path bundles = root / kBundlesFolderName;
  std::string unused;
  if (Status s = check_new_corpus_folder(dir, 0, &unused); !s.ok()) return s;
  // The processing writes each extract's fingerprint under data/oldlib/.
  if (Status s = check_new_corpus_folder(data.string(), longest, &unused); !s.ok()) return s;
  std::error_code ec;
  for (const char* sub : {"oldlib", "newlib", "raw"}) {
    fs::create_directories(data / sub, ec);
    if (ec) return Status::IOError("cannot create " + (data / sub).string() + ": " + ec.message());
  }

  ExtractCorpusSummary sum;
  std::string truth = "; Truth of a synthetic extract corpus: seed " + std::to_string(o.seed) +
                      ", " + std::to_string(o.animals) + " animals per aspect, " +
                      std::to_string(o.sightings) +
                      " sightings each\n; cell, the animal really photographed (its library "
                      "ID), role\n";
  // Per aspect, the comparison lists that check identification from the
  // fingerprints the processing writes:
  //   tarvikx oldlib/ pending_XY.txt oldlib/ library_XY.txt results.txt tarvik.ini false
  std::vector<std::pair<std::string, std::string>> lists;
  for (size_t k = 0; k < aspects.size(); ++k) {
    const ExtractAspect& aspect = aspects[k];
    ExtractAspectSummary as{aspect.aspect, aspect.letter, aspect.pattern, aspect.cell_type};
    std::string pending_list, library_list;
    as.animals = o.animals;
    ExtractPelt pelt;
    int pelt_of = 0;
    const int first = static_cast<int>(k) * o.animals + 1;
    for (const DataExtract& e : plans[k]) {
      const int animal = e.animal_number - first + 1;
      if (animal != pelt_of) {
        pelt = extract_pelt(o, static_cast<int>(k), animal);
        pelt_of = animal;
        as.marked_share += pelt.marked_share() / o.animals;
      }
      const SharedExtract x = sighting_extract(o, static_cast<int>(k), pelt, animal, e.sighting);
      if (Status s = extract::write_extract_bundle((bundles / e.cell).string(), x, e.cell); !s.ok())
        return s;
      const auto blank = std::count(x.blank.begin(), x.blank.end(), extract::kBlankPixel);
      as.blank_share += static_cast<double>(blank) / extract::kExtractPixels;
      as.blanked += x.blank_edited ? 1 : 0;
      ++as.extracts;
      (e.pending ? as.pending : as.library) += 1;
      truth += e.cell + " " + e.animal + " " + (e.pending ? "pending" : "library") + "\n";
      (e.pending ? pending_list : library_list) += e.cell + "\n";
    }
    lists.emplace_back(std::string("pending_") + aspect.letter + ".txt", pending_list);
    lists.emplace_back(std::string("library_") + aspect.letter + ".txt", library_list);
    as.blank_share /= std::max(1, as.extracts);
    sum.aspects.push_back(as);
  }

  sum.bundles = bundles.string();
  sum.data_folder = data.string();
  sum.database_path = (data / kDatabaseFileName).string();
  sum.truth = (root / kTruthFileName).string();
  // Leg-code extracts for a few animals of the first aspect.
  const std::vector<LegCodeExtract> legcodes = plan_legcode_extracts(plans.front(), o.seed);
  Status s = create_filled_database(sum.database_path, [&plans, &legcodes](db::Database* db) {
    return fill_extract_database(db, plans, legcodes);
  });
  if (!s.ok()) return s;
  // The first item is a header; no comma in it (see data_folder.cpp). The
  // spot settings are the workstation's usual ones; blank distances matter
  // because most extracts carry a blanked region.
  const std::string ini = "[Velmora synthetic extracts seed " + std::to_string(o.seed) +
                          "]\n"
                          "library_name=newlib/\n"
                          "do_blankdist=True\n"
                          "avg_depth_default=10\n"
                          "critical_distance=9\n"
                          "dilate_proportion=0.25\n"
                          "MultiAspect=False\n"
                          "LimitSearch=False\n";
  s = write_file_atomically((data / "orlain.ini").string(), ini);
  if (s.ok()) s = write_file_atomically(sum.truth, truth);
  if (s.ok())
    s = write_file_atomically((root / kLegCodeTruthFileName).string(), legcode_truth(legcodes));
  for (const auto& [name, text] : lists)
    if (s.ok()) s = write_file_atomically((data / name).string(), text);
  if (s.ok())
    s = write_file_atomically((data / "tarvik.ini").string(),
                              format_run_file(corpus_run_constants()));
  if (s.ok()) *summary = std::move(sum);
  return s;
}

}  // namespace velmora::corpus
