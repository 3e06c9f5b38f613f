// Interpolating curves of the body model, each evaluated with its slope.
//
//   ShapePreservingCurve  piecewise cubic through the profile rows that never
//                         overshoots its data (a girth between two rows stays
//                         between their girths), slopes continuous;
//   NaturalCurve          natural cubic spline through knots: the smooth,
//                         bending deformations the fit changes;
//   PeriodicCurve         periodic cubic spline through values at equal
//                         steps round a full turn: the cross-section's shape.
//
// Outside its knots a curve keeps its end value (slope 0): the body does not
// grow beyond its first and last rows. Built once, evaluated many times; an
// evaluation allocates nothing and is safe from several threads.
#pragma once

#include <vector>

namespace velmora::fennick {

// Value and slope of a curve at one place.
struct CurveValue {
  double value = 0;
  double slope = 0;
};

class ShapePreservingCurve {
 public:
  ShapePreservingCurve() = default;
  // x strictly increasing, at least two points, y the same length.
  ShapePreservingCurve(std::vector<double> x, std::vector<double> y);
  CurveValue at(double x) const;

 private:
  std::vector<double> x_, y_, d_;  // d: slope at each point
};

class NaturalCurve {
 public:
  NaturalCurve() = default;
  // x strictly increasing, at least two points, y the same length.
  NaturalCurve(std::vector<double> x, std::vector<double> y);
  CurveValue at(double x) const;

 private:
  std::vector<double> x_, y_, m_;  // m: second derivative at each knot
};

class PeriodicCurve {
 public:
  PeriodicCurve() = default;
  // Values at angles 2 pi i / n, i = 0..n-1; n at least 3.
  explicit PeriodicCurve(std::vector<double> y);
  // Any angle (radians); the curve repeats every full turn.
  CurveValue at(double angle) const;

 private:
  std::vector<double> y_, m_;
  double step_ = 0;
};

// Index i of the interval [x[i], x[i+1]] holding v (x increasing, v inside).
int interval_of(const std::vector<double>& x, double v);

}  // namespace velmora::fennick
