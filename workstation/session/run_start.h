// The database work of every Start, shared by the window's Start button and
// the programs that run without a window (velmora-batch and its kin).
//
// Once the database is open and the operator's options are read, a Start
//   1. prepares every statement in the forms the options choose, copies each
//      site's landscape into the sightings (LimitSearch), renumbers the
//      cells and sets the side letters            (prepare_run_database)
//   2. for a comparing run, tells how many extracts still wait for visual
//      checking (they will be compared again) and lets the caller stop,
//      then fills the multi-aspect batch           (fill_multi_aspect_batch)
//   3. reads the cell directory and the algorithm letters (load_run_lookups).
// start_run_database does the three in order. Renumbering and the
// multi-aspect batch are each one transaction, so a failure leaves nothing
// half written.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "workstation/common/status.h"
#include "workstation/config/config_faults.h"
#include "workstation/config/folder_file.h"
#include "workstation/session/run_state.h"

namespace velmora::session {

// The most pending extracts per aspect and side a run takes.
inline constexpr int kMaxBatchSize = 400;

// A batch size as the operator typed it: a number of 0 or more, rounded half
// to even to a whole number. InvalidArgument naming the text otherwise.
Status read_batch_size(const std::string& text, int* size);

// Closes what was open and opens state.folders.database_path (normalising
// the folders), loading the aspect list and, with LimitSearch, the site and
// landscape lists. A path that is not a database file leaves the session
// closed with Ok (see config::open_database).
Status open_run_database(RunState& state, config::Faults* faults);

// Step 1 above.
Status prepare_run_database(RunState& state);

// Fills table compIDs with whole animals until the batch size is reached:
// animals are taken while the batch size is above both the left and the
// right image count, so the last one may carry either count past it. One
// transaction. *left / *right (optional) receive the final counts.
Status fill_multi_aspect_batch(RunState& state, int batch, int* left = nullptr,
                               int* right = nullptr);

// Step 3 above.
Status load_run_lookups(RunState& state);

// The message of the records-waiting question.
std::string records_waiting_message(int records);

// Asked, for a comparing run, when extracts wait for visual checking; false
// stops the run (*cancelled is then set and nothing more is done).
using ConfirmWaiting = std::function<bool(int records)>;
// Tells the operator something that needs no answer.
using TellOperator = std::function<void(const std::string& text)>;

// Steps 1 to 3, after the database is open and state.options are read.
// Between steps 1 and 2 a test run that stopped half way is put right
// (test_run_parking.h), and `tell` (when set) hears what was restored.
Status start_run_database(RunState& state, const ConfirmWaiting& confirm_waiting, bool* cancelled,
                          const TellOperator& tell = {});

// Where a run without a window takes its folders from.
struct HeadlessFolders {
  std::string data_folder;     // "" = from DataFolder.txt, or the database's folder
  std::string database;        // "" = from DataFolder.txt
  std::string working_folder;  // "" = the current folder
};

// A whole Start without a window, for state.options already set: the
// folders (from `folders`, else DataFolder.txt at `locations`), orlain.ini,
// the database, the chosen aspect and side, then start_run_database. Notes
// (where the folders came from, configuration faults, extracts waiting for
// visual checking) go to `notes`.
Status start_run_without_window(RunState& state, const config::FolderFileLocations& locations,
                                const HeadlessFolders& folders, std::ostream& notes);

}  // namespace velmora::session
