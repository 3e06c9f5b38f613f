// Stripes of an extract: the basins of the liquid fill are thinned to
// one-pixel lines (the skeleton), the line ends and branch points become the
// spots of a stripe pattern, each scored by the mean decomposition value of
// the stripe around it and given a kind that says on which side of the point
// the stripe lies.
//
// Images are 256 x 256, row-major, pixel (row, column) counted from 1 at
// element (row - 1) * 256 + (column - 1); the int16 images hold -1 where a
// pixel is set and 0 where it is clear. Only pixels of the valid region,
// rows and columns margin + 1 .. 256 - margin, become nodes or spots; a node
// must also be usable (not blank) and farther than `margin` from a blank
// edge.
//
// Pixels outside the image count as clear wherever a neighbourhood would
// reach past it; that happens only with a margin below 2, when the valid
// region touches the border (the neighbour counts of the nodes, the 5 x 5
// branch check, the 3 x 3 block marked visited). Thinning looks only at
// rows and columns 2..255, and a trace from a node of the valid region
// reaches only pixels closer than `margin` to it, so neither leaves the
// image (trace_stripe still checks, since it takes any start).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/extract/shared_extract.h"
#include "workstation/extract/spot_list.h"
#include "workstation/extract/spots.h"

namespace velmora::extract {

inline constexpr std::int16_t kStripeSet = -1;
inline constexpr std::int16_t kStripeClear = 0;

// The feature step an aspect's pattern takes: stripes for any pattern
// containing "stripe", dots otherwise.
inline bool is_stripe_pattern(std::string_view pattern) {
  return pattern.find("stripe") != std::string_view::npos;
}

// Captions of the processing pictures once the stripe step has run: the
// skeleton drawn over the decomposition, and the fill.
inline constexpr std::string_view kSkeletonCaption = "thinned stripes on wavelet decomp";
inline constexpr std::string_view kFillCaption = "binary image using 'liquid fill'";

// A branch point stays one only with at least this many skeleton pixels in
// its 5 x 5 block (itself included): a lone crossing of short stubs is noise.
inline constexpr int kMinBranchBlockPixels = 7;
// The stripe points found before merging are cut to this many, best first.
inline constexpr int kMaxStripePoints = 400;
// A stripe point is kind 1 when its stripe leans this far to the larger
// side (side >= 6), kind 3 when it leans past kBackwardSide (side < -5).
inline constexpr int kForwardSide = 6;
inline constexpr int kBackwardSide = -5;

// The images of the stripe step; allocated once per window and reused.
struct StripeImages {
  StripeImages();

  static std::size_t index(int row, int column) { return SharedExtract::index(row, column); }
  bool skeleton_set(int row, int column) const {
    return skeleton[index(row, column)] != kStripeClear;
  }
  bool end_set(int row, int column) const { return stripe_end[index(row, column)] != kStripeClear; }
  bool branch_set(int row, int column) const {
    return stripe_branch[index(row, column)] != kStripeClear;
  }

  // The stripes, thinned in place to one-pixel lines; shown on the
  // decomposition afterwards.
  std::vector<std::int16_t> skeleton;
  // Skeleton pixels with exactly one set neighbour.
  std::vector<std::int16_t> stripe_end;
  // Skeleton pixels with more than two set neighbours (confirmed).
  std::vector<std::int16_t> stripe_branch;
  // The liquid fill's output ((256 + 2)^2 with its margin, and the depths);
  // shown as the binary image of the fill.
  std::vector<std::int16_t> filled;
  std::vector<float> depth_array;

  // Scratch of the point search: pixels already near a point, and the
  // pixels of the current trace.
  std::vector<unsigned char> visited;
  std::vector<unsigned char> in_trace;
};

// What the stripe step reads besides its images.
struct StripeInputs {
  std::span<const float> wavelet_image;  // 65536
  double wavelet_mean = 0.0;
  double wavelet_sd = 0.0;
  // Width of the frame the decomposition leaves untouched; 0..128.
  int margin = 0;
  std::span<const std::int16_t> blank;    // CellBlank as rotated: -1 blank, 0 usable
  std::span<const float> blank_distance;  // 65536
};

struct StripeSettings {
  std::string pattern;      // "black..." takes the basins, else the ridges
  bool join_only = false;   // cut stripes back to branch points; only branches
  bool left_right = false;  // sides are columns (and the left/right edges reject)
  bool all_green = false;   // every point kind 2
  bool reverse_fill = false;
  float critical_distance = kDefaultCriticalDistance;
};

// The input sizes (65536 each), the margin (0..128) and the images' sizes.
Status check_stripe_inputs(const StripeInputs& inputs, const StripeImages& images);

// The steps below fail (InvalidArgument) only on inputs of the wrong size or
// margin (check_stripe_inputs); they then change nothing.

// Thins `skeleton` (65536, -1 set) in place until a cycle deletes nothing.
// A cycle is four passes, north, south, west, east; each marks first and
// then deletes. In the north pass a set pixel of rows and columns 2..255
// whose upper neighbour is clear is deleted unless its lower neighbour is
// clear, or an upper corner is set with the side pixel under it clear, or
// both side pixels and both lower corners are clear (the other passes turn
// the rule).
Status thin_stripes(std::span<std::int16_t> skeleton);

// Clears the node images, then marks each usable skeleton pixel of the
// valid region with exactly one set neighbour as an end, more than two as a
// branch.
Status mark_stripe_nodes(StripeImages& images, const StripeInputs& inputs);

// Clears every end from the skeleton and, depth first, every set pixel of
// the region connected to it through pixels that are not branches: stripes
// are cut back to their branch points, and a stripe with none vanishes.
Status prune_spurs(StripeImages& images, const StripeInputs& inputs);

// Keeps a branch mark only where the 5 x 5 block around it holds at least
// kMinBranchBlockPixels skeleton pixels.
Status confirm_branches(StripeImages& images, const StripeInputs& inputs);

struct StripeTrace {
  int pixels = 1;    // the start and every pixel reached
  double sum = 0.0;  // of the decomposition over those pixels
  int side = 0;      // pixels on the larger side of the start minus the smaller
};

// The skeleton pixels reachable from (row, column) through skeleton pixels
// closer than `margin` to it (8-neighbours, depth first), the start
// included. `side` counts columns when left_right, else rows: +1 for a pixel
// beyond the start (right, or below), -1 before it, 0 level with it. Uses
// images.in_trace as scratch. Inputs that check_stripe_inputs refuses, or a
// start outside the image, give an empty trace (no pixels).
StripeTrace trace_stripe(StripeImages& images, const StripeInputs& inputs, int row, int column,
                         bool left_right);

// Appends one spot for every end or branch of the valid region (scanned row
// by row; with join_only branches only) that is usable and not within the
// 3 x 3 block of an earlier point: score = (trace mean - mean) / sd,
// negated for "black" patterns; kind 1 when side >= 6, 3 when side < -5,
// else 2 (always 2 with all_green). A point whose stripe runs inwards from
// within 2 * margin of an edge (side > 0 near the top, or the left with
// left_right; side < 0 near the bottom, or the right) is dropped, its stripe
// being cut by the frame. The first kMaxSpots points found are kept; the
// list is then sorted by score, descending. A flat decomposition (sd not
// above 0, or not finite) is the caller's to refuse: it gives no points.
Status stripe_points(StripeImages& images, const StripeInputs& inputs,
                     const StripeSettings& settings, SpotList& spots);

// The whole stripe step: liquid fill of the decomposition at `avg_depth`;
// the skeleton is the filled basins ("black" patterns) or what is not
// filled; thinning, nodes, pruning (join_only) and the branch check; then
// the points, cut to kMaxStripePoints and merged (merge_near_spots).
// `spots` is replaced; the images keep the skeleton and the fill for display.
//
// A flat decomposition (sd not above 0, or not finite) gives a skeleton but
// no points: `spots` stays empty and `note` says why. Fails (InvalidArgument)
// when an input has the wrong size or the margin is outside 0..128, and with
// the liquid fill's own failures. `note` is cleared on entry.
Status stripes(const StripeInputs& inputs, const StripeSettings& settings, std::int16_t avg_depth,
               StripeImages& images, SpotList& spots, std::string& note);

}  // namespace velmora::extract
