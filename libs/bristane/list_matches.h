// bristane: N_LISTMATCHES, the key-list matcher of the key-point comparison.
//
// What m measures. Every key of the first list is matched to its nearest key
// of the second list by descriptor distance (Euclidean, exact in integers),
// kept only when it is clearly nearer than the runner-up (distance below
// `ratio` times the runner-up's: a pelt repeats its marks, and a key whose
// two best partners are about as good says nothing). These tentative matches
// are then checked against one geometry: the second extract should be the
// first one moved, turned and scaled a little, since both were cut from the
// same body model. A similarity transform (scale, rotation, shift) is taken
// from every pair among the most distinctive tentative matches; the one that
// the most matches agree with (position within a tolerance, key orientation
// turned by the model's rotation, key scale changed by about the model's
// scale) is refitted to its agreeing matches by least squares and counted
// again. m is the number of tentative matches consistent with the best
// model, or 0 when fewer than three are: two matches fit a similarity
// exactly whatever they are, and a third that agrees by chance is rare.
// Different animals give m = 0 nearly always; the same animal seen twice
// gives tens.
//
// Speed: the descriptor distances are the whole cost (n1 x n2 dot products
// of 128 values), computed on 16-bit copies of the descriptors with the
// processor's multiply-add, four keys of the second list at a time. The
// matcher keeps its scratch arrays between calls, so a pair costs no
// allocation once the largest lists have been seen. A KeyMatcher serves one
// thread; N_LISTMATCHES keeps one per thread.
#pragma once

#include <cstdint>
#include <vector>

#include "libs/bristane/key_list.h"

namespace velmora::bristane {

// Return codes of N_LISTMATCHES.
inline constexpr std::int32_t kListMatchesOk = 0;
inline constexpr std::int32_t kListMatchesBadCount = 1;      // a count outside 0..kMaxKeys
inline constexpr std::int32_t kListMatchesNullPointer = 2;   // a pointer it needs is null
inline constexpr std::int32_t kListMatchesBadParameter = 3;  // a value outside its range below

// The matcher's settings (ranges as N_LISTMATCHES checks them).
struct MatchParameters {
  double ratio = 0.8;              // (0, 1]: nearest below ratio x runner-up distance
  double max_scale_change = 2.0;   // >= 1: the model's scale and each match's key scale
                                   // ratio relative to it stay within this factor
  int position_tolerance = 8;      // > 0, pixels: a consistent match lands this close
  int orientation_tolerance = 32;  // 0..180 degrees; 0 = orientations not compared
  int hypothesis_matches = 32;     // >= 2: models are taken from pairs among this many
                                   // most distinctive tentative matches
  int max_rotation = 0;            // 0..180 degrees; 0 = any rotation
  bool mutual = false;             // also require the first key to be its partner's nearest
};

// One key list as the matcher reads it (layout of key_list.h).
struct KeyListView {
  int count = 0;
  const std::uint8_t* descriptors = nullptr;  // count x 128
  const float* locations = nullptr;           // count x 4
};

inline KeyListView view_of(const KeyList& keys) {
  return {keys.count(), keys.descriptors.data(), keys.locations.data()};
}

class KeyMatcher {
 public:
  // m for the two lists (see above). The lists must be valid (counts
  // 0..kMaxKeys, arrays as long as the counts say), the parameters in range.
  int consistent_matches(const KeyListView& first, const KeyListView& second,
                         const MatchParameters& p);
  // Tentative matches of the last call (before the geometric check).
  int tentative_matches() const { return static_cast<int>(tentative_.size()); }

 private:
  struct Tentative {
    int first, second;  // key indices
    double quality;     // nearest / runner-up distance; smaller is more distinctive
  };
  void find_tentative(const KeyListView& first, const KeyListView& second,
                      const MatchParameters& p);
  int best_model_support(const KeyListView& first, const KeyListView& second,
                         const MatchParameters& p);

  std::vector<std::int16_t> wide1_, wide2_;  // descriptors widened to 16 bits
  std::vector<std::int32_t> norm1_, norm2_;  // squared lengths of the descriptors
  std::vector<std::int32_t> column_best_;    // for `mutual`: nearest first key of each second key
  std::vector<std::int32_t> column_distance_;
  std::vector<std::int32_t> row_best_;
  std::vector<Tentative> tentative_;
  // The tentative matches for the geometric check, one array per quantity.
  std::vector<float> x1_, y1_, x2_, y2_, turn_cos_, turn_sin_, log_scale_;
  std::vector<unsigned char> agree_;
};

// The straightforward nearest / runner-up search in plain loops, for
// checking the fast one: *nearest and *runner_up get, for each key of the
// first list, its nearest key of the second and the two squared distances.
void reference_nearest(const KeyListView& first, const KeyListView& second,
                       std::vector<int>* nearest, std::vector<std::int64_t>* nearest_distance,
                       std::vector<std::int64_t>* runner_up_distance);

}  // namespace velmora::bristane

extern "C" {

// n1, descriptors1, locations1: the first key list (the shorter one, by the
// caller's convention; any order works); n2, descriptors2, locations2: the
// second. Descriptors are 128 bytes per key, locations four floats per key
// (row, column, scale, orientation), as key_list.h lays them out; with a
// count of 0 its arrays are not read and may be null.
// ratio, max_scale_change: MatchParameters' fields.
// m: the number of consistent matches (0 on any failure).
// position_tolerance, orientation_tolerance, hypothesis_matches,
// max_rotation, mutual (0 or 1): MatchParameters' fields. The workstation
// passes 0.8, 2.0 and 8, 32, 32, 0, 0.
// Returns kListMatchesOk or one of the codes above.
std::int32_t N_LISTMATCHES(const std::int32_t* n1, const std::uint8_t* descriptors1,
                           const float* locations1, const std::int32_t* n2,
                           const std::uint8_t* descriptors2, const float* locations2,
                           const double* ratio, const double* max_scale_change, double* m,
                           const std::int32_t* position_tolerance,
                           const std::int32_t* orientation_tolerance,
                           const std::int32_t* hypothesis_matches, const std::int32_t* max_rotation,
                           const std::int32_t* mutual);

}  // extern "C"
