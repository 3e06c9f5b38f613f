// Rounding to the nearest whole number with halves to even, the one rule
// for every conversion of a value to a whole number or a byte (settings,
// kernel regions, feature and fingerprint bytes). Exact for any double; it
// does not depend on the floating-point environment's rounding mode.
#pragma once

#include <cmath>

namespace velmora {

inline double round_half_even(double x) {
  const double below = std::floor(x);
  const double fraction = x - below;
  if (fraction < 0.5) return below;
  if (fraction > 0.5) return below + 1.0;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

}  // namespace velmora
