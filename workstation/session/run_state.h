// RunState: what one run of the workstation shares with every subsystem
// that takes part in it (comparison families, extract processing, fitting,
// review, the test run), and nothing of the window.
//
// It holds the folders, the configuration, the open database with the
// statements Start prepared on it, the lookups Start loaded (cell
// directory, algorithm letters, side letters) and the operator's options,
// read once when the run starts into RunOptions. The window (runs/) and the
// headless programs (app/) fill it through the same Start pieces
// (run_start.h); a subsystem step takes a RunState& plus, where it talks to
// the operator, the control panel and the dialogs.
//
// Lifetime: `statements` and every RecordSet made on `session.db` must be
// dropped before the database is closed or reopened (drop_database_work).
// Members are declared so that the statements are destroyed before the
// database. One thread only.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "workstation/config/folder_file.h"
#include "workstation/config/open_database.h"
#include "workstation/config/settings.h"
#include "workstation/db/statements.h"
#include "workstation/session/algorithm_letters.h"
#include "workstation/session/cell_directory.h"

namespace velmora::session {

// The operator's choices for one run, read once when it starts (the window
// hides its settings for the length of a run, so they cannot change).
struct RunOptions {
  bool compares = false;      // the run compares extracts ("real-time ident." or "batch compare")
  bool real_time = false;     // "real-time ident.": only the extract just saved is compared
  bool test_mode = false;     // the "test" mode: statements in their test forms
  int batch_size = 0;         // txtNumPend: pending extracts per aspect and side; 0 = import only
  bool multi_core = false;    // "use multiple cores": only chosen_aspect / chosen_side
  std::string chosen_aspect;  // cmbAspect
  std::string chosen_side;    // cmbSide
  bool restricted = false;    // "restricted": library of the opposite sex only (real time)
  bool quick = false;         // chkQuick: stage only scores above the stats limit
  bool standardise = false;   // chkStan: match probabilities in temp
  std::string prior_match = ".005";  // txtPm, as typed
  bool combine = false;              // chkComb
  bool show_crop = false;            // chkCrop
  bool limit_to_site = false;        // optLimitToSite
  bool limit_to_landscape = false;   // optLimitToLandscape
};

struct RunState {
  // Configuration.
  config::FolderSettings folders;  // normalised by Start
  config::Settings settings;
  std::string working_folder;  // list, run and results files; the process's current folder

  // The database and what Start prepared on it. Declared before the
  // statements so that they are destroyed first.
  config::DatabaseSession session;  // database, AspectList, site and landscape lists
  std::unique_ptr<db::PreparedStatements> statements;

  // Lookups loaded by Start, kept until the next Start.
  AlgorithmLetters algorithm_letters;
  std::array<std::string, 3> side_letters;  // "L", "R", "M"
  CellDirectory cells;

  RunOptions options;
  bool test_run = false;                      // from the start of a test run until the program ends
  std::string chosen_site, chosen_landscape;  // cmbSites / cmbLandscapes when last left
  std::string current_cell;                   // real time: the extract just saved
  // Extracts this run compared, whose results are stored, still waiting for
  // the move from P to V (ChangePtoV). A family that moves its extracts with
  // its import leaves none here.
  std::vector<std::string> compared_pending;

  db::Database* db() { return session.db.get(); }
  const config::AspectList& aspects() const { return session.aspects; }
  // A statement prepared by the last Start (see PreparedStatements::get: a
  // name that was not prepared gives a statement whose calls fail with a
  // message saying so). Null only before the first Start.
  db::Statement* statement(const std::string& name);
  // Drops the statements made on the database, so that it can be closed or
  // reopened.
  void drop_database_work() { statements.reset(); }
  // True when Start has prepared what a comparison needs.
  bool ready_to_compare() const;
};

// The statement forms the options and the configuration choose.
db::StatementOptions statement_options(const RunOptions& options, const config::Settings& settings);

}  // namespace velmora::session
