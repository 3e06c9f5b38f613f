// The spot score of two extracts (see spot_alignment.h).
//
// Points are complex numbers column + i row, so a similarity transform is
// w = a (z - from) + to with one complex factor a (scale |a|, turn arg a).
#include "libs/halvane/spot_alignment.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace velmora::halvane {
namespace {

using Point = std::complex<double>;

// Shortest corner-to-corner distance that fixes turn and scale well enough:
// a jitter of 2 pixels then turns it by under 6 degrees.
constexpr double kMinEdge = 20.0;

struct Triangle {
  Point corner[3];  // anticlockwise (with columns to the right and rows down)
  Point centre;
  double size = 0;  // root-mean-square distance of the corners from the centre
};

// Written out in real arithmetic: std::complex's operators check for
// infinities on every product, which would dominate the count of hits.
struct Transform {
  Point a, from, to;
  Point apply(Point z) const {
    const double x = z.real() - from.real(), y = z.imag() - from.imag();
    return {a.real() * x - a.imag() * y + to.real(), a.imag() * x + a.real() * y + to.imag()};
  }
  Point invert(Point w) const {
    const double u = w.real() - to.real(), v = w.imag() - to.imag();
    const double d = std::norm(a);
    return {(a.real() * u + a.imag() * v) / d + from.real(),
            (a.real() * v - a.imag() * u) / d + from.imag()};
  }
};

Point spot_at(const SpotPattern& p, int number) {
  const int32_t* s = p.spots + 4 * (number - 1);
  return {static_cast<double>(s[2]), static_cast<double>(s[1])};
}

double cross(Point u, Point v) {
  return u.real() * v.imag() - u.imag() * v.real();
}

// The usable seed triangles of an extract; returns how many.
int triangles_of(const SpotPattern& p, Triangle* out) {
  int n = 0;
  const int sets = std::clamp(p.n_seed, 0, kMaxSeedSets);
  for (int s = 0; s < sets; ++s) {
    const int32_t* t = p.seeds + 3 * s;
    bool ok = true;
    for (int i = 0; i < 3; ++i) {
      ok = ok && t[i] >= 1 && t[i] <= p.n_spot && t[(i + 1) % 3] != t[i];
    }
    if (!ok) continue;
    Triangle tri;
    for (int i = 0; i < 3; ++i) tri.corner[i] = spot_at(p, t[i]);
    if (cross(tri.corner[1] - tri.corner[0], tri.corner[2] - tri.corner[0]) < 0) {
      std::swap(tri.corner[1], tri.corner[2]);
    }
    tri.centre = (tri.corner[0] + tri.corner[1] + tri.corner[2]) / 3.0;
    double ss = 0;
    for (const Point& c : tri.corner) ss += std::norm(c - tri.centre);
    tri.size = std::sqrt(ss / 3.0);
    if (tri.size < 2.0) continue;  // three spots in one place: no shape to match
    out[n++] = tri;
  }
  return n;
}

// The least-squares similarity carrying corners i of `f` onto corners
// (i + turn) mod 3 of `s`; false when it is not a candidate.
bool fit(const Triangle& f, const Triangle& s, int turn, double min_cos, Transform* t) {
  Point num = 0;
  double den = 0;
  for (int i = 0; i < 3; ++i) {
    const Point p = f.corner[i] - f.centre;
    const Point q = s.corner[(i + turn) % 3] - s.centre;
    num += std::conj(p) * q;
    den += std::norm(p);
  }
  const Point a = num / den;
  const double scale = std::abs(a);
  if (scale > kMaxScale || scale * kMaxScale < 1.0) return false;
  if (a.real() < min_cos * scale) return false;
  double residual = 0;
  for (int i = 0; i < 3; ++i) {
    residual += std::norm(a * (f.corner[i] - f.centre) - (s.corner[(i + turn) % 3] - s.centre));
  }
  if (std::sqrt(residual / 3.0) > kMaxCornerResidual * s.size) return false;
  *t = Transform{a, f.centre, s.centre};
  return true;
}

// The similarity carrying corners i and j of `f` exactly onto corners k and
// l of `s`; false when it is not a candidate or the corners are too close
// to fix a turn and scale.
bool fit_two(const Triangle& f, const Triangle& s, int i, int j, int k, int l, double min_cos,
             Transform* t) {
  const Point from = f.corner[j] - f.corner[i], to = s.corner[l] - s.corner[k];
  if (std::norm(from) < kMinEdge * kMinEdge || std::norm(to) < kMinEdge * kMinEdge) return false;
  const Point a = to / from;
  const double scale = std::abs(a);
  if (scale > kMaxScale || scale * kMaxScale < 1.0) return false;
  if (a.real() < min_cos * scale) return false;
  *t = Transform{a, f.corner[i], s.corner[k]};
  return true;
}

bool black(const int32_t* map, Point w) {
  // Nearest pixel, halves away from zero as lround, without its call.
  const double wx = w.real(), wy = w.imag();
  if (!(wx > -kMapBorder && wx < kMapSide && wy > -kMapBorder && wy < kMapSide)) return false;
  const long x = static_cast<long>(wx + (wx < 0 ? -0.5 : 0.5)) + kMapBorder;
  const long y = static_cast<long>(wy + (wy < 0 ? -0.5 : 0.5)) + kMapBorder;
  if (x < 1 || x > kMapSide || y < 1 || y > kMapSide) return false;
  const long n = kMapSide * (y - 1) + (x - 1);
  return ((static_cast<uint32_t>(map[n >> 5]) >> (n & 31)) & 1u) != 0;
}

// Whether a spot of `kind` carried to w lands on a spot of `onto`.
bool hit(const SpotPattern& onto, int32_t kind, Point w) {
  if (onto.bottom == nullptr) return black(onto.top, w);
  if (kind <= 2 && black(onto.top, w)) return true;
  return kind >= 2 && black(onto.bottom, w);
}

}  // namespace

double spot_score(const SpotPattern& first_in, const SpotPattern& second_in, int max_turn_degrees) {
  SpotPattern first = first_in, second = second_in;
  first.n_spot = std::clamp(first.n_spot, 0, kMaxSpots);
  second.n_spot = std::clamp(second.n_spot, 0, kMaxSpots);
  const int total = first.n_spot + second.n_spot;
  if (total == 0 || first.top == nullptr || second.top == nullptr) return 0.0;
  Triangle tf[kMaxSeedSets], ts[kMaxSeedSets];
  const int nf = triangles_of(first, tf);
  const int ns = triangles_of(second, ts);
  constexpr double kPi = 3.14159265358979323846;
  const double min_cos = std::cos(std::clamp(max_turn_degrees, 0, 180) * kPi / 180.0);

  int best = -1;  // hits of the best candidate so far
  // Counts the hits of `t`, giving up once even all remaining spots could
  // not beat the best so far.
  auto count = [&](const Transform& t) {
    int hits = 0, left = total;
    for (int k = 0; k < first.n_spot && hits + left > best; ++k, --left) {
      const int32_t* s = first.spots + 4 * k;
      hits += hit(second, s[3], t.apply(Point(s[2], s[1]))) ? 1 : 0;
    }
    for (int k = 0; k < second.n_spot && hits + left > best; ++k, --left) {
      const int32_t* s = second.spots + 4 * k;
      hits += hit(first, s[3], t.invert(Point(s[2], s[1]))) ? 1 : 0;
    }
    if (left == 0 && hits > best) best = hits;
  };
  for (int i = 0; i < nf; ++i) {
    for (int j = 0; j < ns; ++j) {
      bool same_shape = false;
      for (int turn = 0; turn < 3; ++turn) {
        Transform t;
        if (!fit(tf[i], ts[j], turn, min_cos, &t)) continue;
        same_shape = true;
        count(t);
      }
      if (same_shape) continue;
      // Two sightings often pick two corners of a seed set alike and the
      // third anew: the transforms that carry two corners of the one onto
      // two of the other.
      for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
          if (a == b) continue;
          for (int c = 0; c < 3; ++c) {
            for (int d = 0; d < 3; ++d) {
              Transform t;
              if (c != d && fit_two(tf[i], ts[j], a, b, c, d, min_cos, &t)) count(t);
            }
          }
        }
      }
    }
  }
  return best <= 0 ? 0.0 : static_cast<double>(best) / total;
}

}  // namespace velmora::halvane
