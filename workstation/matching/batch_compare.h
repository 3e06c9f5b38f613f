// batch_compare_old_style: the pending extracts compared with the library
// by the comparison program tarvikx, aspect by aspect and side by side.
//
// For each aspect of the aspect list up to the first one named "Skin", and
// each of its sides ("L" and "R" for a lateral aspect, "M" otherwise):
//   1. the pending extracts (the current one only in "real-time ident.") are
//      taken in cell order until the batch size (txtNumPend) is used up; an
//      extract whose fingerprint file oldlib/<cell> is missing uses up its
//      place but is left out of the list "pending_files" + side + ".txt";
//      every one taken gets its distribution row cell + "." + letter;
//   2. the library extracts (L or V; "restricted", site or landscape limit
//      as Start chose) with a fingerprint file go in batches of 199 names to
//      "library_files" + side + ".txt", and tarvikx runs once per batch
//      ("true" on the first run, so the pending extracts are also compared
//      with each other, "false" after), appending to
//      aspect + side + letter + "_results.txt";
//   3. unless "use multiple cores" is ticked, that file is imported
//      (import_results) and then deleted.
// A batch size of 0 compares nothing and imports every results file that
// is on disk (the results of copies that ran with "use multiple cores").
// With "use multiple cores" ticked, only the aspect and side chosen in
// cmbAspect and cmbSide are handled.
//
// A tarvikx run that cannot be started, or that does not end with exit code
// 0, stops the comparison with an error Status for the operator: what that
// run and the earlier runs of the same aspect and side wrote is not
// imported (it would be a partial comparison), but kept on disk as the
// results file name + ".failed", so that neither a later import nor the
// next comparison takes it for a complete file. Aspects and sides imported
// before the failure stay imported.
//
// Runs on the GUI thread; the window stays responsive through the runner's
// event handling while tarvikx runs. Needs what Start prepared in the run
// state: statements, cell directory, algorithm letters, side letters,
// aspect list, data folder and the operator's options; the list, run and
// results files lie in state.working_folder. The panel shows progress, the
// dialogs carry the messages to the operator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/common/status.h"
#include "workstation/matching/process_runner.h"
#include "workstation/session/run_state.h"

namespace velmora::matching {

struct BatchCompareOptions {
  std::string tarvikx;  // the comparison program; "" = tarvikx_beside_program()
};

// What one batch comparison did, for the headless program and the tests.
struct BatchCompareSummary {
  int aspect_sides = 0;          // aspects and sides whose pending extracts were listed
  int64_t pending_listed = 0;    // pending names written to the lists
  int64_t pending_missing = 0;   // pending extracts taken but left out (no file, unusable name)
  int64_t library_extracts = 0;  // library extracts selected, summed over aspects and sides
  int64_t library_listed = 0;    // library names written to the lists
  int64_t library_missing = 0;   // library extracts left out (no file, unusable name)
  int tarvikx_runs = 0;          // runs started (or tried)
  int failed_runs = 0;           // runs that did not start or did not end with exit code 0
  int imports = 0;               // results files imported
  int64_t result_lines = 0;      // result lines stored by the imports
  int64_t skipped_lines = 0;     // lines the imports skipped (not a result, unknown cell)
  int64_t staged = 0;            // pairs staged in pretemp
  int64_t temp_rows = 0;         // candidate rows written to temp
  double tarvikx_seconds = 0;    // wall time inside the tarvikx runs
  double import_seconds = 0;     // wall time inside the imports
  bool stopped_at_previous_results = false;  // the program ended at results left on disk
  // After a failure: extracts of the sides already imported that were moved
  // on to V, so that the next run does not compare and count them again.
  int64_t moved_after_failure = 0;
  // The first few extracts whose cell names cannot stand in a list file.
  static constexpr size_t kMaxListed = 10;
  std::vector<std::string> refused_names;
};

// Resets *summary (when given) and fills it.
Status batch_compare_old_style(session::RunState& state, ControlPanel& panel,
                               OperatorDialogs& dialogs, ProcessRunner& runner,
                               const BatchCompareOptions& options = {},
                               BatchCompareSummary* summary = nullptr);

// The name a results file is kept under when its comparison failed.
std::string failed_results_file_name(const std::string& aspect, const std::string& side,
                                     const std::string& letter);

}  // namespace velmora::matching
