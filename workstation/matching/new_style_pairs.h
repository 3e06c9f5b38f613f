// The pair loop of the correlation and spot comparison: every ordered pair
// of a first-batch and a second-batch extract, scored by the outside call of
// the aspect's pattern and written as a results line.
//
// A pair of two extracts with the same name is not compared, so a batch
// against itself gives both orders of every other pair. Each pair is scored
// by N_FIDUCIAL_STRIPE (stripe patterns: correlation and spot score) or
// N_FIDUCIAL_DOTS (correlation only) on the batches' arrays in place, and
// gives at most one line "name1,name2,score", the score in the shortest
// decimal form that reads back as the same 64-bit real:
//   - the correlation score, when the correlation letter is set and the
//     score is above -1 (a usable pair);
//   - otherwise the spot score, when the spot letter is set and the score
//     is above 0;
//   - otherwise nothing.
// A score the line would not use is not computed (the call is given no
// place for it).
//
// Speed: this loop is the daily work, tens of thousands of pairs per batch:
// it reads the contiguous arrays of feature_arrays.h, and appends to one
// text buffer per first-batch extract.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "workstation/matching/feature_arrays.h"

namespace velmora::matching {

struct PairScoring {
  bool correlation = false;  // the correlation letter is set
  bool spot = false;         // the spot letter is set
  int max_shift = 2;         // blocks, for the correlation
  int max_turn = 15;         // degrees, for the spot score
};

// The pairs of `first` x `second` as above. `line_out` receives each first
// extract's lines as one piece; `before` (may be empty) is told
// i / first.n_files() before first extract i. Either stops the loop by
// returning false. Returns the pairs compared.
int64_t compare_batches(const FeatureBatch& first, const FeatureBatch& second,
                        const PairScoring& scoring,
                        const std::function<bool(const std::string&)>& line_out,
                        const std::function<bool(double)>& before = {});

// The line of one pair, or "" when the pair gives none.
std::string pair_line(const std::string& name1, const std::string& name2, double corr, double spot,
                      const PairScoring& scoring);

}  // namespace velmora::matching
