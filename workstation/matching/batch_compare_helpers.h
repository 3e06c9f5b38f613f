// The small pieces of the batch comparisons that need no database:
// the progress bar, the operator's progress texts, the run file of an
// aspect, the tarvikx command of one run, and set_bit, a bit-array helper
// shared with other parts of the workstation.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/db/database.h"
#include "workstation/matching/process_runner.h"

namespace velmora {
class ControlPanel;
}

namespace velmora::matching {

// ProgressBar2 at (fraction x 0.98 + 0.01) of ProgressBar1's inner width, so
// that a bar at 0 still shows and one at 1 stays inside its frame. The
// fraction is held to 0..1 (a NaN counts as 0).
void show_progress(ControlPanel& panel, double fraction);

// In 32-bit words indexed from 1 (words[0] is word 1), sets bit (n mod 32) of
// word (n div 32) + 1; bit 31 is the sign bit. Returns false, changing
// nothing, when n is negative or its word lies past the end of `words`.
bool set_bit(std::span<int32_t> words, int64_t n);

// Run file for an aspect: "tarvik_head.ini" for "Head", else "tarvik.ini".
std::string run_file_for_aspect(const std::string& aspect);

// lblProgress texts, in the order a run shows them. n is the number of
// pending names in the list, b the number of the library batch (from 1).
inline constexpr const char* kMakingListsLabel =
    "oldcell: making flist and adding new distribution records";
inline constexpr const char* kAllCompletedLabel = "completed all old-style comparisons";
std::string library_batch_label(int n, const std::string& side, const std::string& aspect, int b);
// The label while the `runs` library batches of a side run side by side,
// `at_once` at a time.
std::string library_batches_label(int n, const std::string& side, const std::string& aspect,
                                  int runs, int at_once);
std::string no_library_label(int n, const std::string& side, const std::string& aspect);
std::string completed_label(const std::string& aspect, const std::string& side);

// The message when a results file of an earlier run is still on disk and
// "use multiple cores" is ticked.
std::string previous_results_message(const std::string& aspect, const std::string& side,
                                     const std::string& letter);

// One tarvikx run: the pending and library lists of `side` in the working
// folder, both fingerprint folders `oldlib_dir` (the data folder + "oldlib",
// to which tarvikx adds the separator), the results file aspect + side +
// letter + "_results.txt", the run file, and "true" for the first run of an
// aspect and side (the pending extracts are then also compared with each
// other), "false" for the later ones. A run beside others has a library
// list and a results file of its own (run_library_list_name and
// run_results_file_name).
struct TarvikRun {
  std::string tarvikx;         // program path
  std::string oldlib_dir;      // data folder + "oldlib"
  std::string working_folder;  // "" = current folder
  std::string aspect, side, letter;
  std::string run_file;
  bool first_run = true;
  std::string library_list;  // "" = library_list_name(side)
  std::string results_file;  // "" = results_file_name(aspect, side, letter)
};
ProcessCommand tarvik_command(const TarvikRun& run);

// The library list and the results file of run `run` (from 1) of a side
// whose runs go side by side: the side's own names with ".run<n>" added.
// No other file of the working folder ends so (the window's lists and
// results end in ".txt", what the frame keeps in ".listed", ".failed",
// ".importing"), and the aspect and side in the names keep the runs of
// another workstation copy, which compares another aspect or side, apart.
std::string run_library_list_name(const std::string& side, int run);
std::string run_results_file_name(const std::string& aspect, const std::string& side,
                                  const std::string& letter, int run);

// Reads tarvikx's progress lines ("progress <pass> <passes> <done> <total>",
// printed when TARVIKX_PROGRESS=1) out of its console output as it arrives,
// in pieces that need not end at a line end. Other lines are passed over.
class TarvikxProgress {
 public:
  // Takes the next piece of output and calls `each` with the share of the
  // whole run (0..1, the passes counted alike) of every progress line it
  // completes, in order.
  void feed(std::string_view bytes, const std::function<void(double)>& each);

 private:
  std::string line_;
};

// Seconds of the steady clock since t0, for the summaries' timings.
double seconds_since(std::chrono::steady_clock::time_point t0);

// The other sex of a gender text ("Female" / "Male"); "unset" for anything
// else, which the library statements then match with no animal.
std::string opposite_sex(const std::string& gender);

// The non-empty lines of a list file the comparison wrote ("" when it cannot
// be read: nothing listed).
std::vector<std::string> read_name_list(const std::string& path);

// Gives `filename` its distribution row unless it has one: `find` is the
// "distribution_of_file" statement, `insert` the prepared insert.
Status ensure_distribution_row(db::Statement& find, db::Statement& insert,
                               const std::string& filename);

}  // namespace velmora::matching
