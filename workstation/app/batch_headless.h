// velmora-batch: the batch comparison without a display, what runs overnight.
//
//   velmora-batch [--data-folder DIR] [--database FILE.sqlite]
//                 [--working-folder DIR] [--tarvikx PATH] [--batch-size N]
//                 [--jobs N] [--quick] [--standardise] [--pm P]
//                 [--aspect A --side S]
//   velmora-batch --test [--combine] [--previous] [--chart FILE.png] ...
//
// (--test is the test-rank evaluation, see test_headless.h.)
// It is the window's "batch compare" without the window: the same Start
// pieces (session/run_start.h) with the options taken from the command line
// instead of the controls, then the window's comparison hooks
// (comparison_steps.h) in the order the window runs them: tarvik, the
// correlation and spot comparison, the leg codes, the key points, each when
// the database has its letter, and ChangePtoV; with a console panel that
// prints every progress text and message, and a summary per family at the
// end. The folders come from the options, or from DataFolder.txt when no
// database is given (a database without a data folder takes the database's
// own folder, as "browse" does). --aspect and --side stand for "use multiple
// cores" with that aspect and side chosen. The working folder (default: the
// current folder) holds the run files "tarvik.ini" / "tarvik_head.ini" and
// receives the list and results files. tarvikx is looked for beside this
// program unless --tarvikx names it. --jobs (default: the processors) is
// how many tarvikx programs run at once on a side whose library makes
// several lists (see batch_compare.h); the window runs one.
//
// The exit code is 0 only when every step succeeded; 1 when a step failed
// (the reason is printed), 2 for a wrong command line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/config/folder_file.h"
#include "workstation/matching/batch_compare.h"
#include "workstation/matching/change_p_to_v.h"
#include "workstation/matching/legcode_compare.h"
#include "workstation/matching/process_runner.h"
#include "workstation/session/run_start.h"

namespace velmora::app {

using session::kMaxBatchSize;

struct HeadlessOptions {
  std::string data_folder;     // "" = from DataFolder.txt or the database's folder
  std::string database;        // "" = from DataFolder.txt
  std::string working_folder;  // "" = the current folder
  std::string tarvikx;         // "" = beside this program
  int batch_size = 200;
  // tarvikx programs at once, 1 to matching::kMaxJobs; 1 unless told, but
  // parse_headless_arguments makes it default_jobs() when --jobs is not given.
  int jobs = 1;
  bool quick = false;
  bool standardise = false;
  std::string prior_match = ".005";
  std::string aspect, side;  // both set: only this aspect and side
  // --test: the test-rank evaluation instead (test_headless.h).
  bool test = false;
  bool combine = false;   // --combine: one unit per animal
  bool previous = false;  // --previous: only the stored result
  std::string chart;      // --chart FILE.png
  bool help = false;
};

// Parses the arguments after the program name. InvalidArgument with a
// message (print headless_usage() after it) on a wrong command line; a batch
// size above kMaxBatchSize is lowered to it, as the window does, with a note
// in *notes.
Status parse_headless_arguments(const std::vector<std::string>& args, HeadlessOptions* options,
                                std::string* notes = nullptr);
std::string headless_usage();

// --jobs when it is not given: the processors this machine has, held to 1
// to matching::kMaxJobs.
int default_jobs();

// The operator's options a batch comparison with these arguments stands for.
session::RunOptions headless_run_options(const HeadlessOptions& options);

// Start without a window for a batch comparison: state.options from
// `options`, then session::start_run_without_window. Notes go to `out`.
Status start_headless_batch(session::RunState& state, const config::FolderFileLocations& locations,
                            const HeadlessOptions& options, std::ostream& out);

struct HeadlessSummary {
  matching::BatchCompareSummary compared;      // through tarvikx
  matching::BatchCompareSummary compared_new;  // correlation and spot
  matching::LegCodeSummary compared_legcodes;
  matching::BatchCompareSummary compared_keys;  // key points
  // The families whose step ran (their letter is set and no earlier step
  // ended the run).
  bool tarvik_ran = false, new_style_ran = false, legcodes_ran = false, key_points_ran = false;
  matching::ChangePtoVSummary changed;
  double seconds = 0;  // wall time of the whole run
  bool succeeded = false;
  std::string failure;  // why not, when it did not
};

// The summary lines velmora-batch prints at its end.
std::string format_headless_summary(const HeadlessSummary& summary);

// The whole headless run; returns the exit code. Progress, messages and
// the summary go to `out`. The folder file is looked for at `locations`.
int run_headless_batch(
    const HeadlessOptions& options, matching::ProcessRunner& runner, std::ostream& out,
    HeadlessSummary* summary = nullptr,
    const config::FolderFileLocations& locations = config::default_folder_file_locations());

}  // namespace velmora::app
