#include "libs/dunmarra/fingerprint_normalisation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace velmora::dunmarra {
namespace {

// The workstation's geometry: four 16 x 16 sub-cells over rows and columns 17-48.
FingerprintGeometry workstation_geometry() {
  return {64, 64, 17, 17, 16, 16, 2, 2};
}

using Image = std::vector<uint8_t>;

// A smooth random pattern in grey levels 0-63 (sums of bumps), from a fixed seed.
Image pattern(uint32_t seed, int rows = 64, int cols = 64) {
  uint32_t s = seed * 2654435761u + 1;
  auto next = [&s] {
    s = s * 1664525u + 1013904223u;
    return (s >> 8) / 16777216.0;
  };
  std::vector<double> v(static_cast<size_t>(rows) * cols, 0.0);
  for (int b = 0; b < 60; ++b) {
    const double cr = next() * rows, cc = next() * cols, rad = 2 + 5 * next();
    const double amp = next() < 0.5 ? -1 : 1;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) {
        const double d2 = ((r - cr) * (r - cr) + (c - cc) * (c - cc)) / (rad * rad);
        if (d2 < 1) v[static_cast<size_t>(r) * cols + c] += amp * (1 - d2) * (1 - d2);
      }
  }
  Image img(v.size());
  for (size_t i = 0; i < v.size(); ++i)
    img[i] = static_cast<uint8_t>(std::lround(std::clamp(32 + 20 * v[i], 0.0, 63.0)));
  return img;
}

uint8_t& at(Image& img, int r, int c) {
  return img[static_cast<size_t>(r - 1) * 64 + (c - 1)];
}

// The comparison's weighted correlation, summed directly: the value of the
// surface of sub-cell k of `a` against `b` at shift (i, j), from the numbers
// the file carries (32-bit), masked pixels left out on both sides.
double surface(const FingerprintGeometry& g, const Image& a, const Normalisation& na,
               const Image& b, const Normalisation& nb, int k, int i, int j) {
  const int ro = g.subcell_row_origin(k), co = g.subcell_col_origin(k);
  const float w = nb.table[static_cast<size_t>(ro + i - 1) * g.table_cols() + (co + j - 1)];
  if (w <= 0) return 0;
  const SubcellStats& s = na.subcells[static_cast<size_t>(k)];
  double sum = 0;
  for (int r = ro; r < ro + g.subrows; ++r)
    for (int c = co; c < co + g.subcols; ++c) {
      const uint8_t pa = a[static_cast<size_t>(r - 1) * g.cols + (c - 1)];
      const uint8_t pb = b[static_cast<size_t>(r + i - 1) * g.cols + (c + j - 1)];
      if ((pa & 0x40) || (pb & 0x40)) continue;
      sum += (pa - s.sub_mean) * s.sub_scale * (pb - nb.cell_mean);
    }
  return w * sum;
}

// Shifts b's content so that b(r + di, c + dj) = a(r, c); pixels with no source
// keep b's own pattern.
Image shifted_copy(const Image& a, int di, int dj, uint32_t seed) {
  Image b = pattern(seed);
  for (int r = 1; r <= 64; ++r)
    for (int c = 1; c <= 64; ++c) {
      const int sr = r - di, sc = c - dj;
      if (sr >= 1 && sr <= 64 && sc >= 1 && sc <= 64)
        b[(r - 1) * 64 + (c - 1)] = a[(sr - 1) * 64 + (sc - 1)];
    }
  return b;
}

// Float rounding of sums of 256 products of 32-bit factors (relative 6e-8
// each) stays far below this.
constexpr double kFloatTolerance = 1e-5;

TEST(Geometry, WorkstationLayoutKeepsEveryShiftedWindowInsideTheTable) {
  const FingerprintGeometry g = workstation_geometry();
  EXPECT_EQ(check_geometry(g), "");
  EXPECT_EQ(g.search_rows(), 16);
  EXPECT_EQ(g.search_cols(), 16);
  EXPECT_EQ(g.table_rows(), 49);
  const int origins[4][2] = {{17, 17}, {17, 33}, {33, 17}, {33, 33}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(g.subcell_row_origin(k), origins[k][0]);
    EXPECT_EQ(g.subcell_col_origin(k), origins[k][1]);
    // Extreme shifts land on the first and the last table row and column.
    EXPECT_GE(g.subcell_row_origin(k) - g.search_rows(), 1);
    EXPECT_LE(g.subcell_col_origin(k) + g.search_cols(), g.table_cols());
  }
  EXPECT_EQ(g.subcell_row_origin(0) - g.search_rows(), 1);
  EXPECT_EQ(g.subcell_row_origin(3) + g.search_rows(), 49);
}

TEST(Geometry, RefusesWhatTheComparisonCannotUse) {
  auto refused = [](FingerprintGeometry g) { return !check_geometry(g).empty(); };
  FingerprintGeometry g = workstation_geometry();
  g.row_origin = 18;  // last sub-cell row's windows would reach table row 50
  EXPECT_TRUE(refused(g));
  g = workstation_geometry();
  g.col_origin = 16;  // first windows would start at column 0
  EXPECT_TRUE(refused(g));
  g = workstation_geometry();
  g.rows = 48;  // not a power of two
  EXPECT_TRUE(refused(g));
  g = workstation_geometry();
  g.rows = g.cols = 512;  // larger than the caller's buffer
  EXPECT_TRUE(refused(g));
  g = workstation_geometry();
  g.across = 3;  // six sub-cells
  EXPECT_TRUE(refused(g));
  g = workstation_geometry();
  g.across = 4;
  g.down = 1;  // four sub-cells in a row: no room along the columns
  EXPECT_TRUE(refused(g));
  g = workstation_geometry();
  g.subrows = 1;
  EXPECT_TRUE(refused(g));
  g = workstation_geometry();
  g.subrows = g.subcols = 32;  // 2 x 32 fills the image: nothing to search
  g.row_origin = g.col_origin = 1;
  EXPECT_TRUE(refused(g));
  // A smaller, still sound layout is accepted.
  EXPECT_FALSE(refused({32, 32, 9, 9, 8, 8, 2, 2}));
}

TEST(SubcellNormalisation, ZeroMeanUnitLengthOverUnmaskedPixels) {
  const FingerprintGeometry g = workstation_geometry();
  Image img = pattern(3);
  for (int r = 20; r <= 23; ++r)
    for (int c = 17; c <= 30; ++c) at(img, r, c) = kMaskedPixel;  // inside sub-cell 0
  const Normalisation n = compute_normalisation(g, img);
  ASSERT_EQ(n.subcells.size(), 4u);
  for (int k = 0; k < 4; ++k) {
    const SubcellStats& s = n.subcells[static_cast<size_t>(k)];
    double sum = 0, sum2 = 0;
    int count = 0;
    for (int r = g.subcell_row_origin(k); r < g.subcell_row_origin(k) + 16; ++r)
      for (int c = g.subcell_col_origin(k); c < g.subcell_col_origin(k) + 16; ++c) {
        if (at(img, r, c) == kMaskedPixel) continue;
        const double v = (at(img, r, c) - s.sub_mean) * s.sub_scale;
        sum += v;
        sum2 += v * v;
        ++count;
      }
    EXPECT_EQ(s.unmasked, count);
    EXPECT_NEAR(sum, 0.0, kFloatTolerance) << k;
    EXPECT_NEAR(sum2, 1.0, kFloatTolerance) << k;
  }
  EXPECT_EQ(n.subcells[0].unmasked, 256 - 4 * 14);
}

TEST(SubcellNormalisation, FlatOrMostlyMaskedSubcellGetsNoWeight) {
  const FingerprintGeometry g = workstation_geometry();
  Image img = pattern(4);
  for (int r = 17; r <= 32; ++r)
    for (int c = 17; c <= 32; ++c) at(img, r, c) = 40;  // sub-cell 0 flat
  for (int r = 17; r <= 32; ++r)
    for (int c = 33; c <= 48; ++c)
      if (!(r <= 18 && c <= 47)) at(img, r, c) = kMaskedPixel;  // sub-cell 1: 30 pixels left
  // Sub-cell 2: 32 unmasked pixels, an eighth, still used.
  for (int r = 33; r <= 48; ++r)
    for (int c = 17; c <= 32; ++c)
      at(img, r, c) = r > 34 ? kMaskedPixel : static_cast<uint8_t>(20 + 20 * (c % 2));
  const Normalisation n = compute_normalisation(g, img);
  EXPECT_EQ(n.subcells[0].sub_scale, 0.0f);
  EXPECT_FLOAT_EQ(n.subcells[0].sub_mean, 40.0f);
  EXPECT_EQ(n.subcells[1].unmasked, 30);
  EXPECT_EQ(n.subcells[1].sub_scale, 0.0f);
  EXPECT_EQ(n.subcells[2].unmasked, 32);
  EXPECT_GT(n.subcells[2].sub_scale, 0.0f);
  EXPECT_GT(n.subcells[3].sub_scale, 0.0f);
}

TEST(CellMean, IsTheMeanOfTheUnmaskedPixels) {
  const FingerprintGeometry g = workstation_geometry();
  Image img(64 * 64, kMaskedPixel);
  at(img, 1, 1) = 10;
  at(img, 64, 64) = 21;
  at(img, 30, 5) = 0;
  const Normalisation n = compute_normalisation(g, img);
  EXPECT_EQ(n.unmasked, 3);
  EXPECT_FLOAT_EQ(n.cell_mean, 31.0f / 3);
  EXPECT_EQ(n.sum, 31);
  EXPECT_EQ(n.sum_squares, 100 + 441);
  // Every window is almost all masked: no weight anywhere.
  EXPECT_EQ(n.zero_entries, 49 * 49);
  const Normalisation all_masked = compute_normalisation(g, Image(64 * 64, kMaskedPixel));
  EXPECT_EQ(all_masked.cell_mean, 0.0f);
  for (const SubcellStats& s : all_masked.subcells) EXPECT_EQ(s.sub_scale, 0.0f);
}

TEST(NormalisedCorrelation, SelfMatchIsOneAndTheHighestValue) {
  const FingerprintGeometry g = workstation_geometry();
  const Image a = pattern(11);
  const Normalisation n = compute_normalisation(g, a);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(surface(g, a, n, a, n, k, 0, 0), 1.0, kFloatTolerance) << k;
    for (int i = -16; i <= 16; ++i)
      for (int j = -16; j <= 16; ++j)
        if (i != 0 || j != 0) {
          EXPECT_LT(surface(g, a, n, a, n, k, i, j), 0.999) << k;
        }
  }
}

TEST(NormalisedCorrelation, ShiftedCopyScoresOneAtItsShift) {
  const FingerprintGeometry g = workstation_geometry();
  const Image a = pattern(12);
  const Normalisation na = compute_normalisation(g, a);
  for (auto [di, dj] : {std::pair{3, -5}, std::pair{-16, 16}, std::pair{9, 0}}) {
    const Image b = shifted_copy(a, di, dj, 99);
    const Normalisation nb = compute_normalisation(g, b);
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(surface(g, a, na, b, nb, k, di, dj), 1.0, kFloatTolerance) << di << " " << dj;
  }
}

TEST(NormalisedCorrelation, IndependentOfLocalBrightnessAndContrast) {
  const FingerprintGeometry g = workstation_geometry();
  const Image a = pattern(13);
  Image b = a;
  // Right half of b at half contrast and much brighter: windows there have a
  // mean far from b's overall mean.
  for (int r = 1; r <= 64; ++r)
    for (int c = 33; c <= 64; ++c)
      at(b, r, c) = static_cast<uint8_t>(std::lround(0.5 * at(b, r, c) + 31));
  const Normalisation na = compute_normalisation(g, a);
  const Normalisation nb = compute_normalisation(g, b);
  // Sub-cells 1 and 3 lie in the changed half. Rounding the halved grey levels
  // adds noise of about 0.29 grey levels to a pattern of deviation > 5 there,
  // which costs well under 1 % of correlation.
  for (int k : {1, 3}) EXPECT_GT(surface(g, a, na, b, nb, k, 0, 0), 0.99) << k;
}

TEST(NormalisedCorrelation, MaskedPixelsNeverPushAValueAboveOne) {
  const FingerprintGeometry g = workstation_geometry();
  // A window whose unmasked part is bright and almost flat, far above the
  // image mean, against a sub-cell that is dark where the mask lies and
  // bright elsewhere: normalising by the window's own deviation alone would
  // give values far above 1 here.
  Image a(64 * 64, 10);
  Image b(64 * 64, 10);
  for (int r = 17; r <= 32; ++r)
    for (int c = 17; c <= 32; ++c) at(a, r, c) = c <= 24 ? 5 : 50 + (r + c) % 2;
  for (int r = 17; r <= 32; ++r)
    for (int c = 17; c <= 32; ++c) at(b, r, c) = c <= 24 ? kMaskedPixel : 60 + (r * c) % 3;
  Normalisation na = compute_normalisation(g, a);
  Normalisation nb = compute_normalisation(g, b);
  EXPECT_LE(std::abs(surface(g, a, na, b, nb, 0, 0, 0)), 1.0 + kFloatTolerance);
  EXPECT_GT(surface(g, a, na, b, nb, 0, 0, 0), 0.1);  // still a clear positive match

  // The bound holds at every shift for random patterns with random masks.
  for (uint32_t seed = 20; seed < 26; ++seed) {
    Image pa = pattern(seed), pb = pattern(seed + 100);
    uint32_t s = seed;
    for (int blot = 0; blot < 12; ++blot) {
      s = s * 1664525u + 1013904223u;
      const int r0 = 1 + static_cast<int>((s >> 10) % 56),
                c0 = 1 + static_cast<int>((s >> 20) % 56);
      Image& target = blot % 2 ? pa : pb;
      for (int r = r0; r < r0 + 8; ++r)
        for (int c = c0; c < c0 + 8; ++c) at(target, r, c) = kMaskedPixel;
    }
    na = compute_normalisation(g, pa);
    nb = compute_normalisation(g, pb);
    for (int k = 0; k < 4; ++k)
      for (int i = -16; i <= 16; ++i)
        for (int j = -16; j <= 16; ++j)
          ASSERT_LE(std::abs(surface(g, pa, na, pb, nb, k, i, j)), 1.0 + kFloatTolerance)
              << seed << " " << k << " " << i << " " << j;
  }
}

TEST(NormalisationTable, WindowEntriesFollowTheWindowsOwnDeviation) {
  const FingerprintGeometry g = workstation_geometry();
  Image img = pattern(30);
  for (int r = 1; r <= 16; ++r)
    for (int c = 1; c <= 16; ++c) at(img, r, c) = 25;  // window (1, 1) flat
  for (int r = 40; r <= 64; ++r)
    for (int c = 40; c <= 64; ++c) at(img, r, c) = kMaskedPixel;  // window (49, 49) masked
  const Normalisation n = compute_normalisation(g, img);
  ASSERT_EQ(n.table.size(), 49u * 49u);
  EXPECT_EQ(n.table[0], 0.0f);
  EXPECT_EQ(n.table[48 * 49 + 48], 0.0f);
  // Window (5, 20): no masked pixel, entry = 1 / sqrt(sum of squared
  // deviations from its own mean).
  double s1 = 0, s2 = 0;
  for (int r = 5; r < 21; ++r)
    for (int c = 20; c < 36; ++c) {
      s1 += at(img, r, c);
      s2 += at(img, r, c) * at(img, r, c);
    }
  const double expected = 1.0 / std::sqrt(s2 - s1 * s1 / 256);
  // The entry is rounded to 32 bits once: relative error below 1e-7.
  EXPECT_NEAR(n.table[4 * 49 + 19], expected, expected * 1e-6);
  int zeros = 0;
  for (float e : n.table) zeros += e <= 0;
  EXPECT_EQ(n.zero_entries, zeros);
}

}  // namespace
}  // namespace velmora::dunmarra
