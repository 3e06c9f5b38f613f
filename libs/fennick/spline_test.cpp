// The body model's curves against plain references: a natural spline
// solved as a dense system, a function the periodic spline must follow, and
// the shape-preserving curve's promise never to leave its data's range.
#include "libs/fennick/spline.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <numbers>
#include <random>

namespace velmora::fennick {
namespace {

// Second derivatives of the natural spline through (x, y), by a dense solve
// of the defining equations (continuity of slope at inner knots, zero
// curvature at the ends).
Eigen::VectorXd natural_second_derivatives(const std::vector<double>& x,
                                           const std::vector<double>& y) {
  const int n = static_cast<int>(x.size());
  Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, n);
  Eigen::VectorXd b = Eigen::VectorXd::Zero(n);
  a(0, 0) = a(n - 1, n - 1) = 1;
  for (int i = 1; i + 1 < n; ++i) {
    const double h0 = x[i] - x[i - 1], h1 = x[i + 1] - x[i];
    a(i, i - 1) = h0 / 6;
    a(i, i) = (h0 + h1) / 3;
    a(i, i + 1) = h1 / 6;
    b(i) = (y[i + 1] - y[i]) / h1 - (y[i] - y[i - 1]) / h0;
  }
  return a.fullPivLu().solve(b);
}

double reference_natural(const std::vector<double>& x, const std::vector<double>& y,
                         const Eigen::VectorXd& m, double v) {
  int i = 0;
  while (i + 2 < static_cast<int>(x.size()) && v > x[i + 1]) ++i;
  const double h = x[i + 1] - x[i], a = (x[i + 1] - v) / h, b = (v - x[i]) / h;
  return a * y[i] + b * y[i + 1] +
         ((a * a * a - a) * m(i) + (b * b * b - b) * m(i + 1)) * h * h / 6;
}

TEST(Curves, NaturalCurveMatchesADenseSolve) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> step(5, 60), value(-20, 20);
  for (int trial = 0; trial < 20; ++trial) {
    const int n = 2 + trial % 15;
    std::vector<double> x{0}, y;
    for (int i = 1; i < n; ++i) x.push_back(x.back() + step(rng));
    for (int i = 0; i < n; ++i) y.push_back(value(rng));
    const NaturalCurve curve(x, y);
    const Eigen::VectorXd m = n > 2 ? natural_second_derivatives(x, y) : Eigen::VectorXd::Zero(n);
    for (int s = 0; s <= 200; ++s) {
      const double v = x.front() + (x.back() - x.front()) * s / 200;
      // The two solve the same small system; they differ by rounding only.
      EXPECT_NEAR(curve.at(v).value, reference_natural(x, y, m, v), 1e-9) << trial << " " << v;
      const double h = 1e-5;
      if (v - h > x.front() && v + h < x.back()) {
        EXPECT_NEAR(
            curve.at(v).slope,
            (reference_natural(x, y, m, v + h) - reference_natural(x, y, m, v - h)) / (2 * h),
            1e-5);
      }
    }
    // Outside: the end values, flat.
    EXPECT_EQ(curve.at(x.front() - 10).value, y.front());
    EXPECT_EQ(curve.at(x.back() + 10).value, y.back());
    EXPECT_EQ(curve.at(x.back() + 10).slope, 0.0);
  }
}

TEST(Curves, ShapePreservingCurveStaysWithinItsData) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> step(5, 60), value(1, 80);
  for (int trial = 0; trial < 30; ++trial) {
    const int n = 2 + trial % 19;
    std::vector<double> x{0}, y;
    for (int i = 1; i < n; ++i) x.push_back(x.back() + step(rng));
    for (int i = 0; i < n; ++i) y.push_back(value(rng));
    const ShapePreservingCurve curve(x, y);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(curve.at(x[i]).value, y[i], 1e-12);
    for (int i = 0; i + 1 < n; ++i) {
      const double lo = std::min(y[i], y[i + 1]), hi = std::max(y[i], y[i + 1]);
      for (int s = 1; s < 50; ++s) {
        const double v = x[i] + (x[i + 1] - x[i]) * s / 50;
        const CurveValue c = curve.at(v);
        EXPECT_GE(c.value, lo - 1e-9) << trial << " " << i;
        EXPECT_LE(c.value, hi + 1e-9) << trial << " " << i;
        const double h = 1e-6;
        EXPECT_NEAR(c.slope, (curve.at(v + h).value - curve.at(v - h).value) / (2 * h), 1e-4);
      }
    }
  }
}

TEST(Curves, PeriodicCurveFollowsASmoothFunctionRoundTheTurn) {
  const int q = 24;
  auto f = [](double a) { return 1 + 0.1 * std::cos(a) + 0.05 * std::sin(2 * a); };
  std::vector<double> y;
  for (int i = 0; i < q; ++i) y.push_back(f(2 * std::numbers::pi * i / q));
  const PeriodicCurve curve(y);
  for (int i = 0; i < q; ++i)
    EXPECT_NEAR(curve.at(2 * std::numbers::pi * i / q).value, y[i], 1e-12);
  for (int s = -300; s <= 300; ++s) {
    const double a = s * 0.0377;
    // A cubic spline with 15-degree steps follows these harmonics to
    // about 1e-5 (error ~ h^4 f'''' / 384).
    EXPECT_NEAR(curve.at(a).value, f(a), 2e-5) << a;
    EXPECT_NEAR(curve.at(a).slope, -0.1 * std::sin(a) + 0.1 * std::cos(2 * a), 5e-4) << a;
    // One turn on, the same.
    EXPECT_NEAR(curve.at(a + 2 * std::numbers::pi).value, curve.at(a).value, 1e-12);
  }
}

}  // namespace
}  // namespace velmora::fennick
