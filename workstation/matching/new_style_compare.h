// compare_new_style: the correlation and spot comparison of the pending
// extracts with the library, scored inside the workstation from the
// extracts' feature files (no comparison program).
//
// It runs in the frame of every batch comparison family (batch_frame.h: the
// walk of aspects and sides, batch size, "real-time ident.", the library
// selection, "use multiple cores", the import and the move to V in one
// transaction). What is its own:
//   - the letters: the correlation letter (algy type 'compnew_corr') and the
//     spot letter ('compnew_spot'), either may be empty; the results file is
//     aspect + side + letter + "_results.txt" with the correlation letter
//     when it is set, else the spot letter, and every pending extract taken
//     gets a distribution row for each letter that is set;
//   - the file an extract needs: its feature file, data folder +
//     library_name + cell; an aspect whose show_n_spots is below 1 has none
//     (the save step writes no feature file for it) and is not compared;
//   - the comparison: the pending extracts' feature files are loaded
//     (FillArrays, feature_arrays.h) and compared with each other under
//     "$ pending pending"; the library extracts are loaded 200 at a time and
//     compared under "$ pending library" and "$ library pending" (both
//     orders, since each order is its own pair of the outside call); the
//     lines and the score rules are new_style_pairs.h's. Stripe patterns
//     ("black_stripe", "white_stripe") go through halvane, every other
//     through corrowen.
// A feature file that is missing, short or corrupt is named to the operator
// and its extract left out: a pending one stays pending, the rest of the
// batch goes on.
#pragma once

#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/common/status.h"
#include "workstation/matching/batch_frame.h"
#include "workstation/session/run_state.h"

namespace velmora::matching {

inline constexpr const char* kNewStyleListsLabel = "newcell: adding new distribution records";
inline constexpr const char* kNewStyleCompletedLabel = "completed all new-style comparisons";

struct NewStyleOptions {
  int max_shift = 2;  // correlation shift range, blocks
  int max_turn = 15;  // largest turn between two extracts for the spot score, degrees
};

// Resets *summary (when given) and fills it.
Status compare_new_style(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                         const NewStyleOptions& options = {},
                         BatchCompareSummary* summary = nullptr);

// lblProgress while the pending extracts of an aspect and side (n of them)
// are compared with each other, and with library batch b (from 1).
std::string new_style_pending_label(int n, const std::string& side, const std::string& aspect);
std::string new_style_library_label(int n, const std::string& side, const std::string& aspect,
                                    int b);

}  // namespace velmora::matching
