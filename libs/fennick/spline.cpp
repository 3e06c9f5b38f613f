// The body model's curves (spline.h). Hermite form on each interval:
// value and slope at both ends give the cubic; the kinds differ only in how
// the slopes (or second derivatives) at the knots are chosen.
#include "libs/fennick/spline.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velmora::fennick {

int interval_of(const std::vector<double>& x, double v) {
  const auto it = std::upper_bound(x.begin() + 1, x.end() - 1, v);
  return static_cast<int>(it - x.begin()) - 1;
}

namespace {

// Cubic Hermite on [x0, x0 + h] with values y0, y1 and slopes d0, d1.
CurveValue hermite(double x, double x0, double h, double y0, double y1, double d0, double d1) {
  const double t = (x - x0) / h;
  const double t2 = t * t, t3 = t2 * t;
  const double h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t;
  const double h01 = -2 * t3 + 3 * t2, h11 = t3 - t2;
  const double g00 = (6 * t2 - 6 * t) / h, g10 = 3 * t2 - 4 * t + 1;
  const double g01 = (-6 * t2 + 6 * t) / h, g11 = 3 * t2 - 2 * t;
  return {h00 * y0 + h10 * h * d0 + h01 * y1 + h11 * h * d1,
          g00 * y0 + g10 * d0 + g01 * y1 + g11 * d1};
}

// Cubic on [x0, x0 + h] from end values and second derivatives.
CurveValue from_second(double x, double x0, double h, double y0, double y1, double m0, double m1) {
  const double a = (x0 + h - x) / h, b = (x - x0) / h;
  const double value = a * y0 + b * y1 + ((a * a * a - a) * m0 + (b * b * b - b) * m1) * h * h / 6;
  const double slope = (y1 - y0) / h + (-(3 * a * a - 1) * m0 + (3 * b * b - 1) * m1) * h / 6;
  return {value, slope};
}

}  // namespace

ShapePreservingCurve::ShapePreservingCurve(std::vector<double> x, std::vector<double> y)
    : x_(std::move(x)), y_(std::move(y)), d_(x_.size(), 0.0) {
  const std::size_t n = x_.size();
  std::vector<double> h(n - 1), delta(n - 1);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    h[i] = x_[i + 1] - x_[i];
    delta[i] = (y_[i + 1] - y_[i]) / h[i];
  }
  // Fritsch-Carlson: inner slopes are a weighted harmonic mean of the two
  // chords, zero where the data turn, so no interval leaves its data's range.
  for (std::size_t i = 1; i + 1 < n; ++i) {
    if (delta[i - 1] * delta[i] <= 0) continue;
    const double w1 = 2 * h[i] + h[i - 1], w2 = h[i] + 2 * h[i - 1];
    d_[i] = (w1 + w2) / (w1 / delta[i - 1] + w2 / delta[i]);
  }
  if (n == 2) {
    d_[0] = d_[1] = delta[0];
    return;
  }
  // End slopes from a three-point formula, limited the same way.
  auto end_slope = [](double h0, double h1, double d0, double d1) {
    double d = ((2 * h0 + h1) * d0 - h0 * d1) / (h0 + h1);
    if (d * d0 <= 0) return 0.0;
    if (d0 * d1 <= 0 && std::abs(d) > 3 * std::abs(d0)) return 3 * d0;
    return d;
  };
  d_[0] = end_slope(h[0], h[1], delta[0], delta[1]);
  d_[n - 1] = end_slope(h[n - 2], h[n - 3], delta[n - 2], delta[n - 3]);
}

CurveValue ShapePreservingCurve::at(double x) const {
  if (x <= x_.front()) return {y_.front(), 0.0};
  if (x >= x_.back()) return {y_.back(), 0.0};
  const int i = interval_of(x_, x);
  return hermite(x, x_[i], x_[i + 1] - x_[i], y_[i], y_[i + 1], d_[i], d_[i + 1]);
}

NaturalCurve::NaturalCurve(std::vector<double> x, std::vector<double> y)
    : x_(std::move(x)), y_(std::move(y)), m_(x_.size(), 0.0) {
  const std::size_t n = x_.size();
  if (n < 3) return;
  // Tridiagonal system for the inner second derivatives (ends zero).
  std::vector<double> diag(n, 0.0), rhs(n, 0.0), upper(n, 0.0);
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const double h0 = x_[i] - x_[i - 1], h1 = x_[i + 1] - x_[i];
    const double lower = h0 / 6;
    diag[i] = (h0 + h1) / 3;
    upper[i] = h1 / 6;
    rhs[i] = (y_[i + 1] - y_[i]) / h1 - (y_[i] - y_[i - 1]) / h0;
    if (i > 1) {
      const double f = lower / diag[i - 1];
      diag[i] -= f * upper[i - 1];
      rhs[i] -= f * rhs[i - 1];
    }
  }
  for (std::size_t i = n - 2; i >= 1; --i) m_[i] = (rhs[i] - upper[i] * m_[i + 1]) / diag[i];
}

CurveValue NaturalCurve::at(double x) const {
  if (x <= x_.front()) return {y_.front(), 0.0};
  if (x >= x_.back()) return {y_.back(), 0.0};
  const int i = interval_of(x_, x);
  return from_second(x, x_[i], x_[i + 1] - x_[i], y_[i], y_[i + 1], m_[i], m_[i + 1]);
}

PeriodicCurve::PeriodicCurve(std::vector<double> y)
    : y_(std::move(y)), m_(y_.size(), 0.0), step_(2 * std::numbers::pi / y_.size()) {
  // Cyclic system h/6 m[i-1] + 2h/3 m[i] + h/6 m[i+1] = (y[i+1] - 2y[i] + y[i-1]) / h,
  // solved by Gauss-Seidel: the matrix is strongly diagonally dominant (4:1),
  // so each sweep gains more than a factor of two.
  const std::size_t n = y_.size();
  const double h = step_;
  std::vector<double> rhs(n);
  for (std::size_t i = 0; i < n; ++i)
    rhs[i] = (y_[(i + 1) % n] - 2 * y_[i] + y_[(i + n - 1) % n]) / h;
  for (int sweep = 0; sweep < 200; ++sweep) {
    double change = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const double next = (rhs[i] - h / 6 * (m_[(i + n - 1) % n] + m_[(i + 1) % n])) / (2 * h / 3);
      change = std::max(change, std::abs(next - m_[i]));
      m_[i] = next;
    }
    if (change < 1e-15) break;
  }
}

CurveValue PeriodicCurve::at(double angle) const {
  const double turn = 2 * std::numbers::pi;
  double a = std::fmod(angle, turn);
  if (a < 0) a += turn;
  const std::size_t n = y_.size();
  std::size_t i = static_cast<std::size_t>(a / step_);
  if (i >= n) i = n - 1;
  const std::size_t j = (i + 1) % n;
  return from_second(a, i * step_, step_, y_[i], y_[j], m_[i], m_[j]);
}

}  // namespace velmora::fennick
