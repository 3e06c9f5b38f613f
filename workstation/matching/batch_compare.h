// batch_compare_old_style: the pending extracts compared with the library
// by the comparison program tarvikx, aspect by aspect and side by side.
//
// For each aspect and side of the run's walk (session/aspect_sides.h):
//   1. the pending extracts (the current one only in "real-time ident.") are
//      taken in cell order until the batch size is used up; an extract whose
//      fingerprint file oldlib/<cell> is missing, or whose name the results
//      format or the list reader cannot carry, uses up its place but is left
//      out of the list "pending_files" + side + ".txt" and stays pending (it
//      was never compared); every one taken gets its distribution row
//      cell + "." + letter;
//   2. the library extracts (L or V; "restricted", site or landscape limit
//      as Start chose) with a fingerprint file go in batches of 199 names to
//      "library_files" + side + ".txt", and tarvikx runs once per batch
//      ("true" on the first run, so the pending extracts are also compared
//      with each other, "false" after), appending to
//      aspect + side + letter + "_results.txt". With jobs above 1 (velmora-
//      batch's --jobs) the batches of a side are independent runs started
//      side by side, up to `jobs` at once, each with a list and a results
//      file of its own (run_library_list_name, run_results_file_name); once
//      all have ended their results files are appended to the side's
//      results file in run order, which gives the very bytes the runs one
//      after another append, and removed with their lists. The bar shows
//      the share each program reports of its run, weighted by its library
//      names and summed, as one run after another moves it. A side whose
//      library fits one batch runs as with jobs 1;
//   3. the results file is imported (import_results) and the extracts that
//      were listed and compared move from P to V in the same transaction,
//      so that an interruption at any point leaves them either pending with
//      nothing counted or visual with everything counted; the file is
//      deleted after the commit. An extract whose own fingerprint tarvikx
//      could not read ("Can't read pending ...") was never compared and
//      stays pending.
// With "use multiple cores" ticked only the chosen aspect and side is
// handled and step 3 waits: the names compared are written beside the
// results file (results file name + ".listed"), which marks it complete. A
// batch size of 0 compares nothing and imports every complete results file
// on disk with its list, moving those extracts to V; a results file without
// its list is incomplete (its copy was stopped) and is set aside as
// ".failed", never imported.
//
// Before anything is written the run takes its locks (see batch_locks.h):
// the database (exclusively, or shared with the other copies under "use
// multiple cores" plus the chosen aspect and side exclusively) and each
// side's list files in the working folder. A second run is refused at once,
// told who holds them.
//
// A tarvikx run that cannot be started, that does not end with exit code 0,
// or that is stopped by the operator, stops the comparison with an error
// Status: what the runs of that aspect and side wrote is not imported (it
// would be a partial comparison) but kept on disk as the results file name
// + ".failed" (runs side by side: the failure of one ends the others, and
// what each wrote is joined in run order into that file). Aspects and sides
// imported before stay imported, with their extracts in V. A run in which
// every pending extract taken was left out fails, with nothing moved.
//
// The walk, the lists of pending extracts, the import and "use multiple
// cores" are the frame's (batch_frame.h), shared with the other families;
// this file is the family that compares through tarvikx.
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
#include "workstation/matching/batch_frame.h"
#include "workstation/matching/process_runner.h"
#include "workstation/session/run_state.h"

namespace velmora::matching {

// The most tarvikx programs a comparison runs at once.
inline constexpr int kMaxJobs = 64;

struct BatchCompareOptions {
  std::string tarvikx;  // the comparison program; "" = tarvikx_beside_program()
  // tarvikx programs run at once on a side, 1 to kMaxJobs. Above 1 the
  // runner must run children side by side (ProcessRunner::
  // runs_side_by_side), or the comparison is refused before anything is
  // written. The window keeps 1; velmora-batch sets it from --jobs.
  int jobs = 1;
};

// Resets *summary (when given) and fills it.
Status batch_compare_old_style(session::RunState& state, ControlPanel& panel,
                               OperatorDialogs& dialogs, ProcessRunner& runner,
                               const BatchCompareOptions& options = {},
                               BatchCompareSummary* summary = nullptr);

}  // namespace velmora::matching
