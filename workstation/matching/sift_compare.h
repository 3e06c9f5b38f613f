// The key-point comparison family ("CompSift"): the pending extracts of one
// aspect and side scored against each other and against the library by
// matching their key points (libs/bristane/list_matches.h), written as a
// results file of the comparison program's form for import_results.
//
// compare_sift runs the family in the comparison families' shared frame
// (batch_frame.h: the walk of aspects and sides, the pending and library
// selection, the distribution rows, the previous-results check, the import
// under the family's letter with the move from P to V, "use multiple
// cores" and batch size 0). What is its own:
//   - the letter of algy type 'CompSift'; results file aspect + side +
//     letter + "_results.txt";
//   - the walk: an aspect is lateral (sides L and R) when its cell_type is
//     "lateral" or "Lateral";
//   - the file an extract needs: its key file, data folder + "SiftLib/" +
//     cell;
//   - compare_sift_side, the family's part of one aspect and side, which
//   1. loads the pending extracts (FillArraysSift, up to the batch size),
//      writes "$ pending pending" and scores each pending pair once (i < j);
//   2. loads the library 200 extracts at a time, writes "$ pending library"
//      for each batch and scores every pending extract against it;
//   3. writes each pair as name1 + "," + name2 + "," + score, pending name
//      first, the score in the shortest text that reads back as the double.
// The two key lists go to N_LISTMATCHES shorter list first (the first
// extract's on a tie); m is the number of geometrically consistent key
// matches, and the score (m + 0.1) / (m + 1.1) lies in [0.0909..., 1): m = 0
// gives 1/11, each further match brings it nearer to 1.
//
// The results file is written whole or not at all: a stop by the operator,
// or a failure, leaves no results file. Extracts whose key file cannot be
// used are left out (reported in the result); a pending one is not compared
// and stays pending.
//
// Speed: about a thousand pairs a second on one core with 300 keys per
// extract; the cost is the descriptor distances, see list_matches.h. Runs
// on the caller's thread; the panel's events run after each pending extract.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workstation/common/atomic_file.h"
#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/common/status.h"
#include "workstation/matching/batch_frame.h"
#include "workstation/matching/results_import.h"
#include "workstation/matching/sift_arrays.h"
#include "workstation/session/run_state.h"

namespace velmora::matching {

// The family's scores, for the import's check of a results line.
inline constexpr ScoreRange kSiftScores{0.1 / 1.1, 1.0, std::nullopt};

// lblProgress while the frame makes the distribution rows, and at the end.
inline constexpr const char* kSiftDistributionLabel = "Sift: adding new distribution records";
inline constexpr const char* kSiftCompletedLabel = "completed all Sift comparisons";

// (m + 0.1) / (m + 1.1), the same as 1 / (1 / (m + 0.1) + 1).
double sift_score(double m);

// The matcher's call with the family's settings: ratio 0.8, scale change 2,
// position tolerance 8 pixels, orientation tolerance 32 degrees, models from
// the 32 most distinctive matches, any rotation, no mutual check. The
// shorter list goes first. Returns m.
double sift_matches(const bristane::KeyListView& a, const bristane::KeyListView& b);

// Scores the pairs of `first` with itself (second == nullptr: each pair
// once, i < j) or with `second` (every pair), appending their lines to
// `out`. After each extract of `first`, `progress` (may be empty) gets the
// share done and may stop the loop by returning a failure, which is
// returned. *pairs counts the pairs scored.
Status compare_sift_batches(const SiftBatch& first, const SiftBatch* second, AtomicFile& out,
                            const std::function<Status(double)>& progress, std::int64_t* pairs);

// What the frame hands the family for one aspect and side.
struct SiftSideInputs {
  std::string aspect, side, letter;
  std::string data_folder;           // key files in data folder + "SiftLib/"
  std::string working_folder;        // the results file goes here ("" = current folder)
  std::vector<std::string> pending;  // taken in cell order, at most the batch size
  std::vector<std::string> library;  // selected, in order
  int batch_size = 200;              // txtNumPend
};

struct SiftSideResult {
  std::string results_path;              // the results file written
  std::vector<std::string> compared;     // pending extracts loaded and compared
  std::vector<KeyFileProblem> left_out;  // pending and library extracts without a usable key file
  std::int64_t library_loaded = 0;       // library extracts compared
  int library_batches = 0;
  std::int64_t pairs = 0;  // pairs scored
};

// Compares one aspect and side as described above, writing aspect + side +
// letter + "_results.txt" in the working folder. When no pending extract
// has a usable key file nothing is written and `compared` is empty.
Status compare_sift_side(const SiftSideInputs& in, ControlPanel& panel, SiftSideResult* result);

// The key-point family over the whole run, in the shared frame. Resets
// *summary (when given) and fills it.
Status compare_sift(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                    BatchCompareSummary* summary = nullptr);

}  // namespace velmora::matching
