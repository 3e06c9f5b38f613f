// The batch comparison without a display: what velmora-batch runs overnight.
//
//   velmora-batch [--data-folder DIR] [--database FILE.sqlite]
//                 [--working-folder DIR] [--tarvikx PATH] [--batch-size N]
//                 [--quick] [--standardise] [--pm P] [--aspect A --side S]
//
// It does what Start does before a batch comparison (open the database,
// read orlain.ini, prepare the statements, renumber the cells, fill the
// multi-aspect batch, load the cell lookup and the algorithm letters), then
// runs batch_compare_old_style and ChangePtoV with a console panel that
// prints every progress text, and ends with a summary. The folders come from
// the options, or from DataFolder.txt when no database is given (a database
// without a data folder takes the database's own folder, as "browse" does).
// --aspect and --side stand for "use multiple cores" with that aspect and
// side chosen. The working folder (default: the current folder) holds the
// run files "tarvik.ini" / "tarvik_head.ini" and receives the list and
// results files. tarvikx is looked for beside this program unless --tarvikx
// names it.
//
// The exit code is 0 only when every step succeeded; 1 when a step failed
// (the reason is printed), 2 for a wrong command line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/matching/batch_compare.h"
#include "workstation/matching/change_p_to_v.h"
#include "workstation/matching/process_runner.h"
#include "workstation/runs/run_context.h"

namespace velmora::matching {

// The window's batch-size box accepts at most this many.
inline constexpr int kMaxBatchSize = 400;

struct HeadlessOptions {
  std::string data_folder;     // "" = from DataFolder.txt or the database's folder
  std::string database;        // "" = from DataFolder.txt
  std::string working_folder;  // "" = the current folder
  std::string tarvikx;         // "" = beside this program
  int batch_size = 200;
  bool quick = false;
  bool standardise = false;
  std::string prior_match = ".005";
  std::string aspect, side;  // both set: only this aspect and side
  bool help = false;
};

// Parses the arguments after the program name. InvalidArgument with a
// message (print headless_usage() after it) on a wrong command line; a batch
// size above kMaxBatchSize is lowered to it, as the window does, with a note
// in *notes.
Status parse_headless_arguments(const std::vector<std::string>& args, HeadlessOptions* options,
                                std::string* notes = nullptr);
std::string headless_usage();

// Start's preparation for a batch comparison, on ctx (panel and dialogs
// set): folders, orlain.ini, database, statements, renumbering, multi-aspect
// batch, cell lookup, algorithm letters and the options on the panel. Notes
// (configuration faults, the number of records waiting for visual checking)
// go to `out`.
Status start_headless_batch(runs::RunContext& ctx, const HeadlessOptions& options,
                            std::ostream& out);

struct HeadlessSummary {
  BatchCompareSummary compared;
  ChangePtoVSummary changed;
  double seconds = 0;  // wall time of the whole run
  bool succeeded = false;
  std::string failure;  // why not, when it did not
};

// The summary lines velmora-batch prints at its end.
std::string format_headless_summary(const HeadlessSummary& summary);

// The whole headless run; returns the exit code. Progress, messages and
// the summary go to `out`.
int run_headless_batch(const HeadlessOptions& options, ProcessRunner& runner, std::ostream& out,
                       HeadlessSummary* summary = nullptr);

}  // namespace velmora::matching
