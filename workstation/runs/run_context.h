// RunContext: everything one workstation run shares between the Start driver
// and the steps it calls (extraction, extract processing, comparisons,
// review, test).
//
// One RunContext lives as long as the main window. The window owns it and
// hands it to the driver; every step takes a RunContext& and reaches the
// operator only through `panel` and `dialogs`. begin_run refills the
// database part at each Start: it reopens the database, prepares the
// statements anew, renumbers the cells and reloads the lookups.
//
// It extends the run state (session/run_state.h) that the subsystems take
// with the window's side. Lifetime rules: `statements` and every RecordSet
// below were made on `session.db` and must be dropped before the database
// is reopened (drop_database_work does both). GUI thread only.
//
// The steps that later parts of the workstation provide are reached through
// RunHooks, set by the application when it is built with them. A hook that is
// not set means "not available in this version": the driver tells the
// operator so and goes on (comparison families) or stops the run cleanly.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/common/status.h"
#include "workstation/config/aspects.h"
#include "workstation/config/configuration_file.h"
#include "workstation/config/folder_file.h"
#include "workstation/config/open_database.h"
#include "workstation/config/settings.h"
#include "workstation/db/database.h"
#include "workstation/db/statements.h"
#include "workstation/extract/pipeline.h"
#include "workstation/extract/shared_extract.h"
#include "workstation/session/run_state.h"

namespace velmora::runs {

struct RunContext;

using extract::kExtractionMargin;

using RunStep = std::function<Status(RunContext&)>;

// The comparison families, in the order a batch comparison runs them, and
// the status change after comparison. Each reads the batch size, the mode,
// "use multiple cores", "restricted" and the library limit from the panel,
// and the letters, aspects, statements and lookups from the context.
struct ComparisonHooks {
  RunStep batch_compare_old_style;  // family "tarvik", through tarvikx
  RunStep compare_new_style;        // families "compnew_corr" and "compnew_spot"
  RunStep compare_legcodes;         // family "legcode"
  RunStep compare_sift;             // family "CompSift"
  RunStep change_p_to_v;            // ChangePtoV: compared P extracts become V
};

// Kernel banks of the wavelet decomposition, one builder per pattern kind.
// Arguments are the aspect's from_r, to_r, step_r, ... in the order given.
struct KernelHooks {
  std::function<Status(int from_r, int to_r, int step_r)> calc_dot_wavelet;
  std::function<Status(int from_r, int to_r, int step_r, double sigmax_ratio)> calc_ring_wavelet;
  std::function<Status(int from_r, int to_r, int step_r, int from_theta_deg, int to_theta_deg,
                       int step_theta_deg, double sigmax_ratio, double sigmay)>
      calc_stripe_wavelet;
};

struct ExtractionHooks {
  // Shows the extraction window modally for extraction.current_image_row and
  // returns when it has closed, leaving the extract and its flags
  // (extract_ready, image_scrapped, blank_edited) in shared_extract.
  RunStep show_extraction_window;
  RunStep compute_blank_distance;  // fills processing's distance-to-blank map
  // The extract pipeline up to its save step. The save step (at once or on
  // the operator's "Save extract") sets AutoMatch to P and shows cmdStart;
  // in real-time mode it then calls run_comparison_families, ChangePtoV and
  // ShowNextPending.
  RunStep run_pipeline;
};

struct ReviewHooks {
  RunStep show_next_pending;    // ShowNextPending
  RunStep apply_queued_merges;  // ApplyQueuedMerges; also run when the window closes
  RunStep clear_merge_queue;    // at window start-up
};

struct RunHooks {
  ComparisonHooks comparison;
  KernelHooks kernels;
  ExtractionHooks extraction;
  ReviewHooks review;
  RunStep run_test;  // the test-rank evaluation
};

// One extraction run ("real-time ident." or "batch extract").
struct ExtractionRun {
  db::RecordSet current_image_row;  // images_to_extract; edits go to SYSTEM_ImageLinks by cell
  int list_size = 0;                // rows of images_to_extract
  int image_count = 0;              // photographs taken up so far
  std::string previous_aspect;      // kernels are rebuilt only when the aspect changes
  int margin = 0;                   // kExtractionMargin during the run
};

// One review run ("visual confirm").
struct ReviewRun {
  db::RecordSet review_list;  // review_list, at its first row when the run starts
  int reviewed = 0;           // items reviewed so far
  std::string outcome_word;   // "matched" / "unmatched", in "add this ... photo to library"
};

// The window's run: the run state every subsystem shares, plus what only the
// window and its steps see (controls, dialogs, extraction and review runs,
// the hooks of the steps).
struct RunContext : session::RunState {
  // The operator's side. Not owned; set before any driver call.
  ControlPanel* panel = nullptr;
  OperatorDialogs* dialogs = nullptr;

  config::FolderFileLocations folder_file_locations;
  config::AspectSettings aspect_settings;  // aspect of the photograph being extracted

  // Run state. The record sets were made on the database, so they are
  // members of the derived part and destroyed before it.
  ExtractionRun extraction;
  ReviewRun review;
  // The extract the extraction window leaves, with its flags, and the
  // processing that turns it into features (working images, kernel bank).
  extract::SharedExtract shared_extract;
  extract::ExtractProcessing processing;

  RunHooks hooks;

  // Drops the statements and record sets made on the database, so that it
  // can be closed or reopened.
  void drop_database_work();
};

}  // namespace velmora::runs
