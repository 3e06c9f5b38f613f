// The feature files of a batch of extracts, loaded into the arrays the
// correlation and spot comparisons take (FillArrays).
//
// One FeatureBatch holds up to `capacity` extracts, slot 0 .. n_files - 1,
// every field in one contiguous block of 32-bit integers laid out as the
// comparison calls read them (libs/corrowen/n_fiducial_dots.h,
// libs/halvane/n_fiducial_stripe.h):
//
//   corrcell  4096 per extract  block (row r, column c), from 1, at
//                               (c - 1) * 64 + (r - 1): the block image
//                               turned column by column
//   n_spot    1                 spots, at most kMaxComparedSpots
//   spots     200 x stride      score + 1, row, column (and the kind when
//                               stride is 4, for stripe patterns)
//   n_seed    1                 seed sets, 0..9
//   seeds     27                three spot numbers per set
//   top       2738              top spot map as the file holds it
//   bottom    2738              bottom spot map (stripe patterns only; the
//                               top map again when the file has no kinds,
//                               since every spot is then of kind 2, which
//                               is drawn in both)
//
// The arrays are made once per batch and refilled, so the pair loop reads
// the features in place: the comparison of a pair copies and allocates
// nothing. A batch of 400 stripe extracts takes about 17 MB.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "workstation/common/status.h"

namespace velmora::matching {

inline constexpr int kCellInts = 64 * 64;
inline constexpr int kMaxComparedSpots = 200;
inline constexpr int kSeedInts = 9 * 3;
inline constexpr int kMapInts = 2738;
// Library extracts per batch.
inline constexpr int kLibraryFeatureBatch = 200;

// How an aspect's feature files are read and passed on.
struct FeatureLayout {
  bool stripes = false;    // pattern "black_stripe" or "white_stripe": the stripe call
  bool has_kinds = false;  // the files carry kinds and the bottom map
  int spot_stride() const { return stripes ? 4 : 3; }
};

class FeatureBatch {
 public:
  FeatureBatch(int capacity, FeatureLayout layout);

  int capacity() const { return capacity_; }
  int n_files() const { return n_files_; }
  const FeatureLayout& layout() const { return layout_; }
  void clear() {
    n_files_ = 0;
    filename_.clear();
  }

  const std::string& filename(int i) const { return filename_[i]; }
  const int32_t* corrcell(int i) const { return corrcell_.data() + size_t(i) * kCellInts; }
  const int32_t* n_spot(int i) const { return n_spot_.data() + i; }
  const int32_t* spots(int i) const {
    return spots_.data() + size_t(i) * kMaxComparedSpots * layout_.spot_stride();
  }
  const int32_t* n_seed(int i) const { return n_seed_.data() + i; }
  const int32_t* seeds(int i) const { return seeds_.data() + size_t(i) * kSeedInts; }
  const int32_t* top(int i) const { return top_.data() + size_t(i) * kMapInts; }
  const int32_t* bottom(int i) const {
    return layout_.stripes ? bottom_.data() + size_t(i) * kMapInts : nullptr;
  }

  // Reads `path` with the strict feature-file reader and puts it in the
  // next slot under `name`. Fails, leaving the batch as it was, when the
  // batch is full or the file cannot be read or is short or corrupt (the
  // message names the file).
  Status add(const std::string& name, const std::string& path);

 private:
  int capacity_;
  FeatureLayout layout_;
  int n_files_ = 0;
  std::vector<std::string> filename_;
  std::vector<int32_t> corrcell_, n_spot_, spots_, n_seed_, seeds_, top_, bottom_;
};

// One extract FillArrays left out, and why (the reader's message).
struct FeatureProblem {
  std::string cell;
  std::string why;
  bool missing = false;  // no file at all (rather than an unreadable one)
};

// FillArrays: takes names from `next` (false at the end) and loads the
// feature file folder + name of each into `batch` (cleared first) until it
// holds `limit` extracts (held to its capacity) or the names end. A name
// whose file is missing or cannot be read is passed over and noted in
// *problems; the rest goes on. Returns the names taken from `next`.
int FillArrays(const std::function<bool(std::string*)>& next, const std::string& folder, int limit,
               FeatureBatch* batch, std::vector<FeatureProblem>* problems);

}  // namespace velmora::matching
