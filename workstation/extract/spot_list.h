// The spot list of one extract: the feature points (dots, stripe ends and
// branch points, or points the operator added) that the fingerprint, the
// feature file and the spot comparison use.
//
// Positions are 1-based (row 1..256 from the top, column 1..256 from the
// left) and kept as floats, since merging two spots puts the new one at their
// mean. The list is ordered best first once the feature step has run; the
// operator's "number of spots" keeps the first N.
#pragma once

#include <vector>

namespace velmora::extract {

// Kinds a feature step gives; merged spots may carry a mean such as 1.5.
// For stripe points the kind says on which side of the point the stripe
// lies: 1 towards larger columns (or rows), 3 towards smaller ones, 2 both or
// neither. Dots are always kind 2.
inline constexpr float kSpotKindForward = 1.0f;
inline constexpr float kSpotKindBoth = 2.0f;
inline constexpr float kSpotKindBackward = 3.0f;

// The longest list the feature steps build.
inline constexpr int kMaxSpots = 1000;

struct Spot {
  float score = 0.0f;  // strength of the feature; larger is stronger
  float row = 0.0f;
  float column = 0.0f;
  float kind = kSpotKindBoth;
  // Set by the operator: the spot may not be one of a seed triangle's corners.
  bool excluded_from_seeds = false;
  friend bool operator==(const Spot&, const Spot&) = default;
};

using SpotList = std::vector<Spot>;

}  // namespace velmora::extract
