#include "workstation/extract/stripes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "workstation/extract/liquid_fill.h"
#include "workstation/extract/spots.h"

namespace velmora::extract {
namespace {

constexpr int kSize = kExtractRows;  // every image is square
constexpr int kFramed = kSize + 2;   // the liquid fill's rows and columns 0..257
constexpr int kMaxMargin = kSize / 2;

// Rows and columns margin + 1 .. 256 - margin; empty at a margin of 128.
struct Region {
  int lo;
  int hi;
  bool contains(int r, int c) const { return r >= lo && r <= hi && c >= lo && c <= hi; }
};

Region valid_region(int margin) {
  return {margin + 1, kSize - margin};
}

std::size_t at(int r, int c) {
  return SharedExtract::index(r, c);
}

// A pixel outside the image counts as clear.
bool set_or_outside_clear(const std::vector<std::int16_t>& image, int r, int c) {
  return SharedExtract::in_range(r, c) && image[at(r, c)] != kStripeClear;
}

int set_neighbours(const std::vector<std::int16_t>& image, int r, int c) {
  int n = 0;
  for (int dr = -1; dr <= 1; ++dr) {
    for (int dc = -1; dc <= 1; ++dc) {
      if ((dr != 0 || dc != 0) && set_or_outside_clear(image, r + dr, c + dc)) ++n;
    }
  }
  return n;
}

bool usable(const StripeInputs& inputs, int r, int c) {
  return inputs.blank[at(r, c)] == kUsablePixel &&
         inputs.blank_distance[at(r, c)] > static_cast<float>(inputs.margin);
}

// One thinning pass. (tr, tc) points at the neighbour that must be clear for
// a pixel to go: (-1, 0) north, (1, 0) south, (0, -1) west, (0, 1) east;
// (pr, pc) is the direction across it.
int thinning_pass(std::span<std::int16_t> image, int tr, int tc, std::vector<std::size_t>& marked) {
  const int pr = tc != 0 ? 1 : 0;
  const int pc = tr != 0 ? 1 : 0;
  auto set = [&](int r, int c) { return image[at(r, c)] != kStripeClear; };
  marked.clear();
  for (int r = 2; r <= kSize - 1; ++r) {
    for (int c = 2; c <= kSize - 1; ++c) {
      if (!set(r, c) || set(r + tr, c + tc)) continue;
      // One pixel thick along the pass direction: taking it would cut the line.
      if (!set(r - tr, c - tc)) continue;
      // A corner beyond the pixel hangs on it alone.
      if (set(r + tr + pr, c + tc + pc) && !set(r + pr, c + pc)) continue;
      if (set(r + tr - pr, c + tc - pc) && !set(r - pr, c - pc)) continue;
      // Nothing beside it: the pixel is the tip of a one-pixel line.
      if (!set(r + pr, c + pc) && !set(r - pr, c - pc) && !set(r - tr + pr, c - tc + pc) &&
          !set(r - tr - pr, c - tc - pc)) {
        continue;
      }
      marked.push_back(at(r, c));
    }
  }
  for (const std::size_t i : marked) image[i] = kStripeClear;
  return static_cast<int>(marked.size());
}

// A depth-first walk over 8-neighbours kept on its own stack, in the order a
// recursion would take them (rows outer, columns inner): a stripe may run
// for thousands of pixels. `take(r, c)` says whether the walk enters a
// neighbour and records it before the walk goes on from there.
struct Visit {
  int row;
  int column;
  int next;  // the next of the nine neighbours to look at; 4 is the pixel itself
};

template <typename Take>
void walk_from(int row, int column, std::vector<Visit>& stack, Take take) {
  stack.clear();
  stack.push_back({row, column, 0});
  while (!stack.empty()) {
    Visit& v = stack.back();
    if (v.next == 9) {
      stack.pop_back();
      continue;
    }
    const int r = v.row - 1 + v.next / 3;
    const int c = v.column - 1 + v.next % 3;
    ++v.next;
    if (r == v.row && c == v.column) continue;
    if (take(r, c)) stack.push_back({r, c, 0});  // `v` is not used after this
  }
}

}  // namespace

StripeImages::StripeImages()
    : skeleton(kExtractPixels, kStripeClear),
      stripe_end(kExtractPixels, kStripeClear),
      stripe_branch(kExtractPixels, kStripeClear),
      filled(static_cast<std::size_t>(kFramed) * kFramed, 0),
      depth_array(kExtractPixels, 0.0f),
      visited(kExtractPixels, 0),
      in_trace(kExtractPixels, 0) {}

Status check_stripe_inputs(const StripeInputs& inputs, const StripeImages& images) {
  if (inputs.wavelet_image.size() != kExtractPixels || inputs.blank.size() != kExtractPixels ||
      inputs.blank_distance.size() != kExtractPixels) {
    return Status::InvalidArgument(
        "stripes: the decomposition, the blank mask and the distance-to-blank map must each "
        "have 256 x 256 pixels");
  }
  if (inputs.margin < 0 || inputs.margin > kMaxMargin) {
    return Status::InvalidArgument("stripes: margin " + std::to_string(inputs.margin) +
                                   " is outside 0.." + std::to_string(kMaxMargin));
  }
  if (images.skeleton.size() != kExtractPixels || images.stripe_end.size() != kExtractPixels ||
      images.stripe_branch.size() != kExtractPixels ||
      images.filled.size() != static_cast<std::size_t>(kFramed) * kFramed ||
      images.depth_array.size() != kExtractPixels || images.visited.size() != kExtractPixels ||
      images.in_trace.size() != kExtractPixels) {
    return Status::InvalidArgument("stripes: a stripe image has the wrong size");
  }
  return Status::Ok();
}

Status thin_stripes(std::span<std::int16_t> skeleton) {
  if (skeleton.size() != kExtractPixels) {
    return Status::InvalidArgument("stripes: the skeleton must have 256 x 256 pixels");
  }
  std::vector<std::size_t> marked;
  int deleted = 1;
  while (deleted > 0) {
    deleted = thinning_pass(skeleton, -1, 0, marked);
    deleted += thinning_pass(skeleton, 1, 0, marked);
    deleted += thinning_pass(skeleton, 0, -1, marked);
    deleted += thinning_pass(skeleton, 0, 1, marked);
  }
  return Status::Ok();
}

Status mark_stripe_nodes(StripeImages& images, const StripeInputs& inputs) {
  if (Status s = check_stripe_inputs(inputs, images); !s.ok()) return s;
  // Nothing outside the region is ever marked, so clearing everything equals
  // clearing the region, and no mark of a run with a smaller margin stays.
  std::fill(images.stripe_end.begin(), images.stripe_end.end(), kStripeClear);
  std::fill(images.stripe_branch.begin(), images.stripe_branch.end(), kStripeClear);
  const Region region = valid_region(inputs.margin);
  for (int r = region.lo; r <= region.hi; ++r) {
    for (int c = region.lo; c <= region.hi; ++c) {
      if (!images.skeleton_set(r, c) || !usable(inputs, r, c)) continue;
      const int n = set_neighbours(images.skeleton, r, c);
      if (n == 1) images.stripe_end[at(r, c)] = kStripeSet;
      if (n > 2) images.stripe_branch[at(r, c)] = kStripeSet;
    }
  }
  return Status::Ok();
}

Status prune_spurs(StripeImages& images, const StripeInputs& inputs) {
  if (Status s = check_stripe_inputs(inputs, images); !s.ok()) return s;
  const Region region = valid_region(inputs.margin);
  std::vector<Visit> stack;
  for (int r = region.lo; r <= region.hi; ++r) {
    for (int c = region.lo; c <= region.hi; ++c) {
      if (!images.end_set(r, c)) continue;
      images.skeleton[at(r, c)] = kStripeClear;
      walk_from(r, c, stack, [&](int qr, int qc) {
        if (!region.contains(qr, qc) || !images.skeleton_set(qr, qc) || images.branch_set(qr, qc)) {
          return false;
        }
        images.skeleton[at(qr, qc)] = kStripeClear;
        return true;
      });
    }
  }
  return Status::Ok();
}

Status confirm_branches(StripeImages& images, const StripeInputs& inputs) {
  if (Status s = check_stripe_inputs(inputs, images); !s.ok()) return s;
  const Region region = valid_region(inputs.margin);
  for (int r = region.lo; r <= region.hi; ++r) {
    for (int c = region.lo; c <= region.hi; ++c) {
      if (!images.branch_set(r, c)) continue;
      int n = 0;
      for (int dr = -2; dr <= 2; ++dr) {
        for (int dc = -2; dc <= 2; ++dc) {
          if (set_or_outside_clear(images.skeleton, r + dr, c + dc)) ++n;
        }
      }
      if (n < kMinBranchBlockPixels) images.stripe_branch[at(r, c)] = kStripeClear;
    }
  }
  return Status::Ok();
}

StripeTrace trace_stripe(StripeImages& images, const StripeInputs& inputs, int row, int column,
                         bool left_right) {
  if (!check_stripe_inputs(inputs, images).ok() || !SharedExtract::in_range(row, column)) {
    return {0, 0.0, 0};
  }
  StripeTrace t;
  t.sum = inputs.wavelet_image[at(row, column)];
  const long long reach = static_cast<long long>(inputs.margin) * inputs.margin;
  std::vector<std::size_t> traced{at(row, column)};
  images.in_trace[at(row, column)] = 1;
  std::vector<Visit> stack;
  walk_from(row, column, stack, [&](int qr, int qc) {
    const long long dr = qr - row;
    const long long dc = qc - column;
    // Within the margin of a start inside the valid region a neighbour is
    // never outside the image; the first test only makes that plain.
    if (dr * dr + dc * dc >= reach || !SharedExtract::in_range(qr, qc)) return false;
    const std::size_t q = at(qr, qc);
    if (images.skeleton[q] == kStripeClear || images.in_trace[q] != 0) return false;
    images.in_trace[q] = 1;
    traced.push_back(q);
    ++t.pixels;
    t.sum += inputs.wavelet_image[q];
    const int beyond = left_right ? qc - column : qr - row;
    t.side += (beyond > 0) - (beyond < 0);
    return true;
  });
  for (const std::size_t q : traced) images.in_trace[q] = 0;
  return t;
}

Status stripe_points(StripeImages& images, const StripeInputs& inputs,
                     const StripeSettings& settings, SpotList& spots) {
  if (Status s = check_stripe_inputs(inputs, images); !s.ok()) return s;
  if (!(inputs.wavelet_sd > 0.0) || !std::isfinite(inputs.wavelet_sd) ||
      !std::isfinite(inputs.wavelet_mean)) {
    return Status::Ok();
  }
  const bool dark = settings.pattern.find("black") != std::string::npos;
  const int m = inputs.margin;
  const Region region = valid_region(m);
  std::fill(images.visited.begin(), images.visited.end(), 0);
  for (int i = region.lo; i <= region.hi; ++i) {
    for (int j = region.lo; j <= region.hi; ++j) {
      if (!usable(inputs, i, j) || images.visited[at(i, j)] != 0) continue;
      const bool end = images.end_set(i, j);
      const bool branch = images.branch_set(i, j);
      if (!end && !branch) continue;
      if (settings.join_only && !branch) continue;
      for (int r = i - 1; r <= i + 1; ++r) {
        for (int c = j - 1; c <= j + 1; ++c) {
          if (SharedExtract::in_range(r, c)) images.visited[at(r, c)] = 1;
        }
      }
      const StripeTrace t = trace_stripe(images, inputs, i, j, settings.left_right);
      // A stripe running inwards from near an edge was cut by the frame: its
      // end there is not an end of the mark.
      if (t.side > 0 && (i < 2 * m || (settings.left_right && j < 2 * m))) continue;
      if (t.side < 0 && (i > kSize - 2 * m || (settings.left_right && j > kSize - 2 * m))) {
        continue;
      }
      const double z = (t.sum / t.pixels - inputs.wavelet_mean) / inputs.wavelet_sd;
      Spot s;
      s.score = static_cast<float>(dark ? -z : z);
      s.row = static_cast<float>(i);
      s.column = static_cast<float>(j);
      s.kind = t.side >= kForwardSide   ? kSpotKindForward
               : t.side < kBackwardSide ? kSpotKindBackward
                                        : kSpotKindBoth;
      if (settings.all_green) s.kind = kSpotKindBoth;
      spots.push_back(s);
      if (spots.size() >= static_cast<std::size_t>(kMaxSpots)) {
        i = region.hi;  // the list is full: end the scan
        break;
      }
    }
  }
  size_order(spots, static_cast<int>(spots.size()), SpotColumn::kScore, SortOrder::kDescending);
  return Status::Ok();
}

Status stripes(const StripeInputs& inputs, const StripeSettings& settings, std::int16_t avg_depth,
               StripeImages& images, SpotList& spots, std::string& note) {
  note.clear();
  spots.clear();
  if (Status s = check_stripe_inputs(inputs, images); !s.ok()) return s;
  if (Status s = prepare_liquid_fill(inputs.wavelet_image, avg_depth, settings.reverse_fill,
                                     images.filled, images.depth_array);
      !s.ok()) {
    return s;
  }
  const bool dark = settings.pattern.find("black") != std::string::npos;
  for (int r = 1; r <= kSize; ++r) {
    for (int c = 1; c <= kSize; ++c) {
      const bool filled =
          images.filled[static_cast<std::size_t>(r) * kFramed + static_cast<std::size_t>(c)] != 0;
      images.skeleton[at(r, c)] = filled == dark ? kStripeSet : kStripeClear;
    }
  }
  if (Status s = thin_stripes(images.skeleton); !s.ok()) return s;
  if (Status s = mark_stripe_nodes(images, inputs); !s.ok()) return s;
  if (settings.join_only) {
    if (Status s = prune_spurs(images, inputs); !s.ok()) return s;
  }
  if (Status s = confirm_branches(images, inputs); !s.ok()) return s;

  if (!(inputs.wavelet_sd > 0.0) || !std::isfinite(inputs.wavelet_sd) ||
      !std::isfinite(inputs.wavelet_mean)) {
    note =
        "The wavelet decomposition is flat (no spread of values), so no stripe points were "
        "looked for.";
    return Status::Ok();
  }
  if (Status s = stripe_points(images, inputs, settings, spots); !s.ok()) return s;
  if (spots.size() > static_cast<std::size_t>(kMaxStripePoints)) spots.resize(kMaxStripePoints);
  merge_near_spots(spots, settings.critical_distance);
  return Status::Ok();
}

}  // namespace velmora::extract
