// Pelt patterns and their sightings (see the header). The pelt raster has
// 204 x 204 points at half-pixel spacing from pelt coordinate -18: enough for
// any pose of the default model, whose pixels reach at most about 12 pixels
// beyond the 64 x 64 frame. Each blot is added inside its bounding box only.
#include "tools/corpus/synthetic_pelt.h"

#include <algorithm>
#include <cmath>

#include "tools/corpus/random.h"

namespace velmora::corpus {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kCentre = (kImageSize + 1) / 2.0;  // 32.5: the image centre, 1-based

double smoothstep(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

struct Blot {
  double row, col;   // centre
  double a, b;       // half-axes
  double angle;      // of axis a
  double amplitude;  // grey levels added at the core
  double wobble[2];  // edge harmonics (2 and 3 lobes)
  double phase[2];
  bool soft;  // texture spot: rounded profile, no flat core
};

// How much of the blot's amplitude applies at (row, col).
double blot_weight(const Blot& b, double row, double col) {
  const double dr = row - b.row, dc = col - b.col;
  const double ca = std::cos(b.angle), sa = std::sin(b.angle);
  const double u = (dr * ca + dc * sa) / b.a;
  const double w = (-dr * sa + dc * ca) / b.b;
  double d = std::sqrt(u * u + w * w);
  if (b.soft) return d < 1 ? (1 - d * d) * (1 - d * d) : 0.0;
  const double phi = std::atan2(w, u);
  d /= 1 + b.wobble[0] * std::sin(2 * phi + b.phase[0]) +
       b.wobble[1] * std::sin(3 * phi + b.phase[1]);
  return smoothstep((1.0 - d) / 0.3);  // flat core to 0.7, soft rim to 1
}

}  // namespace

PeltPattern PeltPattern::make(uint64_t seed) {
  Random rnd(seed);
  PeltPattern p;
  const double base = rnd.uniform(36, 46);
  p.raster_.assign(static_cast<size_t>(kPoints) * kPoints, static_cast<float>(base));

  std::vector<Blot> blots;
  const double lo = kOrigin - 4, hi = kOrigin + kStep * (kPoints - 1) + 4;
  const int count = 80 + rnd.below(31);
  for (int i = 0; i < count; ++i) {
    Blot b;
    b.row = rnd.uniform(lo, hi);
    b.col = rnd.uniform(lo, hi);
    b.a = rnd.uniform(2.5, 7.0);
    b.b = b.a * rnd.uniform(0.55, 1.0);
    b.angle = rnd.uniform(0, kPi);
    b.amplitude = rnd.chance(0.78) ? -rnd.uniform(16, 30) : rnd.uniform(8, 14);
    for (int h = 0; h < 2; ++h) {
      b.wobble[h] = rnd.uniform(0, 0.18);
      b.phase[h] = rnd.uniform(0, 2 * kPi);
    }
    b.soft = false;
    blots.push_back(b);
  }
  for (int i = 0; i < 260; ++i) {
    Blot b{};
    b.row = rnd.uniform(lo, hi);
    b.col = rnd.uniform(lo, hi);
    b.a = b.b = rnd.uniform(0.8, 2.0);
    b.amplitude = (rnd.chance(0.5) ? -1 : 1) * rnd.uniform(3, 7);
    b.soft = true;
    blots.push_back(b);
  }

  for (const Blot& b : blots) {
    const double reach = std::max(b.a, b.b) * (b.soft ? 1.0 : 1.4);
    const int r0 = std::max(0, static_cast<int>(std::floor((b.row - reach - kOrigin) / kStep)));
    const int r1 =
        std::min(kPoints - 1, static_cast<int>(std::ceil((b.row + reach - kOrigin) / kStep)));
    const int c0 = std::max(0, static_cast<int>(std::floor((b.col - reach - kOrigin) / kStep)));
    const int c1 =
        std::min(kPoints - 1, static_cast<int>(std::ceil((b.col + reach - kOrigin) / kStep)));
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) {
        const double w = blot_weight(b, kOrigin + r * kStep, kOrigin + c * kStep);
        if (w > 0)
          p.raster_[static_cast<size_t>(r) * kPoints + c] += static_cast<float>(b.amplitude * w);
      }
  }
  return p;
}

double PeltPattern::value(double row, double col) const {
  const double fr = std::clamp((row - kOrigin) / kStep, 0.0, kPoints - 1.0);
  const double fc = std::clamp((col - kOrigin) / kStep, 0.0, kPoints - 1.0);
  const int r = std::min(static_cast<int>(fr), kPoints - 2);
  const int c = std::min(static_cast<int>(fc), kPoints - 2);
  const double tr = fr - r, tc = fc - c;
  auto at = [this](int i, int j) {
    return static_cast<double>(raster_[static_cast<size_t>(i) * kPoints + j]);
  };
  return (1 - tr) * ((1 - tc) * at(r, c) + tc * at(r, c + 1)) +
         tr * ((1 - tc) * at(r + 1, c) + tc * at(r + 1, c + 1));
}

SightingPose make_pose(const SightingModel& m, uint64_t seed) {
  Random rnd(seed);
  SightingPose pose;
  for (double& s : pose.shift) s = rnd.uniform(-m.max_global_shift, m.max_global_shift);
  for (auto& q : pose.quadrant_shift)
    for (double& s : q) s = rnd.uniform(-m.max_quadrant_shift, m.max_quadrant_shift);
  pose.rotation = rnd.uniform(-m.max_rotation, m.max_rotation) * kPi / 180;
  pose.scale = 1 + rnd.uniform(-m.max_scale, m.max_scale);
  pose.gain = 1 + rnd.uniform(-m.max_gain, m.max_gain);
  pose.offset = rnd.uniform(-m.max_offset, m.max_offset);
  for (double& g : pose.gradient) g = rnd.uniform(-m.max_gradient, m.max_gradient);
  if (rnd.chance(m.edge_mask_chance)) {
    pose.edge_side = rnd.below(4);
    pose.edge_width = rnd.uniform(2, std::max(2, m.max_edge_mask));
    pose.edge_wave_phase = rnd.uniform(0, 2 * kPi);
  }
  const int spots = m.max_glare_spots > 0 ? rnd.below(m.max_glare_spots + 1) : 0;
  for (int i = 0; i < spots; ++i)
    pose.glare.push_back(
        {rnd.uniform(1, kImageSize), rnd.uniform(1, kImageSize), rnd.uniform(1.0, 2.5)});
  return pose;
}

std::array<double, 2> pelt_position(const SightingPose& pose, double row, double col) {
  const double dr = row - kCentre, dc = col - kCentre;
  const double cr = std::cos(pose.rotation) * pose.scale, sr = std::sin(pose.rotation) * pose.scale;
  // Quadrant shifts blend bilinearly between the quadrant centres and stay
  // constant beyond them.
  const double span = kQuadrantCentre[1] - kQuadrantCentre[0];
  const double u = std::clamp((row - kQuadrantCentre[0]) / span, 0.0, 1.0);
  const double v = std::clamp((col - kQuadrantCentre[0]) / span, 0.0, 1.0);
  const double wq[4] = {(1 - u) * (1 - v), (1 - u) * v, u * (1 - v), u * v};
  std::array<double, 2> p = {kCentre + cr * dr - sr * dc + pose.shift[0],
                             kCentre + sr * dr + cr * dc + pose.shift[1]};
  for (int k = 0; k < 4; ++k)
    for (int a = 0; a < 2; ++a) p[a] += wq[k] * pose.quadrant_shift[k][a];
  return p;
}

std::array<double, 2> quadrant_shift(const SightingPose& a, const SightingPose& b, int k) {
  const double ra = kQuadrantCentre[k / 2], ca = kQuadrantCentre[k % 2];
  const std::array<double, 2> target = pelt_position(a, ra, ca);
  // Solve pelt_position(b, x) = target; the map is close to a translation,
  // so a fixed-point step converges in a few rounds.
  double rb = ra, cb = ca;
  for (int i = 0; i < 30; ++i) {
    const std::array<double, 2> at = pelt_position(b, rb, cb);
    rb += target[0] - at[0];
    cb += target[1] - at[1];
  }
  return {rb - ra, cb - ca};
}

std::vector<uint8_t> render_sighting(const PeltPattern& pelt, const SightingPose& pose,
                                     const SightingModel& model, uint64_t noise_seed) {
  Random noise(noise_seed);
  std::vector<uint8_t> img(static_cast<size_t>(kImageSize) * kImageSize);
  for (int r = 1; r <= kImageSize; ++r) {
    for (int c = 1; c <= kImageSize; ++c) {
      // Four samples per pixel, as a fingerprint pixel averages a block of
      // the extract.
      double sum = 0;
      for (double oy : {-0.25, 0.25})
        for (double ox : {-0.25, 0.25}) {
          const std::array<double, 2> p = pelt_position(pose, r + oy, c + ox);
          sum += pelt.value(p[0], p[1]);
        }
      double v = 32 + pose.gain * (sum / 4 - 32) + pose.offset;
      v += pose.gradient[0] * (r - kCentre) / (kImageSize / 2.0) +
           pose.gradient[1] * (c - kCentre) / (kImageSize / 2.0);
      v += model.noise * noise.normal();
      img[static_cast<size_t>(r - 1) * kImageSize + (c - 1)] =
          static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 63L));
    }
  }

  auto mask = [&img](int r, int c) { img[static_cast<size_t>(r - 1) * kImageSize + (c - 1)] = 64; };
  if (pose.edge_side >= 0) {
    for (int r = 1; r <= kImageSize; ++r)
      for (int c = 1; c <= kImageSize; ++c) {
        const int along = pose.edge_side < 2 ? c : r;
        const int depth = pose.edge_side == 0   ? r
                          : pose.edge_side == 1 ? kImageSize + 1 - r
                          : pose.edge_side == 2 ? c
                                                : kImageSize + 1 - c;
        const double edge =
            pose.edge_width + 1.5 * std::sin(2 * kPi * along / 23.0 + pose.edge_wave_phase);
        if (depth <= edge) mask(r, c);
      }
  }
  for (const auto& g : pose.glare)
    for (int r = 1; r <= kImageSize; ++r)
      for (int c = 1; c <= kImageSize; ++c)
        if ((r - g[0]) * (r - g[0]) + (c - g[1]) * (c - g[1]) <= g[2] * g[2]) mask(r, c);
  return img;
}

}  // namespace velmora::corpus
