// One comparison pass of tarvikx: every entry of a first list of fingerprint
// files against every entry of a second list, one results line per pair whose
// score exceeds the threshold.
//
// Work is organised for the typical run (a few hundred pending extracts
// against a library of thousands): first-list fingerprints are read and their
// four sub-cell spectra computed once per batch of 100; each second-list
// fingerprint is then read and transformed once per batch, its four
// correlation surfaces allocated once and reused for every batch member, so a
// pair costs four inverse transforms plus the search and the warp fit. Second
// fingerprints are held a few at a time so that a member is scored against
// them in a row; the results file is written in the order above all the same.
//
// Everything the pass has to say goes into the results file, which is opened
// for appending (created if absent) and closed before the pass returns. A
// results file that cannot be opened, written, flushed or closed loses
// results, so the pass stops at the first such failure and says so in what it
// returns: the caller must not report success then.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
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

// What a pass compares with and where it writes. The constants are those of
// the run file (run_file.h); every field is named at the call, so that the
// row and column values cannot trade places unseen.
struct PassSettings {
  std::string results_path;  // opened for appending, created if absent
  // The words naming the two lists in the header line and in messages.
  std::string first_label;
  std::string second_label;
  ShiftModel row_model;
  ShiftModel col_model;
  std::array<float, 4> row_tol{};  // levels 0-3
  std::array<float, 4> col_tol{};  // levels 0-3
  double threshold = 0;            // a pair gets a line when its score is above this
  int peaks_per_subcell = 0;       // peaks of each surface the constellation search tries
  int margin = 0;                  // pixels widening the final correlation's central region
};

struct PassOptions {
  double warp_percentage = -8.0;   // control points move 8 % of the extent inwards
  PassTimings* timings = nullptr;  // null: no clock is read
  // Called after each second fingerprint of each batch of the first list:
  // `done` of `total` rounds (batches times second names). May be empty.
  std::function<void(std::size_t done, std::size_t total)> progress;
};

// How a pass fared with its results file. `step` is the first operation on
// the file that failed; `error` the system's error number (errno) of that
// failure, 0 when the system gave none.
struct [[nodiscard]] PassOutcome {
  enum class Step { kNone, kOpen, kWrite, kFlush, kClose };
  Step step = Step::kNone;
  int error = 0;
  bool written() const { return step == Step::kNone; }
};

// The console line naming the results file and the system's reason, e.g.
// "Can't write results file 'r.txt': No space left on device\n".
std::string results_failure_message(const std::string& results_path, const PassOutcome& outcome);

// The name without the text from its last "." on; two names that agree so
// are one extract and never compared.
std::string_view name_without_extension(std::string_view name);

// The comparison pass. Problems (unreadable fingerprints, memory shortage,
// singular fits) are reported inside the results file and the pass goes on.
// When the results file cannot be opened the pass compares nothing; when a
// write to it fails the pass ends there. Either way the outcome says so.
PassOutcome run_comparison_pass(const FileList& first, const FileList& second,
                                const PassSettings& settings, const PassOptions& options = {});

}  // namespace tarvik
