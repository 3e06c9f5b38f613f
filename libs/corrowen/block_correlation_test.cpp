// The correlation score against a plain reference: for every shift the
// Pearson correlation over the blocks usable in both images, summed in
// doubles element by element, and the best of them.
#include "libs/corrowen/block_correlation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "libs/corrowen/n_fiducial_dots.h"

namespace velmora::corrowen {
namespace {

using Image = std::vector<int32_t>;  // column by column, as the call passes it

int32_t& at(Image& im, int r, int c) {
  return im[static_cast<size_t>(c) * kBlockSide + r];
}

double reference(const Image& a, const Image& b, int max_shift) {
  double best = -2;
  for (int dr = -max_shift; dr <= max_shift; ++dr) {
    for (int dc = -max_shift; dc <= max_shift; ++dc) {
      double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
      for (int c = 0; c < kBlockSide; ++c) {
        for (int r = 0; r < kBlockSide; ++r) {
          const int r2 = r + dr, c2 = c + dc;
          if (r2 < 0 || r2 >= kBlockSide || c2 < 0 || c2 >= kBlockSide) continue;
          const double x = a[c * kBlockSide + r], y = b[c2 * kBlockSide + r2];
          if (x < 0 || x > 254 || y < 0 || y > 254) continue;
          n += 1, sa += x, sb += y, saa += x * x, sbb += y * y, sab += x * y;
        }
      }
      const double va = n * saa - sa * sa, vb = n * sbb - sb * sb;
      if (n < kMinOverlap || va <= 0 || vb <= 0) continue;
      best = std::max(best, (n * sab - sa * sb) / std::sqrt(va * vb));
    }
  }
  return best < -1.5 ? -1.0 : std::max(best, kLowestUsable);
}

// A smooth random pelt with a blank patch of `blank` blocks square at a
// corner, and a few values outside the grey range that must count as blank.
Image pelt(unsigned seed, int blank, bool odd_values = false) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  Image im(kBlocks);
  const double fr = 0.1 + 0.3 * u(rng), fc = 0.1 + 0.3 * u(rng), ph = 6 * u(rng);
  for (int c = 0; c < kBlockSide; ++c) {
    for (int r = 0; r < kBlockSide; ++r) {
      const double v = 127 + 80 * std::sin(fr * r + ph) * std::cos(fc * c) + 40 * (u(rng) - 0.5);
      at(im, r, c) = static_cast<int32_t>(std::clamp(v, 0.0, 254.0));
      if (r < blank && c < blank) at(im, r, c) = kBlankBlock;
    }
  }
  if (odd_values) at(im, 10, 10) = 300, at(im, 40, 3) = -7, at(im, 63, 63) = 256;
  return im;
}

// b shows a's pelt moved by (dr, dc) blocks.
Image moved(const Image& a, int dr, int dc) {
  Image b(kBlocks, kBlankBlock);
  for (int c = 0; c < kBlockSide; ++c) {
    for (int r = 0; r < kBlockSide; ++r) {
      const int r0 = r - dr, c0 = c - dc;
      if (r0 >= 0 && r0 < kBlockSide && c0 >= 0 && c0 < kBlockSide) {
        b[c * kBlockSide + r] = a[c0 * kBlockSide + r0];
      }
    }
  }
  return b;
}

TEST(BlockCorrelation, MatchesThePlainReference) {
  struct Case {
    unsigned seed_a, seed_b;
    int blank_a, blank_b, max_shift;
    bool odd;
  };
  const Case cases[] = {{1, 2, 0, 0, 0, false},  {3, 4, 10, 0, 2, false},
                        {5, 6, 0, 20, 2, true},  {7, 8, 30, 30, 3, false},
                        {9, 10, 5, 40, 8, true}, {11, 11, 0, 12, 1, false}};
  for (const Case& k : cases) {
    const Image a = pelt(k.seed_a, k.blank_a, k.odd), b = pelt(k.seed_b, k.blank_b, k.odd);
    // Exact integer sums on both sides; only the final division differs.
    EXPECT_NEAR(block_correlation(a.data(), b.data(), k.max_shift), reference(a, b, k.max_shift),
                1e-12)
        << "seeds " << k.seed_a << " " << k.seed_b << " shift " << k.max_shift;
  }
}

TEST(BlockCorrelation, FindsTheShiftWithinItsRangeOnly) {
  const Image a = pelt(21, 8);
  const Image b = moved(a, 2, -1);
  EXPECT_NEAR(block_correlation(a.data(), b.data(), 2), 1.0, 1e-12);
  const double unshifted = block_correlation(a.data(), b.data(), 1);
  EXPECT_LT(unshifted, 0.9);
  EXPECT_NEAR(unshifted, reference(a, b, 1), 1e-12);
}

TEST(BlockCorrelation, UnusablePairsScoreMinusOneAndUsableOnesMore) {
  Image blank(kBlocks, kBlankBlock), flat(kBlocks, 100), sliver = pelt(31, 60);
  const Image a = pelt(30, 0);
  Image inverted = a;
  for (int32_t& v : inverted) v = 254 - v;
  struct Case {
    const Image* b;
    bool usable;
  };
  const Case cases[] = {{&blank, false}, {&flat, false}, {&sliver, false}, {&inverted, true}};
  for (const Case& k : cases) {
    const double s = block_correlation(a.data(), k.b->data(), kDefaultShift);
    if (k.usable) {
      EXPECT_GT(s, kUnusable);
    } else {
      EXPECT_EQ(s, kUnusable);
    }
  }
  // A shift range outside 0..kMaxShift is held to it, never read past the padding.
  EXPECT_NEAR(block_correlation(a.data(), a.data(), 99), 1.0, 1e-12);
  EXPECT_NEAR(block_correlation(a.data(), a.data(), -3), 1.0, 1e-12);
}

TEST(BlockCorrelation, TheCallGivesTheScoreAndToleratesMissingArguments) {
  const Image a = pelt(41, 6), b = pelt(42, 0);
  const int32_t shift = 2;
  double corr = 5;
  N_FIDUCIAL_DOTS(a.data(), nullptr, nullptr, nullptr, nullptr, nullptr, b.data(), nullptr, nullptr,
                  nullptr, nullptr, nullptr, &shift, &corr);
  EXPECT_NEAR(corr, reference(a, b, 2), 1e-12);
  N_FIDUCIAL_DOTS(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, b.data(), nullptr, nullptr,
                  nullptr, nullptr, nullptr, &shift, &corr);
  EXPECT_EQ(corr, kUnusable);
}

}  // namespace
}  // namespace velmora::corrowen
