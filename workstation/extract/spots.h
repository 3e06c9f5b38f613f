// Spots of an extract: the dark (or light) dots found in the wavelet
// decomposition, the merging of spots that lie too close together, and the
// operator's edits of the list (adding, removing and excluding spots with the
// mouse).
//
// Indices into a SpotList are counted from 0 here (spot k of the operator's
// "first N spots" is list[k - 1]); positions are 1-based rows and columns as
// everywhere in extract processing. Images are 256 x 256 row-major, pixel
// (row, column) at (row - 1) * 256 + (column - 1).
//
// Nothing here paints. The window draws a circle per shown spot (the first
// `hscLimitSpots` value of them) in the colour spot_circle_colour gives, and
// shows spots_caption(value) beside the slider.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "workstation/common/status.h"
#include "workstation/extract/spot_list.h"

namespace velmora::extract {

// Merge distance when the configuration gives none.
inline constexpr float kDefaultCriticalDistance = 9.0f;
// What neardist reports when there is no other spot.
inline constexpr double kNoNearSpot = 100000.0;
// Dots keep at most this many candidates, best first.
inline constexpr int kMaxDotCandidates = 199;
// A pixel is a dot candidate only when its z value is beyond this, for dark
// and light dots alike (light dots pass almost every local maximum; merging
// and the operator's limit then keep the strongest).
inline constexpr float kDotZThreshold = -0.9f;
// After merging the list is cut to this many and every score multiplied by
// kMergedScoreScale, so that scores fill more of the byte they are saved in.
inline constexpr int kMaxMergedSpots = 100;
inline constexpr float kMergedScoreScale = 10.0f;
// A click picks the nearest shown spot only when it lies closer than this
// (squared: 100 pixels).
inline constexpr double kPickReachSquared = 10000.0;
// Circle radii on the extract: every shown spot, and a spot just added.
inline constexpr int kSpotCircleRadius = 4;
inline constexpr int kAddedSpotCircleRadius = 3;

// ------------------------------------------------------------- list tools

// Columns of the spot table, numbered as the feature file and the operator
// know them.
enum class SpotColumn { kScore = 1, kRow = 2, kColumn = 3, kKind = 4 };
enum class SortOrder { kAscending, kDescending };

struct NearSpot {
  int index = -1;  // -1 when there is no other spot
  double distance = kNoNearSpot;
};

// The nearest spot to (row, column) among the first `count` spots (count is
// cut to the list's length), skipping `this_index` (pass -1 to skip none).
// Euclidean distance over row and column; the first of equal minima wins;
// only distances below kNoNearSpot count.
NearSpot neardist(const SpotList& list, int count, double row, double column, int this_index);

// Sorts the first `count` spots (cut to the list's length) by `column`: a
// bubble sort that swaps neighbours only when the later one comes strictly
// first, so spots with equal keys keep their order. Whole spots move.
void size_order(SpotList& list, int count, SpotColumn column, SortOrder order);

// The slider value a fresh list starts with: the smaller of the number of
// spots and the aspect's `show_n_spots`, never below 0.
int initial_spot_limit(int count, int show_n_spots);

// Merges spots closer than `critical_distance`, pass after pass until a pass
// merges nothing. A pass pairs every spot with its nearest other spot (the
// first of equal distances), walks the pairs by ascending distance (equal
// distances in list order) and replaces each pair of still unused spots
// closer than the distance by one spot holding the means of their score,
// row, column and kind (excluded from seeds when either was); every other
// spot is copied. The merged list is then sorted by score, descending, cut
// to kMaxMergedSpots and every score multiplied by kMergedScoreScale.
// A spot whose nearest neighbour is exactly `critical_distance` away is kept.
// The distance is the configured one (the configuration puts 9 in place of
// an absent or zero value); a distance of 0 or less merges nothing.
void merge_near_spots(SpotList& list, float critical_distance);

// ------------------------------------------------------------------- dots

// The dots of a wavelet decomposition (65536 floats). A pixel of rows and
// columns 2..255 is a candidate when, with z = (value - mean) / sd,
//  - `pattern` contains "black" (dark dots): z < -0.9 and no 8-neighbour is
//    lower (equal ones allowed); candidates are kept by ascending z, a new
//    one after those with equal z;
//  - otherwise (light dots): z > -0.9 and no 8-neighbour is higher; kept by
//    descending z, a new one after those with equal z.
// Only the best 199 candidates are kept, found row by row, column by column.
// Score = z (negated for dark dots, so the best come first with positive
// scores), kind 2; then merge_near_spots. z is compared as stored, in
// 32 bits.
//
// `spots` is replaced. A flat decomposition (sd not above 0, or not finite)
// has no dots: `spots` is left empty and `note` says why. Fails
// (InvalidArgument) when the image has the wrong size. `note` is cleared on
// entry.
Status dots(std::span<const float> wavelet_image, double wavelet_mean, double wavelet_sd,
            std::string_view pattern, float critical_distance, SpotList& spots, std::string& note);

// ----------------------------------------------------------- the operator

// The "number of spots" slider: its value (spots shown, and saved) and its
// maximum.
struct SpotLimit {
  int value = 0;
  int maximum = 0;
  friend bool operator==(const SpotLimit&, const SpotLimit&) = default;
};

// The outcome of one mouse edit.
struct SpotEdit {
  bool changed = false;  // the list was changed
  int spot = -1;         // index of the spot added, removed or excluded
  SpotLimit limit;       // the slider after the edit (as given when unchanged)
  friend bool operator==(const SpotEdit&, const SpotEdit&) = default;
};

// The shown spot (one of the first `shown` spots) nearest to the click at
// picture position (x, y) = (column, row), by squared distance, the first of
// equal distances, only closer than 100 pixels; -1 when none. `shown` is cut
// to 0..list length, so an empty list or a limit of 0 finds nothing.
int nearest_shown_spot(const SpotList& list, int shown, double x, double y);

// Left click on the extract: puts a spot at the click (row = y, column = x)
// just after the shown ones, of kind 3 with Shift held, else kind 1. The
// hidden spots move one place down and the last spot of the list drops off,
// so the list keeps its length; the new spot keeps the score of the spot
// that held its place. The slider value rises by one, and so does its
// maximum, but never past the list length (the slider must not reach beyond
// the list).
//
// Edges: the slider value is first cut into 0..list length. When every spot
// is shown (value = length, an empty list included) there is no place to
// take over: the spot is appended, the list grows by one and the maximum
// becomes the new length; its score is that of the last spot (the weakest
// shown), 0 in an empty list. A full list (kMaxSpots) with every spot shown
// takes no more: nothing changes.
SpotEdit add_spot_at(SpotList& list, SpotLimit limit, double x, double y, bool shift);

// Right click on the extract: removes the nearest shown spot (later spots
// move up); the maximum becomes the new list length and the value falls by
// one. A click 100 pixels or more from every shown spot, an empty list or a
// limit of 0 changes nothing.
SpotEdit remove_nearest_spot(SpotList& list, SpotLimit limit, double x, double y);

// Right click on the processing picture: marks the nearest shown spot as
// excluded from seed triangles (it stays excluded when it already was; the
// edit still reports it, since the seeds are placed again either way). The
// slider is unchanged. Nothing is found as for remove_nearest_spot.
SpotEdit exclude_nearest_from_seeds(SpotList& list, SpotLimit limit, double x, double y);

// --------------------------------------------------------------- display

struct CircleColour {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const CircleColour&, const CircleColour&) = default;
};

// Kind 1 red, kind 3 blue, anything else (kind 2, merged means) cyan.
CircleColour spot_circle_colour(float kind);

// The caption beside the slider: "# spots = " and the value.
std::string spots_caption(int value);

}  // namespace velmora::extract
