#include "workstation/matching/numerics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

namespace velmora::matching {
namespace {

using Complex = std::complex<double>;

struct Grid {
  int m, n;
  std::vector<double> re, im;
};

Grid random_grid(int m, int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Grid g{m, n, std::vector<double>(static_cast<size_t>(m * n)),
         std::vector<double>(static_cast<size_t>(m * n))};
  for (int i = 0; i < m * n; ++i) {
    g.re[i] = u(rng);
    g.im[i] = u(rng);
  }
  return g;
}

// Element (k1, k2) of the scaled forward DFT, straight from its definition.
Complex direct_dft(const Grid& g, int k1, int k2) {
  Complex sum = 0.0;
  for (int j1 = 0; j1 < g.m; ++j1) {
    for (int j2 = 0; j2 < g.n; ++j2) {
      const double angle =
          -2.0 * std::numbers::pi *
          (static_cast<double>(j1) * k1 / g.m + static_cast<double>(j2) * k2 / g.n);
      sum += Complex(g.re[j1 * g.n + j2], g.im[j1 * g.n + j2]) *
             Complex(std::cos(angle), std::sin(angle));
    }
  }
  return sum / std::sqrt(static_cast<double>(g.m) * g.n);
}

void forward(Grid* g, const char* init) {
  std::vector<double> trigm(2 * g->m), trign(2 * g->n), work(2 * g->m * g->n);
  int ifail = 1;
  C06FUF(g->m, g->n, g->re.data(), g->im.data(), init, trigm.data(), trign.data(), work.data(),
         ifail);
  ASSERT_EQ(ifail, 0);
}

TEST(C06FUF, ForwardConjugateForwardConjugateReturnsTheArray) {
  Grid g = random_grid(256, 256, 11);
  const Grid start = g;
  int ifail = 1;
  const int count = 256 * 256;
  forward(&g, "I");
  C06GCF(g.im.data(), count, ifail);
  ASSERT_EQ(ifail, 0);
  forward(&g, "S");
  C06GCF(g.im.data(), count, ifail);
  // Two transforms of 65536 points: rounding grows with log2(65536) = 16
  // butterfly stages, about 1e-15 each on values of size 1; 1e-12 leaves
  // ample room yet catches any scaling or sign error (errors of order 1).
  for (int i = 0; i < count; ++i) {
    ASSERT_NEAR(g.re[i], start.re[i], 1e-12) << i;
    ASSERT_NEAR(g.im[i], start.im[i], 1e-12) << i;
  }
}

TEST(C06FUF, AgreesWithADirectTransform) {
  // Non-square and non-power-of-two sizes check the row-major layout
  // (element (i, j) at (i-1)*N + (j-1)) and the sign of the exponent.
  for (auto [m, n] : {std::pair{4, 8}, std::pair{3, 5}, std::pair{8, 2}}) {
    Grid g = random_grid(m, n, 7u + static_cast<unsigned>(m * n));
    const Grid start = g;
    forward(&g, "I");
    for (int k1 = 0; k1 < m; ++k1) {
      for (int k2 = 0; k2 < n; ++k2) {
        const Complex want = direct_dft(start, k1, k2);
        // A direct sum of at most 40 terms of size 1: rounding about 1e-14.
        EXPECT_NEAR(g.re[k1 * n + k2], want.real(), 1e-12) << m << "x" << n;
        EXPECT_NEAR(g.im[k1 * n + k2], want.imag(), 1e-12) << m << "x" << n;
      }
    }
  }
}

TEST(C06FUF, FullSizeTransformMatchesTheDefinitionAtSampledPoints) {
  Grid g = random_grid(256, 256, 3);
  const Grid start = g;
  forward(&g, "I");
  for (auto [k1, k2] : {std::pair{0, 0}, std::pair{0, 1}, std::pair{1, 0}, std::pair{5, 200},
                        std::pair{128, 128}, std::pair{255, 17}}) {
    const Complex want = direct_dft(start, k1, k2);
    // 65536-term direct sums carry about 1e-13 of rounding of their own.
    EXPECT_NEAR(g.re[k1 * 256 + k2], want.real(), 1e-10) << k1 << "," << k2;
    EXPECT_NEAR(g.im[k1 * 256 + k2], want.imag(), 1e-10) << k1 << "," << k2;
  }
}

TEST(C06FUF, ImpulseSpreadsEvenlyWithUnitaryScaling) {
  Grid g{256, 256, std::vector<double>(65536, 0.0), std::vector<double>(65536, 0.0)};
  g.re[0] = 1.0;
  forward(&g, "I");
  for (int i = 0; i < 65536; ++i) {
    // Exact in principle (1/256 is a power of two); 1e-15 for the FFT's
    // twiddle arithmetic.
    ASSERT_NEAR(g.re[i], 1.0 / 256.0, 1e-15) << i;
    ASSERT_NEAR(g.im[i], 0.0, 1e-15) << i;
  }
}

TEST(C06FUF, ReusedPlanServesAnyPairOfArrays) {
  // The same data in other arrays, one at an offset of one double: the
  // plan made for the first arrays must serve any others of that size.
  Grid g = random_grid(16, 16, 5);
  forward(&g, "I");
  Grid h = random_grid(16, 16, 5);
  std::vector<double> re(257), im(257);
  std::copy(h.re.begin(), h.re.end(), re.begin() + 1);
  std::copy(h.im.begin(), h.im.end(), im.begin());
  int ifail = 1;
  C06FUF(16, 16, re.data() + 1, im.data(), "S", nullptr, nullptr, nullptr, ifail);
  ASSERT_EQ(ifail, 0);
  for (int i = 0; i < 256; ++i) {
    // One plan, same data: the same arithmetic, so the same bits.
    EXPECT_EQ(re[i + 1], g.re[i]);
    EXPECT_EQ(im[i], g.im[i]);
  }
}

TEST(C06FUF, RefusesBadArgumentsAndLeavesTheDataAlone) {
  Grid g = random_grid(4, 4, 9);
  const Grid start = g;
  int ifail = 0;
  C06FUF(4, 4, g.re.data(), g.im.data(), "X", nullptr, nullptr, nullptr, ifail);
  EXPECT_EQ(ifail, 3);
  C06FUF(0, 4, g.re.data(), g.im.data(), "I", nullptr, nullptr, nullptr, ifail);
  EXPECT_EQ(ifail, 1);
  C06FUF(4, -1, g.re.data(), g.im.data(), "I", nullptr, nullptr, nullptr, ifail);
  EXPECT_EQ(ifail, 2);
  EXPECT_EQ(g.re, start.re);
  EXPECT_EQ(g.im, start.im);
}

TEST(C06GCF, NegatesImaginaryParts) {
  std::vector<double> y = {1.5, -2.0, 0.0, 3.25};
  int ifail = 1;
  C06GCF(y.data(), 3, ifail);
  EXPECT_EQ(ifail, 0);
  EXPECT_EQ(y, (std::vector<double>{-1.5, 2.0, -0.0, 3.25}));  // the fourth is outside n
  C06GCF(y.data(), 0, ifail);
  EXPECT_EQ(ifail, 1);
}

TEST(F01CKF, MultipliesColumnByColumnMatrices) {
  // B = [1 2 3; 4 5 6; 7 8 10] and C = [0 1 0; 0 0 1; 1 0 0] (a column
  // rotation), stored column by column. B*C moves column 3 of B to the
  // front: [3 1 2; 6 4 5; 10 7 8].
  const std::vector<double> b = {1, 4, 7, 2, 5, 8, 3, 6, 10};
  const std::vector<double> c = {0, 0, 1, 1, 0, 0, 0, 1, 0};
  std::vector<double> a(9, -1.0), z(3);
  int ifail = 1;
  F01CKF(a.data(), b.data(), c.data(), 3, 3, 3, z.data(), 3, 1, ifail);
  EXPECT_EQ(ifail, 0);
  EXPECT_EQ(a, (std::vector<double>{3, 6, 10, 1, 4, 7, 2, 5, 8}));

  // A general product worked by hand: [1 2 0; 0 1 0; 0 0 2] * [1 0 1; 2 1 0; 0 3 1]
  // = [5 2 1; 2 1 0; 0 6 2].
  const std::vector<double> p = {1, 0, 0, 2, 1, 0, 0, 0, 2};
  const std::vector<double> q = {1, 2, 0, 0, 1, 3, 1, 0, 1};
  F01CKF(a.data(), p.data(), q.data(), 3, 3, 3, z.data(), 3, 1, ifail);
  EXPECT_EQ(a, (std::vector<double>{5, 2, 0, 2, 1, 6, 1, 0, 2}));
}

TEST(F01CKF, ResultMayOverwriteAnOperand) {
  std::vector<double> b = {1, 0, 0, 2, 1, 0, 0, 0, 2};
  const std::vector<double> c = {1, 2, 0, 0, 1, 3, 1, 0, 1};
  std::vector<double> z(3);
  int ifail = 1;
  F01CKF(b.data(), b.data(), c.data(), 3, 3, 3, z.data(), 3, 2, ifail);
  EXPECT_EQ(ifail, 0);
  EXPECT_EQ(b, (std::vector<double>{5, 2, 0, 2, 1, 6, 1, 0, 2}));
  F01CKF(b.data(), b.data(), c.data(), 3, 3, 3, z.data(), 3, 4, ifail);
  EXPECT_EQ(ifail, 2);
  F01CKF(b.data(), b.data(), c.data(), 0, 3, 3, z.data(), 3, 1, ifail);
  EXPECT_EQ(ifail, 1);
}

TEST(S14ABF, LogGammaAtKnownPoints) {
  int ifail = 1;
  EXPECT_EQ(S14ABF(1.0, ifail), 0.0);
  EXPECT_EQ(ifail, 0);
  EXPECT_EQ(S14ABF(2.0, ifail), 0.0);
  EXPECT_EQ(ifail, 0);
  // Gamma(1/2) = sqrt(pi); Gamma(10) = 9! = 362880. Library lgamma is
  // accurate to a few ulps: 1e-13 relative.
  EXPECT_NEAR(S14ABF(0.5, ifail), 0.5 * std::log(std::numbers::pi), 1e-13);
  EXPECT_NEAR(S14ABF(10.0, ifail), std::log(362880.0), 1e-13 * std::log(362880.0));
}

TEST(S14ABF, InvalidArgumentsAreReportedNotFatal) {
  int ifail = 0;
  EXPECT_EQ(S14ABF(0.0, ifail), 0.0);
  EXPECT_EQ(ifail, 1);
  ifail = 0;
  S14ABF(-2.5, ifail);
  EXPECT_EQ(ifail, 1);
  ifail = 0;
  S14ABF(std::nan(""), ifail);
  EXPECT_EQ(ifail, 2);
  ifail = 0;
  S14ABF(INFINITY, ifail);
  EXPECT_EQ(ifail, 2);
  ifail = 0;
  S14ABF(1e308, ifail);  // ln Gamma overflows
  EXPECT_EQ(ifail, 2);
}

}  // namespace
}  // namespace velmora::matching
