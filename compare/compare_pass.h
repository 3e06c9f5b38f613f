// One comparison pass of tarvikx: every entry of a first list of fingerprint
// files against every entry of a second list, one results line per pair whose
// score exceeds the threshold.
//
// Work is organised for the typical run (a few hundred pending extracts
// against a library of thousands): first-list fingerprints are read and their
// four sub-cell spectra computed once per batch of 100; each second-list
// fingerprint is then read and transformed once per batch, its four
// correlation surfaces allocated once and reused for every batch member, so a
// pair costs four inverse transforms plus the search and the warp fit.
//
// Everything the pass has to say goes into the results file, which is opened
// for appending (created if absent) and closed before the pass returns.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "compare/correlation.h"

namespace tarvik {

inline constexpr int kBatchSize = 100;

// A list of fingerprint files: names as listed (with their extensions), each
// opened as directory + name. The directory ends in the separator.
struct FileList {
  std::string directory;
  std::vector<std::string> names;
};

// Seconds spent per stage, summed over a pass (benchmarks). transforms covers
// the spectra and the inverse transforms of the surfaces.
struct PassTimings {
  double transforms = 0, peaks = 0, search = 0, warp = 0, total = 0;
  long pairs = 0;  // pairs scored (not skipped)
};

struct PassOptions {
  double warp_percentage = -8.0;   // control points move 8 % of the extent inwards
  PassTimings* timings = nullptr;  // null: no clock is read
};

// The name without the text from its last "." on; two names that agree so
// are one extract and never compared.
std::string_view name_without_extension(std::string_view name);

// The comparison pass. Problems (unreadable fingerprints, memory shortage,
// singular fits) are reported inside the results file and the pass goes on;
// when the results file cannot be opened the pass does nothing.
void run_comparison_pass(const FileList& first, const FileList& second, double threshold,
                         const std::string& results_path, const ShiftModel& row_model,
                         const ShiftModel& col_model, const float col_tol[4],
                         const float row_tol[4], int peaks_per_subcell,
                         const std::string& first_label, const std::string& second_label,
                         int margin, const PassOptions& options = {});

}  // namespace tarvik
