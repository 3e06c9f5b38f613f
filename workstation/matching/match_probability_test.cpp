#include "workstation/matching/match_probability.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>

namespace velmora::matching {
namespace {

// The Gamma density with mean m and deviation s, written out independently.
double reference_density(double m, double s, double x) {
  const double k = m * m / (s * s), b = m / (s * s);
  return std::pow(b, k) * std::pow(x, k - 1.0) * std::exp(-b * x) / std::tgamma(k);
}

// normscore with both extracts on the stats non-match model (no own scores).
double stats_only(double score, double rmu_m, double sig_m, double rmu_n, double sig_n,
                  DensityFault* fault = nullptr) {
  return normscore(score, 0, 0, 0, 0, 0, 0, rmu_m, sig_m, rmu_n, sig_n, 0, "a", 0.005, fault);
}

TEST(GammaDensity, IsTheGammaLawWithTheGivenMeanAndDeviation) {
  for (auto [m, s, x] : {std::tuple{2.0, 1.0, 1.5}, std::tuple{1.0, 1.0, 0.3},
                         std::tuple{0.4, 0.1, 0.45}, std::tuple{0.2, 0.08, 0.05}}) {
    double mean = m;
    DensityFault fault = DensityFault::kShape;
    const double d = gamma_density(mean, s, x, &fault);
    EXPECT_EQ(fault, DensityFault::kNone);
    // Both sides are a handful of libm calls: agreement to 1e-12 relative.
    EXPECT_NEAR(d, reference_density(m, s, x), 1e-12 * reference_density(m, s, x))
        << m << " " << s << " " << x;
  }
}

TEST(GammaDensity, NegativeMeanIsReplacedByItsAbsoluteValue) {
  double mean = -2.0;
  double positive = 2.0;
  const double d = gamma_density(mean, 1.0, 1.5);
  EXPECT_EQ(mean, 2.0);
  EXPECT_EQ(d, gamma_density(positive, 1.0, 1.5));
}

TEST(GammaDensity, NoShapeOrNoLogarithmIsAFaultNotAnEnd) {
  DensityFault fault = DensityFault::kNone;
  double mean = 0.0;
  EXPECT_EQ(gamma_density(mean, 0.1, 0.5, &fault), 0.0);
  EXPECT_EQ(fault, DensityFault::kShape);  // mean 0: shape 0
  mean = 0.5;
  EXPECT_EQ(gamma_density(mean, 0.0, 0.5, &fault), 0.0);
  EXPECT_EQ(fault, DensityFault::kShape);  // deviation 0: no rate
  EXPECT_EQ(gamma_density(mean, 0.1, 0.0, &fault), 0.0);
  EXPECT_EQ(fault, DensityFault::kLogOfZero);  // score 0: no ln x
  EXPECT_EQ(gamma_density(mean, std::nan(""), 0.5, &fault), 0.0);
  EXPECT_EQ(fault, DensityFault::kShape);
}

TEST(Normscore, EqualDensitiesGiveThePrior) {
  // Match and non-match laws the same: dNon = dMatch, so P / (P + 1 - P) = P.
  DensityFault fault = DensityFault::kShape;
  EXPECT_DOUBLE_EQ(stats_only(0.5, 0.5, 0.1, 0.5, 0.1, &fault), 0.005);
  EXPECT_EQ(fault, DensityFault::kNone);
}

TEST(Normscore, NoNonMatchDensityGivesOne) {
  // A non-match law so narrow round 0.1 that its density at 0.6 is 0.
  double mean = 0.1;
  ASSERT_EQ(gamma_density(mean, 0.001, 0.6), 0.0);
  EXPECT_DOUBLE_EQ(stats_only(0.6, 0.6, 0.1, 0.1, 0.001), 1.0);
}

TEST(Normscore, CombinesTheLargerNonMatchDensityWithThePrior) {
  const double x = 0.45, P = 0.005;
  const double d_match = reference_density(0.6, 0.1, x);
  const double d_non = reference_density(0.3, 0.1, x);
  const double want = P / (P + (1 - P) * d_non / d_match);
  // The log-space evaluation against the plain formula: 1e-12 relative.
  EXPECT_NEAR(stats_only(x, 0.6, 0.1, 0.3, 0.1), want, 1e-12 * want);

  // Own models: 20 scores of the second extract (sum 6, squares 2) give mean
  // 0.3 and deviation sqrt((2 - 36/20)/19); the first extract has none and
  // uses stats (mean 0.2, deviation 0.05). The larger density wins.
  const double own_sd = std::sqrt((2.0 - 36.0 / 20.0) / 19.0);
  const double d_second = reference_density(0.3, own_sd, x);
  const double d_first = reference_density(0.2, 0.05, x);
  const double want_own = P / (P + (1 - P) * std::max(d_second, d_first) / d_match);
  const double got = normscore(x, 20, 6, 2, 0, 0, 0, 0.6, 0.1, 0.2, 0.05, 0, "a", P);
  // Counts pass through 32-bit floats (sum 6 and squares 2 are exact there).
  EXPECT_NEAR(got, want_own, 1e-9 * want_own);

  // Nineteen scores are too few: the stats model serves the second extract.
  const double with_19 = normscore(x, 19, 6, 2, 0, 0, 0, 0.6, 0.1, 0.2, 0.05, 0, "a", P);
  const double want_19 =
      P / (P + (1 - P) * std::max(reference_density(0.2, 0.05, x), d_first) / d_match);
  EXPECT_NEAR(with_19, want_19, 1e-12 * want_19);
  EXPECT_GT(std::fabs(with_19 - got), 1e-6);
}

TEST(Normscore, FirstExtractColumnsFeedTheirOwnModel) {
  // The same 20 scores given as the first extract's (L) columns.
  const double x = 0.45, P = 0.005;
  const double own_sd = std::sqrt((2.0 - 36.0 / 20.0) / 19.0);
  const double d_first = reference_density(0.3, own_sd, x);
  const double d_second = reference_density(0.2, 0.05, x);
  const double want =
      P / (P + (1 - P) * std::max(d_first, d_second) / reference_density(0.6, 0.1, x));
  EXPECT_NEAR(normscore(x, 0, 0, 0, 20, 6, 2, 0.6, 0.1, 0.2, 0.05, 0, "a", P), want, 1e-9 * want);
}

TEST(Normscore, NegativeVarianceFallsBackToTheStatsDeviation) {
  // 20 scores of sum 6 but squares 1 < 36/20: variance below 0. Mean 0.3 is
  // kept, the deviation becomes sigma_nonmatch (0.07).
  const double x = 0.45, P = 0.005;
  const double d_second = reference_density(0.3, 0.07, x);
  const double d_first = reference_density(0.25, 0.07, x);
  const double want =
      P / (P + (1 - P) * std::max(d_second, d_first) / reference_density(0.6, 0.1, x));
  EXPECT_NEAR(normscore(x, 20, 6, 1, 0, 0, 0, 0.6, 0.1, 0.25, 0.07, 0, "a", P), want, 1e-9 * want);
}

TEST(Normscore, LowAndNegativeScoresGiveZeroWithoutFault) {
  DensityFault fault = DensityFault::kShape;
  EXPECT_EQ(stats_only(0.25, 0.6, 0.1, 0.3, 0.1, &fault), 0.0);  // below 0.6 - 3 * 0.1
  EXPECT_EQ(fault, DensityFault::kNone);
  EXPECT_EQ(stats_only(-0.1, -1.0, 1.0, 0.3, 0.1, &fault), 0.0);  // negative
  EXPECT_EQ(fault, DensityFault::kNone);
  EXPECT_GT(stats_only(0.31, 0.6, 0.1, 0.3, 0.1), 0.0);  // just above the limit
}

TEST(Normscore, UndefinedDensitiesGiveZeroAndAFault) {
  DensityFault fault = DensityFault::kNone;
  // No stats row: every value 0, the match law has no shape.
  EXPECT_EQ(stats_only(0.5, 0, 0, 0, 0, &fault), 0.0);
  EXPECT_EQ(fault, DensityFault::kShape);
  // A score of exactly 0 passes the limit but has no logarithm.
  EXPECT_EQ(stats_only(0.0, 0.1, 0.1, 0.3, 0.1, &fault), 0.0);
  EXPECT_EQ(fault, DensityFault::kLogOfZero);
  // An extract whose own 20 scores are all 0.5: deviation 0.
  EXPECT_EQ(normscore(0.5, 20, 10, 5, 0, 0, 0, 0.6, 0.1, 0.3, 0.1, 0, "a", 0.005, &fault), 0.0);
  EXPECT_EQ(fault, DensityFault::kShape);
}

TEST(Normscore, PriorDecidesWhenTheRatioHasNoValue) {
  // dNon = 0 against a prior of 0 would be 0/0; dMatch = 0 against a prior
  // of 1 would be 0 * infinity.
  EXPECT_EQ(normscore(0.6, 0, 0, 0, 0, 0, 0, 0.6, 0.1, 0.1, 0.001, 0, "a", 0.0), 0.0);
  EXPECT_EQ(normscore(0.6, 0, 0, 0, 0, 0, 0, 0.1, 0.001, 0.6, 0.1, 0, "a", 1.0), 1.0);
  EXPECT_EQ(normscore(0.6, 0, 0, 0, 0, 0, 0, 0.1, 0.001, 0.6, 0.1, 0, "a", 0.005), 0.0);
}

}  // namespace
}  // namespace velmora::matching
