// halvane's spot score: how many of one extract's spots fall on the other
// extract's spots once the two patterns are laid over each other.
//
// Each extract carries up to nine seed sets: triangles of three
// well-separated spots, at most one per window of the extract, chosen best
// spot first. When two extracts show the same animal, some triangle of one
// is the same pelt triangle as some triangle of the other, and the
// similarity transform (turn, scale, shift) that carries the one onto the
// other also carries every other spot onto its partner.
//
// So for every pair of triangles (one of each extract) and each of the
// three ways of matching their corners in turn (the corners are ordered
// anticlockwise first, so a mirror image is never tried), the transform is
// fitted by least squares. It is kept as a candidate only when the corners
// fit it closely (the triangles have the same shape: root-mean-square
// residual at most kMaxCornerResidual of the triangle's size) and it is
// plausible for two fits of one body: scale within 1/kMaxScale..kMaxScale and
// a turn of at most the caller's limit. Two sightings often choose two
// corners of a seed set alike and the third anew (the spots' order by
// strength shifts a little): when no corner matching of a triangle pair
// gives a candidate, the transforms that carry two corners of the one
// exactly onto two of the other (at least 20 pixels apart, with the same
// limits) are the candidates instead. For each candidate every spot of the
// first extract is carried into the second and counts as a hit when it lands
// on a black pixel of the second's dilated spot map (each spot is a disc
// there, sized so that all discs cover a set share of the extract), and
// every spot of the second is carried back onto the first's map likewise.
// A spot whose stripe lies forward (kind 1) is looked for in the top map,
// one whose stripe lies backward (kind 3) in the bottom map, and one of kind
// 2 (both sides, and every dot) in either.
//
// The score is the best candidate's share of hits, (hits one way + hits the
// other way) / (spots of both): in 0..1, near 1 for the same pelt and near
// the covered share of the map (plus what the best of the chance
// alignments adds) for unrelated pelts. A pair without any candidate (no
// seed sets, no plausible transform) scores 0, meaning "no spot score".
//
// Speed: at most 9 x 9 x (3 + 36) small fits, then a count of at most
// 2 x 200 bit lookups per candidate, cut short as soon as a candidate can no
// longer beat the best so far. Nothing is allocated.
#pragma once

#include <cstdint>

namespace velmora::halvane {

inline constexpr int kMaxSpots = 200;
inline constexpr int kMaxSeedSets = 9;
inline constexpr int kMapSide = 296;
inline constexpr int kMapBorder = 20;
inline constexpr int kMapWords = kMapSide * kMapSide / 32;  // 2738
// Two fits of one body differ by a few per cent in scale; 1.25 leaves room
// for the corners' own jitter over short triangle sides.
inline constexpr double kMaxScale = 1.25;
// Corners jitter by a few pixels between sightings; a tenth of the
// triangle's size (its root-mean-square distance from its centre, some 30 to
// 60 pixels) admits that and refuses triangles of another shape.
inline constexpr double kMaxCornerResidual = 0.1;
// The turn the workstation allows: fits of one body differ by a few degrees.
inline constexpr int kDefaultMaxTurnDegrees = 15;

// One extract's spots as the call passes them (pointers into its arrays).
struct SpotPattern {
  int n_spot = 0;                   // 0..kMaxSpots
  const int32_t* spots = nullptr;   // stride 4: score + 1, row, column, kind
  int n_seed = 0;                   // 0..kMaxSeedSets
  const int32_t* seeds = nullptr;   // stride 3: spot numbers 1..n_spot
  const int32_t* top = nullptr;     // kMapWords words
  const int32_t* bottom = nullptr;  // kMapWords words, or null: kind 2 everywhere
};

// The score above; `max_turn_degrees` is held to 0..180. Counts outside
// their ranges are held to them; a seed set naming a spot outside 1..n_spot,
// or one spot twice, is passed over.
double spot_score(const SpotPattern& first, const SpotPattern& second, int max_turn_degrees);

}  // namespace velmora::halvane
