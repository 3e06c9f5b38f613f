// Liquid fill: the flooding segmentation that turns the wavelet
// decomposition of an extract into a binary image of basins, each filled
// pixel carrying the depth of water standing over it.
//
// Water is poured into every local minimum (a seed) in turn and raised one
// unit per level. A level floods every pixel below the water that touches the
// pool; the pool is accepted when its mean depth exceeds one unit, and pouring
// stops when the pool reaches the two-pixel frame, when a level floods pixels
// that are on average much shallower than the pool so far (the water has
// spilled over a rim into a wide flat), or when one level floods too much.
//
// Buffers are plain row-major arrays; every position is (row, column) counted
// from 1, as the processing code counts them:
//
//   fillcell, depth_array  N x N,         element (i, j) at (i - 1) * N + (j - 1)
//   filled                 (N+2) x (N+2), rows and columns 0..N+1,
//                                         element (i, j) at i * (N + 2) + j
//
// `filled` carries a one-pixel margin (rows and columns 0 and N + 1) so that
// the later feature steps may look at neighbours without bounds checks; the
// fill never writes the margin.
#ifndef VELMORA_WORKSTATION_EXTRACT_LIQUID_FILL_H_
#define VELMORA_WORKSTATION_EXTRACT_LIQUID_FILL_H_

#include <cstdint>
#include <span>
#include <vector>

#include "workstation/common/status.h"

namespace velmora::extract {

// A pixel position, counted from 1.
struct FillPixel {
  int row = 0;
  int column = 0;
  friend bool operator==(const FillPixel&, const FillPixel&) = default;
};

// One pixel taken by the water, in the order the flood took it. A pixel that
// was queued for a later level and then reached sideways by the flood of the
// same level is taken again when its own turn comes; both takings are listed.
struct FloodEvent {
  int seed = 0;  // index into the seeds in pouring order (ascending value)
  int level = 0;
  FillPixel pixel;
  friend bool operator==(const FloodEvent&, const FloodEvent&) = default;
};

struct LiquidFillOptions {
  // Fills the hills instead of the basins: the image is mirrored about its
  // mean before pouring and `filled` is complemented afterwards.
  bool reverse_fill = false;
  // When set, receives every flood event in order (for diagnostics).
  std::vector<FloodEvent>* flood_order = nullptr;
  // When set, receives the pixels a display would paint black (the accepted
  // basins, before any complement), in painting order. Everything else is
  // white.
  std::vector<FillPixel>* painted = nullptr;
};

// The most seeds one image may have. Above it the image is noise rather than
// pattern and nothing is filled.
inline constexpr int kMaxLiquidFillSeeds = 9000;

// Floods `fillcell` (N x N, N = cell_size) and marks the accepted basins.
// Writes the frame (rows and columns 1, 2, N-1, N) to 255 in `fillcell` and,
// with reverse_fill, mirrors it about its mean. Sets `filled` to -1 inside
// accepted basins whose depth exceeds avg_depth and `depth_array` to that
// depth; other elements of both are left as the caller cleared them (with
// reverse_fill, `filled` over 1..N is complemented at the end). With more than
// kMaxLiquidFillSeeds seeds it returns Ok having changed only `fillcell`.
//
// Fails (InvalidArgument) when a buffer has the wrong size, when N < 1, or
// when one seed would need more than 32767 levels of water (the image spans
// too wide a range of values for unit levels; nothing of that seed is kept,
// earlier seeds' basins stay in the outputs).
Status liquid_fill(std::span<float> fillcell, std::span<std::int16_t> filled,
                   std::span<float> depth_array, std::int16_t cell_size, std::int16_t avg_depth,
                   const LiquidFillOptions& options = {});

// The size of the image the extract-processing steps flood.
inline constexpr std::int16_t kExtractFillSize = 256;

// Floods the wavelet decomposition (256 x 256, row-major) for the feature
// steps: clears all of `filled` (258 x 258, rows and columns 0..257) and
// runs liquid_fill on a copy of the decomposition, which is left as it was,
// with N = 256. `depth_array` (256 x 256) is written only where a basin is
// marked; elsewhere it keeps what it held. Fails (InvalidArgument) when a
// buffer has the wrong size (nothing is changed then) and with the fill's
// own failures.
Status prepare_liquid_fill(std::span<const float> wavelet_image, std::int16_t avg_depth,
                           bool reverse_fill, std::span<std::int16_t> filled,
                           std::span<float> depth_array);

}  // namespace velmora::extract

#endif  // VELMORA_WORKSTATION_EXTRACT_LIQUID_FILL_H_
