#include "tools/corpus/synthetic_pelt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/corpus/random.h"

namespace velmora::corpus {
namespace {

using Image = std::vector<uint8_t>;

int at(const Image& img, int r, int c) {
  return img[static_cast<size_t>(r - 1) * kImageSize + (c - 1)];
}

// Pearson correlation of rows/columns 17-48 of a with the same block of b moved
// by (dr, dc), masked pixels left out.
double block_correlation(const Image& a, const Image& b, int dr, int dc) {
  double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  for (int r = 17; r <= 48; ++r)
    for (int c = 17; c <= 48; ++c) {
      const int x = at(a, r, c), y = at(b, r + dr, c + dc);
      if (x == 64 || y == 64) continue;
      n += 1;
      sx += x;
      sy += y;
      sxx += x * x;
      syy += y * y;
      sxy += x * y;
    }
  return (sxy - sx * sy / n) / std::sqrt((sxx - sx * sx / n) * (syy - sy * sy / n));
}

SightingModel still_model() {
  SightingModel m;
  m.max_global_shift = m.max_quadrant_shift = m.max_rotation = m.max_scale = 0;
  m.max_gain = m.max_offset = m.max_gradient = m.noise = 0;
  m.edge_mask_chance = 0;
  m.max_glare_spots = 0;
  return m;
}

TEST(Random, StreamsAreFixedAndIndependent) {
  Random a(stream_seed(1, 2, 3)), b(stream_seed(1, 2, 3)), c(stream_seed(1, 2, 4));
  bool differs = false;
  for (int i = 0; i < 100; ++i) {
    const uint64_t x = a.next();
    EXPECT_EQ(x, b.next());
    differs |= x != c.next();
  }
  EXPECT_TRUE(differs);
  // Uniforms stay in [0, 1) and normals have about unit spread: 20000 draws
  // give a standard error of 0.007 on the deviation, 0.05 is far beyond it.
  Random r(7);
  double s = 0, s2 = 0;
  for (int i = 0; i < 20000; ++i) {
    const double u = r.uniform();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    const double g = r.normal();
    s += g;
    s2 += g * g;
  }
  EXPECT_NEAR(std::sqrt(s2 / 20000 - (s / 20000) * (s / 20000)), 1.0, 0.05);
}

TEST(SyntheticPelt, SightingsAreAFunctionOfTheirSeeds) {
  const SightingModel m;
  const PeltPattern pelt = PeltPattern::make(11);
  const SightingPose pose = make_pose(m, 12);
  const Image a = render_sighting(pelt, pose, m, 13);
  EXPECT_EQ(a, render_sighting(PeltPattern::make(11), make_pose(m, 12), m, 13));
  EXPECT_NE(a, render_sighting(pelt, pose, m, 14));  // other noise
  EXPECT_NE(a, render_sighting(PeltPattern::make(21), pose, m, 13));
  ASSERT_EQ(a.size(), 64u * 64u);
  for (uint8_t p : a) EXPECT_LE(p, 64);
}

TEST(SyntheticPelt, PatternUsesTheGreyRange) {
  const SightingModel m = still_model();
  for (uint64_t seed = 1; seed <= 5; ++seed) {
    const Image img = render_sighting(PeltPattern::make(seed), SightingPose{}, m, 1);
    double s = 0, s2 = 0;
    int dark = 0;
    for (uint8_t p : img) {
      s += p;
      s2 += p * p;
      dark += p < 20;
    }
    const double mean = s / img.size();
    // Blots on a light ground: a clear spread and a fair share of dark pixels.
    EXPECT_GT(std::sqrt(s2 / img.size() - mean * mean), 7.0) << seed;
    EXPECT_GT(dark, 100) << seed;
    EXPECT_EQ(std::count(img.begin(), img.end(), 64), 0);  // nothing masked in this model
  }
}

TEST(SyntheticPelt, ShiftMovesThePatternTheWayQuadrantShiftSays) {
  const SightingModel m = still_model();
  const PeltPattern pelt = PeltPattern::make(5);
  SightingPose a, b;
  b.shift[0] = 3;
  b.shift[1] = -2;
  const Image ia = render_sighting(pelt, a, m, 1);
  const Image ib = render_sighting(pelt, b, m, 1);
  for (int k = 0; k < 4; ++k) {
    const std::array<double, 2> q = quadrant_shift(a, b, k);
    EXPECT_NEAR(q[0], -3.0, 1e-9);
    EXPECT_NEAR(q[1], 2.0, 1e-9);
  }
  // The same pelt points land on b's pixels (r - 3, c + 2): identical bytes.
  for (int r = 4; r <= 64; ++r)
    for (int c = 1; c <= 62; ++c) ASSERT_EQ(at(ib, r - 3, c + 2), at(ia, r, c)) << r << " " << c;
}

TEST(SyntheticPelt, QuadrantShiftsStayInsideTheSearchWindow) {
  // The comparison lists peaks at shifts up to 15 (interior of +/-16).
  const SightingModel m;
  double largest = 0;
  for (uint64_t i = 0; i < 3000; ++i) {
    const SightingPose a = make_pose(m, 2 * i + 1), b = make_pose(m, 2 * i + 2);
    for (int k = 0; k < 4; ++k)
      for (double s : quadrant_shift(a, b, k)) largest = std::max(largest, std::abs(s));
  }
  EXPECT_LT(largest, 15.0);
  EXPECT_GT(largest, 8.0);  // and the model does use the window
}

TEST(SyntheticPelt, MasksFollowTheModel) {
  SightingModel m;
  m.edge_mask_chance = 1;
  m.max_glare_spots = 0;
  int with_mask = 0;
  for (uint64_t s = 1; s <= 20; ++s) {
    const SightingPose pose = make_pose(m, s);
    const Image img = render_sighting(PeltPattern::make(s), pose, m, s);
    int masked = 0;
    for (int r = 1; r <= 64; ++r)
      for (int c = 1; c <= 64; ++c) {
        if (at(img, r, c) != 64) continue;
        ++masked;
        // Within the band: its width plus the wave of 1.5.
        const int depth = pose.edge_side == 0   ? r
                          : pose.edge_side == 1 ? 65 - r
                          : pose.edge_side == 2 ? c
                                                : 65 - c;
        ASSERT_LE(depth, pose.edge_width + 1.5);
      }
    with_mask += masked > 0;
    EXPECT_LT(masked, 64 * 12);
  }
  EXPECT_GE(with_mask, 18);  // a band of 2 or more, waving by 1.5, nearly always shows
}

TEST(SyntheticPelt, SightingsOfOneAnimalAgreeAtTheirShift) {
  const SightingModel m;
  double same = 0, other = 0;
  const int animals = 20;
  for (int a = 1; a <= animals; ++a) {
    const PeltPattern pelt = PeltPattern::make(100 + a);
    const SightingPose p1 = make_pose(m, 200 + a), p2 = make_pose(m, 300 + a);
    const Image s1 = render_sighting(pelt, p1, m, 400 + a);
    const Image s2 = render_sighting(pelt, p2, m, 500 + a);
    const Image stranger = render_sighting(PeltPattern::make(600 + a), p2, m, 700 + a);
    // Mean shift over the quadrants, rounded: the block as a whole.
    double dr = 0, dc = 0;
    for (int k = 0; k < 4; ++k) {
      dr += quadrant_shift(p1, p2, k)[0] / 4;
      dc += quadrant_shift(p1, p2, k)[1] / 4;
    }
    same += block_correlation(s1, s2, static_cast<int>(std::lround(dr)),
                              static_cast<int>(std::lround(dc)));
    other += block_correlation(s1, stranger, static_cast<int>(std::lround(dr)),
                               static_cast<int>(std::lround(dc)));
  }
  // Noise of 2.5 against a pattern spread of about 12, quadrant jitter and
  // rounding keep same-animal blocks well correlated; unrelated pelts are not.
  EXPECT_GT(same / animals, 0.6);
  EXPECT_LT(std::abs(other / animals), 0.2);
}

}  // namespace
}  // namespace velmora::corpus
