// The spot score on drawn spot patterns: one pattern seen again after a
// small turn, scaling and shift with jitter scores high, another pattern
// low; kinds look in their own maps; bad seed sets and counts are passed
// over. The fast count (complex fits, packed maps, early stop) is checked
// against a plain reference: the same candidates (three corners fitted by
// normal equations, or two corners carried exactly) in real numbers,
// counted in full.
#include "libs/halvane/spot_alignment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "libs/halvane/n_fiducial_stripe.h"

namespace velmora::halvane {
namespace {

struct Pattern {
  std::vector<int32_t> spots;  // stride 4
  std::vector<int32_t> seeds;  // stride 3
  std::vector<int32_t> top = std::vector<int32_t>(kMapWords, 0);
  std::vector<int32_t> bottom = std::vector<int32_t>(kMapWords, 0);
  int n() const { return static_cast<int>(spots.size() / 4); }
  SpotPattern view(bool with_bottom = true) const {
    return {n(),          spots.data(), static_cast<int>(seeds.size() / 3),
            seeds.data(), top.data(),   with_bottom ? bottom.data() : nullptr};
  }
};

void disc(std::vector<int32_t>& map, double row, double col, double radius) {
  for (int y = 1; y <= kMapSide; ++y) {
    for (int x = 1; x <= kMapSide; ++x) {
      const double dy = y - (row + kMapBorder), dx = x - (col + kMapBorder);
      if (dx * dx + dy * dy > radius * radius) continue;
      const int n = kMapSide * (y - 1) + (x - 1);
      map[n / 32] = static_cast<int32_t>(static_cast<uint32_t>(map[n / 32]) | (1u << (n % 32)));
    }
  }
}

// Draws the maps as the save step does: radius so that the discs cover a
// quarter of the extract; kind <= 2 on top, kind >= 2 on the bottom.
void draw_maps(Pattern& p) {
  const double radius = std::sqrt(256.0 * 256.0 * 0.25 / (3.14159265 * p.n()));
  for (int k = 0; k < p.n(); ++k) {
    const int32_t* s = &p.spots[4 * k];
    if (s[3] <= 2) disc(p.top, s[1], s[2], radius);
    if (s[3] >= 2) disc(p.bottom, s[1], s[2], radius);
  }
}

// `n` spots in 30..226 with kinds 1..3; seeds: four triangles of spots far apart.
Pattern random_pattern(unsigned seed, int n) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pos(30, 226), kind(1, 3);
  Pattern p;
  for (int k = 0; k < n; ++k) p.spots.insert(p.spots.end(), {k + 2, pos(rng), pos(rng), kind(rng)});
  p.seeds = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  draw_maps(p);
  return p;
}

// The same pelt seen again: every spot turned by `degrees` about the
// centre, scaled, shifted, jittered by up to a pixel, rounded.
Pattern seen_again(const Pattern& p, double degrees, double scale, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> jitter(-1, 1);
  const double t = degrees * 3.14159265358979 / 180;
  Pattern q;
  for (int k = 0; k < p.n(); ++k) {
    const double r = p.spots[4 * k + 1] - 128, c = p.spots[4 * k + 2] - 128;
    const double r2 = scale * (std::sin(t) * c + std::cos(t) * r) + 128 + 3 + jitter(rng);
    const double c2 = scale * (std::cos(t) * c - std::sin(t) * r) + 128 - 4 + jitter(rng);
    q.spots.insert(q.spots.end(), {p.spots[4 * k], static_cast<int32_t>(std::lround(r2)),
                                   static_cast<int32_t>(std::lround(c2)), p.spots[4 * k + 3]});
  }
  q.seeds = p.seeds;
  draw_maps(q);
  return q;
}

// Plain reference: x' = a x - b y + tx, y' = b x + a y + ty by normal
// equations, every candidate counted in full on unpacked maps.
double reference(const SpotPattern& f, const SpotPattern& s, int max_turn) {
  auto bit = [](const int32_t* map, double x, double y) {
    const long xi = std::lround(x) + kMapBorder, yi = std::lround(y) + kMapBorder;
    if (xi < 1 || xi > kMapSide || yi < 1 || yi > kMapSide) return false;
    const long n = kMapSide * (yi - 1) + (xi - 1);
    return ((static_cast<uint32_t>(map[n / 32]) >> (n % 32)) & 1u) == 1u;
  };
  auto lands = [&](const SpotPattern& onto, int kind, double x, double y) {
    if (onto.bottom == nullptr) return bit(onto.top, x, y);
    return (kind <= 2 && bit(onto.top, x, y)) || (kind >= 2 && bit(onto.bottom, x, y));
  };
  struct Tri {
    double x[3], y[3];
  };
  auto tris = [](const SpotPattern& p) {
    std::vector<Tri> out;
    for (int i = 0; i < p.n_seed; ++i) {
      const int32_t* t = p.seeds + 3 * i;
      bool ok = true;
      for (int j = 0; j < 3; ++j)
        ok = ok && t[j] >= 1 && t[j] <= p.n_spot && t[j] != t[(j + 1) % 3];
      if (!ok) continue;
      Tri tr;
      for (int j = 0; j < 3; ++j)
        tr.x[j] = p.spots[4 * (t[j] - 1) + 2], tr.y[j] = p.spots[4 * (t[j] - 1) + 1];
      if ((tr.x[1] - tr.x[0]) * (tr.y[2] - tr.y[0]) - (tr.y[1] - tr.y[0]) * (tr.x[2] - tr.x[0]) <
          0) {
        std::swap(tr.x[1], tr.x[2]), std::swap(tr.y[1], tr.y[2]);
      }
      out.push_back(tr);
    }
    return out;
  };
  int best = 0;
  const int total = f.n_spot + s.n_spot;
  const double min_cos = std::cos(max_turn * 3.14159265358979323846 / 180);
  // x' = a (x - x0) - b (y - y0) + x1, y' = b (x - x0) + a (y - y0) + y1.
  auto count = [&](double a, double b, double x0, double y0, double x1, double y1) {
    int hits = 0;
    for (int k = 0; k < f.n_spot; ++k) {
      const double x = f.spots[4 * k + 2] - x0, y = f.spots[4 * k + 1] - y0;
      hits += lands(s, f.spots[4 * k + 3], a * x - b * y + x1, b * x + a * y + y1);
    }
    for (int k = 0; k < s.n_spot; ++k) {
      const double u = s.spots[4 * k + 2] - x1, v = s.spots[4 * k + 1] - y1, d = a * a + b * b;
      hits += lands(f, s.spots[4 * k + 3], (a * u + b * v) / d + x0, (-b * u + a * v) / d + y0);
    }
    best = std::max(best, hits);
  };
  auto plausible = [&](double a, double b) {
    const double sc = std::hypot(a, b);
    return sc <= kMaxScale && sc * kMaxScale >= 1 && a >= min_cos * sc;
  };
  for (const Tri& p : tris(f)) {
    for (const Tri& q : tris(s)) {
      bool same_shape = false;
      for (int turn = 0; turn < 3; ++turn) {
        double mx = 0, my = 0, nx = 0, ny = 0;
        for (int i = 0; i < 3; ++i)
          mx += p.x[i] / 3, my += p.y[i] / 3, nx += q.x[(i + turn) % 3] / 3,
              ny += q.y[(i + turn) % 3] / 3;
        double sxx = 0, sab = 0, sba = 0, qq = 0;
        for (int i = 0; i < 3; ++i) {
          const double x = p.x[i] - mx, y = p.y[i] - my, u = q.x[(i + turn) % 3] - nx,
                       v = q.y[(i + turn) % 3] - ny;
          sxx += x * x + y * y, sab += x * u + y * v, sba += x * v - y * u, qq += u * u + v * v;
        }
        if (qq < 12) continue;  // size below 2
        const double a = sab / sxx, b = sba / sxx;
        if (!plausible(a, b)) continue;
        double res = 0;
        for (int i = 0; i < 3; ++i) {
          const double x = p.x[i] - mx, y = p.y[i] - my;
          res += std::pow(a * x - b * y - (q.x[(i + turn) % 3] - nx), 2) +
                 std::pow(b * x + a * y - (q.y[(i + turn) % 3] - ny), 2);
        }
        if (std::sqrt(res / 3) > kMaxCornerResidual * std::sqrt(qq / 3)) continue;
        same_shape = true;
        count(a, b, mx, my, nx, ny);
      }
      if (same_shape) continue;
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
          for (int k = 0; k < 3; ++k)
            for (int l = 0; l < 3; ++l) {
              if (i == j || k == l) continue;
              const double dx = p.x[j] - p.x[i], dy = p.y[j] - p.y[i], du = q.x[l] - q.x[k],
                           dv = q.y[l] - q.y[k];
              if (dx * dx + dy * dy < 400 || du * du + dv * dv < 400)
                continue;  // corners under 20 apart
              const double den = dx * dx + dy * dy, a = (du * dx + dv * dy) / den,
                           b = (dv * dx - du * dy) / den;
              if (plausible(a, b)) count(a, b, p.x[i], p.y[i], q.x[k], q.y[k]);
            }
    }
  }
  return static_cast<double>(best) / total;
}

TEST(SpotScore, MatchesThePlainReference) {
  struct Case {
    unsigned a, b;
    double degrees, scale;
    bool same, with_bottom;
  };
  const Case cases[] = {{1, 2, 3, 1.02, true, true},  {3, 4, -5, 0.97, true, false},
                        {5, 6, 0, 1.0, false, true},  {7, 8, 2, 1.0, false, false},
                        {9, 10, 10, 1.1, true, true}, {11, 12, 1, 1.0, false, true}};
  for (const Case& k : cases) {
    const Pattern p = random_pattern(k.a, 60);
    const Pattern q = k.same ? seen_again(p, k.degrees, k.scale, k.b) : random_pattern(k.b, 50);
    const double fast = spot_score(p.view(k.with_bottom), q.view(k.with_bottom), 15);
    // Both count whole hits; the fits differ in rounding only, which can move
    // a spot across a disc's rim, hence one spot's share of slack.
    EXPECT_NEAR(fast, reference(p.view(k.with_bottom), q.view(k.with_bottom), 15), 1.0 / 110)
        << "case " << k.a;
  }
}

TEST(SpotScore, TheSamePeltScoresHighAnotherLow) {
  for (unsigned seed = 20; seed < 26; ++seed) {
    const Pattern p = random_pattern(seed, 80);
    const double same = spot_score(p.view(), seen_again(p, 4, 1.03, seed + 100).view(), 15);
    const double other = spot_score(p.view(), random_pattern(seed + 50, 80).view(), 15);
    EXPECT_GT(same, 0.9) << seed;
    EXPECT_LT(other, 0.6) << seed;
  }
}

TEST(SpotScore, TurnsBeyondTheLimitAndBadSeedsGiveNoScore) {
  const Pattern p = random_pattern(31, 60);
  const Pattern turned = seen_again(p, 30, 1.0, 32);
  // Beyond the limit only chance alignments of two corners remain.
  EXPECT_LT(spot_score(p.view(), turned.view(), 15), 0.5);
  EXPECT_GT(spot_score(p.view(), turned.view(), 45), 0.9);

  const Pattern q = seen_again(p, 2, 1.0, 33);
  struct Fault {
    std::vector<int32_t> seeds;
    int n_seed;
  };
  const Fault faults[] = {
      {{0, 2, 3}, 1}, {{1, 2, 61}, 1}, {{4, 4, 5}, 1}, {{1, 2, 3}, 0}, {{-3, 2, 3}, 1}};
  for (const Fault& f : faults) {
    SpotPattern v = p.view();
    v.seeds = f.seeds.data();
    v.n_seed = f.n_seed;
    EXPECT_EQ(spot_score(v, q.view(), 15), 0.0) << f.seeds[0] << " " << f.seeds[2];
  }
  // Counts beyond the call's arrays are held to them.
  SpotPattern many = p.view();
  many.n_seed = 40;  // only 4 sets are there, but the array is read up to 9
  std::vector<int32_t> seeds(3 * kMaxSeedSets, 0);
  std::copy(p.seeds.begin(), p.seeds.end(), seeds.begin());
  many.seeds = seeds.data();
  EXPECT_GT(spot_score(many, q.view(), 15), 0.9);
  SpotPattern no_map = p.view();
  no_map.top = nullptr;
  EXPECT_EQ(spot_score(no_map, q.view(), 15), 0.0);
}

TEST(SpotScore, KindsLookInTheirOwnMap) {
  Pattern p = random_pattern(41, 60);
  for (int k = 0; k < p.n(); ++k) p.spots[4 * k + 3] = k % 2 == 0 ? 1 : 3;
  p.top.assign(kMapWords, 0), p.bottom.assign(kMapWords, 0);
  draw_maps(p);
  Pattern swapped = p;  // the same places, every stripe turned the other way
  for (int k = 0; k < p.n(); ++k) swapped.spots[4 * k + 3] = 4 - p.spots[4 * k + 3];
  swapped.top.assign(kMapWords, 0), swapped.bottom.assign(kMapWords, 0);
  draw_maps(swapped);
  EXPECT_NEAR(spot_score(p.view(), p.view(), 15), 1.0, 1e-12);
  EXPECT_LT(spot_score(p.view(), swapped.view(), 15), 0.6);
  // Without bottom maps every spot looks in the top map, which holds only
  // kind 1 here: the kind-1 half lands on its partners, the kind-3 half only
  // where it happens to lie near a kind-1 spot.
  const double top_only = spot_score(p.view(false), p.view(false), 15);
  EXPECT_GE(top_only, 0.5);
  EXPECT_LT(top_only, 0.8);
}

TEST(SpotScore, TheCallGivesBothScores) {
  const Pattern p = random_pattern(51, 40), q = seen_again(p, 2, 1.0, 52);
  std::vector<int32_t> cell1(4096), cell2(4096);
  for (int i = 0; i < 4096; ++i) cell1[i] = (i * 37) % 200, cell2[i] = (i * 37) % 200;
  const int32_t n1 = p.n(), n2 = q.n(), s1 = 4, s2 = 4, shift = 2, turn = 15;
  double corr = 0, spot = 0;
  N_FIDUCIAL_STRIPE(cell1.data(), &n1, p.spots.data(), &s1, p.seeds.data(), p.top.data(),
                    p.bottom.data(), cell2.data(), &n2, q.spots.data(), &s2, q.seeds.data(),
                    q.top.data(), q.bottom.data(), &shift, &turn, &corr, &spot);
  EXPECT_NEAR(corr, 1.0, 1e-12);
  EXPECT_EQ(spot, spot_score(p.view(), q.view(), 15));
  N_FIDUCIAL_STRIPE(cell1.data(), &n1, nullptr, &s1, p.seeds.data(), p.top.data(), p.bottom.data(),
                    cell2.data(), &n2, q.spots.data(), &s2, q.seeds.data(), q.top.data(),
                    q.bottom.data(), &shift, &turn, &corr, &spot);
  EXPECT_EQ(spot, 0.0);
}

}  // namespace
}  // namespace velmora::halvane
